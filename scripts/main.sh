#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs the main job on the bundled samples.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel
if [[ -x build/bin/kelto-import ]]; then
  shopt -s nullglob
  for f in samples/*; do
    [[ -f "$f" && "$f" != *.md ]] || continue
    echo "== $f"
    build/bin/kelto-import show --max-rows 5 "$f"
  done
else
  build/bin/kelto-formats
fi
