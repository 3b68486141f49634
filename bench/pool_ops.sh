#!/usr/bin/env bash
# The FastCGI pool's operating modes and the cost of its board (the shared
# counters and worker places behind the status page), side by side in one
# run, behind nginx with the README's block, the same Firebird server, user
# and 100 KiB main-page template, right logins:
#
#   Latency from idle: ROUNDS rounds, each one login to a pool on demand
#   (--workers-min 0 --workers-max 8 --idle-timeout 5) once it has let its
#   last worker go (the first login starts one), one more to it right after
#   (warm), and one to a static pool (--workers 8), the order alternating;
#   curl's time to the answer's last byte, median and 95th percentile.
#
#   Throughput: 8 concurrent clients (wrk, kept connections), SECONDS per
#   run in each of 3 rounds, the median of the rounds: the static pool, and
#   the pool on demand from no worker (it pays for its workers' starts) and
#   right after (warm, the workers of the run before still there), the static
#   pool first or last by turns.
#
#   Cost of the board: instructions a worker executes per request (valgrind's
#   callgrind), a pool of one worker serving N requests and 5N, the
#   difference divided by 4N (the start and the end cancel out), for a right
#   login and for a path the program does not route (the least a request
#   costs): the program at BASE (the commit before the board, built from a
#   git worktree that is removed again), the current program as a pool (with
#   the board; no status page or log asked for), and the current program
#   serving a socket handed over as standard input (spawn-fcgi), which runs
#   the same request code without a board.
#
#   bench/pool_ops.sh [ROUNDS] [SECONDS] [N]     (defaults: 10 rounds, 10 seconds, N 20)
#
# NEMVO_BENCH_BASE: the commit before the board (default 08a0462).
# NEMVO_BENCH_PORT: the first of the three ports of 127.0.0.1 its nginx
# instances listen on (default: free ones). Builds nemvoweb in
# build/bench-pool-ops (the base's in build/bench-pool-ops/base). Stops and
# removes everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=${1:-10}
seconds=${2:-10}
per_run=${3:-20}
base_commit=${NEMVO_BENCH_BASE:-08a0462}
idle_timeout=5
build=$root/build/bench-pool-ops
run=$build/run
config=$run/Nemvo.Config
fb=$root/scripts/firebird.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
export NEMVO_FB_LEASE="bench-pool-ops-$$" NEMVO_FB_LEASE_PID=$$
dbpath=/var/lib/firebird/3.0/data/nemvo-bench/pool-ops.fdb
user=nemvo_bench_po
password=Bench-po-1
# shellcheck source=../scripts/web-servers.sh
source scripts/web-servers.sh
# shellcheck source=bench_lib.sh
source bench/bench_lib.sh

say() { printf '%s\n' "$*" >&2; }
for tool in wrk curl nginx valgrind spawn-fcgi git; do
  command -v "$tool" >/dev/null || { say "pool_ops bench: $tool is missing: run scripts/install-deps.sh"; exit 1; }
done

tmp=$(mktemp -d)
worktree=""
pools=(static ondemand cg)
cleanup() {
  trap - EXIT INT TERM
  local p
  for p in "${pools[@]}"; do
    ws_stop nginx "$run/$p/nginx" || true
    stop_pool "$run/$p" || true
  done
  if [ -n "$worktree" ]; then
    git worktree remove --force "$worktree" 2>/dev/null || true
    git worktree prune
  fi
  bench_database_down
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- Builds ---------------------------------------------------------------------------
flags=(-DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_TESTS=OFF -DNEMVO_CONFIG_PATH="$config")
say "== Building in $build"
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" --target nemvoweb -j2 >/dev/null
base_build=$build/base
base_id=$(git rev-parse "$base_commit^{commit}")
if [ "$(cat "$base_build/commit" 2>/dev/null)" != "$base_id" ] || [ ! -x "$base_build/src/main/nemvoweb" ]; then
  say "== Building $base_commit in $base_build (from a worktree, removed after)"
  worktree=$tmp/base
  git worktree add --detach "$worktree" "$base_id" >/dev/null 2>&1
  rm -rf "$base_build"
  cmake -S "$worktree" -B "$base_build" "${flags[@]}" >/dev/null
  cmake --build "$base_build" --target nemvoweb -j2 >/dev/null
  echo "$base_id" >"$base_build/commit"
  git worktree remove --force "$worktree"
  git worktree prune
  worktree=""
fi

# --- The site -------------------------------------------------------------------------
bench_database_up
database=$("$fb" url "$dbpath")
for p in "${pools[@]}"; do ws_stop nginx "$run/$p/nginx"; stop_pool "$run/$p" 2>/dev/null || true; done
rm -rf "$run"
mkdir -p "$run"
install -m 0755 "$build/src/main/nemvoweb" "$run/nemvoweb"
install -m 0755 "$base_build/src/main/nemvoweb" "$run/nemvoweb-base"
awk -f bench/main_template.awk >"$run/main.html"
sed 's/<#[^>]*>//g' "$run/main.html" >"$tmp/main.expected"
# The throttle off: nothing here is refused, and the figures are the pool's.
printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\nLoginFailures=0\n' "$database" "$run/main.html" >"$config"
chmod -R a+rX "$run"

as=()
if ws_is_root; then
  as=(setpriv --reuid="$(id -u "$(ws_user)")" --regid="$(id -g "$(ws_user)")" --clear-groups)
fi
# start_pool NAME COMMAND...: the pool COMMAND (its address: $(address
# NAME)) as the web server's user; waits until it listens.
address() { echo "unix:$run/$1/nemvoweb.sock"; }
start_pool() {
  local dir=$run/$1
  shift
  mkdir -p "$dir"
  ! ws_is_root || chown "$(ws_user):" "$dir"
  rm -f "$dir/nemvoweb.sock"
  setsid bash -c 'echo $$ >"$1"; shift; exec "$@"' _ "$dir/pool.pid" "${as[@]}" "$@" \
    </dev/null >>"$dir/pool.log" 2>&1 &
  wait_socket "$dir"
}
# start_stdin NAME COMMAND...: COMMAND with a listening socket
# RUN/NAME/nemvoweb.sock as its standard input (spawn-fcgi, no fork).
start_stdin() {
  local dir=$run/$1 as_user=()
  shift
  mkdir -p "$dir"
  if ws_is_root; then
    chown "$(ws_user):" "$dir"
    as_user=(-u "$(ws_user)" -g "$(id -gn "$(ws_user)")" -U "$(ws_user)" -G "$(id -gn "$(ws_user)")")
  fi
  rm -f "$dir/nemvoweb.sock"
  setsid bash -c 'echo $$ >"$1"; shift; exec "$@"' _ "$dir/pool.pid" \
    spawn-fcgi -n -s "$dir/nemvoweb.sock" -M 0660 "${as_user[@]}" -- "$@" </dev/null >>"$dir/pool.log" 2>&1 &
  wait_socket "$dir"
}
# Until the socket is there (a new one: start_* remove an old one first).
wait_socket() {
  for _ in $(seq 1 300); do
    [ -S "$1/nemvoweb.sock" ] && return 0
    sleep 0.1
  done
  say "pool_ops bench: nothing listens on $1/nemvoweb.sock (see $1/pool.log)"
  return 1
}
pool_pid() {
  local pid
  pid=$(cat "$1/pool.pid" 2>/dev/null) && [[ $pid =~ ^[0-9]+$ ]] && [ -d "/proc/$pid" ] &&
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qF -- "$1/" && echo "$pid"
}
stop_pool() {
  local pid
  pid=$(pool_pid "$1") || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 600); do
    [ -d "/proc/$pid" ] || { rm -f "$1/pool.pid"; return 0; }
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  rm -f "$1/pool.pid"
}
# The pool's workers running now (its child processes).
workers_of() {
  local pid
  pid=$(pool_pid "$1") || { echo 0; return; }
  cat /proc/"$pid"/task/*/children 2>/dev/null | wc -w
}

# One nginx per pool, each with the README's block for its socket.
next_port=${NEMVO_BENCH_PORT:-}
start_nginx() {
  local p=$1 port
  mkdir -p "$run/$p/nginx"
  ws_localise site/nginx/nemvoweb-fastcgi.conf "$run/$p/nginx/nemvoweb.conf" \
    /run/nemvoweb/nemvoweb.sock "$run/$p/nemvoweb.sock"
  printf 'include "%s";\n' "$run/$p/nginx/nemvoweb.conf" >"$run/$p/nginx/site.conf"
  if [ -n "$next_port" ]; then
    port=$next_port
    next_port=$((next_port + 1))
  else
    port=$(ws_free_port)
  fi
  ws_start nginx "$run/$p/nginx" "$port" "$run/$p/nginx/site.conf"
  echo "$port" >"$run/$p/port"
}
url() { echo "http://127.0.0.1:$(cat "$run/$1/port")/cgi-bin/nemvoweb/$2"; }
body="u=$user&p=$password"
# login POOL [CURL-ARGS...]: one right login; prints "STATUS SECONDS".
login() {
  curl -s --max-time 60 --data "$body" -o "$tmp/out" -w '%{http_code} %{time_total}\n' "${@:2}" "$(url "$1" main)"
  cmp -s "$tmp/out" "$tmp/main.expected" || echo "$1" >>"$tmp/wrong"
}

start_pool static "$run/nemvoweb" --fastcgi "$(address static)" --workers 8
start_pool ondemand "$run/nemvoweb" --fastcgi "$(address ondemand)" --workers-min 0 --workers-max 8 \
  --idle-timeout "$idle_timeout"
for p in "${pools[@]}"; do start_nginx "$p"; done
for p in static ondemand; do
  login "$p" >/dev/null
  [ ! -s "$tmp/wrong" ] || { say "pool_ops bench: the $p pool does not answer the main page"; exit 1; }
done

# Until the pool on demand has let every worker go (the idle time-out, and
# the pool's look at its workers).
wait_idle() {
  for _ in $(seq 1 $(((idle_timeout + 20) * 10))); do
    [ "$(workers_of "$run/ondemand")" = 0 ] && return 0
    sleep 0.1
  done
  say "pool_ops bench: the pool on demand keeps its workers"
  return 1
}

# --- Latency from idle ----------------------------------------------------------------
say "== Latency: $rounds rounds (each waits for the pool on demand to be idle, ${idle_timeout} s and more)"
for i in $(seq 0 $((rounds - 1))); do
  wait_idle
  if [ $((i % 2)) = 0 ]; then
    login static >>"$tmp/lat.static"
    login ondemand >>"$tmp/lat.cold"
  else
    login ondemand >>"$tmp/lat.cold"
    login static >>"$tmp/lat.static"
  fi
  login ondemand >>"$tmp/lat.warm"
done

# --- Throughput -----------------------------------------------------------------------
say "== Throughput: 8 clients, ${seconds} s per run, 3 rounds"
bench_post_script "$tmp/post.lua" "$body"
for r in 0 1 2; do
  order=(static ondemand warm)
  [ $((r % 2)) = 0 ] || order=(ondemand warm static)
  for t in "${order[@]}"; do
    p=$([ "$t" = warm ] && echo ondemand || echo "$t")
    [ "$t" != ondemand ] || wait_idle
    wrk -t 2 -c 8 -d "${seconds}s" --timeout 30s -s "$tmp/post.lua" "$(url "$p" main)" >"$tmp/wrk.$t.$r"
    workers_of "$run/$p" >>"$tmp/workers.$t"
  done
done
stop_pool "$run/static"
stop_pool "$run/ondemand"

# --- Instructions per request ---------------------------------------------------------
# callgrind_run VARIANT KIND COUNT: the worker's instructions over COUNT
# requests of KIND (login: right logins; other: a path not routed) and the
# worker's start and end, as callgrind reports them in its log (one a
# process: RUN/cg/valgrind.PID.log).
callgrind_run() {
  local variant=$1 kind=$2 count=$3 dir=$run/cg worker i out
  local grind=("$(command -v valgrind)" --tool=callgrind --callgrind-out-file=/dev/null
               "--log-file=$dir/valgrind.%p.log")
  rm -f "$dir/pool.log" "$dir"/valgrind.*.log
  case $variant in
    base) start_pool cg "${grind[@]}" "$run/nemvoweb-base" --fastcgi "$(address cg)" --workers 1 ;;
    board) start_pool cg "${grind[@]}" "$run/nemvoweb" --fastcgi "$(address cg)" --workers 1 ;;
    none) start_stdin cg "${grind[@]}" "$run/nemvoweb" ;;
  esac
  for i in $(seq 1 "$count"); do
    if [ "$kind" = login ]; then
      out=$(curl -s --max-time 120 --data "$body" -o "$tmp/cg.body" -w '%{http_code}' "$(url cg main)")
      [ "$out" = 200 ] && cmp -s "$tmp/cg.body" "$tmp/main.expected" || echo "callgrind $variant" >>"$tmp/wrong"
    else
      curl -s --max-time 120 -o /dev/null "$(url cg other)"
    fi
  done
  if [ "$variant" = none ]; then
    worker=$(cat "$dir/pool.pid")
  else
    worker=$(sed -n 's/.*: worker \([0-9]*\) started$/\1/p' "$dir/pool.log" | head -n1)
  fi
  stop_pool "$dir"
  # One worker from the start to the end, or the count is not of the requests.
  if [ "$variant" != none ] && { [ "$(grep -c ': worker [0-9]* started$' "$dir/pool.log")" != 1 ] ||
                                 ! grep -q ": worker $worker exited with status 0$" "$dir/pool.log"; }; then
    say "pool_ops bench: the $variant worker did not serve to its end (see $dir/pool.log)"
    return 1
  fi
  out=$(sed -n "s/^==$worker== Collected : \([0-9]*\)$/\1/p" "$dir/valgrind.$worker.log" 2>/dev/null)
  [ -n "$out" ] || { say "pool_ops bench: no count for the worker $worker (see $dir/valgrind.$worker.log)"; return 1; }
  echo "$out"
}
say "== Instructions (callgrind): $per_run and $((5 * per_run)) requests per worker, each kind and program"
for kind in other login; do
  n=$per_run
  [ "$kind" = login ] || n=$((per_run * 10))
  for count in "$n" $((5 * n)); do
    for variant in base board none; do
      ins=$(callgrind_run "$variant" "$kind" "$count")
      echo "$variant $kind $count $ins" >>"$tmp/instructions"
    done
  done
done

# --- Figures --------------------------------------------------------------------------
quantile() { awk '{ print $1, $2 * 1000 }' "$1" >"$1.ms"; bench_quantile "$1.ms" "$2"; }
rps() { awk '/^Requests\/sec:/ { print $2 }' "$tmp"/wrk."$1".* | sort -n | sed -n 2p; }
# Answers other than the main page: wrk's (non-2xx answers and socket
# errors) for POOL, or (no POOL) those of the single logins.
errors() {
  if [ -n "${1:-}" ]; then
    awk '/Non-2xx or 3xx responses:/ { n += $NF } /Socket errors:/ { n += $4 + $6 + $8 + $10 } END { print n + 0 }' \
      "$tmp"/wrk."$1".*
  else
    local bad wrong
    bad=$(cat "$tmp"/lat.static "$tmp"/lat.cold "$tmp"/lat.warm | grep -vc '^200 ' || true)
    wrong=$(grep -c . "$tmp/wrong" 2>/dev/null || true)
    echo $((${bad:-0} + ${wrong:-0}))
  fi
}
per_request() {  # VARIANT KIND: (instructions at 5n - at n) / 4n
  awk -v v="$1" -v k="$2" '$1 == v && $2 == k { c[++i] = $3; n[i] = $4 }
    END { printf "%.0f", (n[2] - n[1]) / (c[2] - c[1]) }' "$tmp/instructions"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

printf '\nLatency of a right login, %d rounds (ms)\n' "$rounds"
printf '%-36s %8s %8s\n' "" median p95
printf '%-36s %8s %8s\n' "on demand, first login from idle" "$(quantile "$tmp/lat.cold" 0.5)" "$(quantile "$tmp/lat.cold" 0.95)"
printf '%-36s %8s %8s\n' "on demand, the login right after" "$(quantile "$tmp/lat.warm" 0.5)" "$(quantile "$tmp/lat.warm" 0.95)"
printf '%-36s %8s %8s\n' "static (8 workers), warm" "$(quantile "$tmp/lat.static" 0.5)" "$(quantile "$tmp/lat.static" 0.95)"
printf '\nThroughput, 8 clients, %d s, median of 3 rounds\n' "$seconds"
# The harness's nginx takes logins at 100000 a second with the README's
# burst of 5 (scripts/web-servers.sh): 8 clients at once now and then get its
# 429, without the pool being asked.
limited() { grep -c '" 429 ' "$run/$1/nginx/log/access.log" || true; }
printf '%-36s %10s %s\n' "on demand, from no worker" "$(rps ondemand)" \
  "req/s, $(errors ondemand) errors, workers after each run: $(tr '\n' ' ' <"$tmp/workers.ondemand")"
printf '%-36s %10s %s\n' "on demand, warm" "$(rps warm)" "req/s, $(errors warm) errors"
printf '%-36s %10s %s\n' "static (8 workers)" "$(rps static)" "req/s, $(errors static) errors"
printf '%-36s %10s\n' "on demand from no worker / static" "$(ratio "$(rps ondemand)" "$(rps static)")"
printf '%-36s %10s\n' "on demand warm / static" "$(ratio "$(rps warm)" "$(rps static)")"
printf "nginx's 429 among the errors: %s (on demand), %s (static)\n" "$(limited ondemand)" "$(limited static)"
printf 'single logins other than the main page: %s\n' "$(errors)"
[ ! -s "$tmp/wrong" ] || sort "$tmp/wrong" | uniq -c | sed 's/^/  wrong page: /'

printf '\nInstructions per request of a worker (callgrind)\n'
printf '%-44s %14s %14s\n' "" "path not routed" "right login"
for variant in base board none; do
  case $variant in
    base) label="$base_commit (before the board), pool" ;;
    board) label="now, pool (board)" ;;
    none) label="now, socket as standard input (no board)" ;;
  esac
  printf '%-44s %14s %14s\n' "$label" "$(per_request "$variant" other)" "$(per_request "$variant" login)"
done
for kind in other login; do
  printf 'board - no board (%s): %s instructions, pool now / %s: %s\n' "$kind" \
    $(($(per_request board "$kind") - $(per_request none "$kind"))) "$base_commit" \
    "$(ratio "$(per_request board "$kind")" "$(per_request base "$kind")")"
done
