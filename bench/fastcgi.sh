#!/usr/bin/env bash
# The FastCGI host against what a site would otherwise run, side by side in
# one run, the same Firebird server, user and 100 KiB main-page template,
# right logins only:
#
#   fcgi     nemvoweb's FastCGI pool (WORKERS workers) behind nginx
#   php      PHP-FPM (static pool of WORKERS children) with the same login in a
#            few lines of PHP with PDO_Firebird, behind the same nginx
#   cgi      nemvoweb as a CGI program under lighttpd
#   floor    the warm floor in C (bench/warm_floor.c): client library loaded
#            once, then attach, dialect, detach, template read; no web server
#   static   nginx serving the expanded page as a static file: nginx's own
#            share of a request
#
# Latency: ROUNDS rounds, each one request to every target in turn (the
# order rotating; the floor does one login in its turn), curl's time from the
# request to the answer's last byte; median and 95th percentile. Throughput:
# 8 concurrent clients (wrk, kept connections), SECONDS per target in each of
# 3 rounds, the targets interleaved, the median of the rounds; the floor as 8
# parallel loops. Any answer other than the expected one counts as an error.
#
#   bench/fastcgi.sh [ROUNDS] [SECONDS]     (defaults: 200 rounds, 10 seconds)
#
# NEMVO_BENCH_WORKERS: the pools' size (default 8, one per client). Builds nemvoweb and the
# floor in build/bench-fastcgi. Stops and removes everything it started;
# php-fpm runs with a configuration of its own on a unix socket, never as
# the machine's service.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=${1:-200}
seconds=${2:-10}
workers=${NEMVO_BENCH_WORKERS:-8}
build=$root/build/bench-fastcgi
run=$build/run
config=$run/Nemvo.Config
fb=$root/scripts/firebird.sh
pool=$root/scripts/fastcgi-pool.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
export NEMVO_FB_LEASE="bench-fastcgi-$$" NEMVO_FB_LEASE_PID=$$
dbpath=/var/lib/firebird/3.0/data/nemvo-bench/fastcgi.fdb
user=nemvo_bench_fc
password=Bench-fc-1
targets=(fcgi php cgi floor static)
# shellcheck source=../scripts/web-servers.sh
source scripts/web-servers.sh
# shellcheck source=bench_lib.sh
source bench/bench_lib.sh

say() { printf '%s\n' "$*" >&2; }
for tool in wrk curl lighttpd nginx php-fpm8.2; do
  command -v "$tool" >/dev/null || { say "fastcgi bench: $tool is missing: run scripts/install-deps.sh"; exit 1; }
done
php-fpm8.2 -m | grep -x PDO_Firebird >/dev/null || { say "fastcgi bench: PDO_Firebird is missing (php8.2-interbase)"; exit 1; }

say "== Building in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_TESTS=OFF -DNEMVO_BUILD_BENCH=ON \
  -DNEMVO_CONFIG_PATH="$config" >/dev/null
cmake --build "$build" --target nemvoweb bench_warm_floor -j2 >/dev/null
floor=$build/bench/bench_warm_floor

tmp=$(mktemp -d)
php_pid=
floor_pid=
cleanup() {
  trap - EXIT INT TERM
  [ -z "$floor_pid" ] || kill "$floor_pid" 2>/dev/null || true
  ws_stop nginx "$run/nginx" || true
  ws_stop lighttpd "$run" || true
  "$pool" stop "$run/pool" || true
  if [ -n "$php_pid" ]; then kill -QUIT "$php_pid" 2>/dev/null || true; wait "$php_pid" 2>/dev/null || true; fi
  bench_database_down
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bench_database_up
database=$("$fb" url "$dbpath")

ws_stop nginx "$run/nginx"; ws_stop lighttpd "$run"; "$pool" stop "$run/pool"
rm -rf "$run"
mkdir -p "$run/htdocs" "$run/cgi-bin" "$run/nginx" "$run/php"
cp site/htdocs/index.html "$run/htdocs/"
install -m 0755 "$build/src/main/nemvoweb" "$run/cgi-bin/nemvoweb"
awk -f bench/main_template.awk >"$run/main.html"
sed 's/<#[^>]*>//g' "$run/main.html" >"$tmp/main.expected"
cp "$tmp/main.expected" "$run/htdocs/static.html"
# Every login is right, but the login throttle's record is the account's,
# shared with whatever else runs as it (tests' wrong logins): off here.
printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\nLoginFailures=0\n' "$database" "$run/main.html" >"$config"

# The same login in PHP: the form's fields, an attach through PDO, the page
# with the template's tags removed, or the error's message.
cat >"$run/php/login.php" <<EOF
<?php
try {
  \$db = new PDO('firebird:dbname=$database', \$_POST['u'] ?? '', \$_POST['p'] ?? '');
  \$db = null;
  header('Content-Type: text/html');
  echo preg_replace('/<#[^>]*>/', '', file_get_contents('$run/main.html'));
} catch (PDOException \$e) {
  header('Content-Type: text/html');
  echo htmlspecialchars(\$e->getMessage());
}
EOF
php_user=()
if ws_is_root; then
  group=$(id -gn "$(ws_user)")
  php_user=("user = $(ws_user)" "group = $group" "listen.owner = $(ws_user)" "listen.group = $group")
fi
printf '%s\n' "[global]" "pid = $run/php/php-fpm.pid" "error_log = $run/php/php-fpm.log" "daemonize = no" \
  "[bench]" "${php_user[@]}" "listen = $run/php/php-fpm.sock" "listen.mode = 0660" \
  "pm = static" "pm.max_children = $workers" >"$run/php/php-fpm.conf"
chmod -R a+rX "$run"
php-fpm8.2 -F -y "$run/php/php-fpm.conf" </dev/null >>"$tmp/php-fpm.out" 2>&1 &
php_pid=$!
"$pool" start "$run/cgi-bin/nemvoweb" "$run/pool" "$workers"
for _ in $(seq 50); do [ -S "$run/php/php-fpm.sock" ] && break; sleep 0.1; done

# One nginx for the pool, PHP-FPM and the static file; the pool's block is
# the README's.
ws_localise site/nginx/nemvoweb-fastcgi.conf "$run/nginx/nemvoweb.conf" \
  /run/nemvoweb/nemvoweb.sock "$run/pool/nemvoweb.sock"
cat >"$run/nginx/site.conf" <<EOF
root "$run/htdocs";
include "$run/nginx/nemvoweb.conf";
location = /login.php {
    include fastcgi_params;
    fastcgi_param SCRIPT_FILENAME $run/php/login.php;
    fastcgi_pass unix:$run/php/php-fpm.sock;
}
EOF
port_nginx=$(ws_free_port)
ws_start nginx "$run/nginx" "$port_nginx" "$run/nginx/site.conf"
port_lighttpd=$(ws_free_port)
ws_start lighttpd "$run" "$port_lighttpd" "$root/site/lighttpd.conf"

url() {
  case $1 in
    fcgi) echo "http://127.0.0.1:$port_nginx/cgi-bin/nemvoweb/main" ;;
    php) echo "http://127.0.0.1:$port_nginx/login.php" ;;
    cgi) echo "http://127.0.0.1:$port_lighttpd/cgi-bin/nemvoweb/main" ;;
    static) echo "http://127.0.0.1:$port_nginx/static.html" ;;
  esac
}
body="u=$user&p=$password"
request() {
  if [ "$1" = static ]; then
    curl -s --max-time 30 "${@:2}" "$(url static)"
  else
    curl -s --max-time 30 --data "$body" "${@:2}" "$(url "$1")"
  fi
}

# Every target must give the main page, byte for byte.
for t in fcgi php cgi static; do
  request "$t" -o "$tmp/first.$t"
  cmp -s "$tmp/first.$t" "$tmp/main.expected" || { say "fastcgi bench: $t does not answer the main page"; exit 1; }
done
[ "$("$floor" "$database" "$user" "$password" "$run/main.html" seconds 0.2 | cut -d' ' -f2)" = 0 ] ||
  { say "fastcgi bench: the floor's login fails"; exit 1; }

# --- Latency ----------------------------------------------------------------------
say "== Latency: $rounds rounds of one right login per target"
coproc FLOOR { "$floor" "$database" "$user" "$password" "$run/main.html" lines; }
floor_pid=$FLOOR_PID
for i in $(seq 0 $((rounds - 1))); do
  for j in 0 1 2 3 4; do
    t=${targets[$(((i + j) % 5))]}
    if [ "$t" = floor ]; then
      echo >&"${FLOOR[1]}"
      read -r ms <&"${FLOOR[0]}"
      if [ "$ms" = error ]; then echo "error 0" >>"$tmp/lat.floor"; else echo "200 $ms" >>"$tmp/lat.floor"; fi
    else
      request "$t" -o "$tmp/out" -w "%{http_code} %{time_total}\n" |
        awk '{ printf "%s %.3f\n", $1, $2 * 1000 }' >>"$tmp/lat.$t"
      cmp -s "$tmp/out" "$tmp/main.expected" || echo "$t" >>"$tmp/wrong"
    fi
  done
done
kill "$floor_pid" 2>/dev/null || true
wait "$floor_pid" 2>/dev/null || true
floor_pid=

# quantile FILE Q: the Q-quantile of the times (ms).
quantile() { bench_quantile "$1" "$2"; }

# --- Throughput ---------------------------------------------------------------------
say "== Throughput: 8 clients, ${seconds} s per target, 3 rounds"
bench_post_script "$tmp/post.lua" "$body"
for r in 0 1 2; do
  for j in 0 1 2 3 4; do
    t=${targets[$(((r + j) % 5))]}
    case $t in
      floor)
        loops=()
        for k in $(seq 8); do
          "$floor" "$database" "$user" "$password" "$run/main.html" seconds "$seconds" >"$tmp/floor.$r.$k" &
          loops+=($!)
        done
        wait "${loops[@]}"
        awk -v s="$seconds" '{ done += $1; failed += $2 } END { printf "Requests/sec: %.2f\nfailed %d\n", done / s, failed }' \
          "$tmp"/floor."$r".* >"$tmp/wrk.floor.$r" ;;
      static) wrk -t 2 -c 8 -d "${seconds}s" --timeout 30s "$(url static)" >"$tmp/wrk.static.$r" ;;
      *) wrk -t 2 -c 8 -d "${seconds}s" --timeout 30s -s "$tmp/post.lua" "$(url "$t")" >"$tmp/wrk.$t.$r" ;;
    esac
  done
done
rps() { awk '/^Requests\/sec:/ { print $2 }' "$tmp"/wrk."$1".* | sort -n | sed -n 2p; }
errors() {
  local n
  n=$(awk '/Non-2xx or 3xx responses:/ { n += $NF } /Socket errors:/ { n += $4 + $6 + $8 + $10 } /^failed / { n += $2 }
           END { print n + 0 }' "$tmp"/wrk."$1".*)
  local bad wrong
  bad=$(grep -vc '^200 ' "$tmp/lat.$1" || true)
  wrong=$(cat "$tmp/wrong" 2>/dev/null | grep -cx "$1" || true)
  echo $((n + ${bad:-0} + ${wrong:-0}))
}

# --- Figures ------------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
printf '\n%d workers, %d rounds, %d s per throughput run\n' "$workers" "$rounds" "$seconds"
printf '%-7s %10s %8s %10s %7s\n' target "median ms" "p95 ms" "req/s (8)" errors
for t in "${targets[@]}"; do
  printf '%-7s %10s %8s %10s %7s\n' "$t" "$(quantile "$tmp/lat.$t" 0.5)" "$(quantile "$tmp/lat.$t" 0.95)" "$(rps "$t")" \
    "$(errors "$t")"
done
med() { quantile "$tmp/lat.$1" 0.5; }
floor_plus_nginx=$(awk -v a="$(med floor)" -v b="$(med static)" 'BEGIN { printf "%.3f", a + b }')
check() { awk -v v="$1" -v op="$2" -v g="$3" 'BEGIN { ok = op == "<=" ? v <= g : v >= g; print (ok ? "ok" : "MISSED") }'; }
r1=$(ratio "$(med fcgi)" "$(med php)"); r2=$(ratio "$(med fcgi)" "$floor_plus_nginx")
r3=$(ratio "$(rps fcgi)" "$(rps php)"); r4=$(ratio "$(rps fcgi)" "$(rps floor)")
printf '\nmedian fcgi / php                     %s  (goal <= 0.92) %s\n' "$r1" "$(check "$r1" "<=" 0.92)"
printf 'median fcgi / (floor + nginx static)  %s  (goal <= 1.10) %s\n' "$r2" "$(check "$r2" "<=" 1.10)"
printf 'req/s fcgi / php                      %s  (goal >= 1.10) %s\n' "$r3" "$(check "$r3" ">=" 1.10)"
printf 'req/s fcgi / floor (8 loops)          %s  (goal >= 0.85) %s\n' "$r4" "$(check "$r4" ">=" 0.85)"
printf 'median cgi / fcgi                     %s\n' "$(ratio "$(med cgi)" "$(med fcgi)")"
