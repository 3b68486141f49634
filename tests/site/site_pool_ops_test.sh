#!/usr/bin/env bash
# What an operator sees of the FastCGI pool through nginx: a pool of the
# test's own (2 workers, --status-path /nemvo-status --ping-path /nemvo-ping,
# an access log, its own log and a slow log at 1 s) behind an nginx with the
# README's block for the pool and the shipped status snippet
# (doc/examples/nginx-pool-status.conf.in: both paths for 127.0.0.1 only).
#
#   - after a known mix of requests, the status page in text, JSON and
#     Prometheus form gives exactly the counts the mix makes, and promtool
#     takes the metrics;
#   - a worker killed with SIGKILL while it holds a login (a database server
#     that never answers): the slow log names the request, nginx answers the
#     lost request with its 502, the counters survive, the replacement is
#     counted and the next login is answered;
#   - ping answers 200 "pong" while logins run from several clients, and
#     every login of them is counted;
#   - the access log holds one well-formed line per request the pool
#     answered, and no password, wherever it was sent.
#
# Needs the site fixture (site_lib.sh) and nginx; promtool when present
# (NEMVO_REQUIRE_TEST_PREREQUISITES=1: its absence fails).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=site_lib.sh
source "$here/site_lib.sh"

write_config
expected_main_page >"$work/main.expected"
attachments_before=$(attachments)

dir=$NEMVO_SITE_RUN/pool-ops
pool_dir=$dir/pool
nginx_dir=$dir/nginx
pool_log=$pool_dir/pool.log
access_log=$pool_dir/access.log
snippet=$root/doc/examples/nginx-pool-status.conf.in
silent_pid=""
load_pids=()

pool_pid() {
  local pid
  pid=$(cat "$pool_dir/pool.pid" 2>/dev/null) && [[ $pid =~ ^[0-9]+$ ]] &&
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qF -- "--fastcgi unix:$pool_dir/nemvoweb.sock" &&
    echo "$pid"
}
# TERM, then the shutdown's wait; true when the pool ended by itself.
stop_pool() {
  local pid
  pid=$(pool_pid) || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 1 100); do
    [ -d "/proc/$pid" ] || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  return 1
}
stop_all() {
  local p
  for p in "${load_pids[@]}" $silent_pid; do kill "$p" 2>/dev/null; done
  ws_stop nginx "$nginx_dir"
  stop_pool
  write_config
  rm -rf "$work"
}
trap stop_all EXIT

ws_stop nginx "$nginx_dir"
stop_pool
rm -rf "$dir"
mkdir -p "$pool_dir" "$nginx_dir"

# --- The README shows the shipped snippet ---------------------------------------
# Its locations as the README gives them, for the package's socket.
readme_block=$(awk '$0 == "#### The status page through nginx" { found = 1; next }
  found && /^```/ { if (inside) exit; inside = 1; next } inside { print }' "$root/README.md")
check "README: the status snippet's locations are doc/examples/nginx-pool-status.conf.in's" \
  diff <(printf '%s\n' "$readme_block") <(grep -v '^#' "$snippet" | sed 's#@NEMVO_FASTCGI_SOCKET@#/run/nemvoweb/nemvoweb.sock#')

# --- The pool and nginx ---------------------------------------------------------
# As scripts/fastcgi-pool.sh starts one, with the operator's options. Started
# as root it runs as the web server's user, who must reach its socket.
as=()
if [ "$(id -u)" -eq 0 ]; then
  user=$(ws_user)
  as=(setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --clear-groups)
  chown "$user:" "$pool_dir"
fi
setsid bash -c 'echo $$ >"$1"; shift; exec "$@"' _ "$pool_dir/pool.pid" \
  "${as[@]}" "$NEMVO_SITE_RUN/cgi-bin/nemvoweb" --fastcgi "unix:$pool_dir/nemvoweb.sock" --workers 2 \
  --status-path /nemvo-status --ping-path /nemvo-ping --access-log "$access_log" --log "$pool_log" \
  --slow-log-threshold 1 </dev/null >>"$pool_dir/out.log" 2>&1 &
for _ in $(seq 1 100); do
  [ -S "$pool_dir/nemvoweb.sock" ] && pool_pid >/dev/null && break
  sleep 0.1
done
if ! [ -S "$pool_dir/nemvoweb.sock" ]; then
  fail "the pool started (see $pool_dir)"
  cat "$pool_log" "$pool_dir/out.log" 2>/dev/null
  finish
  exit
fi

ws_localise "$root/site/nginx/nemvoweb-fastcgi.conf" "$nginx_dir/nemvoweb.conf" \
  /run/nemvoweb/nemvoweb.sock "$pool_dir/nemvoweb.sock" https://www.example.com "$NEMVO_SITE_PUBLIC" &&
  ws_localise "$snippet" "$nginx_dir/pool-status.conf" @NEMVO_FASTCGI_SOCKET@ "$pool_dir/nemvoweb.sock" || exit 1
printf 'root "%s";\ninclude "%s";\ninclude "%s";\n' "$NEMVO_SITE_RUN/htdocs" "$nginx_dir/nemvoweb.conf" \
  "$nginx_dir/pool-status.conf" >"$nginx_dir/site.conf"
port=""
for _ in 1 2 3; do
  port=$(ws_free_port) || exit 1
  ws_start nginx "$nginx_dir" "$port" "$nginx_dir/site.conf" && break
  port=""
done
[ -n "$port" ] || { fail "nginx started"; finish; exit; }
url=http://127.0.0.1:$port
main_url=$url/cgi-bin/nemvoweb/main
status_url=$url/nemvo-status
ping_url=$url/nemvo-ping

# --- A known mix ----------------------------------------------------------------
# Each row: the request, the status nginx answers, and what the pool counts
# of it. `served` counts the requests the pool answered, `lost` those it gave
# up, `accepted` and `refused` the logins.
served=0 lost=0 accepted=0 refused=0
secret="query-secret-$$"
is_main() { cmp -s "$work/$1.body" "$work/main.expected"; }
is_rejected() { expected_message_page "$rejected_text" >"$work/$1.expected" && cmp -s "$work/$1.body" "$work/$1.expected"; }
is_pong() { [ "$(cat "$work/$1.body")" = pong ] && [ "$(header "$1" Content-Type)" = "text/plain; charset=utf-8" ]; }
is_any() { :; }
# mix NAME STATUS POOL(1: answered by the pool) OUTCOME(accepted|refused|-) BODY-CHECK CURL-ARGS...
mix() {
  local n=$1 want=$2 pool=$3 outcome=$4 body=$5
  shift 5
  request "$n" "$@"
  check "mix $n: $want" eval '[ "$status" = "$want" ] && $body "$n"'
  served=$((served + pool))
  case $outcome in accepted) accepted=$((accepted + 1)) ;; refused) refused=$((refused + 1)) ;; esac
}
right=(--data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" "$main_url")
wrong=(--data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=wrong-$secret" "$main_url")
mix ping 200 1 - is_pong "$ping_url"
mix ping-head 200 1 - is_any -I "$ping_url"
mix ping-post 405 1 - is_any --data x "$ping_url"
# The snippet lets only 127.0.0.1 in: nginx refuses another address of
# the loopback interface, the pool never sees the request.
mix ping-other-address 403 0 - is_any --interface 127.0.0.2 "$ping_url"
mix status-other-address 403 0 - is_any --interface 127.0.0.2 "$status_url"
mix right1 200 1 accepted is_main "${right[@]}"
mix wrong1 200 1 refused is_rejected "${wrong[@]}"
mix right2 200 1 accepted is_main "${right[@]}"
mix wrong2 200 1 refused is_rejected "${wrong[@]}"
mix right3 200 1 accepted is_main "${right[@]}"
# A path the program does not route, the credentials in its query: the
# request cycle writes nothing, the worker answers its own 404.
mix unrouted 404 1 - is_any "$url/cgi-bin/nemvoweb/other?u=$NEMVO_TEST_USER&p=$secret"
mix blank-in-path 404 1 - is_any "$url/cgi-bin/nemvoweb/a%20b"
# nginx's own file: the pool is not asked.
mix login-page 200 0 - is_any "$url/index.html"

# --- The status page in its three forms ------------------------------------------
# counts FORM FILE: the figures the mix decides, as "name value" lines.
counts() {
  case $1 in
    text)
      local key
      for key in requests "logins accepted" "logins refused" "logins throttled" "logins deferred" "logins error" \
        "login database answers" "busy workers" "idle workers" "total workers" "workers started" "workers replaced"; do
        printf '%s %s\n' "${key// /_}" "$(sed -n "s/^$key: *//p" "$2")"
      done ;;
    json)
      jq -r '"requests \(.requests)", (.logins | to_entries[] | "logins_\(.key) \(.value)"),
             "login_database_answers \(.login_database_seconds.count)", "busy_workers \(.busy_workers)",
             "idle_workers \(.idle_workers)", "total_workers \(.total_workers)",
             "workers_started \(.workers_started)", "workers_replaced \(.workers_replaced)"' "$2" ;;
    prometheus)
      awk '{ v[$1] = $2 }
           END {
             print "requests", v["nemvoweb_requests_total"]
             n = split("accepted refused throttled deferred error", o, " ")
             for (i = 1; i <= n; i++) print "logins_" o[i], v["nemvoweb_logins_total{outcome=\"" o[i] "\"}"]
             print "login_database_answers", v["nemvoweb_login_database_seconds_count"]
             print "busy_workers", v["nemvoweb_workers{state=\"busy\"}"]
             print "idle_workers", v["nemvoweb_workers{state=\"idle\"}"]
             print "total_workers", v["nemvoweb_workers{state=\"busy\"}"] + v["nemvoweb_workers{state=\"idle\"}"]
             print "workers_started", v["nemvoweb_workers_started_total"]
             print "workers_replaced", v["nemvoweb_workers_replaced_total"]
           }' "$2" ;;
  esac
}
# expected REQUESTS BUSY IDLE STARTED REPLACED
expected() {
  printf '%s\n' "requests $1" "logins_accepted $accepted" "logins_refused $refused" "logins_throttled 0" \
    "logins_deferred 0" "logins_error 0" "login_database_answers $((accepted + refused))" "busy_workers $2" \
    "idle_workers $3" "total_workers $(($2 + $3))" "workers_started $4" "workers_replaced $5"
}
# counted NAME FORM QUERY BUSY IDLE STARTED REPLACED: asks for the status
# page until it shows the figures expected now (a request is counted just
# after its answer went out, so the one before may not be in yet), 2 s at
# most. Each request asked counts too.
counted() {
  local n=$1 form=$2 query=$3
  shift 3
  for _ in $(seq 1 20); do
    request "$n" "$status_url$query"
    served=$((served + 1))
    [ "$status" = 200 ] && diff <(expected $((served - 1 + lost)) "$@") <(counts "$form" "$work/$n.body") >"$work/$n.diff" &&
      return 0
    sleep 0.1
  done
  sed 's/^/     /' "$work/$n.diff"
  return 1
}

# The status request itself is counted once it has ended: each form sees the
# ones asked before it. The worker answering it counts as busy.
for form in text json prometheus; do
  check "status ($form): the mix's counts (logins $accepted accepted and $refused refused, database answers $((accepted + refused)), 1 busy, 1 idle)" \
    counted "status-$form" "$form" "?format=$form" 1 1 2 0
done
check "status: the form's content type (text, JSON, Prometheus 0.0.4)" eval \
  '[ "$(header status-text Content-Type)|$(header status-json Content-Type)|$(header status-prometheus Content-Type)" = \
     "text/plain; charset=utf-8|application/json|text/plain; version=0.0.4; charset=utf-8" ]'
check "status: never stored" eval '[ "$(header status-text Cache-Control)" = no-store ]'
check "status (JSON): one well-formed document" eval 'jq -e "type == \"object\"" "$work/status-json.body" >/dev/null'
check "status (JSON): the histogram's +Inf bucket is its count, its sum above 0" eval \
  'jq -e ".login_database_seconds | .buckets[\"+Inf\"] == .count and .sum > 0" "$work/status-json.body" >/dev/null'
check "status (Prometheus): cumulative buckets, +Inf equal to _count" awk '
  /^nemvoweb_login_database_seconds_bucket/ { if ($2 < last) bad = 1; last = $2; inf = $2 }
  $1 == "nemvoweb_login_database_seconds_count" { count = $2 }
  END { exit !(!bad && inf == count && count > 0) }' "$work/status-prometheus.body"

# Asked by Accept rather than by ?format=.
request status-accept -H "Accept: application/json" "$status_url"
served=$((served + 1))
check "status: Accept: application/json gives JSON" eval \
  '[ "$(header status-accept Content-Type)" = application/json ] && jq -e .requests "$work/status-accept.body" >/dev/null'

if command -v promtool >/dev/null; then
  check "promtool check metrics: the live Prometheus output" \
    eval 'promtool check metrics <"$work/status-prometheus.body" >"$work/promtool.out" 2>&1 || { cat "$work/promtool.out"; false; }'
elif [ -n "${NEMVO_REQUIRE_TEST_PREREQUISITES:-}" ]; then
  fail "promtool is missing: run scripts/install-deps.sh (package prometheus)"
else
  echo "skip promtool check metrics: promtool is missing (scripts/install-deps.sh installs it)"
fi

# ?full lists both workers; the one answering is on the status path.
request status-full "$status_url?full"
served=$((served + 1))
check "status ?full: both workers listed, the answering one busy on /nemvo-status" eval \
  '[ "$(grep -c "^pid: " "$work/status-full.body")" = 2 ] && grep -q "^path: *\/nemvo-status$" "$work/status-full.body"'

# --- A worker killed while it holds a login --------------------------------------
# A database server that accepts and never answers holds the login; its
# worker is killed the way the kernel or an administrator would.
"$NEMVO_SITE_SILENT_SERVER" >"$work/silent.port" &
silent_pid=$!
for _ in $(seq 50); do [ -s "$work/silent.port" ] && break; sleep 0.1; done
write_config "127.0.0.1/$(cat "$work/silent.port"):/nemvo/silent.fdb" "LoginTimeout=60"$'\n'
held_status=$work/held.status
curl -s --max-time 60 -o /dev/null -w '%{http_code}' "${right[@]}" >"$held_status" &
held_curl=$!
load_pids=("$held_curl")
held_pid=""
for _ in $(seq 1 100); do
  curl -s --max-time 10 -o "$work/held.json" "$status_url?format=json&full"
  served=$((served + 1))
  held_pid=$(jq -r '.workers[] | select(.state == "busy" and .path == "/cgi-bin/nemvoweb/main") | .pid' \
    "$work/held.json" 2>/dev/null | head -n1)
  [ -n "$held_pid" ] && break
  sleep 0.05
done
# The configuration is read per request: the held one has its own by now.
write_config
check "held login: the status page shows its worker busy on the login's path" [ -n "$held_pid" ]
slow_line=""
if [ -n "$held_pid" ]; then
  for _ in $(seq 1 40); do
    slow_line=$(grep -E "slow request: worker $held_pid path=/cgi-bin/nemvoweb/main phase=[a-z-]+ running=[0-9]+\.[0-9]{3} s$" \
      "$pool_log" 2>/dev/null)
    [ -n "$slow_line" ] && break
    sleep 0.1
  done
fi
check "held login: logged as slow past 1 s, with its worker, path and phase" [ -n "$slow_line" ]
request held-status "$status_url"
served=$((served + 1))
check "held login: the longest request in the status page is the login, counted as slow" eval \
  '[ "$(sed -n "s/^longest request path: *//p" "$work/held-status.body")" = /cgi-bin/nemvoweb/main ] &&
   [ "$(sed -n "s/^slow requests: *//p" "$work/held-status.body")" = 1 ]'

[ -z "$held_pid" ] || kill -KILL "$held_pid" 2>/dev/null
wait "$held_curl"
load_pids=()
check "killed worker: nginx answers the lost request with its 502" [ "$(cat "$held_status")" = 502 ]
kill "$silent_pid" 2>/dev/null
wait "$silent_pid" 2>/dev/null
silent_pid=""
# Replaced at once; the board keeps the counters, and the dead worker's
# place is freed. The request it held counts as given up.
lost=1
check "killed worker: counters kept, one worker replaced, two running" \
  counted after-kill text "" 1 1 3 1
check "killed worker: the pool log says it was killed and replaced, and the slow log named it once" eval \
  'grep -qE "worker $held_pid killed by signal [A-Za-z ]+: replaced$" "$pool_log" &&
   [ "$(grep -c "slow request: worker $held_pid " "$pool_log")" = 1 ]'
mix after-kill-login 200 1 accepted is_main "${right[@]}"

# --- Ping under load --------------------------------------------------------------
# Four clients log in without pause while ping is asked in a loop.
clients=4 per_client=25
for c in $(seq "$clients"); do
  (for _ in $(seq "$per_client"); do
     curl -s --max-time 30 -o /dev/null -w '%{http_code}\n' "${right[@]}"
   done >"$work/load.$c") &
  load_pids+=($!)
done
pings=0 pongs=0
while kill -0 "${load_pids[@]}" 2>/dev/null; do
  answer=$(curl -s --max-time 10 -w '%{http_code}' "$ping_url")
  pings=$((pings + 1))
  [ "$answer" = $'pong\n200' ] && pongs=$((pongs + 1))
done
wait "${load_pids[@]}"
load_pids=()
logins_ok=$(cat "$work"/load.* | grep -cx 200)
echo "     $pings pings during $((clients * per_client)) logins from $clients clients"
check "ping under load: every ping answered 200 pong, at least 5 while the logins ran" \
  [ "$pongs" = "$pings" -a "$pings" -ge 5 ]
check "ping under load: every login answered" [ "$logins_ok" = $((clients * per_client)) ]
served=$((served + pings + clients * per_client))
accepted=$((accepted + clients * per_client))
check "after the load: every request and login counted ($accepted logins accepted)" \
  counted after-load prometheus "?format=prometheus" 1 1 3 1

# --- The access log ---------------------------------------------------------------
# One line per request the pool answered (not the one given up with its
# worker); the last one is written just after its answer went out.
for _ in $(seq 1 30); do
  [ "$(wc -l <"$access_log")" -ge "$served" ] && break
  sleep 0.1
done
check "access log: one line per request the pool answered ($served)" [ "$(wc -l <"$access_log")" = "$served" ]
line_form='^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z nemvoweb: access client=127\.0\.0\.1 method=(GET|HEAD|POST) path=[^ ]+ status=(0|[0-9]{3}) login=(accepted|refused|throttled|deferred|error|-) duration=[0-9]+\.[0-9]{3}$'
check "access log: every line has the time, client, method, path, status, login and duration" \
  eval '! grep -vE "$line_form" "$access_log"'
check "access log: the logins by outcome ($accepted accepted, $refused refused)" eval \
  '[ "$(grep -c " login=accepted " "$access_log")/$(grep -c " login=refused " "$access_log")" = "$accepted/$refused" ]'
check "access log: the logins' path and method" eval \
  '! grep -E " login=(accepted|refused) " "$access_log" | grep -qv " method=POST path=/cgi-bin/nemvoweb/main status=200 "'
check "access log: ping's 405 and HEAD" eval \
  'grep -q " method=POST path=/nemvo-ping status=405 login=- " "$access_log" &&
   grep -q " method=HEAD path=/nemvo-ping status=200 login=- " "$access_log"'
# Nothing written by the request cycle for an unrouted path: the worker's own 404.
check "access log: the path without its query, a blank escaped; the worker's own 404 for an unrouted path" eval \
  'grep -q " method=GET path=/cgi-bin/nemvoweb/other status=404 " "$access_log" &&
   grep -q " path=/cgi-bin/nemvoweb/a\\\\x20b status=" "$access_log"'
check "access log and pool log: no password, neither from a form nor from a query" eval \
  '! grep -qF -e "$NEMVO_TEST_PASSWORD" -e "$secret" "$access_log" "$pool_log"'

# --- The end ----------------------------------------------------------------------
ws_stop nginx "$nginx_dir"
check "the pool ends on SIGTERM, its socket removed" eval 'stop_pool && [ ! -e "$pool_dir/nemvoweb.sock" ] && tail -n1 "$pool_log" | grep -q ": ended$"'
check "no attachment left on the database" [ "$(attachments_settle "$attachments_before")" -le "$attachments_before" ]
finish
