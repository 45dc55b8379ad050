#!/usr/bin/env bash
# Optional: builds xlsbridge (as setup.sh does), packs it as a Debian package
# and installs that package (apt-get, through sudo when not root).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" "$@"
build=${XLSBRIDGE_BUILD_DIR:-$top/build}
(cd "$build" && cpack -G DEB)
deb=$(ls -t "$build"/xlsbridge_*.deb | head -n 1)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb"
echo "Installed $deb: start it from the desktop menu (通用EXCEL数据导入/导出) or with: xlsbridge"
