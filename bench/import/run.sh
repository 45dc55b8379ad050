#!/bin/sh
# Import benchmark: xlsbridge's loader + run against pandas (read_excel with
# xlrd, then to_sql), same workbook, same machine, same run.
#   bench/import/run.sh BUILD_DIR [RUNS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/make_workbook.py" "$work/bench.xls"
for i in $(seq "$runs"); do
  rm -f "$work/x.db" "$work/p.db"
  t0=$(date +%s.%N)
  x=$("$build/bench/import/bench_import" "$work/bench.xls" "$work/x.db" "$here/schema.sql")
  t1=$(date +%s.%N)
  p=$(/usr/bin/python3 "$here/pandas_import.py" "$work/bench.xls" "$work/p.db" "$here/schema.sql")
  t2=$(date +%s.%N)
  echo "run $i: whole process xlsbridge $(echo "$t1 - $t0" | bc) s, pandas $(echo "$t2 - $t1" | bc) s;" \
       "load+import only xlsbridge ${x%% *} s, pandas ${p%% *} s; rows ${x##* }/${p##* }"
done
