#!/usr/bin/env bash
# The three documented deployments side by side, each as the README configures
# it (lighttpd with mod_cgi, Apache with mod_cgid, nginx with fcgiwrap), the
# same program, Firebird server and 100 KiB main-page template:
#
#   - latency of a right login: ROUNDS rounds, each one request to every
#     deployment in turn (the order rotating), timed by curl from the request
#     to the last byte of the answer; median and 95th percentile;
#   - requests per second at 8 concurrent clients (wrk), SECONDS per
#     deployment in each of 3 rounds, the deployments interleaved, the median
#     of the rounds: once with connections kept open from request to request,
#     once with a new connection per request. Any answer other than 200
#     counts as an error;
#
# and the ratios of each deployment's figures to lighttpd's with the same
# program.
#
#   bench/web_servers.sh [ROUNDS] [SECONDS]     (defaults: 200 rounds, 5 seconds)
#
# Builds nemvoweb in build/bench-servers, or runs NEMVO_BENCH_PROGRAM. With
# NEMVO_BENCH_BASELINE (another build of the program, to compare with), the
# three deployments run a second time with it, interleaved with the first in
# every round, as "lighttpd/base" and so on. A program given must have been
# built to read build/bench-servers/Nemvo.Config (-DNEMVO_CONFIG_PATH=<that
# path>). Stops and removes everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=${1:-200}
seconds=${2:-5}
build=$root/build/bench-servers
config=$build/Nemvo.Config
fb=$root/scripts/firebird.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
export NEMVO_FB_LEASE="bench-servers-$$" NEMVO_FB_LEASE_PID=$$
dbpath=/var/lib/firebird/3.0/data/nemvo-bench/servers.fdb
user=nemvo_bench_ws
password=Bench-ws-1
kinds=(lighttpd apache nginx)
# shellcheck source=../scripts/web-servers.sh
source scripts/web-servers.sh
# shellcheck source=bench_lib.sh
source bench/bench_lib.sh

say() { printf '%s\n' "$*" >&2; }
for tool in wrk curl lighttpd apache2 nginx fcgiwrap; do
  command -v "$tool" >/dev/null || { say "web_servers: $tool is missing: run scripts/install-deps.sh"; exit 1; }
done

if [ -n "${NEMVO_BENCH_PROGRAM:-}" ]; then
  program=$NEMVO_BENCH_PROGRAM
else
  say "== Building nemvoweb in $build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_TESTS=OFF \
    -DNEMVO_CONFIG_PATH="$config" >/dev/null
  cmake --build "$build" --target nemvoweb -j2 >/dev/null
  program=$build/src/main/nemvoweb
fi

# The program of each set of deployments, and its run directory.
sets=(main)
declare -A set_program=([main]=$program) set_run=([main]=$build/run)
if [ -n "${NEMVO_BENCH_BASELINE:-}" ]; then
  sets+=(base)
  set_program[base]=$NEMVO_BENCH_BASELINE
  set_run[base]=$build/run-base
fi

stop_set() {
  ws_stop_site apache "$1" || true
  ws_stop_site nginx "$1" || true
  ws_stop lighttpd "$1" || true
}

tmp=$(mktemp -d)
cleanup() {
  trap - EXIT INT TERM
  local set
  for set in "${sets[@]}"; do stop_set "${set_run[$set]}"; done
  bench_database_down
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bench_database_up

awk -f bench/main_template.awk >"$build/main.html"
# The throttle off: it counts a client's logins in flight, and 8 clients from
# one address logging in at once would be answered by it, not by the program
# behind each web server.
printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\nLoginFailures=0\n' "$("$fb" url "$dbpath")" "$build/main.html" \
  >"$config"
chmod a+r "$config" "$build/main.html"

# Deployments: "KIND" with the program under test, "KIND/base" with the
# baseline; each one's URL.
deployments=()
declare -A url
for set in "${sets[@]}"; do
  run=${set_run[$set]}
  stop_set "$run"
  rm -rf "$run"
  mkdir -p "$run/htdocs" "$run/cgi-bin"
  cp site/htdocs/index.html "$run/htdocs/"
  install -m 0755 "${set_program[$set]}" "$run/cgi-bin/nemvoweb"
  chmod -R a+rX "$run"
  port=$(ws_free_port)
  ws_start lighttpd "$run" "$port" "$root/site/lighttpd.conf"
  echo "$port" >"$run/port"
  ws_start_site apache "$run"
  ws_start_site nginx "$run"
  for kind in "${kinds[@]}"; do
    if [ "$kind" = lighttpd ]; then port=$(cat "$run/port"); else port=$(cat "$run/$kind/port"); fi
    name=$kind
    [ "$set" = main ] || name=$kind/$set
    deployments+=("$name")
    url[$name]="http://127.0.0.1:$port/cgi-bin/nemvoweb/main"
  done
done
count=${#deployments[@]}
body="u=$user&p=$password"
file_of() { echo "${1//\//-}"; }

# The main page each deployment must give: the template without its tags.
sed 's/<#[^>]*>//g' "$build/main.html" >"$tmp/main.expected"
for d in "${deployments[@]}"; do
  curl -s --max-time 30 -o "$tmp/first" --data "$body" "${url[$d]}"
  cmp -s "$tmp/first" "$tmp/main.expected" || { say "web_servers: $d does not answer the main page"; exit 1; }
done

# --- Latency ------------------------------------------------------------------------
say "== Latency: $rounds rounds of one right login per deployment"
for i in $(seq 0 $((rounds - 1))); do
  for j in $(seq 0 $((count - 1))); do
    d=${deployments[$(((i + j) % count))]}
    curl -s --max-time 30 -o /dev/null -w "%{http_code} %{time_total}\n" --data "$body" "${url[$d]}" \
      >>"$tmp/lat.$(file_of "$d")"
  done
done

# quantile FILE Q: the Q-quantile of the second column (curl's seconds), in ms.
quantile() { bench_quantile "$1" "$2" 1000 1; }

# --- Throughput -----------------------------------------------------------------------
say "== Throughput: 8 clients, ${seconds} s per deployment and kind of connection, 3 rounds"
bench_post_script "$tmp/post.lua" "$body"
for r in 0 1 2; do
  for j in $(seq 0 $((count - 1))); do
    d=${deployments[$(((r + j) % count))]}
    f=$(file_of "$d")
    wrk -t 2 -c 8 -d "${seconds}s" --timeout 30s -s "$tmp/post.lua" "${url[$d]}" >"$tmp/wrk.keep.$f.$r"
    wrk -t 2 -c 8 -d "${seconds}s" --timeout 30s -s "$tmp/post.lua" -H "Connection: close" "${url[$d]}" \
      >"$tmp/wrk.close.$f.$r"
  done
done
# rps MODE DEPLOYMENT: the median of the rounds.
rps() { awk '/^Requests\/sec:/ { print $2 }' "$tmp"/wrk."$1"."$(file_of "$2")".* | sort -n | sed -n 2p; }
wrk_errors() {
  awk '/Non-2xx or 3xx responses:/ { n += $NF } /Socket errors:/ { n += $4 + $6 + $8 + $10 } END { print n + 0 }' \
    "$tmp"/wrk.*."$(file_of "$1")".*
}

# --- Figures --------------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '\n%-14s %9s %8s %7s | %11s %6s | %11s %6s | %6s\n' deployment "median ms" "p95 ms" ratio \
  "req/s kept" ratio "req/s new" ratio errors
for d in "${deployments[@]}"; do
  f=$(file_of "$d")
  base=lighttpd
  [[ $d != */* ]] || base=lighttpd/${d#*/}
  med=$(quantile "$tmp/lat.$f" 0.5)
  base_med=$(quantile "$tmp/lat.$(file_of "$base")" 0.5)
  p95=$(quantile "$tmp/lat.$f" 0.95)
  errors=$(( $(grep -vc '^200 ' "$tmp/lat.$f" || true) + $(wrk_errors "$d") ))
  printf '%-14s %9s %8s %7s | %11s %6s | %11s %6s | %6s\n' "$d" "$med" "$p95" "$(ratio "$med" "$base_med")" \
    "$(rps keep "$d")" "$(ratio "$(rps keep "$d")" "$(rps keep "$base")")" \
    "$(rps close "$d")" "$(ratio "$(rps close "$d")" "$(rps close "$base")")" "$errors"
done
total_errors=0
for d in "${deployments[@]}"; do total_errors=$((total_errors + $(wrk_errors "$d"))); done
[ "$total_errors" = 0 ] || printf '\nwarning: %s answers were not 200: the rates above count them\n' "$total_errors"
printf '\nGoal: Apache and nginx with fcgiwrap within 1.10x of lighttpd'"'"'s median (ratio: against lighttpd\nwith the same program).\n'
