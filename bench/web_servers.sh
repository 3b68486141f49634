#!/usr/bin/env bash
# The three documented deployments side by side, each as the README configures
# it (lighttpd with mod_cgi, Apache with mod_cgid, nginx with fcgiwrap), the
# same program, Firebird server and 100 KiB main-page template:
#
#   - latency of a right login: ROUNDS rounds, each one request to every
#     server in turn (the order rotating), timed by curl from the request to
#     the last byte of the answer; median and 95th percentile per server;
#   - requests per second at 8 concurrent clients (wrk), SECONDS per server
#     in each of 3 rounds, the servers interleaved, the median of the rounds
#     per server: once with connections kept open from request to request,
#     once with a new connection per request. Any answer other than 200
#     counts as an error;
#
# and the ratios of Apache's and nginx's figures to lighttpd's.
#
#   bench/web_servers.sh [ROUNDS] [SECONDS]     (defaults: 200 rounds, 5 seconds)
#
# Builds nemvoweb in build/bench-servers, or runs NEMVO_BENCH_PROGRAM, which
# must have been built to read build/bench-servers/run/Nemvo.Config (to
# compare builds: -DNEMVO_CONFIG_PATH=<that path>). Stops and removes
# everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=${1:-200}
seconds=${2:-5}
build=$root/build/bench-servers
run=$build/run
config=$run/Nemvo.Config
fb=$root/scripts/firebird.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
export NEMVO_FB_LEASE="bench-servers-$$" NEMVO_FB_LEASE_PID=$$
dbpath=/var/lib/firebird/3.0/data/nemvo-bench/servers.fdb
user=nemvo_bench_ws
password=Bench-ws-1
servers=(lighttpd apache nginx)
# shellcheck source=../scripts/web-servers.sh
source scripts/web-servers.sh

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

tmp=$(mktemp -d)
cleanup() {
  trap - EXIT INT TERM
  ws_stop_site apache "$run" || true
  ws_stop_site nginx "$run" || true
  ws_stop lighttpd "$run" || true
  "$fb" drop-db "$dbpath" >/dev/null 2>&1 || true
  "$fb" drop-user "$user" >/dev/null 2>&1 || true
  "$fb" stop || true
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$fb" start
"$fb" create-db "$dbpath" 3
"$fb" create-user "$user" "$password"

ws_stop_site apache "$run"; ws_stop_site nginx "$run"; ws_stop lighttpd "$run"
rm -rf "$run"
mkdir -p "$run/htdocs" "$run/cgi-bin"
cp site/htdocs/index.html "$run/htdocs/"
install -m 0755 "$program" "$run/cgi-bin/nemvoweb"
awk -f bench/main_template.awk >"$run/main.html"
printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\n' "$("$fb" url "$dbpath")" "$run/main.html" >"$config"
chmod -R a+rX "$run"

port_lighttpd=$(ws_free_port)
ws_start lighttpd "$run" "$port_lighttpd" "$root/site/lighttpd.conf"
ws_start_site apache "$run"
ws_start_site nginx "$run"
port_apache=$(cat "$run/apache/port")
port_nginx=$(cat "$run/nginx/port")
url() { local p="port_$1"; echo "http://127.0.0.1:${!p}/cgi-bin/nemvoweb/main"; }
body="u=$user&p=$password"

# The main page each server must give: the template without its tags.
sed 's/<#[^>]*>//g' "$run/main.html" >"$tmp/main.expected"
for s in "${servers[@]}"; do
  curl -s --max-time 30 -o "$tmp/first.$s" --data "$body" "$(url "$s")"
  cmp -s "$tmp/first.$s" "$tmp/main.expected" || { say "web_servers: $s does not answer the main page"; exit 1; }
done

# --- Latency ------------------------------------------------------------------------
say "== Latency: $rounds rounds of one right login per server"
for i in $(seq 0 $((rounds - 1))); do
  for j in 0 1 2; do
    s=${servers[$(((i + j) % 3))]}
    curl -s --max-time 30 -o /dev/null -w "%{http_code} %{time_total}\n" --data "$body" "$(url "$s")" >>"$tmp/lat.$s"
  done
done

# quantile FILE Q: the Q-quantile (nearest rank) of the second column, in ms.
quantile() {
  awk '{ print $2 * 1000 }' "$1" | sort -n |
    awk -v q="$2" '{ v[NR] = $1 } END { r = int(q * NR + 0.999999); if (r < 1) r = 1; printf "%.1f", v[r] }'
}

# --- Throughput -----------------------------------------------------------------------
say "== Throughput: 8 clients, ${seconds} s per server, 3 rounds"
cat >"$tmp/post.lua" <<EOF
wrk.method = "POST"
wrk.body = "$body"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
EOF
for r in 0 1 2; do
  for j in 0 1 2; do
    s=${servers[$(((r + j) % 3))]}
    wrk -t 2 -c 8 -d "${seconds}s" --timeout 30s -s "$tmp/post.lua" "$(url "$s")" >"$tmp/wrk.keep.$s.$r"
    wrk -t 2 -c 8 -d "${seconds}s" --timeout 30s -s "$tmp/post.lua" -H "Connection: close" "$(url "$s")" \
      >"$tmp/wrk.close.$s.$r"
  done
done
# rps MODE SERVER: the median of the rounds.
rps() { awk '/^Requests\/sec:/ { print $2 }' "$tmp"/wrk."$1"."$2".* | sort -n | sed -n 2p; }
wrk_errors() {
  awk '/Non-2xx or 3xx responses:/ { n += $NF } /Socket errors:/ { n += $4 + $6 + $8 + $10 } END { print n + 0 }' \
    "$tmp"/wrk.*."$1".*
}

# --- Figures --------------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '\n%-9s %9s %8s %7s | %12s %6s | %12s %6s | %6s\n' server "median ms" "p95 ms" ratio \
  "req/s kept" ratio "req/s new" ratio errors
base_med=$(quantile "$tmp/lat.lighttpd" 0.5)
for s in "${servers[@]}"; do
  med=$(quantile "$tmp/lat.$s" 0.5)
  p95=$(quantile "$tmp/lat.$s" 0.95)
  errors=$(( $(grep -vc '^200 ' "$tmp/lat.$s" || true) + $(wrk_errors "$s") ))
  printf '%-9s %9s %8s %7s | %12s %6s | %12s %6s | %6s\n' "$s" "$med" "$p95" "$(ratio "$med" "$base_med")" \
    "$(rps keep "$s")" "$(ratio "$(rps keep "$s")" "$(rps keep lighttpd)")" \
    "$(rps close "$s")" "$(ratio "$(rps close "$s")" "$(rps close lighttpd)")" "$errors"
done
printf '\nGoal: Apache and nginx with fcgiwrap within 1.10x of lighttpd'"'"'s median.\n'
