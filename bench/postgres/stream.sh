#!/bin/sh
# PostgreSQL export streaming: 1,000,000 x 10 exported from a local server
# (a private cluster started here) with the whole process's peak resident
# memory, and 100,000 x 10 through a link with a 1 ms round trip (a proxy
# adding 0.5 ms each way that counts the round trips of each connection).
#   bench/postgres/stream.sh BUILD_DIR [PROXY]
# PROXY: the latency proxy script (LISTEN_PORT TARGET ONE_WAY_MS STATS_FILE);
# without it only the memory is measured.
set -eu
build=$(cd "$1" && pwd)
proxy=${2:-}
work=$(mktemp -d)
state=$work/cluster.state
proxy_pid=
cleanup() {
  [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null || true
  "$build/tests/postgres/pg_cluster" stop "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
"$build/tests/postgres/pg_cluster" start "$state" >/dev/null
folder=$(sed -n 's/^folder=//p' "$state")
bin=$(sed -n 's/^bin=//p' "$state")
port=$(sed -n 's/^port=//p' "$state")
admin() { PGPASSWORD=$(sed -n 's/^admin_password=//p' "$state") "$bin/psql" -q -X -v ON_ERROR_STOP=1 \
  -h "$folder" -p "$port" -U xbadmin -d xbtests "$@" >/dev/null; }
admin -c "create role bench login password 'bench;pw'" -c "create schema authorization bench"
PGPASSWORD='bench;pw' "$bin/psql" -q -X -v ON_ERROR_STOP=1 -h "$folder" -p "$port" -U bench -d xbtests -c "
  create table wide as select g as id, 'text ' || g as c2, g * 1.5 as c3, 'row ' || (g % 977) as c4,
    date '2000-01-01' + (g % 9000) as c5, g % 1000 as c6, md5(g::text) as c7, g / 7.0 as c8,
    'x' as c9, g + 0.25 as c10 from generate_series(1, 1000000) g"
cli="$build/src/cli/xlsbridge-cli"
uri="postgresql://$(echo "$folder" | sed 's,/,%2F,g'):$port/xbtests"
/usr/bin/time -v "$cli" export --data-source "$uri" --user bench --password 'bench;pw' \
  --query "select * from WIDE order by ID" --output "$work/big.xlsx" 2>"$work/time.txt" >/dev/null
echo "1,000,000 x 10: $(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt") wall," \
  "peak $(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt") kB"
if [ -n "$proxy" ]; then
  listen=$((20000 + $$ % 20000))
  /usr/bin/python3 "$proxy" "$listen" "$folder/.s.PGSQL.$port" 0.5 "$work/rt.txt" &
  proxy_pid=$!
  sleep 1
  t0=$(date +%s.%N)
  "$cli" export --data-source "postgresql://127.0.0.1:$listen/xbtests" --user bench \
    --password 'bench;pw' --query "select * from WIDE where ID <= 100000 order by ID" \
    --output "$work/small.xlsx" >/dev/null
  t1=$(date +%s.%N)
  sleep 1
  echo "100,000 x 10 through 1 ms: $(echo "$t1 - $t0" | bc) s whole process;" \
    "round trips per connection: $(cut -d' ' -f1 "$work/rt.txt" | tr '\n' ' ')"
fi
