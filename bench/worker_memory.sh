#!/usr/bin/env bash
# A FastCGI worker's resident memory after the first 1,000 requests and after
# COUNT (right, wrong and malformed ones; bench/worker_memory.cpp), one worker
# against the local Firebird server with a 100 KiB main-page template; then,
# to tell where a growth comes from, a fresh worker with malformed requests
# only (no database work) and one with right logins only, and the warm floor
# (bench/warm_floor.c: the client library alone) over as many logins.
#
#   bench/worker_memory.sh [COUNT]     (default 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
count=${1:-100000}
build=$root/build/bench-memory
run=$build/run
fb=$root/scripts/firebird.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
export NEMVO_FB_LEASE="bench-memory-$$" NEMVO_FB_LEASE_PID=$$
dbpath=/var/lib/firebird/3.0/data/nemvo-bench/memory.fdb
user=nemvo_bench_mem
password=Bench-mem-1
# shellcheck source=bench_lib.sh
source bench/bench_lib.sh

say() { printf '%s\n' "$*" >&2; }
say "== Building in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_TESTS=OFF -DNEMVO_BUILD_BENCH=ON \
  -DNEMVO_CONFIG_PATH="$run/Nemvo.Config" >/dev/null
cmake --build "$build" --target nemvoweb bench_worker_memory bench_warm_floor -j2 >/dev/null

cleanup() {
  trap - EXIT INT TERM
  "$root/scripts/fastcgi-pool.sh" stop "$run/pool" || true
  bench_database_down
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bench_database_up
rm -rf "$run"
mkdir -p "$run"
awk -f bench/main_template.awk >"$run/main.html"
printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\n' "$("$fb" url "$dbpath")" "$run/main.html" >"$run/Nemvo.Config"
install -m 0755 "$build/src/main/nemvoweb" "$run/nemvoweb"
chmod -R a+rX "$run"
# run_worker MIX COUNT: a pool of one fresh worker, COUNT requests of MIX.
run_worker() {
  local worker
  "$root/scripts/fastcgi-pool.sh" stop "$run/pool"
  rm -rf "$run/pool"
  "$root/scripts/fastcgi-pool.sh" start "$run/nemvoweb" "$run/pool" 1
  worker=$(sed -n 's/.*worker \([0-9]*\) started/\1/p' "$run/pool/pool.log" | head -n1)
  say "== $2 requests ($1) to a fresh worker"
  "$build/bench/bench_worker_memory" "$run/pool/nemvoweb.sock" "$worker" "$user" "$password" "$2" "$1"
  if grep -q "worker $worker \(exited\|killed\)" "$run/pool/pool.log"; then say "the worker ended during the run"; exit 1; fi
}
run_worker mixed "$count"
run_worker malformed "$count"
run_worker right $((count / 10))
say "== The warm floor over $((count / 10)) logins (requests, VmRSS KiB)"
"$build/bench/bench_warm_floor" "$("$fb" url "$dbpath")" "$user" "$password" "$run/main.html" memory $((count / 10))
