#!/usr/bin/env bash
# The unmangled (C) functions a plug-in library exports must be exactly the fifteen entry points.
set -euo pipefail
lib=$1
expected="QmImportClose QmImportEstablishSize QmImportGetFileFormatInfo QmImportGetFileOptions
QmImportGetFileRead QmImportGetLastError QmImportGetWarning QmImportInitPackage QmImportIsCorrectFileType
QmImportOpen QmImportRead QmImportReleasePackage QmImportSetSpec QmImportSizeFileFormatsSupported QmImportWrite"
actual=$(nm -D --defined-only "$lib" | awk '$2 == "T" && $3 !~ /^_Z/ && $3 != "_init" && $3 != "_fini" {print $3}' | sort)
want=$(echo $expected | tr ' ' '\n' | sort)
if [[ "$actual" != "$want" ]]; then
  echo "exported C functions differ from the fifteen entry points:"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
echo "ok: $(echo "$actual" | wc -l) QmImport* functions exported"
