#!/usr/bin/env bash
# Whole-process cost of nemvoweb's requests against floor programs written
# for the comparison, against the local Firebird server:
#
#   refused login             nemvoweb  vs  cgi_floor_login (same refused attach)
#   accepted login, 100 KiB   nemvoweb  vs  cgi_floor_login (attach, dialect, detach,
#   template                                 template copied to the answer)
#   request to another path   nemvoweb  vs  cgi_floor_load  (loads the client library)
#
# For each: the time until the answer's standard output ends (what the web
# server waits for), the time until the process ends (hyperfine), both as
# medians, and the
# peak memory (/usr/bin/time -v, median of several runs), with their ratios;
# and, as the one figure that the load of a shared machine does not move, the
# instructions each process executes (valgrind's callgrind, one run).
#
#   bench/request.sh [RUNS]     (default 30 runs per command and order)
#
# Each comparison runs in both orders and the figures average them. Refused
# logins are paced and use a user name of their own per run, so that the
# database server's failed-login guard (more than 16 failing names, or 4
# failures of one name, within about 8 s) stays out of the way, and a client
# address of their own (cgi_run), so that nemvoweb's own per-client throttle
# does (NEMVO_BENCH_REFUSED_RUNS runs per command and order, default 10).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-30}
refused_runs=${NEMVO_BENCH_REFUSED_RUNS:-10}
build=${NEMVO_BENCH_BUILD:-$root/build/bench-request}
fb=$root/scripts/firebird.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
export NEMVO_FB_LEASE="bench-request-$$" NEMVO_FB_LEASE_PID=$$

dbpath=/var/lib/firebird/3.0/data/nemvo-bench/request.fdb
user=nemvo_bench_rq
password=Bench-rq-1
site=$build/run
config=$site/Nemvo.Config
template=$site/main.html

say() { printf '%s\n' "$*" >&2; }
say "== Building in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_BENCH=ON -DNEMVO_BUILD_TESTS=OFF \
  -DNEMVO_CONFIG_PATH="$config" >/dev/null
cmake --build "$build" --target nemvoweb bench_cgi_floor_login bench_cgi_floor_load bench_cgi_run -j2 >/dev/null
program=$build/src/main/nemvoweb
floor_login=$build/bench/bench_cgi_floor_login
floor_load=$build/bench/bench_cgi_floor_load
run=$build/bench/bench_cgi_run

tmp=$(mktemp -d)
cleanup() {
  "$fb" drop-db "$dbpath" >/dev/null 2>&1 || true
  "$fb" drop-user "$user" >/dev/null 2>&1 || true
  "$fb" stop || true
  rm -rf "$tmp"
}
trap cleanup EXIT
"$fb" start
"$fb" create-db "$dbpath" 3
"$fb" create-user "$user" "$password"
db=$("$fb" url "$dbpath")

# A main page of 100 KiB: lines of text with a transparent tag now and then.
mkdir -p "$site"
awk -f bench/main_template.awk > "$template"
printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\n' "$db" "$template" > "$config"

right="u=$user&p=$password"
refused="u=nemvo_no_%n&p=wrong"

# Both programs must give the answers they are compared on.
check() {  # label, expected first line, cgi_run arguments...
  local label=$1 want=$2
  shift 2
  "$run" "$tmp/check.log" "$@" >/dev/null
  local bytes
  bytes=$(tail -n1 "$tmp/check.log" | cut -d' ' -f4)
  [ "$bytes" -ge "$want" ] || { say "$label: $bytes bytes of output, expected at least $want"; exit 1; }
}
check "nemvoweb, accepted" 95000 POST /main "$right" "$program"
check "floor, accepted" 102000 POST /main "$right" "$floor_login" "$db" "$template"
check "nemvoweb, refused" 200 POST /main "$refused" "$program"
check "floor, refused" 50 POST /main "$refused" "$floor_login" "$db" "$template"
# The refusal itself, not a throttled client's page.
refusal_body="u=nemvo_no_check$$&p=wrong"
printf '%s' "$refusal_body" |
  env -i REQUEST_METHOD=POST PATH_INFO=/main CONTENT_LENGTH=${#refusal_body} REMOTE_ADDR=10.255.0.1 \
    CONTENT_TYPE=application/x-www-form-urlencoded "$program" >"$tmp/refusal"
grep -q 'Senha inv' "$tmp/refusal" ||
  { say "nemvoweb's refused login did not answer the refusal page"; exit 1; }
[ "$(env -i REQUEST_METHOD=POST PATH_INFO=/other "$program" </dev/null | wc -c)" = 0 ] ||
  { say "nemvoweb answers another path"; exit 1; }

# compare NAME RUNS BODY PATH FLOOR-COMMAND PAUSE: nemvoweb and the floor.
# First RUNS pairs run alternately, one after the other with PAUSE seconds
# between pairs, so that a shared machine's changing load falls on both
# alike; cgi_run logs their times to the end of standard output in
# $tmp/NAME-{prog,floor}.log. Then hyperfine times the whole processes, each
# order once ($tmp/NAME-1.json with nemvoweb first, NAME-2.json).
compare() {
  local name=$1 n=$2 body=$3 path=$4 floor=$5 pause=$6 i
  local a="$run $tmp/$name-prog.log POST $path '$body' $program"
  local b="$run $tmp/$name-floor.log POST $path '$body' $floor"
  for _ in 1 2 3; do  # warm the caches, unlogged
    $run /dev/null POST "$path" "$body" "$program" >/dev/null 2>&1 || true
  done
  : > "$tmp/$name-prog.log"
  : > "$tmp/$name-floor.log"
  # shellcheck disable=SC2086 # the floor command is words
  local run_a=("$run" "$tmp/$name-prog.log" POST "$path" "$body" "$program")
  local run_b=("$run" "$tmp/$name-floor.log" POST "$path" "$body" $floor)
  for ((i = 0; i < n; i++)); do
    if ((i % 2)); then "${run_b[@]}" >/dev/null 2>&1 || true; sleep "$pause"; fi
    "${run_a[@]}" >/dev/null 2>&1 || true
    sleep "$pause"
    if ((i % 2 == 0)); then "${run_b[@]}" >/dev/null 2>&1 || true; sleep "$pause"; fi
  done
  local h=(hyperfine -N -i --style none --runs "$n" --prepare "sleep $pause")
  "${h[@]}" --export-json "$tmp/$name-1.json" -n prog "$a" -n floor "$b" >/dev/null
  "${h[@]}" --export-json "$tmp/$name-2.json" -n floor "$b" -n prog "$a" >/dev/null
}

# Times are medians, which a shared machine's load moves less than means.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Median process time in ms of the command named $2 over both orders.
process_ms() {
  jq -r --arg n "$2" '.results[] | select(.command == $n) | .times[] * 1000' "$tmp/$1-1.json" "$tmp/$1-2.json" |
    median
}
# Median time to the end of standard output in ms, from cgi_run's log (the
# alternating runs; hyperfine's runs log there too).
stdout_ms() { head -n "$2" "$1" | cut -d' ' -f1 | median; }
# Runs that took 4 s or more: a failed login the server's throttle delayed.
slow_runs() { cat "$@" | awk '$2 >= 4000' | wc -l; }

# Median peak resident set size in KiB over $1 runs of the command.
peak_kib() {
  local n=$1
  shift
  for _ in $(seq 1 "$n"); do
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
    [ -z "${pace:-}" ] || sleep "$pace"
  done | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

say "== Accepted login, 100 KiB template: $runs runs per command and order"
compare accepted "$runs" "$right" /main "$floor_login $db $template" 0.05
say "== Another path: $runs runs per command and order"
compare other "$runs" "$right" /other "$floor_load" 0.05
say "== Refused login: $refused_runs runs per command and order, paced"
compare refused "$refused_runs" "$refused" /main "$floor_login $db $template" 0.7

say "== Peak memory"
mem_acc_prog=$(peak_kib 9 "$run" /dev/null POST /main "$right" "$program")
mem_acc_floor=$(peak_kib 9 "$run" /dev/null POST /main "$right" "$floor_login" "$db" "$template")
mem_oth_prog=$(peak_kib 9 "$run" /dev/null POST /other "$right" "$program")
mem_oth_floor=$(peak_kib 9 "$run" /dev/null POST /other "$right" "$floor_load")
pace=0.7
mem_ref_prog=$(peak_kib 5 "$run" /dev/null POST /main "$refused" "$program")
mem_ref_floor=$(peak_kib 5 "$run" /dev/null POST /main "$refused" "$floor_login" "$db" "$template")
unset pace

# Instructions executed by the program run as a CGI process for the request
# (METHOD PATH BODY PROGRAM [ARG...]).
instructions() {
  local method=$1 path=$2 mark='%n' body
  body=${3//"$mark"/$RANDOM$$}
  shift 3
  printf '%s' "$body" |
    env -i REQUEST_METHOD="$method" PATH_INFO="$path" SERVER_PROTOCOL=HTTP/1.1 CONTENT_LENGTH="${#body}" \
      REMOTE_ADDR="10.$((RANDOM % 256)).$((RANDOM % 256)).$((RANDOM % 256))" \
      CONTENT_TYPE=application/x-www-form-urlencoded \
      valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    awk '/Collected :/ { print $NF }'
}
ins_acc_prog="" ins_oth_prog="" ins_ref_prog=""
if command -v valgrind >/dev/null; then
  say "== Instructions (callgrind)"
  ins_acc_prog=$(instructions POST /main "$right" "$program")
  ins_acc_floor=$(instructions POST /main "$right" "$floor_login" "$db" "$template")
  ins_oth_prog=$(instructions POST /other "$right" "$program")
  ins_oth_floor=$(instructions POST /other "$right" "$floor_load")
  ins_ref_prog=$(instructions POST /main "$refused" "$program")
  sleep 0.7
  ins_ref_floor=$(instructions POST /main "$refused" "$floor_login" "$db" "$template")
fi

row() {  # label, nemvoweb value, floor value, unit, goal
  awk -v l="$1" -v p="$2" -v f="$3" -v u="$4" -v g="$5" 'BEGIN {
    r = p / f
    printf "%-34s %9.2f %-3s %9.2f %-3s  %5.3f  %s\n", l, p, u, f, u, r, (r <= g ? "ok (<= " g ")" : "OVER " g)
  }'
}
echo
printf '%-34s %13s %13s  %5s\n' "" nemvoweb floor ratio
for k in refused accepted other; do
  case $k in
    refused) label="refused login"; goal=1.10 ;;
    accepted) label="accepted login, 100 KiB"; goal=1.10 ;;
    other) label="another path"; goal=1.20 ;;
  esac
  n=$runs
  [ $k != refused ] || n=$refused_runs
  row "$label: end of stdout" "$(stdout_ms "$tmp/$k-prog.log" "$n")" "$(stdout_ms "$tmp/$k-floor.log" "$n")" ms "$goal"
  row "$label: process" "$(process_ms "$k" prog)" "$(process_ms "$k" floor)" ms "$goal"
  eval "mp=\$mem_${k:0:3}_prog mf=\$mem_${k:0:3}_floor"
  row "$label: peak memory" "$mp" "$mf" KiB "$goal"
  eval "ip=\$ins_${k:0:3}_prog if=\${ins_${k:0:3}_floor:-}"
  [ -z "$ip" ] || row "$label: instructions" "$(awk -v n="$ip" 'BEGIN { print n / 1e6 }')" \
    "$(awk -v n="$if" 'BEGIN { print n / 1e6 }')" M "$goal"
done
slow=$(slow_runs "$tmp"/refused-*.log)
[ "$slow" = 0 ] || echo "warning: $slow refused logins took 4 s or more (the server's throttle); their times are not comparable"
