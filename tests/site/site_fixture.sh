#!/usr/bin/env bash
# CTest fixtures of the site tests.
#
#   site_fixture.sh setup|cleanup          "site": lays out the site (login page,
#       images, a copy of the program under test as cgi-bin/nemvoweb, the
#       main-page template and the program's configuration) in this build's run
#       directory and serves it with lighttpd on a free port of 127.0.0.1
#   site_fixture.sh setup|cleanup apache   "site_apache": Apache with the README's
#       configuration, in RUN/apache
#   site_fixture.sh setup|cleanup nginx    "site_nginx": nginx with the README's
#       configuration and fcgiwrap, in RUN/nginx and RUN/fcgiwrap
#   site_fixture.sh setup|cleanup pool     "site_pool": the program as a FastCGI pool
#       (scripts/fastcgi-pool.sh), in RUN/pool
#   site_fixture.sh setup|cleanup nginx-fastcgi|apache-fastcgi|lighttpd-fastcgi
#       the server with the README's configuration for the pool, in RUN/KIND
#   site_fixture.sh setup|cleanup lighttpd-spawn
#       lighttpd starting the program itself as FastCGI (bin-path), in RUN/lighttpd-spawn
#
# Each server's port is in its directory's "port" file (lighttpd: RUN/port).
# "cleanup" stops the server again. Needs the Firebird fixture's server,
# database and user (see site_lib.sh).
#
# Extra environment: NEMVO_SITE_BUILD (the build directory), NEMVO_SITE_PROGRAM
# (the nemvoweb executable under test).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
run=${NEMVO_SITE_RUN:?}
# shellcheck source=../../scripts/web-servers.sh
source "$root/scripts/web-servers.sh"

setup() {
  : "${NEMVO_SITE_BUILD:?}" "${NEMVO_SITE_PROGRAM:?}" "${NEMVO_SITE_CONFIG:?}" "${NEMVO_SITE_TEMPLATE:?}"
  # The program reads its configuration from a path fixed when it was built.
  # The tests rewrite that file, so it must be one that belongs to the build.
  case "$NEMVO_SITE_CONFIG" in
    "$NEMVO_SITE_BUILD"/*) ;;
    *) echo "site fixture: the program under test reads $NEMVO_SITE_CONFIG; configure the" \
            "test build with -DNEMVO_CONFIG_PATH=<a path inside $NEMVO_SITE_BUILD>" >&2
       exit 1 ;;
  esac
  "$root/scripts/site-server.sh" stop "$run" 2>/dev/null || true
  rm -rf "$run"
  mkdir -p "$run/htdocs" "$run/cgi-bin" "$(dirname "$NEMVO_SITE_TEMPLATE")" "$(dirname "$NEMVO_SITE_CONFIG")"
  cp "$root/site/htdocs/index.html" "$run/htdocs/"
  "$root/scripts/site-images.sh" "$run/htdocs/nemvoweb_images"
  # A copy, not a link: the tests watch this file to see whether a server ran
  # the program, and no other test runs it.
  install -m 0755 "$NEMVO_SITE_PROGRAM" "$run/cgi-bin/nemvoweb"
  cp "$root/site/templates/main.html" "$NEMVO_SITE_TEMPLATE"

  printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\n' "$NEMVO_TEST_DB" "$NEMVO_SITE_TEMPLATE" \
    > "$NEMVO_SITE_CONFIG"
  chmod -R a+rX "$run" "$NEMVO_SITE_CONFIG" "$NEMVO_SITE_TEMPLATE"

  "$NEMVO_FIREBIRD_SCRIPT" create-user "${NEMVO_SITE_USER2:?}" "${NEMVO_SITE_PASSWORD2:?}"

  # A free port. When the program was built for a server on a port of
  # 127.0.0.1 (its public web server address), that port first, so that the
  # message page's icons and back link reach this very server; otherwise one
  # derived from the run directory, so that two build directories seldom
  # race for the same one.
  local port start
  start=$((20000 + $(printf '%s' "$run" | cksum | cut -d' ' -f1) % 20000))
  if [[ ${NEMVO_SITE_PUBLIC:-} =~ ^http://127\.0\.0\.1:([0-9]+)$ ]] &&
     ! (exec 3<>"/dev/tcp/127.0.0.1/${BASH_REMATCH[1]}") 2>/dev/null; then
    start=${BASH_REMATCH[1]}
  fi
  for port in $(seq "$start" $((start + 200))); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  echo "$port" > "$run/port"
  "$root/scripts/site-server.sh" start "$run" "$port" "$NEMVO_SITE_CONFIG" "$NEMVO_SITE_TEMPLATE"
}

cleanup() {
  "$root/scripts/site-server.sh" stop "$run" || true
  "$NEMVO_FIREBIRD_SCRIPT" drop-user "${NEMVO_SITE_USER2:?}" || true
}

case ${1:-}/${2:-} in
  setup/) setup ;;
  cleanup/) cleanup ;;
  setup/apache | setup/nginx | setup/*-fastcgi | setup/lighttpd-spawn) ws_start_site "$2" "$run" ;;
  cleanup/apache | cleanup/nginx | cleanup/*-fastcgi | cleanup/lighttpd-spawn) ws_stop_site "$2" "$run" ;;
  # The program as a FastCGI pool, run from the site's own copy.
  setup/pool)
    "$root/scripts/fastcgi-pool.sh" stop "$run/pool"
    rm -rf "$run/pool"
    "$root/scripts/fastcgi-pool.sh" start "$run/cgi-bin/nemvoweb" "$run/pool" 2 ;;
  cleanup/pool) "$root/scripts/fastcgi-pool.sh" stop "$run/pool" ;;
  *) echo "usage: $0 setup|cleanup [apache|nginx|pool|nginx-fastcgi|apache-fastcgi|lighttpd-fastcgi|lighttpd-spawn]" >&2
     exit 2 ;;
esac
