#!/usr/bin/env bash
# How long a visitor waits for the answer to a login when the database server
# does not answer, in the two ways it can fail to:
#
#   silent    a server that accepts the TCP connection and never answers
#             (a stand-in listening on 127.0.0.1: tests/site/SilentDatabaseServer.cpp)
#   dropped   an address whose packets are dropped: the program runs in a
#             network namespace of its own with a DROP rule (needs root,
#             unshare, ip and iptables; left out with a message otherwise)
#
#   bench/login_wait.sh [LOGIN_TIMEOUT]   (the configuration's LoginTimeout;
#                                          none: the program's default)
#
# NEMVO_BENCH_COMPARE="label=program[=config] ..." runs other builds of the
# program beside this one (an older one, say); each is given the same
# configuration, written to the path that build reads (its NEMVO_CONFIG_PATH:
# the third part). All runs of a case go at once: they wait, not work.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
timeout_line=${1:+LoginTimeout=$1}
build=${NEMVO_BENCH_BUILD:-$root/build/bench-login}
config=$build/run/Nemvo.Config
say() { printf '%s\n' "$*" >&2; }

say "== Building in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_TESTS=ON -DNEMVO_CONFIG_PATH="$config" >/dev/null
cmake --build "$build" --target nemvoweb site_silent_database_server -j2 >/dev/null

programs=("nemvoweb=$build/src/main/nemvoweb=$config")
for p in ${NEMVO_BENCH_COMPARE:-}; do programs+=("$p"); done

tmp=$(mktemp -d)
silent_pid=""
cleanup() {
  [ -z "$silent_pid" ] || { kill "$silent_pid" 2>/dev/null; wait "$silent_pid" 2>/dev/null; } || true
  rm -rf "$tmp"
}
trap cleanup EXIT
"$build/tests/site/site_silent_database_server" > "$tmp/port" &
silent_pid=$!
for _ in $(seq 50); do [ -s "$tmp/port" ] && break; sleep 0.1; done
port=$(cat "$tmp/port")

# Inside the namespace nothing answers on that port either: its packets go.
for entry in "${programs[@]}"; do
  path=$(cut -d= -f3 <<<"$entry")
  [ -n "$path" ] || continue
  mkdir -p "$(dirname "$path")"
  printf '[Nemvo.FrameWork]\nDBSuporte=127.0.0.1/%s:/nemvo/silent.fdb\nMainHTML=\n%s\n' "$port" "$timeout_line" > "$path"
done

can_drop=false
if [ "$(id -u)" = 0 ] && unshare --net sh -c 'ip link set lo up && iptables -A INPUT -p tcp -j DROP' 2>/dev/null; then
  can_drop=true
else
  say "dropped: left out (a network namespace with a DROP rule needs root, unshare, ip and iptables)"
fi

# run LABEL CASE PROGRAM: seconds until the answer is complete, and the message shown.
run() {
  local label=$1 case=$2 program=$3 start end
  local env=(env -i REQUEST_METHOD=POST PATH_INFO=/main SERVER_PROTOCOL=HTTP/1.1 CONTENT_LENGTH=16)
  start=$(date +%s%N)
  if [ "$case" = dropped ]; then
    printf 'u=nemvo&p=secret' | unshare --net sh -c 'ip link set lo up && iptables -A INPUT -p tcp -j DROP && exec "$@"' \
      sh "${env[@]}" "$program" > "$tmp/$label-$case.out"
  else
    printf 'u=nemvo&p=secret' | "${env[@]}" "$program" > "$tmp/$label-$case.out"
  fi
  end=$(date +%s%N)
  local message
  message=$(grep -a -o 'center;"> [^<]*' "$tmp/$label-$case.out" | head -n1 | cut -c11- | tr -d '\r')
  printf '%-9s %-12s %8.2f s  %s\n' "$case" "$label" "$(echo "($end - $start) / 1000000000" | bc -l)" "$message" \
    > "$tmp/$label-$case.line"
}

cases=(silent)
$can_drop && cases+=(dropped)
printf '%-9s %-12s %10s  %s\n' case program wait "message shown"
for case in "${cases[@]}"; do
  pids=()
  for entry in "${programs[@]}"; do
    run "$(cut -d= -f1 <<<"$entry")" "$case" "$(cut -d= -f2 <<<"$entry")" &
    pids+=($!)
  done
  wait "${pids[@]}"
  for entry in "${programs[@]}"; do cat "$tmp/$(cut -d= -f1 <<<"$entry")-$case.line"; done
done
