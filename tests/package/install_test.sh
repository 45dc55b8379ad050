#!/bin/sh
# Installs the build folder $1 into a temporary prefix and checks what is
# there: both programs (they start), the desktop entry, the icons, the README
# and the pictures it shows.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

[ -x "$prefix/bin/xlsbridge-cli" ] || fail "bin/xlsbridge-cli missing"
"$prefix/bin/xlsbridge-cli" --help >/dev/null 2>&1 || fail "the installed xlsbridge-cli does not run"
[ -f "$prefix/share/doc/xlsbridge/README.md" ] || fail "README missing"
cmp -s "$prefix/share/doc/xlsbridge/README.md" "$(dirname "$0")/../../README.md" || fail "README differs"
# Every picture the README links to is installed beside it.
for picture in $(grep -o '](docs/[^)]*\.png)' "$prefix/share/doc/xlsbridge/README.md" | sed 's/^](//;s/)$//'); do
  [ -f "$prefix/share/doc/xlsbridge/$picture" ] || fail "README links to $picture, which is not installed"
done

if [ -e "$build/src/app/xlsbridge" ]; then
  [ -x "$prefix/bin/xlsbridge" ] || fail "bin/xlsbridge missing"
  desktop=$prefix/share/applications/xlsbridge.desktop
  [ -f "$desktop" ] || fail "desktop entry missing"
  grep -qx 'Name=通用EXCEL数据导入/导出' "$desktop" || fail "desktop entry: wrong Name"
  grep -qx 'Exec=xlsbridge' "$desktop" || fail "desktop entry: wrong Exec"
  grep -qx 'Icon=xlsbridge' "$desktop" || fail "desktop entry: wrong Icon"
  grep -qx 'Categories=Office;Database;' "$desktop" || fail "desktop entry: wrong Categories"
  grep -qx 'Type=Application' "$desktop" || fail "desktop entry: wrong Type"
  if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
  fi
  for size in 16 32 48 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/xlsbridge.png
    [ -f "$png" ] || fail "icon of ${size} pixels missing"
    head -c 8 "$png" | od -An -tx1 | grep -q "89 50 4e 47" || fail "icon of ${size} pixels is not a PNG image"
  done
  icon=$prefix/share/icons/hicolor/scalable/apps/xlsbridge.svg
  [ -f "$icon" ] || fail "icon missing"
  python3 - "$icon" <<'PY' || fail "icon is not an SVG document"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "{http://www.w3.org/2000/svg}svg", root.tag
assert len(list(root.iter())) > 5
PY
  # The installed window says plainly when there is no display.
  if env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/xlsbridge" 2>"$prefix/err"; then
    fail "xlsbridge without a display should end with a message"
  fi
  grep -q "no display" "$prefix/err" || fail "xlsbridge without a display: $(cat "$prefix/err")"
fi
echo "install tree complete"
