#!/usr/bin/env bash
# Builds the program twice (optimised, and with AddressSanitizer+UBSan) and
# runs every test in both builds, the black-box tests once more under
# valgrind, the trace channel's tests under ThreadSanitizer, then each fuzz
# target briefly. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh

# A test that lacks what it needs fails here instead of skipping
# (tests/support/Prerequisites.h, tests/site/CMakeLists.txt).
export NEMVO_REQUIRE_TEST_PREREQUISITES=1

jobs=$(nproc)
status=0
failed=()

# Records a stage that failed, with the tests that failed in it when the
# stage was a CTest run, for the summary at the end: a long run's log is
# often read from its tail only.
fail() {
  local stage=$1 dir=${2:-}
  status=1
  local tests=""
  if [[ -n $dir && -s $dir/Testing/Temporary/LastTestsFailed.log ]]; then
    tests=$(cut -d: -f2- "$dir/Testing/Temporary/LastTestsFailed.log" | paste -sd' ' -)
  fi
  failed+=("$stage${tests:+: $tests}")
}

# The program reads its configuration from a path fixed at build time; the
# test builds point it into their own directory, where the tests write it.
# Their public web server is the site tests' lighttpd, on a port of its own
# per build, so that the message page's icons and back link reach it.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_BENCH=ON \
  -DNEMVO_CONFIG_PATH="$root/build/release/test-config/Nemvo.Config" \
  -DNEMVO_PUBLIC_WEB_SERVER=http://127.0.0.1:18461 >/dev/null
cmake --build build/release -j"$jobs"
(cd build/release && ctest --output-on-failure -j"$jobs") || fail "release" build/release
# The black-box tests once more with the program under valgrind's memcheck
# (tests/support/ChildProcess.h): no memory error and no block definitely lost.
(cd build/release && NEMVO_VALGRIND=1 ctest --output-on-failure -L blackbox -j"$jobs") || fail "valgrind" build/release

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DNEMVO_SANITIZE=ON \
  -DNEMVO_CONFIG_PATH="$root/build/asan/test-config/Nemvo.Config" \
  -DNEMVO_PUBLIC_WEB_SERVER=http://127.0.0.1:18462 >/dev/null
cmake --build build/asan -j"$jobs"
# The browser test runs in the optimised build only: the browser sends the
# same form posts that the curl tests (site_http, which also looks for
# sanitizer reports in the web server's log) send to the sanitized program.
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs" -LE browser) || fail "asan" build/asan

# The trace channel's tests once more under ThreadSanitizer: their threads
# share the channel's memory as processes do (nemvo-trace and the probe
# they start are built with it too).
CC=clang CXX=clang++ cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEMVO_SANITIZE_THREAD=ON \
  -DNEMVO_CONFIG_PATH="$root/build/tsan/test-config/Nemvo.Config" >/dev/null
cmake --build build/tsan --target test_platform test_db -j"$jobs"
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure --no-tests=error -j"$jobs" \
  -R '^(SharedChannelTest|TraceChannelTest)[.]') || fail "tsan" build/tsan

# The fuzz targets (fuzz/), built with clang: each over its corpus, then a
# short fresh run (fuzz/run.sh; about two minutes in all).
CC=clang CXX=clang++ cmake -S . -B build/fuzz-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEMVO_BUILD_FUZZ=ON \
  -DNEMVO_BUILD_TESTS=OFF -DNEMVO_CONFIG_PATH="$root/build/fuzz-ci/fuzz-site/Nemvo.Config" >/dev/null
cmake --build build/fuzz-ci --target fuzz_all -j"$jobs"
fuzz/run.sh build/fuzz-ci 15 || fail "fuzz"

# The Debian package: built, installed on this machine, logins through
# lighttpd against the installed files, purged again (as root; a few minutes).
tests/package/package_test.sh || fail "package"

if ((status)); then
  echo "== FAILED"
  printf '   %s\n' "${failed[@]}"
else
  echo "== all passed"
fi
exit $status
