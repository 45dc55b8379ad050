#!/bin/sh
# Builds the Debian package from the build folder $1 and checks its control
# fields and contents: the run-time libraries and packages, never a -dev one.
set -eu
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIPPED: $tool is missing (dpkg-dev)" >&2; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/log" 2>&1 || { cat "$out/log" >&2; fail "cpack"; }
deb=$(ls "$out"/xlsbridge_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb in $out"

info=$(dpkg-deb -I "$deb")
echo "$info"
depends=$(dpkg-deb -f "$deb" Depends)
[ "$(dpkg-deb -f "$deb" Package)" = xlsbridge ] || fail "package name"
for wanted in libsqlite3-0 libodbc2 libxlsxwriter4 libc6 libstdc++6 \
              fonts-wqy-microhei qt6-translations-l10n xdg-utils; do
  echo "$depends" | tr ',' '\n' | grep -q "^ *$wanted\b" || fail "Depends lacks $wanted: $depends"
done
if [ -e "$build/src/app/xlsbridge" ]; then
  for wanted in libqt6widgets6 libqt6gui6 libqt6core6; do
    echo "$depends" | tr ',' '\n' | grep -q "^ *$wanted\b" || fail "Depends lacks $wanted: $depends"
  done
fi
if echo "$depends" | tr ',' '\n' | grep -Eq -- '-dev\b|cmake|ninja|g\+\+|googletest|gtest'; then
  fail "Depends names a build package: $depends"
fi

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/xlsbridge-cli ./usr/share/doc/xlsbridge/README.md \
            ./usr/share/doc/xlsbridge/docs/main-window.png; do
  echo "$contents" | grep -q " $path\$" || fail "$path not in the package"
done
if [ -e "$build/src/app/xlsbridge" ]; then
  for path in ./usr/bin/xlsbridge ./usr/share/applications/xlsbridge.desktop \
              ./usr/share/icons/hicolor/scalable/apps/xlsbridge.svg \
              ./usr/share/icons/hicolor/48x48/apps/xlsbridge.png; do
    echo "$contents" | grep -q " $path\$" || fail "$path not in the package"
  done
fi
echo "package complete"
