#!/usr/bin/env bash
# A password guesser against the site, before and after the program's login
# throttle, side by side in one run: nginx in front of the program's FastCGI
# pool (4 workers), the real Firebird server, a test database, a right user
# and the sample template. Right logins come from 12 addresses
# (127.0.0.11..22, one kept connection each, no pause); the attacker posts
# wrong passwords as fast as it can from 127.0.0.66 on 4 connections, or
# from 127.0.0.66..75 on 4 connections per address (40 in all). Variants:
#
#   base       right logins alone
#   off-admin  + attacker, throttle off (LoginFailures=0: the program as
#              before), the attacker guessing the right user's password
#   off-other  + attacker, throttle off, a user name the database does not know
#   on-admin   + attacker, throttle on (defaults), the right user's name
#   on-other   + attacker, throttle on, the unknown name
#   ten-on     + ten attacking addresses, throttle on, the right user's name
#   ten-noguard as ten-on, without the throttle's part that follows the
#              server's guard (LoginServerGuard=0)
#   solo1      the attacker alone (no right logins), one address, throttle on
#   solo10     the attacker alone, ten addresses, throttle on
#   solo1-lim  as solo1, through an nginx with the shipped limit of requests
#              per address (site/nginx/nemvoweb-limit.conf: 10 a minute,
#              burst 5 nodelay, 429)
#   solo10-lim as solo10, with that limit
#
# The variants run in ROUNDS rounds of SECONDS each, their order rotating;
# each starts with a throttle state file of its own and after the database
# server's guard has forgotten the previous one's failures (9 s). Figures per
# variant, over all rounds: right logins per second, their latency (median,
# 95th percentile, slowest), right logins that got anything but the main
# page, the attacker's answers per second by kind (refused by the database,
# throttled by the program with 429, limited by nginx with 429, other),
# refused logins per second in the login log (nginx's error log), and the
# Firebird server's processor time (utime+stime of its process). Then every
# distinct answer with its count.
#
#   bench/login_attack.sh [SECONDS] [ROUNDS]     (defaults: 6 s, 2 rounds: about 7 minutes,
#                                                 3 of them waiting out the server's guard)
#
# Builds nemvoweb in build/bench-attack and the load client
# (bench/login_attack.c). Runs a Firebird server of its own on 127.0.0.1
# (NEMVO_FB_PORT, default 3054: nothing may listen there), two nginx
# instances and the pool, and stops and removes them all at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-6}
rounds=${2:-2}
workers=4
build=$root/build/bench-attack
run=$build/run
config=$run/Nemvo.Config
fb=$root/scripts/firebird.sh
pool=$root/scripts/fastcgi-pool.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3054}
export NEMVO_FB_STATE_DIR=/tmp/nemvo-firebird-$NEMVO_FB_PORT
export NEMVO_FB_LEASE="bench-attack-$$" NEMVO_FB_LEASE_PID=$$
dbpath=/var/lib/firebird/3.0/data/nemvo-attack/attack.fdb
user=nemvo_attack_admin
password=Attack-right-1
other_user=nemvo_attack_nobody
right_addrs=$(seq -s, -f '127.0.0.%g' 11 22)
attack1=127.0.0.66
attack10=$(seq -s, -f '127.0.0.%g' 66 75)
variants=(base off-admin off-other on-admin on-other ten-on ten-noguard solo1 solo10 solo1-lim solo10-lim)
# shellcheck source=../scripts/web-servers.sh
source scripts/web-servers.sh
# shellcheck source=bench_lib.sh
source bench/bench_lib.sh

say() { printf '%s\n' "$*" >&2; }
[[ $seconds =~ ^[0-9]+$ && $seconds -gt 0 && $rounds =~ ^[0-9]+$ && $rounds -gt 0 ]] ||
  { say "usage: bench/login_attack.sh [SECONDS] [ROUNDS]"; exit 2; }
for tool in nginx curl cc; do
  command -v "$tool" >/dev/null || { say "login_attack: $tool is missing: run scripts/install-deps.sh"; exit 1; }
done
# The server must be ours alone: its guard and its processor time are measured.
if timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$NEMVO_FB_PORT" 2>/dev/null; then
  say "login_attack: something listens on 127.0.0.1:$NEMVO_FB_PORT; choose another NEMVO_FB_PORT"
  exit 1
fi

say "== Building in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_TESTS=OFF \
  -DNEMVO_CONFIG_PATH="$config" -DNEMVO_PUBLIC_WEB_SERVER=http://127.0.0.1:18491 >/dev/null
cmake --build "$build" --target nemvoweb -j2 >/dev/null
client=$build/login_attack
cc -O2 -Wall -Wextra -std=c11 -pthread -o "$client" bench/login_attack.c

tmp=$(mktemp -d)
fb_started=
cleanup() {
  trap - EXIT INT TERM
  ws_stop nginx "$run/nginx" || true
  ws_stop nginx "$run/nginx-limit" || true
  "$pool" stop "$run/pool" || true
  if [ -n "$fb_started" ]; then
    "$fb" drop-user "$user" >/dev/null 2>&1 || true
    "$fb" drop-db "$dbpath" >/dev/null 2>&1 || true
    rmdir "$(dirname "$dbpath")" 2>/dev/null || true
    "$fb" stop || true
    # Its users' database and settings; the port was free, so the server was ours.
    [ -e "$NEMVO_FB_STATE_DIR/server.pid" ] || rm -rf "$NEMVO_FB_STATE_DIR"
  fi
  # nginx's error log takes a line per request it limits: hundreds of MB.
  rm -rf "$tmp" "$run"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fb_started=1
"$fb" start
"$fb" create-db "$dbpath" 3
"$fb" create-user "$user" "$password"
database=$("$fb" url "$dbpath")
fb_pid=$(cat "$NEMVO_FB_STATE_DIR/server.pid")

ws_stop nginx "$run/nginx"; ws_stop nginx "$run/nginx-limit"; "$pool" stop "$run/pool"
rm -rf "$run"
mkdir -p "$run/htdocs" "$run/nginx" "$run/nginx-limit" "$run/state"
cp site/htdocs/index.html "$run/htdocs/"
cp site/templates/main.html "$run/main.html"
sed 's/<#[^>]*>//g' "$run/main.html" >"$tmp/main.expected"
ws_is_root && chown "$(ws_user):" "$run/state"
chmod -R a+rX "$run"

# write_config [SETTING...]: the configuration the next requests read.
write_config() {
  printf '%s\n' "[Nemvo.FrameWork]" "DBSuporte=$database" "MainHTML=$run/main.html" "$@" >"$config.new"
  chmod a+r "$config.new"
  mv -f "$config.new" "$config"
}
# The checks below keep their refusal out of the account's default state file.
write_config "LoginStateFile=$run/state/check"
"$pool" start "$build/src/main/nemvoweb" "$run/pool" "$workers"

# Two nginx instances on the same pool: the harness's limit (far above any
# load here, though nginx still refuses the odd request of a burst that
# lands within one tick of its clock: counted as "429 nginx"), and the
# shipped one.
ws_localise site/nginx/nemvoweb-fastcgi.conf "$run/site.conf" /run/nemvoweb/nemvoweb.sock "$run/pool/nemvoweb.sock"
printf 'root "%s";\ninclude "%s";\n' "$run/htdocs" "$run/site.conf" >"$run/server.conf"
port=$(ws_free_port)
ws_start nginx "$run/nginx" "$port" "$run/server.conf"
port_limit=$(ws_free_port)
NEMVO_SITE_LOGIN_RATE=shipped ws_start nginx "$run/nginx-limit" "$port_limit" "$run/server.conf"

# The right login must give the main page, a wrong one the refusal.
curl -s --max-time 30 --data "u=$user&p=$password" -o "$tmp/first" "http://127.0.0.1:$port/cgi-bin/nemvoweb/main"
cmp -s "$tmp/first" "$tmp/main.expected" || { say "login_attack: the right login does not answer the main page"; exit 1; }
"$client" -P "$port" -a 127.0.0.2 -c 1 -u "$user" -p wrong -d 0.001 -m "$tmp/main.expected" >"$tmp/check"
[ "$(cut -f5 "$tmp/check")" = refused ] || { say "login_attack: a wrong login is not refused: $(cat "$tmp/check")"; exit 1; }
sleep 9

fb_ticks() { awk '{ print $14 + $15 }' "/proc/$fb_pid/stat"; }
hz=$(getconf CLK_TCK)

# run_variant NAME ROUND: one variant's run; its answers in
# $tmp/NAME.ROUND.{right,attack}, its figures appended to $tmp/NAME.stats as
# "WALL_SECONDS FB_SECONDS LOG_REFUSED LOG_THROTTLED".
run_variant() {
  local name=$1 r=$2 p=$port throttle=on attacker=$user addrs=$attack1 right=1 log
  case $name in
    base) addrs= ;;
    off-admin) throttle=off ;;
    off-other) throttle=off attacker=$other_user ;;
    on-other) attacker=$other_user ;;
    ten-on) addrs=$attack10 ;;
    ten-noguard) addrs=$attack10 throttle=noguard ;;
    solo1) right= ;;
    solo10) right= addrs=$attack10 ;;
    solo1-lim) right= p=$port_limit ;;
    solo10-lim) right= addrs=$attack10 p=$port_limit ;;
  esac
  if [ "$throttle" = off ]; then
    write_config LoginFailures=0
  elif [ "$throttle" = noguard ]; then
    write_config "LoginStateFile=$run/state/$name.$r" LoginServerGuard=0
  else
    write_config "LoginStateFile=$run/state/$name.$r"
  fi
  if [ "$p" = "$port" ]; then log=$run/nginx/log/error.log; else log=$run/nginx-limit/log/error.log; fi
  local offset t0 c0 pids=()
  offset=$(stat -c %s "$log")
  c0=$(fb_ticks)
  t0=$(date +%s.%N)
  : >"$tmp/$name.$r.right"
  : >"$tmp/$name.$r.attack"
  if [ -n "$right" ]; then
    "$client" -P "$p" -a "$right_addrs" -c 1 -u "$user" -p "$password" -d "$seconds" -m "$tmp/main.expected" \
      >"$tmp/$name.$r.right" &
    pids+=($!)
  fi
  if [ -n "$addrs" ]; then
    "$client" -P "$p" -a "$addrs" -c 4 -u "$attacker" -p "wrong-guess" -d "$seconds" -m "$tmp/main.expected" \
      >"$tmp/$name.$r.attack" &
    pids+=($!)
  fi
  wait "${pids[@]}"
  local wall fbs refused throttled
  wall=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
  fbs=$(awk -v a="$c0" -v b="$(fb_ticks)" -v hz="$hz" 'BEGIN { printf "%.2f", (b - a) / hz }')
  refused=$(tail -c +$((offset + 1)) "$log" | grep -c 'nemvoweb: login refused' || true)
  throttled=$(tail -c +$((offset + 1)) "$log" | grep -c 'nemvoweb: login throttled' || true)
  echo "$wall $fbs $refused $throttled" >>"$tmp/$name.stats"
  say "   $name: ${wall} s, Firebird ${fbs} s CPU, log: $refused refused, $throttled throttled"
}

n=${#variants[@]}
say "== $rounds rounds of $n variants, $seconds s each"
previous=
for r in $(seq 0 $((rounds - 1))); do
  say "-- round $((r + 1))"
  for j in $(seq 0 $((n - 1))); do
    v=${variants[$(((r + j) % n))]}
    # The server's guard forgets a name, and its count of all failures,
    # 8 s after the last failure.
    [ -z "$previous" ] || [ "$previous" = base ] || sleep 9
    run_variant "$v" "$r"
    previous=$v
  done
done

# --- Figures ------------------------------------------------------------------------
total=$((seconds * rounds))
cat_role() { cat "$tmp/$1".*."$2"; }
count_kind() { cat_role "$1" "$2" | awk -F'\t' -v k="$3" '$5 == k { n++ } END { print n + 0 }'; }
per_s() { awk -v n="$1" -v s="$total" 'BEGIN { printf "%.1f", n / s }'; }
lat() {
  cat_role "$1" right | awk -F'\t' '{ print "x", $3 }' >"$tmp/lat"
  if [ -s "$tmp/lat" ]; then
    printf '%s %s %s' "$(bench_quantile "$tmp/lat" 0.5 1 1)" "$(bench_quantile "$tmp/lat" 0.95 1 1)" \
      "$(bench_quantile "$tmp/lat" 1 1 1)"
  else
    printf '%s %s %s' - - -
  fi
}
stat_sum() { awk -v c="$2" '{ s += $c } END { printf "%.2f", s }' "$tmp/$1.stats"; }
right_rate() { per_s "$(count_kind "$1" right main)"; }
right_failed() { cat_role "$1" right | awk -F'\t' '$5 != "main" { n++ } END { print n + 0 }'; }
attack_other() {
  cat_role "$1" attack | awk -F'\t' '$5 != "refused" && $5 != "throttled" && $5 != "deferred" && $5 != "limited" { n++ } END { print n + 0 }'
}
fb_cpu() { awk -v c="$(stat_sum "$1" 2)" -v w="$(stat_sum "$1" 1)" 'BEGIN { printf "%.1f s (%.0f%%)", c, 100 * c / w }'; }

table_head() {
  printf '\n%s\n' "$1"
  printf '%-10s %8s %8s %8s %9s %7s | %9s %9s %9s %9s %7s | %9s %16s\n' variant "right/s" "med ms" "p95 ms" "max ms" failed \
    "refused/s" "429 prog/s" "503 prog/s" "429 nginx/s" "other" "log ref/s" "Firebird CPU"
}
table_row() {
  local v=$1 med p95 max
  read -r med p95 max <<<"$(lat "$v")"
  printf '%-10s %8s %8s %8s %9s %7s | %9s %9s %9s %9s %7s | %9s %16s\n' "$v" "$(right_rate "$v")" "$med" "$p95" "$max" \
    "$(right_failed "$v")" "$(per_s "$(count_kind "$v" attack refused)")" "$(per_s "$(count_kind "$v" attack throttled)")" \
    "$(per_s "$(count_kind "$v" attack deferred)")" "$(per_s "$(count_kind "$v" attack limited)")" "$(attack_other "$v")" "$(per_s "$(stat_sum "$v" 3)")" "$(fb_cpu "$v")"
}

printf '\n%d workers, %d rounds of %d s per variant; right logins: 12 addresses x 1 connection (user %s);\n' \
  "$workers" "$rounds" "$seconds" "$user"
printf 'attacker: 4 connections per address, wrong passwords; "admin" = the right user'"'"'s name, "other" = %s (unknown).\n' \
  "$other_user"
printf 'Latency of every right login (ms); failed = right logins answered anything but the main page;\n'
printf 'refused/429 prog/503 prog/429 nginx/other = the attacker'"'"'s answers; log ref/s = refused lines in the login log.\n'
table_head "1-3. Baseline, throttle off, throttle on (one attacking address)"
for v in base off-admin off-other on-admin on-other; do table_row "$v"; done
table_head "4. Ten attacking addresses (127.0.0.66..75, 4 connections each), throttle on, with and without its server guard"
table_row ten-on
table_row ten-noguard
table_head "5. The attacker alone, throttle on: without and with nginx's limit"
for v in solo1 solo10 solo1-lim solo10-lim; do table_row "$v"; done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0) print "-"; else printf "%.3f", a / b }'; }
check() { awk -v v="$1" -v op="$2" -v g="$3" 'BEGIN { ok = op == "<=" ? v <= g : v >= g; print (ok ? "ok" : "MISSED") }'; }
base_rate=$(right_rate base)
read -r _ _ base_max <<<"$(lat base)"
printf '\nRatios to the baseline (right logins per second; slowest right login minus the baseline'"'"'s)\n'
for v in off-admin off-other on-admin on-other ten-on ten-noguard; do
  read -r _ _ max <<<"$(lat "$v")"
  rr=$(ratio "$(right_rate "$v")" "$base_rate")
  dm=$(awk -v a="$max" -v b="$base_max" 'BEGIN { printf "%.0f", a - b }')
  line=$(printf '%-10s rate %s  slowest %+6s ms  failed %s' "$v" "$rr" "$dm" "$(right_failed "$v")")
  case $v in
    on-*)
      ok=ok
      [ "$(check "$rr" ">=" 0.90)" = ok ] || ok=MISSED
      [ "$(check "$dm" "<=" 1000)" = ok ] || ok=MISSED
      [ "$(right_failed "$v")" = 0 ] || ok=MISSED
      line+="  (goal: rate >= 0.90, none failed, slowest <= +1000 ms) $ok" ;;
  esac
  printf '%s\n' "$line"
done

printf '\nEvery distinct answer (variant, who, kind, status, text: count)\n'
for v in "${variants[@]}"; do
  for role in right attack; do
    cat_role "$v" "$role" | awk -F'\t' -v v="$v" -v w="$role" '{ k = v "\t" w "\t" $5 "\t" $4 "\t" $6; n[k]++ }
      END { for (k in n) print k "\t" n[k] }'
  done
done | sort | awk -F'\t' '{ printf "%-10s %-6s %-9s %3s  %s: %d\n", $1, $2, $3, $4, ($5 == "" ? "(main page)" : $5), $6 }'
