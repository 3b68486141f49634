#!/usr/bin/env bash
# Brings up the Nemvo.Web demo site on this machine (Debian 12) and keeps it
# running until Ctrl-C:
#   - installs what is missing (scripts/install-deps.sh),
#   - builds nemvoweb in build/site, configured for the demo,
#   - starts the Firebird server with a demo database and a demo user,
#   - starts the program as a FastCGI pool (as the README recommends for
#     production) and lighttpd on 127.0.0.1 with the login page, the images
#     and the program's path passed to the pool,
# then prints the address to open and the demo credentials. Ctrl-C stops
# what this script started and removes the demo user and database.
#
# Environment: NEMVO_SITE_PORT (default 8080) is the web server's port,
# NEMVO_FB_PORT (default 3050) the database server's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

port=${NEMVO_SITE_PORT:-8080}
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
demo_user=demo
demo_password=nemvo-demo
db_path=/var/lib/firebird/3.0/data/nemvo-site/demo.fdb
build=$root/build/site

say() { printf '%s\n' "$*" >&2; }
die() { say "run-site: $*"; exit 1; }
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

scripts/install-deps.sh

# Started as root, lighttpd runs the program as www-data, which must be able
# to reach the run directory; a checkout under a private home directory is
# not, so the site then runs from a directory of its own.
run=$build/run
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$run"
  if ! setpriv --reuid=www-data --regid=www-data --clear-groups test -x "$run"; then
    run=/var/lib/nemvo-site/run
    say "run-site: www-data cannot reach $build; the site runs from $run"
  fi
fi
# A server left behind by an earlier run that was killed outright.
[ ! -d "$run" ] || scripts/site-server.sh stop "$run"
[ ! -d "$run/pool" ] || scripts/fastcgi-pool.sh stop "$run/pool"
port_open "$port" && die "127.0.0.1:$port is in use; choose another port with NEMVO_SITE_PORT=..."

say "== Building nemvoweb in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_TESTS=OFF \
  -DNEMVO_CONFIG_PATH="$run/Nemvo.Config" \
  -DNEMVO_PUBLIC_WEB_SERVER="http://127.0.0.1:$port" \
  -DNEMVO_DB_SERVER=127.0.0.1 >/dev/null
cmake --build "$build" --target nemvoweb -j"$(nproc)"

say "== Laying out the site in $run"
mkdir -p "$run"/{htdocs,cgi-bin,templates}
install -m 0644 site/htdocs/index.html "$run/htdocs/index.html"
scripts/site-images.sh "$run/htdocs/nemvoweb_images"
install -m 0644 site/templates/main.html "$run/templates/main.html"
install -m 0755 "$build/src/main/nemvoweb" "$run/cgi-bin/nemvoweb"
dbsuporte=$(scripts/firebird.sh url "$db_path")
sed -e "s|@DBSUPORTE@|$dbsuporte|" -e "s|@MAINHTML@|$run/templates/main.html|" \
  site/Nemvo.Config.in > "$run/Nemvo.Config"
chmod -R a+rX "$run"

# From here on, whatever was started is stopped again on the way out.
fb_started=0
site_started=0
pool_started=0
cleanup() {
  trap - INT TERM EXIT
  say ""
  say "== Stopping the demo site"
  [ $site_started -eq 0 ] || scripts/site-server.sh stop "$run" || true
  [ $pool_started -eq 0 ] || scripts/fastcgi-pool.sh stop "$run/pool" || true
  if port_open "$NEMVO_FB_PORT"; then
    scripts/firebird.sh drop-user "$demo_user" || true
    scripts/firebird.sh drop-db "$db_path" || true
  fi
  [ $fb_started -eq 0 ] || scripts/firebird.sh stop || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say "== Starting Firebird on 127.0.0.1:$NEMVO_FB_PORT"
# A server that already runs (for example one a test run holds) is used as it
# is and left running afterwards.
if ! port_open "$NEMVO_FB_PORT"; then
  export NEMVO_FB_LEASE=run-site NEMVO_FB_LEASE_PID=$$
  fb_started=1
fi
scripts/firebird.sh start
scripts/firebird.sh create-db "$db_path" 3
scripts/firebird.sh create-user "$demo_user" "$demo_password"

say "== Starting the program's FastCGI pool in $run/pool"
pool_started=1
scripts/fastcgi-pool.sh start "$run/cgi-bin/nemvoweb" "$run/pool" 2

say "== Starting lighttpd on 127.0.0.1:$port"
site_started=1
NEMVO_SITE_FASTCGI_SOCKET=$run/pool/nemvoweb.sock \
  scripts/site-server.sh start "$run" "$port" "$run/Nemvo.Config" "$run/templates/main.html"

# One login through the web server, to say at once whether the site works.
if curl -sf --max-time 20 --data-urlencode "u=$demo_user" --data-urlencode "p=$demo_password" \
    "http://127.0.0.1:$port/cgi-bin/nemvoweb/main" | grep -q 'Painel de administra'; then
  check="a test login with the demo user reached the main page"
else
  check="WARNING: a test login with the demo user did not reach the main page (see $run/log/error.log and $run/pool/pool.log)"
fi

cat <<MSG

  Nemvo.Web demo site is running.

    Open:      http://127.0.0.1:$port/
    User:      $demo_user
    Password:  $demo_password

  ($check)
  Press Ctrl-C to stop.

MSG

while scripts/site-server.sh status "$run" && scripts/fastcgi-pool.sh pid "$run/pool" >/dev/null; do
  sleep 2
done
die "lighttpd or the program's pool stopped unexpectedly (see $run/log/error.log and $run/pool/pool.log)"
