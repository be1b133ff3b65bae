#!/usr/bin/env bash
# Builds and runs the whole test suite. Extra arguments go to ctest (e.g. -R plugin_).
#   KELTO_BUILD_DIR   build tree (default: build)
#   KELTO_CMAKE_ARGS  extra configure arguments (e.g. -DKELTO_SANITIZE=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=${KELTO_BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${KELTO_CMAKE_ARGS:-} >/dev/null
cmake --build "$dir" --parallel
cd "$dir"
ctest --output-on-failure --parallel "$(nproc)" "$@"
