#!/bin/sh
# Streaming export: 1,000,000 x 10 from the embedded engine to .xlsx by the
# whole xlsbridge-cli process, its peak resident size by /usr/bin/time -v,
# and every row counted in the written workbook.
#   bench/stream/run.sh BUILD_DIR [ROWS]
set -eu
build=$1
rows=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XLSBRIDGE_ALIASES="$work/aliases.ini"
: >"$XLSBRIDGE_ALIASES"
# Fills the table (bench_export also exports once; that run is not measured here).
"$build/bench/export/bench_export" "$work/x.db" "$work/fill.xlsx" "$rows" >/dev/null
rm -f "$work/fill.xlsx"
/usr/bin/time -v -o "$work/time.txt" "$build/src/cli/xlsbridge-cli" export --data-source "$work/x.db" \
  --query "select * from BENCH order by ID" --output "$work/out.xlsx"
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
print(n)
PY
)
echo "export $rows x 10: $(grep -E 'Elapsed' "$work/time.txt" | sed 's/.*): //') wall," \
     "peak resident $(grep 'Maximum resident' "$work/time.txt" | sed 's/.*: //') KB," \
     "workbook rows $written (2 header rows + $rows)"
