#!/usr/bin/env bash
# The two source checks CI runs:
#  1. formatting: every C++ file of src/, tests/ and bench/ as the checked-in
#     .clang-format writes it (fix with `clang-format -i FILE`);
#  2. clang-tidy with the checked-in .clang-tidy over the core's sources
#     (src/db, src/sheet, src/import, src/export, src/operator, src/cli), every
#     warning an error.
# The compile commands come from a build folder of its own that is only
# configured, never built (XLSBRIDGE_LINT_BUILD_DIR, default build-lint/).
#   scripts/lint.sh [format|tidy]   (default: both)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
what=${1:-all}

# Tracked files where this is a git checkout, what is on disk otherwise.
sources() {
  if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$top" ls-files -- "$@"
  else
    local pattern dirs=()
    for pattern in "$@"; do dirs+=("${pattern%%/*}"); done
    find "${dirs[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) | sort -u |
      while read -r f; do
        for pattern in "$@"; do
          # shellcheck disable=SC2053
          [[ $f == $pattern ]] && { echo "$f"; break; }
        done
      done
  fi
}

tool() {
  local name
  for name in "$@"; do
    command -v "$name" >/dev/null && { echo "$name"; return; }
  done
  echo "lint: none of $* is installed (Debian: clang-format, clang-tidy; scripts/setup.sh installs them)" >&2
  exit 2
}

status=0

if [ "$what" = all ] || [ "$what" = format ]; then
  format=$(tool clang-format clang-format-14)
  mapfile -t files < <(sources 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
  if "$format" --dry-run -Werror "${files[@]}"; then
    echo "lint: ${#files[@]} files formatted as .clang-format says"
  else
    echo "lint: files above are not formatted as .clang-format says (clang-format -i FILE)" >&2
    status=1
  fi
fi

if [ "$what" = all ] || [ "$what" = tidy ]; then
  tidy=$(tool clang-tidy-14 clang-tidy)
  build=${XLSBRIDGE_LINT_BUILD_DIR:-$top/build-lint}
  # Configuring is enough: the core needs no generated header, only the
  # engine list written at configure time.
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DXLSBRIDGE_GUI=OFF -DXLSBRIDGE_TESTS=OFF -DXLSBRIDGE_BENCH=OFF >/dev/null
  mapfile -t files < <(sources 'src/db/*.cpp' 'src/sheet/*.cpp' 'src/import/*.cpp' 'src/export/*.cpp' \
    'src/operator/*.cpp' 'src/cli/*.cpp')
  jobs=${XLSBRIDGE_LINT_JOBS:-2}
  log=$(mktemp -d)
  trap 'rm -rf "$log"' EXIT
  # One clang-tidy per file, two at a time; each file's findings are printed
  # together once it is done.
  printf '%s\n' "${files[@]}" |
    xargs -P "$jobs" -I{} sh -c '
      out="$3/$(echo "$4" | tr / _).log"
      if "$1" -p "$2" --quiet --warnings-as-errors="*" "$4" >"$out" 2>&1; then
        rm -f "$out"
      else
        cat "$out"
      fi' sh "$tidy" "$build" "$log" {} || true
  failed=$(find "$log" -name '*.log' | wc -l)
  if [ "$failed" -eq 0 ]; then
    echo "lint: clang-tidy found nothing in ${#files[@]} files of the core"
  else
    echo "lint: clang-tidy found problems in $failed of ${#files[@]} files of the core (above)" >&2
    status=1
  fi
fi

exit $status
