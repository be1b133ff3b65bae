#!/usr/bin/env bash
# Writes CSV, DIF and delimited text files with LibreOffice (soffice) and Gnumeric (ssconvert)
# from a few small tables, for the text formats' tests to read.
#   make_text_test_data.sh OUTDIR
# The source tables are in OUTDIR/source; what each program wrote goes to OUTDIR/lo and
# OUTDIR/gnumeric. A program that is not installed is skipped (its files are then missing,
# and the tests that need them say so). Exit status 0 unless OUTDIR cannot be made.
set -uo pipefail
out=${1:?usage: make_text_test_data.sh OUTDIR}
mkdir -p "$out/source" "$out/lo" "$out/gnumeric" || exit 1
src=$out/source

# The tables, in UTF-8. mixed.csv has what CSV and DIF must carry (a comma, quotes and a line
# break inside texts); plain.txt only what delimited text without quoting can carry.
cat >"$src/mixed.csv" <<'EOF'
Name,Value,Note
Zürich,1.5,plain
Москва,-2,"a,b"
日本,300000,"say ""hi"""
empty,,x
big,1234567,"two
lines"
EOF
printf 'Name\tValue\tNote\nZürich\t1.5\tplain\nМосква\t-2\ta;b\n日本\t300000\tsay hi\nempty\t\tx\nbig\t1234567\tend\n' \
  >"$src/plain.txt"
printf 'Город\tЧисло\nМосква\t12.5\nКиев\t-3\n' >"$src/cyrillic.txt"
printf '名前\t値\n東京\t1.25\n大阪\t7\n' >"$src/japanese.txt"

if command -v soffice >/dev/null 2>&1; then
  # A profile of its own, so that a desktop session or another test run cannot interfere.
  profile="-env:UserInstallation=file://$out/lo-profile"
  lo() { timeout 300 soffice "$profile" --headless "$@" >>"$out/lo/log.txt" 2>&1; }
  csv_in='CSV:44,34,76,1'
  tab_in='Text - txt - csv (StarCalc):9,34,76,1'
  lo --infilter="$csv_in" --convert-to ods --outdir "$out/lo" "$src/mixed.csv"
  lo --infilter="$tab_in" --convert-to ods --outdir "$out/lo" "$src/plain.txt" "$src/cyrillic.txt" "$src/japanese.txt"
  lo --convert-to dif --outdir "$out/lo" "$out/lo/mixed.ods"
  # Filter options: separator, quote, character set (76 UTF-8, 65535 UTF-16 with BOM,
  # 34 windows-1251, 64 Shift-JIS).
  lo --convert-to 'csv:Text - txt - csv (StarCalc):59,34,76' --outdir "$out/lo/semicolon" "$out/lo/mixed.ods"
  lo --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' --outdir "$out/lo/comma" "$out/lo/mixed.ods"
  lo --convert-to 'txt:Text - txt - csv (StarCalc):9,34,65535' --outdir "$out/lo/utf16" "$out/lo/plain.ods"
  lo --convert-to 'txt:Text - txt - csv (StarCalc):9,34,34' --outdir "$out/lo/cp1251" "$out/lo/cyrillic.ods"
  lo --convert-to 'txt:Text - txt - csv (StarCalc):9,34,64' --outdir "$out/lo/sjis" "$out/lo/japanese.ods"
fi

if command -v ssconvert >/dev/null 2>&1 && [[ -f "$out/lo/mixed.ods" && -f "$out/lo/plain.ods" ]]; then
  gn() { timeout 300 ssconvert "$@" >>"$out/gnumeric/log.txt" 2>&1; }
  gn "$out/lo/mixed.ods" "$out/gnumeric/mixed.dif"
  gn "$out/lo/mixed.ods" "$out/gnumeric/mixed.csv"
  gn --export-type=Gnumeric_stf:stf_assistant -O "separator=\"$(printf '\t')\" quoting-mode=never charset=UTF-8" \
    "$out/lo/plain.ods" "$out/gnumeric/plain.txt"
  gn --export-type=Gnumeric_stf:stf_assistant -O "separator=; quoting-mode=auto charset=windows-1251 eol=windows" \
    "$out/lo/cyrillic.ods" "$out/gnumeric/cyrillic.csv"
fi
exit 0
