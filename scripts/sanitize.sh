#!/bin/sh
# Builds the whole tree with sanitizers and runs the tests under them.
#   scripts/sanitize.sh [address,undefined|thread]
# address,undefined (the default) builds build-asan and runs every test; thread builds build-tsan
# and runs the end-to-end and network tests (labels e2e and net). Any sanitizer report fails the run.
set -e
cd "$(dirname "$0")/.."
kind="${1:-address,undefined}"
case "$kind" in
  address,undefined|undefined,address|address) dir=build-asan ;;
  thread) dir=build-tsan ;;
  *) echo "usage: $0 [address,undefined|thread]" >&2; exit 2 ;;
esac
scripts/deps.sh
# Undefined behaviour stops the program instead of printing a line a passing test would hide.
# The vptr check is left out: it reports every virtual call as invalid once the process has no
# file descriptor left (its memory probe needs a pipe), which the descriptor exhaustion test
# brings about on purpose; AddressSanitizer still catches calls through freed objects.
recover=""
case "$kind" in *undefined*) recover="-fno-sanitize-recover=undefined;-fno-sanitize=vptr" ;; esac
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNHAL_TESTS=ON -DVORNHAL_WERROR=ON \
  -DVORNHAL_BENCH=OFF -DVORNHAL_SANITIZE="$kind" -DCMAKE_CXX_FLAGS= -DVORNHAL_SANITIZE_OPTIONS="$recover"
if [ "$kind" = thread ]; then
  # Only what the thread-sanitizer run executes: the server, the load bot and the end-to-end and
  # network tests.
  cmake --build "$dir" -j2 --target vornhal vornhal-bot e2e_tests net_tests
else
  cmake --build "$dir" -j2
fi
# Reports are fatal, so a finding cannot scroll past as a passing test.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
if [ "$kind" = thread ]; then
  ctest --test-dir "$dir" --output-on-failure -j2 --timeout 600 -L 'e2e|net'
else
  ctest --test-dir "$dir" --output-on-failure -j2 --timeout 600
fi
