#!/bin/bash
# The import across a link: 65,532 x 15 .xls into a keyed table of a private
# PostgreSQL 15 cluster, on loopback (its unix socket) and through
# latency_proxy.py (0.5 ms each way: a 1 ms round trip), counting round trips.
# Both server paths, each into an empty table and again into a table that
# holds every key (--existing all); pandas read_excel + to_sql (SQLAlchemy,
# psycopg2) into the empty table through the same link, same run; and the
# pre-flight check (--check) of the workbook against the full table.
#   bench/postgres/link.sh BUILD_DIR [ONE_WAY_MS] [ROWS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
one_way=${2:-0.5}
rows=${3:-65532}
work=$(mktemp -d)
chmod 755 "$work"
state=$work/cluster.state
proxy=
cleanup() {
  [ -z "$proxy" ] || kill "$proxy" 2>/dev/null || true
  "$build/tests/postgres/pg_cluster" stop "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
/usr/bin/python3 "$top/bench/import/make_workbook.py" "$work/bench.xls" "$rows"
"$build/tests/postgres/pg_cluster" start "$state" >/dev/null
folder=$(sed -n 's/^folder=//p' "$state")
bin=$(sed -n 's/^bin=//p' "$state")
pgport=$(sed -n 's/^port=//p' "$state")
admin() { PGPASSWORD=$(sed -n 's/^admin_password=//p' "$state") "$bin/psql" -q -X -v ON_ERROR_STOP=1 \
  -h "$folder" -p "$pgport" -U xbadmin -d xbtests "$@" >/dev/null; }
admin -c "create role bench login password 'benchpw'" -c "create schema authorization bench"
table() { PGPASSWORD=benchpw "$bin/psql" -q -X -v ON_ERROR_STOP=1 -h "$folder" -p "$pgport" -U bench -d xbtests "$@"; }
table -f "$here/schema.sql" -f "$top/scripts/sql/postgres_dictionary.sql" >/dev/null

port=$((20000 + RANDOM % 20000))
/usr/bin/python3 "$here/latency_proxy.py" "$port" "$folder/.s.PGSQL.$pgport" "$one_way" "$work/rt" &
proxy=$!
sleep 0.5
export XLSBRIDGE_ALIASES="$work/aliases.ini" ODBCSYSINI="$work" ODBCINI="$work/odbc.ini"
cat >"$XLSBRIDGE_ALIASES" <<INI
[PG_LOOP]
engine=postgres
target=host=$folder port=$pgport dbname=xbtests
[PG_LINK]
engine=postgres
target=host=127.0.0.1 port=$port dbname=xbtests
INI
printf '[PostgreSQL]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so\n' >"$work/odbcinst.ini"
# The README's DSN, on loopback and through the link.
cat >"$work/odbc.ini" <<INI
[ODBC_LOOP]
Driver=PostgreSQL
Servername=$folder
Port=$pgport
Database=xbtests
Protocol=7.4-1
[ODBC_LINK]
Driver=PostgreSQL
Servername=127.0.0.1
Port=$port
Database=xbtests
Protocol=7.4-1
INI

cli="$build/src/cli/xlsbridge-cli"
# One whole import process: seconds, round trips through the link (0 on loopback), rows.
import() {
  : >"$work/rt"
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f "%U %S" -o "$work/cpu" "$cli" import --data-source "$1" --user bench --password benchpw \
    --existing "$2" "$work/bench.xls" >/dev/null 2>&1
  t1=$(date +%s.%N)
  sleep 0.3
  echo "$(echo "$t1 - $t0" | bc) s (client CPU $(awk '{ printf "%.2f", $1 + $2 }' "$work/cpu") s)," \
    "$(awk '{ s += $1 } END { print s + 0 }' "$work/rt") round trips, rows $(table -t -A -c 'select count(*) from bench')"
}
for link in LOOP LINK; do
  echo "-- $link ($([ $link = LINK ] && echo "$one_way ms each way" || echo "unix socket"))"
  for path in PG ODBC; do
    table -c "truncate bench"
    echo "${path}_$link into an empty table: $(import "${path}_$link" abort)"
    echo "${path}_$link over every key (--existing all): $(import "${path}_$link" all)"
  done
  # The pre-flight check of the same workbook, every key standing in the table.
  : >"$work/rt"
  t0=$(date +%s.%N)
  "$cli" import --data-source "PG_$link" --user bench --password benchpw --check "$work/bench.xls" \
    >/dev/null 2>&1 || true
  t1=$(date +%s.%N)
  sleep 0.3
  echo "PG_$link pre-flight check (--check): $(echo "$t1 - $t0" | bc) s," \
    "$(awk '{ s += $1 } END { print s + 0 }' "$work/rt") round trips"
  if /usr/bin/python3 -c "import pandas, sqlalchemy, psycopg2" 2>/dev/null; then
    table -c "truncate bench"
    : >"$work/rt"
    t0=$(date +%s.%N)
    if [ $link = LINK ]; then
      n=$(/usr/bin/python3 "$here/pandas_to_sql.py" "$work/bench.xls" 127.0.0.1 xbtests bench benchpw "$port")
    else
      n=$(/usr/bin/python3 "$here/pandas_to_sql.py" "$work/bench.xls" "$folder" xbtests bench benchpw "$pgport")
    fi
    t1=$(date +%s.%N)
    sleep 0.3
    echo "pandas+SQLAlchemy+psycopg2 into an empty table: $(echo "$t1 - $t0" | bc) s, $(awk '{ s += $1 } END { print s + 0 }' "$work/rt") round trips, rows $n"
  else
    echo "pandas, SQLAlchemy or psycopg2 missing: the reference is skipped"
  fi
done
