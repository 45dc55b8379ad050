#!/usr/bin/env bash
# Runs every benchmark against its reference tool in the same run.
# Installs what the references need (pandas, SQLAlchemy, psycopg2) besides the build's.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
missing=()
for p in python3-pandas python3-sqlalchemy python3-psycopg2 odbc-postgresql time bc; do
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
echo "== server path: ODBC (SQLite's driver, psqlODBC)"; "$top/bench/odbc/run.sh" "$build" 3
echo "== the import across a 1 ms link and on loopback (postgres engine, psqlODBC, pandas)"; "$top/bench/postgres/link.sh" "$build" 0.5
echo "== streaming export: 1,000,000 x 10, peak resident"; "$top/bench/stream/run.sh" "$build"
if [ -x "$top/bench/sheet/run.sh" ]; then echo "== workbook read and write"; "$top/bench/sheet/run.sh" "$build"; fi
if [ -x "$top/bench/xlsx/run.sh" ]; then echo "== .xlsx import"; "$top/bench/xlsx/run.sh" "$build" 3; fi
