#!/bin/sh
# Spreadsheet layer benchmark, same files, same machine, same run:
#  (a) reading every cell of a 65,536 x 15 .xls (xlwt) vs python3-xlrd;
#  (b) writing 100,000 x 10 text cells to .xlsx vs python3-openpyxl (write-only).
#   bench/sheet/run.sh BUILD_DIR [RUNS]
# Prints per run the task's own seconds, the whole process's wall time and
# its peak RSS (from /usr/bin/time -v).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1
runs=${2:-3}
bench=$build/bench/sheet/bench_sheet
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/make_workbook.py" "$work/book.xls"
echo "workbook: $(stat -c %s "$work/book.xls") bytes"

# measure NAME COMMAND...: task output, wall seconds, peak RSS in MB.
measure() {
  name=$1
  shift
  /usr/bin/time -v -o "$work/time" "$@" > "$work/out"
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time")
  rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$work/time")
  echo "  $name: task $(cut -d' ' -f1 "$work/out") s, process $wall s, peak RSS $rss MB ($(cut -d' ' -f2- "$work/out"))"
}

for i in $(seq "$runs"); do
  echo "run $i"
  measure "read  xlsbridge" "$bench" read "$work/book.xls" 65536 15
  measure "read  xlrd     " /usr/bin/python3 "$here/xlrd_read.py" "$work/book.xls"
  measure "write xlsbridge" "$bench" write "$work/x.xlsx" 100000 10
  measure "write openpyxl " /usr/bin/python3 "$here/openpyxl_write.py" "$work/p.xlsx" 100000 10
  echo "  sizes: xlsbridge $(stat -c %s "$work/x.xlsx") bytes, openpyxl $(stat -c %s "$work/p.xlsx") bytes"
done
