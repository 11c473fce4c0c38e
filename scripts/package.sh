#!/bin/sh
# Builds the Debian package vornhal_<version>_<arch>.deb in build-package/ (a Release build that
# installs under /usr) and prints its path. Further arguments go to the CMake configure step.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVORNHAL_TESTS=OFF -DVORNHAL_BENCH=OFF "$@"
cmake --build "$dir" -j2
rm -f "$dir"/vornhal_*.deb
(cd "$dir" && cpack -G DEB)
ls "$PWD/$dir"/vornhal_*.deb
