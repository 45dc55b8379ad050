#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" "$@"
build=${XLSBRIDGE_BUILD_DIR:-$top/build}
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
