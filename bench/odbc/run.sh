#!/bin/bash
# Server-path benchmarks: the whole xlsbridge-cli import process
#  1. 5,000 x 15 into a SQLite file through the embedded engine and through
#     SQLite's ODBC driver (a DSN in a private odbc.ini; the file given
#     Oracle's dictionary views by scripts/sql/sqlite_dictionary.sql), same
#     workbook, same run;
#  2. 65,000 x 6 through psqlODBC into a PostgreSQL 15 started here in a
#     private folder (views by scripts/sql/postgres_dictionary.sql).
#   bench/odbc/run.sh BUILD_DIR [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$1
runs=${2:-3}
cli="$build/src/cli/xlsbridge-cli"
work=$(mktemp -d)
chmod 755 "$work"
pgdata="$work/pg"
cleanup() {
  if [ -f "$pgdata/postmaster.pid" ]; then runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D "$pgdata" -m immediate stop >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
[ -z "${XB_BENCH_KEEP_LOG:-}" ] || trap 'cp "$pgdata/log" "$XB_BENCH_KEEP_LOG"; cleanup' EXIT
export XLSBRIDGE_ALIASES="$work/aliases.ini" ODBCSYSINI="$work" ODBCINI="$work/odbc.ini"
: >"$XLSBRIDGE_ALIASES"
odbcdir=/usr/lib/x86_64-linux-gnu/odbc
cat >"$work/odbcinst.ini" <<INI
[SQLite3]
Driver=$odbcdir/libsqlite3odbc.so
[PostgreSQL]
Driver=$odbcdir/psqlodbcw.so
INI

sqlite_db() {  # a fresh SQLite file with the table and, for ODBC, the views
  rm -f "$1"
  /usr/bin/python3 - "$1" "$2" "$top/scripts/sql/sqlite_dictionary.sql" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute(sys.argv[2])
db.executescript(open(sys.argv[3]).read())
db.commit()
PY
}
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }
count() { "$cli" sql --data-source "$1" "select count(*) from BENCH" | tail -1; }

echo "-- 5,000 x 15: embedded engine against the ODBC engine (SQLite ODBC driver), same SQLite file"
/usr/bin/python3 "$here/make_workbook.py" "$work/w15.xls" 5000 15
schema15=$(/usr/bin/python3 "$here/make_workbook.py" --schema 15)
cat >"$work/odbc.ini" <<INI
[XBBENCH]
Driver=SQLite3
Database=$work/odbc.db
INI
for i in $(seq "$runs"); do
  sqlite_db "$work/embedded.db" "$schema15"
  sqlite_db "$work/odbc.db" "$schema15"
  e=$(seconds "$cli" import --data-source "$work/embedded.db" "$work/w15.xls")
  o=$(seconds "$cli" import --data-source XBBENCH "$work/w15.xls")
  echo "run $i: embedded $e s, odbc $o s, ratio $(echo "scale=2; $o / $e" | bc); rows $(count "$work/embedded.db")/$(count XBBENCH)"
done

echo "-- 65,000 x 6 through psqlODBC into a local PostgreSQL 15"
mkdir "$pgdata" && chown postgres "$pgdata"
runuser -u postgres -- /usr/lib/postgresql/15/bin/initdb -D "$pgdata" -A trust -U postgres >/dev/null
port=$((20000 + RANDOM % 20000))
runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D "$pgdata" -s -w -l "$pgdata/log" \
  -o "-p $port -k $pgdata -c listen_addresses='' ${XB_BENCH_PG_OPTIONS:-}" start
psql_() { /usr/lib/postgresql/15/bin/psql -X -q -h "$pgdata" -p "$port" -U postgres "$@"; }
/usr/bin/python3 "$here/make_workbook.py" "$work/w6.xls" "${XB_BENCH_PG_ROWS:-65000}" 6
schema6=$(/usr/bin/python3 "$here/make_workbook.py" --schema 6 | sed 's/varchar2/varchar/g; s/number/numeric/g')
cat >>"$work/odbc.ini" <<INI
[XBPG]
Driver=PostgreSQL
Servername=$pgdata
Port=$port
Database=postgres
Username=postgres
Protocol=7.4-1
INI
# CPU seconds the server's ended backends used (the postmaster's reaped children).
server_cpu() {
  local pid
  pid=$(head -1 "$pgdata/postmaster.pid")
  awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($16 + $17) / hz }' "/proc/$pid/stat"
}
for i in $(seq "$runs"); do
  psql_ -c "drop table if exists bench" -c "$schema6" -f "$top/scripts/sql/postgres_dictionary.sql"
  c0=$(server_cpu)
  p=$(seconds /usr/bin/time -f "%U %S" -o "$work/client.txt" "$cli" import --data-source XBPG --user postgres "$work/w6.xls")
  sleep 0.2  # the backend ends just after the client
  c1=$(server_cpu)
  echo "run $i: psqlODBC $p s (CPU: client $(awk '{ printf "%.2f", $1 + $2 }' "$work/client.txt") s," \
       "server $(echo "$c1 - $c0" | bc) s); rows $(psql_ -At -c 'select count(*) from bench')"
done
