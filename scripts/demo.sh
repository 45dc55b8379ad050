#!/usr/bin/env bash
# Installs what is needed, builds, creates the demo database once (never
# over an existing one), registers it as the alias DEMO in an alias file of
# its own, and starts the window on it. Without a display it runs the
# sample import and an export through xlsbridge-cli instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
build=${XLSBRIDGE_BUILD_DIR:-$top/build}
cli="$build/src/cli/xlsbridge-cli"

demo=${XLSBRIDGE_DEMO_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/xlsbridge/demo}
mkdir -p "$demo"
if [ ! -e "$demo/demo.db" ]; then
  # Build it aside and move it in whole, so a failed run leaves no half database.
  rm -f "$demo/demo.db.new"
  : > "$demo/demo.db.new"
  "$cli" sql --data-source "$demo/demo.db.new" --file "$top/examples/demo.sql"
  mv "$demo/demo.db.new" "$demo/demo.db"
  echo "Created the demo database $demo/demo.db"
fi
cat > "$demo/aliases.ini" <<INI
[DEMO]
engine=sqlite
target=demo.db
INI
export XLSBRIDGE_ALIASES="$demo/aliases.ini"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting xlsbridge: choose the data source DEMO (any user name and password) and press 联接测试."
  echo "Sample workbooks: $top/examples/"
  exec "$build/src/app/xlsbridge"
fi

cat <<MSG
There is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot start.
Run it on a desktop session, or under a virtual one:  xvfb-run -a $build/src/app/xlsbridge
(with XLSBRIDGE_ALIASES=$demo/aliases.ini to see the DEMO alias).
Meanwhile, the same import and export through the command-line front end:

MSG
set -x
"$cli" import --data-source DEMO --existing all "$top/examples/sample2.xls" || true
"$cli" import --data-source DEMO --existing all "$top/examples/sample1.xls" || true
"$cli" sql --data-source DEMO "select AA, BB, CC, SEQ_NN, DD from ZORVAT order by to_number(AA)" || true
"$cli" export --data-source DEMO --query "select ENAME, JOB, HIREDATE, SAL from emp where sal > 1000" \
  --output "$demo/export.xlsx" && echo "Exported to $demo/export.xlsx"
