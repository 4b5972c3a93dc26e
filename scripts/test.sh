#!/usr/bin/env bash
# Runs every test phase and prints one closing summary line:
#   unit + end-to-end tests of the normal build, the unit tests under
#   AddressSanitizer and UndefinedBehaviorSanitizer, and the threaded unit
#   tests under ThreadSanitizer. `--only asan|tsan|main` runs one phase.
set -uo pipefail
cd "$(dirname "$0")/.."

only=""
if [ "${1:-}" = "--only" ]; then only=$2; shift 2; fi
build=${1:-build}
jobs=$(nproc)
mruby_dir=$(cat "$build/.mruby-prefix" 2>/dev/null || true)

# Tests never need a display or a sound card.
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
unset DISPLAY

passed=() failed=()
phase() {
  local name=$1; shift
  echo "==> $name"
  if "$@"; then passed+=("$name"); else failed+=("$name"); fi
}

sanitized_build() {
  local dir=$1 sanitizers=$2 regex=$3
  cmake -S . -B "$dir" -G Ninja -DMOONFORGE_SANITIZE="$sanitizers" -DMOONFORGE_MRUBY_DIR="$mruby_dir" >/dev/null &&
    cmake --build "$dir" -j "$jobs" --target $(cd tests/unit && ls test_*.cpp | sed 's/\.cpp$//') &&
    ctest --test-dir "$dir" -R "$regex" --output-on-failure -j "$jobs"
}

[ -z "$only" ] || [ "$only" = main ] &&
  phase "unit+e2e" ctest --test-dir "$build" --output-on-failure -j "$jobs"
[ -z "$only" ] || [ "$only" = asan ] &&
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  phase "asan+ubsan" sanitized_build build-asan address,undefined '^unit\.'
[ -z "$only" ] || [ "$only" = tsan ] &&
  TSAN_OPTIONS=halt_on_error=1 \
  phase "tsan" sanitized_build build-tsan thread '^unit\.test_(stream|janitor|cvar|log|fontatlas|texture_cache)$'

if [ ${#failed[@]} -eq 0 ]; then
  echo "moonforge tests: PASSED (${passed[*]})"
else
  echo "moonforge tests: FAILED (${failed[*]}; passed: ${passed[*]:-none})"
  exit 1
fi
