#!/bin/sh
# Builds everything in a fresh build folder and runs every test.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
rm -rf build-test
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNHAL_TESTS=ON -DVORNHAL_WERROR=ON
cmake --build build-test -j2
ctest --test-dir build-test --output-on-failure -j2 --timeout 300
