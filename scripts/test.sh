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
failed_once=()

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

# Runs CTest in DIR for STAGE (the arguments after DIR go to ctest). A test
# that fails runs once more: failing again fails the stage; passing then is
# reported at the end all the same, as a test that failed once, so that an
# intermittent fault is seen without costing the rest of the run.
run_tests() {
  local stage=$1 dir=$2
  shift 2
  local log=$root/build/$stage-tests.log
  (cd "$dir" && ctest --output-on-failure --repeat until-pass:2 -j"$jobs" "$@") 2>&1 | tee "$log" || fail "$stage" "$dir"
  local name
  while read -r name; do
    grep -qxF "$name" <(cut -d: -f2- "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null) ||
      failed_once+=("$stage: $name (log: $log)")
  done < <(grep -vE '[*]{3}(Skipped|Not Run)' "$log" | sed -nE 's/.*Test +#[0-9]+: ([^ ]+) \.*[*]{3}.*/\1/p' | sort -u)
}

# The program reads its configuration from a path fixed at build time; the
# test builds point it into their own directory, where the tests write it.
# Their public web server is the site tests' lighttpd, on a port of its own
# per build, so that the message page's icons and back link reach it.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_BENCH=ON \
  -DNEMVO_CONFIG_PATH="$root/build/release/test-config/Nemvo.Config" \
  -DNEMVO_PUBLIC_WEB_SERVER=http://127.0.0.1:18461 >/dev/null
cmake --build build/release -j"$jobs"
run_tests release build/release -LE package
# The black-box tests once more with the program under valgrind's memcheck
# (tests/support/ChildProcess.h): no memory error and no block definitely lost.
NEMVO_VALGRIND=1 run_tests valgrind build/release -L blackbox

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DNEMVO_SANITIZE=ON \
  -DNEMVO_CONFIG_PATH="$root/build/asan/test-config/Nemvo.Config" \
  -DNEMVO_PUBLIC_WEB_SERVER=http://127.0.0.1:18462 >/dev/null
cmake --build build/asan -j"$jobs"
# The browser test runs in the optimised build only: the browser sends the
# same form posts that the curl tests (site_http, which also looks for
# sanitizer reports in the web server's log) send to the sanitized program.
ASAN_OPTIONS=detect_leaks=1 run_tests asan build/asan -LE "browser|package"

# The trace channel's tests once more under ThreadSanitizer: their threads
# share the channel's memory as processes do (nemvo-trace and the probe
# they start are built with it too).
CC=clang CXX=clang++ cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEMVO_SANITIZE_THREAD=ON \
  -DNEMVO_CONFIG_PATH="$root/build/tsan/test-config/Nemvo.Config" >/dev/null
cmake --build build/tsan --target test_platform test_db -j"$jobs"
TSAN_OPTIONS=halt_on_error=1 run_tests tsan build/tsan --no-tests=error -R '^(SharedChannelTest|TraceChannelTest)[.]'

# The fuzz targets (fuzz/), built with clang: each over its corpus, then a
# short fresh run (fuzz/run.sh; about two minutes in all).
CC=clang CXX=clang++ cmake -S . -B build/fuzz-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEMVO_BUILD_FUZZ=ON \
  -DNEMVO_BUILD_TESTS=OFF -DNEMVO_CONFIG_PATH="$root/build/fuzz-ci/fuzz-site/Nemvo.Config" >/dev/null
cmake --build build/fuzz-ci --target fuzz_all -j"$jobs"
fuzz/run.sh build/fuzz-ci 15 || fail "fuzz"

# The Debian package: built, installed and run in a Debian 12 container booted
# with systemd, purged again (as root; a few minutes).
run_tests package build/release -L package

if ((${#failed_once[@]})); then
  echo "== failed once, passed when run again"
  printf '   %s\n' "${failed_once[@]}"
fi
if ((status)); then
  echo "== FAILED"
  printf '   %s\n' "${failed[@]}"
else
  echo "== all passed"
fi
exit $status
