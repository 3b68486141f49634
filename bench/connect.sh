#!/usr/bin/env bash
# Whole-process cost of a login through the connection component against the
# floor (bench/connect_floor.c: the bare client calls), for an accepted and a
# refused login, against the local Firebird server: wall and CPU time
# (hyperfine), peak memory (/usr/bin/time -v) and instructions executed
# (valgrind's callgrind). Prints the figures and their ratios.
#
#   bench/connect.sh [RUNS]      (default 40 runs per accepted-login command)
#
# Refused logins are paced and each run uses a user name of its own, so that
# the server's failed-login throttle (more than 16 failing names, or 4
# failures of one name, within about 8 s) never delays them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-40}
refused_runs=${NEMVO_BENCH_REFUSED_RUNS:-12}
build=${NEMVO_BENCH_BUILD:-$root/build/bench-connect}
fb=$root/scripts/firebird.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
export NEMVO_FB_LEASE="bench-connect-$$" NEMVO_FB_LEASE_PID=$$

dbpath=/var/lib/firebird/3.0/data/nemvo-bench/connect.fdb
db=$("$fb" url "$dbpath")
user=nemvo_bench
password=Bench-pw-1

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_BENCH=ON -DNEMVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_connect_floor bench_connect_component -j2 >/dev/null
floor=$build/bench/bench_connect_floor
component=$build/bench/bench_connect_component

cleanup() {
  "$fb" drop-db "$dbpath" >/dev/null 2>&1 || true
  rmdir "$(dirname "$dbpath")" 2>/dev/null || true
  "$fb" drop-user "$user" >/dev/null 2>&1 || true
  "$fb" stop || true
  rm -rf "$tmp"
}
tmp=$(mktemp -d)
trap cleanup EXIT
"$fb" start
"$fb" create-db "$dbpath" 3
"$fb" create-user "$user" "$password"

# Both programs must agree before they are compared.
[ "$("$floor" "$db" "$user" "$password")" = "dialect 3" ] || { echo "floor cannot log in" >&2; exit 1; }
[ "$("$component" "$db" "$user" "$password")" = "dialect 3" ] || { echo "component cannot log in" >&2; exit 1; }

time_runs() {  # name, json, hyperfine options...
  local json=$1
  shift
  hyperfine -N --style basic --export-json "$json" "$@" >/dev/null
}

# Each comparison runs twice, the second time in the other order, and each
# figure is the mean of both: whichever command runs first is otherwise
# favoured or penalised by what the machine and the server did just before.
#   fig FILE-STEM STAT COMMAND-INDEX   (STAT: mean, stddev or cpu; in ms)
fig() {
  local stem=$1 stat=$2 i=$3 expr
  case $stat in
    mean) expr='.mean' ;;
    stddev) expr='.stddev' ;;
    cpu) expr='(.user + .system)' ;;
  esac
  jq -rs --argjson i "$i" "(.[0].results[\$i] | $expr) as \$a | (.[1].results[1 - \$i] | $expr) as \$b | (\$a + \$b) * 500" \
    "$tmp/$stem.1.json" "$tmp/$stem.2.json"
}

# Median of peak resident set sizes (KiB) over $1 runs of the command.
peak_kib() {
  local n=$1
  shift
  for _ in $(seq 1 "$n"); do
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
    [ -z "${pace:-}" ] || sleep "$pace"
  done | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

echo "accepted login: $runs runs each, twice"
ok_floor="$floor $db $user $password"
ok_comp="$component $db $user $password"
time_runs "$tmp/ok.1.json" --warmup 5 --runs "$runs" -n floor "$ok_floor" -n component "$ok_comp"
time_runs "$tmp/ok.2.json" --warmup 5 --runs "$runs" -n component "$ok_comp" -n floor "$ok_floor"
echo "refused login: $refused_runs runs each, twice, paced"
for round in 1 2; do
  no_floor="$floor $db nemvo_no_f${round}_%p wrong"
  no_comp="$component $db nemvo_no_c${round}_%p wrong"
  if [ $round = 1 ]; then
    time_runs "$tmp/no.1.json" --runs "$refused_runs" -i --prepare "sleep 0.7" -n floor "$no_floor" -n component "$no_comp"
  else
    time_runs "$tmp/no.2.json" --runs "$refused_runs" -i --prepare "sleep 0.7" -n component "$no_comp" -n floor "$no_floor"
  fi
done

mem_ok_floor=$(peak_kib 9 "$floor" "$db" "$user" "$password")
mem_ok_comp=$(peak_kib 9 "$component" "$db" "$user" "$password")
pace=0.7
mem_no_floor=$(peak_kib 5 "$floor" "$db" nemvo_no_mf%p wrong)
mem_no_comp=$(peak_kib 5 "$component" "$db" nemvo_no_mc%p wrong)
unset pace

# Instructions executed (callgrind, one run each): the one figure that the
# load of a shared machine does not move.
instructions() {
  # A refused login ends with status 1; only the count matters here.
  { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null || true; } |
    awk '/Collected :/ { print $NF }'
}
if command -v valgrind >/dev/null; then
  ins_ok_floor=$(instructions "$floor" "$db" "$user" "$password")
  ins_ok_comp=$(instructions "$component" "$db" "$user" "$password")
  sleep 0.7
  ins_no_floor=$(instructions "$floor" "$db" nemvo_no_if%p wrong)
  sleep 0.7
  ins_no_comp=$(instructions "$component" "$db" nemvo_no_ic%p wrong)
fi

# Refused logins must have been answered at once: a throttled one takes 8 s.
slow=$(jq -rs '[.[].results[].times[] | select(. > 4)] | length' "$tmp/no.1.json" "$tmp/no.2.json")

row() {  # label, floor value, component value, unit
  awk -v l="$1" -v f="$2" -v c="$3" -v u="$4" \
    'BEGIN { printf "%-26s %10.2f %s %10.2f %s   ratio %.3f (%+.1f%%)\n", l, f, u, c, u, c / f, (c / f - 1) * 100 }'
}
echo
printf '%-26s %13s %13s\n' "" floor component
row "accepted: time" "$(fig ok mean 0)" "$(fig ok mean 1)" ms
row "accepted: CPU time" "$(fig ok cpu 0)" "$(fig ok cpu 1)" ms
row "accepted: peak memory" "$mem_ok_floor" "$mem_ok_comp" KiB
[ -z "${ins_ok_floor:-}" ] || row "accepted: instructions" "$((ins_ok_floor / 1000))" "$((ins_ok_comp / 1000))" k
row "refused: time" "$(fig no mean 0)" "$(fig no mean 1)" ms
row "refused: CPU time" "$(fig no cpu 0)" "$(fig no cpu 1)" ms
row "refused: peak memory" "$mem_no_floor" "$mem_no_comp" KiB
[ -z "${ins_no_floor:-}" ] || row "refused: instructions" "$((ins_no_floor / 1000))" "$((ins_no_comp / 1000))" k
printf 'time spread (stddev): accepted %.2f / %.2f ms, refused %.2f / %.2f ms\n' \
  "$(fig ok stddev 0)" "$(fig ok stddev 1)" "$(fig no stddev 0)" "$(fig no stddev 1)"
[ "$slow" = 0 ] || echo "warning: $slow refused logins were throttled by the server; their times are not comparable"
