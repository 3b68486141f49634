#!/usr/bin/env bash
# Builds the program twice (optimised, and with AddressSanitizer+UBSan) and
# runs every test in both builds. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh

jobs=$(nproc)
status=0

# The program reads its configuration from a path fixed at build time; the
# test builds point it into their own directory, where the tests write it.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_BENCH=ON \
  -DNEMVO_CONFIG_PATH="$root/build/release/test-config/Nemvo.Config" >/dev/null
cmake --build build/release -j"$jobs"
(cd build/release && ctest --output-on-failure -j"$jobs") || status=1

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DNEMVO_SANITIZE=ON \
  -DNEMVO_CONFIG_PATH="$root/build/asan/test-config/Nemvo.Config" >/dev/null
cmake --build build/asan -j"$jobs"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs") || status=1

exit $status
