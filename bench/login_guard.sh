#!/usr/bin/env bash
# Measures the database server's own guard against failed logins, and what
# the client library reports in each case, with bench/login_guard.c: which
# failed logins the server delays (and by how much), what keeps a run of
# failures from being delayed, whether the delay holds up anyone else, and
# the status vector of a refused, a delayed, a timed-out and a genuinely
# failed connection. Prints the findings as a table.
#
#   bench/login_guard.sh        (about 3 minutes, mostly waiting out the guard)
#
# Runs a Firebird server of its own on 127.0.0.1 (port NEMVO_GUARD_FB_PORT,
# default 3053; nothing may listen on it or on the port after it), with a
# database and two users of its own, and removes them all at the end. The
# server is killed once on purpose (the last case) and started again to clean
# up. Between cases the script waits for the guard to forget (9 s).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${NEMVO_BENCH_BUILD:-$root/build/guard}
fb=$root/scripts/firebird.sh
export NEMVO_FB_PORT=${NEMVO_GUARD_FB_PORT:-3053}
export NEMVO_FB_STATE_DIR=/tmp/nemvo-firebird-$NEMVO_FB_PORT
unset NEMVO_FB_LEASE
say() { printf '%s\n' "$*" >&2; }

dbpath=/var/lib/firebird/3.0/data/nemvo-guard-$NEMVO_FB_PORT/guard.fdb
user_a=nemvo_guard_a pw_a=Guard-pw-a
user_b=nemvo_guard_b pw_b=Guard-pw-b
dead_port=$((NEMVO_FB_PORT + 1))

mkdir -p "$build"
cc -O2 -Wall -Wextra -std=c11 -D_GNU_SOURCE -o "$build/login_guard" bench/login_guard.c -ldl
probe=$build/login_guard

tmp=$(mktemp -d)
started=""
cleanup() {
  [ -n "$started" ] || { rm -rf "$tmp"; return; }
  "$fb" start >/dev/null 2>&1 || true
  "$fb" drop-user "$user_a" >/dev/null 2>&1 || true
  "$fb" drop-user "$user_b" >/dev/null 2>&1 || true
  "$fb" drop-db "$dbpath" >/dev/null 2>&1 || true
  rmdir "$(dirname "$dbpath")" 2>/dev/null || true
  "$fb" stop || true
  [ -n "$started" ] && rm -rf "$NEMVO_FB_STATE_DIR"
  rm -rf "$tmp"
}
trap cleanup EXIT
# The server must be ours alone: its guard's counts are what is measured, and
# it is stopped and killed by the process id this run records.
for port in "$NEMVO_FB_PORT" "$dead_port"; do
  if timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null; then
    say "login_guard.sh: something listens on 127.0.0.1:$port; choose another NEMVO_GUARD_FB_PORT"
    exit 1
  fi
done
started=1
"$fb" start
"$fb" create-db "$dbpath" 3
"$fb" create-user "$user_a" "$pw_a"
"$fb" create-user "$user_b" "$pw_b"
db=$("$fb" url "$dbpath")

# The guard forgets a name or a connection 8 whole seconds after its last
# failure; 9 s between cases keeps them apart.
settle() { sleep 9; }

# Summaries of a probe's output (N START SECONDS OUTCOME VECTOR TEXT).
# Attempts that took 7 s or more: the guard's delay is 8 s, an answer 5 ms.
delayed() { awk -F'\t' '$3 >= 7 { printf "%s%s", s, $1; s = "," } END { if (!s) printf "none" }' "$1"; }
slowest_fast() { awk -F'\t' '$3 < 7 && $3 > m { m = $3 } END { printf "%.3f", m }' "$1"; }
# Attempt N's time, outcome, vector and text as table cells.
cells() { awk -F'\t' -v n="$2" '$1 == n { printf "%.3f s | %s | %s | %s", $3, $4, $5, $6 }' "$1"; }

rows=()
row() { rows+=("$*"); }

say "== a refused login: wrong password, unknown user"
"$probe" "$db" "$user_a:wrong" "nobody_here:x" >"$tmp/plain"
row "wrong password | 1 | $(cells "$tmp/plain" 1)"
row "unknown user | 1 | $(cells "$tmp/plain" 2)"

settle
say "== one name, no pause: which failures are delayed"
"$probe" -n 9 "$db" "$user_a:wrong" >"$tmp/burst"
row "one name x9, no pause | delayed: $(delayed "$tmp/burst"); others <= $(slowest_fast "$tmp/burst") s | $(cells "$tmp/burst" 4)"

settle
say "== one name, paced (runs in parallel, one name each)"
for p in 6000 7000 8000; do "$probe" -p "$p" -n 5 "$db" "gap$p:x" >"$tmp/gap$p" & done
wait
for p in 6000 7000 8000; do
  row "one name x5, $((p / 1000)) s pause | delayed: $(delayed "$tmp/gap$p") | $(cells "$tmp/gap$p" 4)"
done

settle
say "== a new name each time"
"$probe" -n 20 "$db" "name%n:x" >"$tmp/names"
row "new name x20, no pause | delayed: $(delayed "$tmp/names") | $(cells "$tmp/names" 17)"

settle
say "== failures that a success of the same name clears each time"
"$probe" -n 18 "$db" "$user_a:wrong" "$user_a:$pw_a" >"$tmp/pairs"
row "(wrong, right) x18, one name | delayed: $(delayed "$tmp/pairs") (odd = failures) | $(cells "$tmp/pairs" 33)"

settle
say "== does a success clear the count of its name / of other names"
"$probe" "$db" "$user_a:w" "$user_a:w" "$user_a:$pw_a" "$user_a:w" "$user_a:w" "$user_a:w" >"$tmp/reset_same"
row "2 wrong, right, 3 wrong (same user) | delayed: $(delayed "$tmp/reset_same") | $(cells "$tmp/reset_same" 6)"
settle
"$probe" "$db" "$user_b:w" "$user_b:w" "$user_b:w" "$user_a:$pw_a" "$user_b:w" >"$tmp/reset_other"
row "3 wrong B, right A, wrong B | delayed: $(delayed "$tmp/reset_other") | $(cells "$tmp/reset_other" 5)"

settle
say "== who else waits while a failure is delayed"
"$probe" -n 4 "$db" "held:x" >"$tmp/held" &
sleep 2
"$probe" "$db" "$user_b:$pw_b" "fresh:x" "held:x" >"$tmp/during"
wait
row "during a delay: right login | - | $(cells "$tmp/during" 1)"
row "during a delay: other name, wrong | - | $(cells "$tmp/during" 2)"
row "during a delay: same name, wrong | - | $(cells "$tmp/during" 3)"

settle
say "== a delayed failure with a connect time-out shorter than the delay"
"$probe" -t 3 -n 4 "$db" "timeout:x" >"$tmp/timeout"
row "4th failure, connect time-out 3 s | delayed: $(delayed "$tmp/timeout") | $(cells "$tmp/timeout" 4)"
settle
"$probe" -t 9 -n 4 "$db" "timeout9:x" >"$tmp/timeout9"
row "4th failure, connect time-out 9 s | delayed: $(delayed "$tmp/timeout9") | $(cells "$tmp/timeout9" 4)"

say "== genuine failures: nothing listening, a server that does not answer, a server killed"
"$probe" "127.0.0.1/$dead_port:$dbpath" "$user_a:$pw_a" >"$tmp/refused"
row "nothing listening (ECONNREFUSED) | - | $(cells "$tmp/refused" 1)"
pid=$(cat "$NEMVO_FB_STATE_DIR/server.pid")
kill -STOP "$pid"
"$probe" -t 2 "$db" "$user_a:$pw_a" >"$tmp/stopped" || true
kill -CONT "$pid"
row "server stopped (SIGSTOP), time-out 2 s | - | $(cells "$tmp/stopped" 1)"
settle
"$probe" -n 4 "$db" "killed:x" >"$tmp/killed" &
sleep 2
kill -KILL "$pid"
wait
row "server killed during a delayed failure | - | $(cells "$tmp/killed" 4)"
"$probe" "$db" "$user_a:$pw_a" >"$tmp/after"
row "after the kill (nothing listening) | - | $(cells "$tmp/after" 1)"

echo
echo "case | attempts delayed | time | outcome | status vector | text"
echo "--- | --- | --- | --- | --- | ---"
printf '%s\n' "${rows[@]}"
