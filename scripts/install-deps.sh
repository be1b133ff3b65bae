#!/usr/bin/env bash
# Installs what building and testing KELTOnewsprfile needs on Debian 12, and nothing
# that is already there. Safe to run again.
#   scripts/install-deps.sh           build tools and libraries
#   scripts/install-deps.sh --extras  also the outside programs the cross-check tests use
#                                     (LibreOffice, Gnumeric, Debian Python readers)
set -euo pipefail

base=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev llvm
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev libboost-locale-dev libboost-iostreams-dev libboost-date-time-dev
  libicu-dev zlib1g-dev
  libfmt-dev libtinyxml2-dev libexpat1-dev libzip-dev libnetcdf-dev libxlsxwriter-dev
  python3 binutils time locales
  # the Python package kelto: its build, its example run and its tests
  python3-dev pybind11-dev python3-numpy python3-pandas python3-dask python3-distributed
  python3-pytest python3-psutil
)
extras=(
  libreoffice-calc-nogui gnumeric
  python3-olefile python3-xlrd python3-openpyxl python3-scipy
)

want=("${base[@]}")
if [[ "${1:-}" == "--extras" ]]; then want+=("${extras[@]}"); fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi

# Tests of locale-independent number parsing need a locale whose decimal point is a comma.
german_locale() {
  if command -v localedef >/dev/null && [[ -d /usr/share/i18n/locales ]] &&
     ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 ||
      echo "install-deps: could not generate de_DE.UTF-8 (the tests needing it skip)"
  fi
}

if ((${#missing[@]} == 0)); then
  german_locale
  echo "install-deps: nothing missing"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
german_locale
