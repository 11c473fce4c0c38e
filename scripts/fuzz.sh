#!/bin/sh
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for VORNHAL_FUZZ_SECONDS (default 60) over its seed corpus and
# regression inputs: `ctest -L fuzz`. Extra arguments go to ctest (for example -R fuzz_zone).
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
seconds="${VORNHAL_FUZZ_SECONDS:-60}"
CC="${CC:-clang-14}" CXX="${CXX:-clang++-14}" cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNHAL_TESTS=OFF -DVORNHAL_BENCH=OFF -DVORNHAL_FUZZ=ON \
  -DVORNHAL_FUZZ_SECONDS="$seconds"
targets=$(sed -n 's/^vornhal_fuzz_target(\([a-z_]*\) .*/fuzz_\1/p' fuzz/CMakeLists.txt)
targets="$targets fuzz_db_item fuzz_db_map fuzz_db_portal fuzz_db_npc fuzz_db_mob"
# shellcheck disable=SC2086
cmake --build build-fuzz -j2 --target $targets
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir build-fuzz -L fuzz --output-on-failure "$@"
