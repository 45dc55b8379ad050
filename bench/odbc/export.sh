#!/bin/bash
# Export through psqlODBC across a slow link: 100,000 x 10 (numbers, texts,
# a date) from a private PostgreSQL 15 (tests/support/pg_cluster) to .xlsx
# by the whole xlsbridge-cli process, through a proxy that holds every chunk
# for ONE_WAY_MS each way and counts round trips (tests/support/latency_proxy).
# One line per DSN setting: round trips, wall time, peak resident size, rows
# written.
#   bench/odbc/export.sh BUILD_DIR [ROWS] [ONE_WAY_MS]
# XB_BENCH_CLI=PATH measures another xlsbridge-cli (an older build, say).
set -euo pipefail
build=$(cd "$1" && pwd)
rows=${2:-100000}
one_way=${3:-0.5}
cli=${XB_BENCH_CLI:-$build/src/cli/xlsbridge-cli}
work=$(mktemp -d)
chmod 755 "$work"
state=$work/cluster.state
proxy_pid=
cleanup() {
  [ -z "$proxy_pid" ] || kill "$proxy_pid" 2>/dev/null || true
  "$build/tests/postgres/pg_cluster" stop "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
"$build/tests/postgres/pg_cluster" start "$state" >/dev/null
folder=$(sed -n 's/^folder=//p' "$state")
bin=$(sed -n 's/^bin=//p' "$state")
port=$(sed -n 's/^port=//p' "$state")
PGPASSWORD=$(sed -n 's/^admin_password=//p' "$state") "$bin/psql" -q -X -v ON_ERROR_STOP=1 \
  -h "$folder" -p "$port" -U "$(sed -n 's/^admin_user=//p' "$state")" -d xbtests >/dev/null <<SQL
create role bench login password 'benchpw';
create schema authorization bench;
SQL
PGPASSWORD=benchpw "$bin/psql" -q -X -v ON_ERROR_STOP=1 -h "$folder" -p "$port" -U bench -d xbtests <<SQL
create table bench (id integer primary key, n1 numeric(12,2), t1 varchar(20), n2 integer,
  t2 varchar(40), d1 date, n3 numeric, t3 text, n4 bigint, t4 varchar(10));
insert into bench select i, i * 1.25, 'text ' || i, i % 1000, 'a longer text of row ' || i,
  date '2000-01-01' + i % 9000, i / 7.0, repeat('x', i % 50), i::bigint * 100000, 'k' || i % 97
  from generate_series(1, $rows) i;
analyze bench;
SQL

export XLSBRIDGE_ALIASES="$work/aliases.ini" ODBCSYSINI="$work" ODBCINI="$work/odbc.ini"
: >"$XLSBRIDGE_ALIASES"
printf '[PostgreSQL]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so\n' >"$work/odbcinst.ini"

# One export through a fresh proxy with the DSN's extra settings.
export_through() {
  local settings=$1 proxy_port
  rm -f "$work/port" "$work/out.xlsx"
  "$build/tests/postgres/latency_proxy" "$folder/.s.PGSQL.$port" "$one_way" "$work/port" >"$work/proxy.txt" &
  proxy_pid=$!
  while [ ! -s "$work/port" ]; do sleep 0.05; done
  proxy_port=$(cat "$work/port")
  {
    printf '[XBPG]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=%s\nDatabase=xbtests\n' "$proxy_port"
    printf 'Protocol=7.4-1\n'  # as the README shows
    [ -z "$settings" ] || printf '%s\n' "$settings" | tr ';' '\n'
  } >"$work/odbc.ini"
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$cli" export --data-source XBPG --user bench \
    --password benchpw --query "select * from bench order by id" --output "$work/out.xlsx"
  kill "$proxy_pid"
  wait "$proxy_pid" || true
  proxy_pid=
  written=$(/usr/bin/python3 - "$work/out.xlsx" <<'PY'
import sys, zipfile
n, tail = 0, b""
with zipfile.ZipFile(sys.argv[1]).open("xl/worksheets/sheet1.xml") as f:
    while True:
        b = f.read(1 << 20)
        if not b:
            break
        d = tail + b
        n += d.count(b"<row ")
        tail = d[-4:]
print(n - 2)
PY
)
  read -r wall peak <"$work/time.txt"
  echo "${settings:-README DSN (Protocol=7.4-1)}: $(sed 's/round trips //' "$work/proxy.txt") round trips," \
       "$wall s, peak resident $((peak / 1024)) MB, rows $written"
}

echo "-- export $rows x 10 through psqlODBC, $one_way ms each way"
export_through ""
export_through "UseDeclareFetch=1"
export_through "UseDeclareFetch=1;Fetch=1000"
export_through "UseDeclareFetch=1;Fetch=10000"
