#!/bin/sh
# Builds the server and runs it on the bundled sample world, in build/run/ (the sample itself
# stays untouched). Arguments go to the server; without any it runs offline on 127.0.0.1.
# Use `scripts/run.sh --online` to discover the addresses and map the ports as designed.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNHAL_TESTS=OFF -DVORNHAL_BENCH=OFF
cmake --build build --target vornhal -j2
mkdir -p build/run
if [ ! -d build/run/VornhalData ]; then
  if [ -d sample/VornhalData ]; then
    cp -r sample/VornhalData build/run/VornhalData
  else
    mkdir -p build/run/VornhalData
  fi
fi
if [ "$#" -eq 0 ]; then
  set -- --offline
elif [ "$1" = "--online" ]; then
  shift
fi
exec build/vornhal --root build/run "$@"
