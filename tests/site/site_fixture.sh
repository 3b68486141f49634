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

# The README's configuration for the server, with the paths of a Debian
# installation replaced by this run directory's.
setup_apache() {
  local dir=$run/apache
  ws_stop apache "$dir"
  rm -rf "$dir"
  mkdir -p "$dir"
  ws_localise "$root/site/apache/nemvoweb.conf" "$dir/nemvoweb.conf" /usr/lib/cgi-bin "$run/cgi-bin"
  cat >"$dir/site.conf" <<EOF
DocumentRoot "$run/htdocs"
<Directory "$run/htdocs">
    Require all granted
</Directory>
Include "$dir/nemvoweb.conf"
EOF
  start_on_free_port apache "$dir"
}

setup_nginx() {
  local dir=$run/nginx wrap=$run/fcgiwrap
  ws_stop nginx "$dir"
  ws_stop fcgiwrap "$wrap"
  rm -rf "$dir" "$wrap"
  mkdir -p "$dir" "$wrap"
  ws_localise "$root/site/nginx/nemvoweb.conf" "$dir/nemvoweb.conf" \
    /usr/lib/cgi-bin "$run/cgi-bin" /run/fcgiwrap.socket "$wrap/fcgiwrap.socket"
  printf 'root "%s";\ninclude "%s";\n' "$run/htdocs" "$dir/nemvoweb.conf" >"$dir/site.conf"
  ws_start fcgiwrap "$wrap" "$wrap/fcgiwrap.socket" "$(fcgiwrap_children)"
  start_on_free_port nginx "$dir"
}

# As many fcgiwrap children as the README tells to configure.
fcgiwrap_children() {
  sed -n 's/^DAEMON_OPTS="-f -c \([0-9]*\)"$/\1/p' "$root/README.md" | head -n1 | grep . ||
    { echo "site fixture: the README names no fcgiwrap children (DAEMON_OPTS=\"-f -c N\")" >&2; return 1; }
}

# Another test run may take the port between the choice and the start.
start_on_free_port() {
  local kind=$1 dir=$2 port try
  for try in 1 2 3; do
    port=$(ws_free_port)
    echo "$port" >"$dir/port"
    ws_start "$kind" "$dir" "$port" "$dir/site.conf" && return 0
  done
  return 1
}

case ${1:-}/${2:-} in
  setup/) setup ;;
  cleanup/) cleanup ;;
  setup/apache) setup_apache ;;
  cleanup/apache) ws_stop apache "$run/apache" ;;
  setup/nginx) setup_nginx ;;
  cleanup/nginx) ws_stop nginx "$run/nginx"; ws_stop fcgiwrap "$run/fcgiwrap" ;;
  *) echo "usage: $0 setup|cleanup [apache|nginx]" >&2; exit 2 ;;
esac
