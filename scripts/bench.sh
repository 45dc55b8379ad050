#!/usr/bin/env bash
# Runs every benchmark against its reference tool in the same run.
# Installs what the references need (pandas, SQLAlchemy) besides the build's.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
missing=()
for p in python3-pandas python3-sqlalchemy time bc; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
"$top/scripts/setup.sh"
build=${XLSBRIDGE_BUILD_DIR:-$top/build}
echo "== database engine"; "$build/bench/db/bench_db" 100000 1000000
echo "== import";          "$top/bench/import/run.sh" "$build" 3
echo "== export";          "$top/bench/export/run.sh" "$build" 3
if [ -x "$top/bench/sheet/run.sh" ]; then echo "== workbook read and write"; "$top/bench/sheet/run.sh" "$build"; fi
if [ -x "$top/bench/xlsx/run.sh" ]; then echo "== .xlsx import"; "$top/bench/xlsx/run.sh" "$build" 3; fi
