#!/bin/sh
# Installs the Debian packages the build and the tests need, when any is missing.
set -e
packages="cmake ninja-build g++ libasio-dev zlib1g-dev libssl-dev nlohmann-json3-dev \
libminiupnpc-dev libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev python3 \
libsodium-dev dpkg-dev file chromium chromium-driver python3-selenium"
missing=""
for p in $packages; do
  if ! dpkg -s "$p" >/dev/null 2>&1; then missing="$missing $p"; fi
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  $sudo apt-get update
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
fi
