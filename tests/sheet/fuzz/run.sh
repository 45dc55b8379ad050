#!/usr/bin/env bash
# A short fuzz run of the .xls (or .xlsx) reader, from its kept corpus, where
# clang and libFuzzer are present (skipped with a message otherwise).
#   tests/sheet/fuzz/run.sh [SECONDS] [xls|xlsx]   (default 60 xls)
# Both readers' targets share one build folder.
# New inputs go to a temporary folder; the corpus is only read. A finding
# (crash, leak, timeout, out-of-memory) fails the run and leaves its input
# in the build folder (build-fuzz/crash-*, leak-*, timeout-*, oom-*).
set -euo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
seconds=${1:-60}
reader=${2:-xls}
case "$reader" in
  xls)  target=tests/sheet/fuzz/fuzz_xls; corpus=$top/tests/data/sheet/fuzz_corpus; timeout=10 ;;
  # The slowest kept .xlsx inputs take tens of seconds instrumented on a busy
  # machine (a fraction of a second in the ordinary build).
  xlsx) target=tests/sheet/xlsx_fuzz/fuzz_xlsx; corpus=$top/tests/data/xlsx_fuzz/corpus; timeout=60 ;;
  *) echo "unknown reader: $reader (xls or xlsx)" >&2; exit 2 ;;
esac
build=${XLSBRIDGE_FUZZ_BUILD_DIR:-$top/build-fuzz}

if ! command -v clang++ >/dev/null || ! command -v clang >/dev/null; then
  echo "fuzz run skipped: clang is not installed"
  exit 0
fi
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' > "$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
  echo "fuzz run skipped: clang has no libFuzzer (libclang-rt-14-dev on Debian 12)"
  exit 0
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang "${launcher[@]}" \
  -DXLSBRIDGE_FUZZ=ON -DXLSBRIDGE_GUI=OFF -DXLSBRIDGE_BENCH=OFF >/dev/null
cmake --build "$build" --target "$(basename "$target")"

work="$probe/new"
mkdir -p "$work"
cd "$build"
echo "fuzzing the .$reader reader for $seconds s from $(ls "$corpus" | wc -l) kept inputs"
"./$target" -max_total_time="$seconds" -max_len=65536 -timeout="$timeout" -rss_limit_mb=2048 \
  -print_final_stats=1 "$work" "$corpus"
