#!/usr/bin/env bash
# Installs the Debian packages xlsbridge needs (through sudo when not root)
# and builds it into build/. Safe to run again: it installs only what is
# missing and rebuilds only what changed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  # build
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libsqlite3-dev
  # the program's icon drawn from its SVG at build time; the X windows the
  # export's viewer opens, and the hints of the window's frame
  qt6-svg-dev libxcb1-dev unixodbc-dev libxlsxwriter-dev
  libzip-dev
  # the postgres engine, and the private PostgreSQL server its tests start
  libpq-dev postgresql
  # run
  unixodbc odbcinst libsqliteodbc fonts-wqy-microhei fonts-liberation2 xdg-utils
  # tests: GoogleTest, the window without a display, reading workbooks back
  libgtest-dev googletest xvfb xauth openbox python3 python3-xlwt python3-xlrd python3-openpyxl
  # the .xlsx fixtures and the .xlsx benchmark's workbooks
  python3-xlsxwriter
  # tests and benchmarks of the ODBC engine: psqlODBC to a private PostgreSQL server
  odbc-postgresql postgresql bc time
  # reading .xlsx workbooks
  libzip-dev libexpat1-dev
  # the window: Qt's Chinese dialog texts; real-window tests (xdotool, xprop/xwininfo); the .deb
  qt6-translations-l10n xdotool x11-utils dpkg-dev
  # scripts/lint.sh: the formatting check and clang-tidy
  clang-format clang-tidy
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=${XLSBRIDGE_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
