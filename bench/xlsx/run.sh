#!/bin/sh
# .xlsx import benchmark, whole process: xlsbridge-cli import against pandas
# (read_excel with openpyxl, then to_sql) on a 100,000 x 15 workbook written by
# xlsxwriter, same machine, same run; then 1,000,000 x 15 with xlsbridge-cli
# alone (time, peak resident memory, rows stored).
#   bench/xlsx/run.sh BUILD_DIR [RUNS]
# The workbooks are kept in $XDG_CACHE_HOME/xlsbridge-bench (writing the large
# one takes xlsxwriter several minutes).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1
runs=${2:-3}
cli="$build/src/cli/xlsbridge-cli"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/xlsbridge-bench
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

workbook() {  # ROWS -> path
  f="$cache/xlsx-$1.xlsx"
  [ -s "$f" ] || /usr/bin/python3 "$here/make_workbook.py" "$f" "$1"
  echo "$f"
}

fresh_db() {
  rm -f "$1"
  /usr/bin/python3 -c "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); c.execute(open(sys.argv[2]).read()); c.commit()" \
    "$1" "$here/schema.sql"
}

rows_in() { /usr/bin/python3 -c "import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute('select count(*) from BENCH').fetchone()[0])" "$1"; }

small=$(workbook 100000)
for i in $(seq "$runs"); do
  fresh_db "$work/x.db"
  rm -f "$work/p.db"
  /usr/bin/time -f "%e %M" -o "$work/time" "$cli" import --data-source "$work/x.db" "$small" >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
  read -r xs xkb < "$work/time"
  t1=$(date +%s.%N)
  p=$(/usr/bin/python3 "$here/pandas_import.py" "$small" "$work/p.db" "$here/schema.sql")
  t2=$(date +%s.%N)
  ps=$(echo "$t2 - $t1" | bc)
  echo "100000 x 15, run $i: whole process xlsbridge-cli $xs s (peak $((xkb / 1024)) MB), pandas $ps s" \
       "(read+to_sql only ${p%% *} s); $(echo "scale=1; $ps / $xs" | bc)x; rows $(rows_in "$work/x.db")/${p##* }"
done

large=$(workbook 1000000)
for i in $(seq "$runs"); do
  fresh_db "$work/x.db"
  /usr/bin/time -f "%e %M" -o "$work/time" "$cli" import --data-source "$work/x.db" "$large" >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
  read -r xs xkb < "$work/time"
  echo "1000000 x 15, run $i: whole process xlsbridge-cli $xs s, peak $((xkb / 1024)) MB; rows $(rows_in "$work/x.db")"
done
