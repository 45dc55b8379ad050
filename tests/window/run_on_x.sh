#!/bin/sh
# Runs a test program on a virtual X display (Xvfb) under the openbox window
# manager. Where no X server can start, it says so and exits 77, which the
# test suite counts as skipped, not failed.
set -u
skip() {
  echo "SKIPPED: the real-window tests need $1" >&2
  exit 77
}
for tool in xvfb-run Xvfb openbox xdotool xprop; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool (scripts/setup.sh installs it)"
done
marker=$(mktemp)
trap 'rm -f "$marker"' EXIT
# The inner shell marks that the display came up, starts openbox and waits
# until it manages the screen, then runs the test program.
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" sh -c '
  echo up > "$0"
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  tries=0
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ]; then echo "openbox did not start" >&2; kill "$wm"; exit 1; fi
    sleep 0.05
  done
  "$@"
  rc=$?
  kill "$wm" 2>/dev/null
  wait "$wm" 2>/dev/null
  exit "$rc"
' "$marker" "$@"
rc=$?
[ -s "$marker" ] || skip "an X server, and Xvfb could not start here"
exit "$rc"
