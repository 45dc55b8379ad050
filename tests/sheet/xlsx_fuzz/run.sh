#!/usr/bin/env bash
# A short fuzz run of the .xlsx reader, from the kept corpus, where clang and
# libFuzzer are present (skipped with a message otherwise).
#   tests/sheet/xlsx_fuzz/run.sh [SECONDS]   (default 60)
# New inputs go to a temporary folder; the corpus is only read. A finding
# (crash, leak, timeout, out-of-memory) fails the run and leaves its input
# in the build folder (build-fuzz/crash-*, leak-*, timeout-*, oom-*).
# Shares its build folder with the .xls run (tests/sheet/fuzz/run.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
seconds=${1:-60}
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
cmake --build "$build" --target fuzz_xlsx

work="$probe/new"
mkdir -p "$work"
cd "$build"
echo "fuzzing the .xlsx reader for $seconds s from $(ls "$top/tests/data/xlsx_fuzz/corpus" | wc -l) kept inputs"
# The timeout is generous: the slowest kept inputs take tens of seconds
# instrumented on a busy machine (a fraction of a second in the ordinary build).
./tests/sheet/xlsx_fuzz/fuzz_xlsx -max_total_time="$seconds" -max_len=65536 -timeout=60 -rss_limit_mb=2048 \
  -print_final_stats=1 "$work" "$top/tests/data/xlsx_fuzz/corpus"
