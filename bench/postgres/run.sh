#!/bin/sh
# PostgreSQL import benchmark: 65,532 x 15 .xls into an empty keyed table on
# a local server (a private cluster started here, unix socket, password
# login), whole process: xlsbridge-cli import against pandas read_excel +
# to_sql (SQLAlchemy, psycopg2), same workbook, same server, same run.
#   bench/postgres/run.sh BUILD_DIR [RUNS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
runs=${2:-3}
work=$(mktemp -d)
state=$work/cluster.state
cleanup() { "$build/tests/postgres/pg_cluster" stop "$state" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT INT TERM
/usr/bin/python3 "$here/../import/make_workbook.py" "$work/bench.xls"
"$build/tests/postgres/pg_cluster" start "$state" >/dev/null
folder=$(sed -n 's/^folder=//p' "$state")
bin=$(sed -n 's/^bin=//p' "$state")
admin() { PGPASSWORD=$(sed -n 's/^admin_password=//p' "$state") "$bin/psql" -q -X -v ON_ERROR_STOP=1 \
  -h "$folder" -U xbadmin -d xbtests "$@" >/dev/null; }
admin -c "create role bench login password 'bench;pw'" -c "create schema authorization bench"
table() { PGPASSWORD='bench;pw' "$bin/psql" -q -X -v ON_ERROR_STOP=1 -h "$folder" -U bench -d xbtests "$@"; }
table -f "$here/schema.sql"
uri="postgresql://$(echo "$folder" | sed 's,/,%2F,g')/xbtests"
cli="$build/src/cli/xlsbridge-cli"
for i in $(seq "$runs"); do
  table -c "truncate bench"
  t0=$(date +%s.%N)
  "$cli" import --data-source "$uri" --user bench --password 'bench;pw' --existing abort "$work/bench.xls" >/dev/null
  t1=$(date +%s.%N)
  x=$(table -t -A -c "select count(*) from bench")
  table -c "truncate bench"
  t2=$(date +%s.%N)
  p=$(/usr/bin/python3 "$here/pandas_to_sql.py" "$work/bench.xls" "$folder" xbtests bench 'bench;pw')
  t3=$(date +%s.%N)
  echo "run $i: whole process xlsbridge $(echo "$t1 - $t0" | bc) s, pandas+SQLAlchemy+psycopg2 $(echo "$t3 - $t2" | bc) s; rows $x/$p"
done
