#!/bin/sh
# Export benchmark: xlsbridge's export against pandas (read_sql, then
# to_excel with openpyxl), same database, same machine, same run.
#   bench/export/run.sh BUILD_DIR [RUNS] [ROWS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1
runs=${2:-3}
rows=${3:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in $(seq "$runs"); do
  rm -f "$work/x.db" "$work/x.xlsx" "$work/c.xlsx" "$work/p.xlsx"
  x=$("$build/bench/export/bench_export" "$work/x.db" "$work/x.xlsx" "$rows")
  t0=$(date +%s.%N)
  "$build/src/cli/xlsbridge-cli" export --data-source "$work/x.db" --query "select * from BENCH order by ID" \
    --output "$work/c.xlsx"
  t1=$(date +%s.%N)
  p=$(/usr/bin/python3 "$here/pandas_export.py" "$work/x.db" "$work/p.xlsx")
  t2=$(date +%s.%N)
  echo "run $i: whole process xlsbridge-cli $(echo "$t1 - $t0" | bc) s, pandas $(echo "$t2 - $t1" | bc) s;" \
       "export only xlsbridge $x s, pandas $p s"
done
