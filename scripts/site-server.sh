#!/usr/bin/env bash
# Starts and stops the lighttpd that serves the Nemvo.Web site.
#
#   site-server.sh start RUNDIR PORT [FILE...]
#                                      serve RUNDIR/htdocs and RUNDIR/cgi-bin on 127.0.0.1:PORT;
#                                      FILEs: what else the program reads (configuration, template)
#   site-server.sh stop RUNDIR         stop the server started for RUNDIR
#   site-server.sh status RUNDIR       exit 0 when it is running
#
# RUNDIR holds htdocs/ (pages and images) and cgi-bin/ (the program); logs go
# to RUNDIR/log. Started as root, the server drops to an unprivileged user
# (NEMVO_SITE_USER, default www-data) before it runs any CGI program, so that
# user must be able to read RUNDIR and everything the program reads; this is
# checked before the server starts. Started as another user, it stays that user.
# NEMVO_SITE_FASTCGI_SOCKET: the socket of a running FastCGI pool of the
# program (scripts/fastcgi-pool.sh), which then answers the program's path.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
site_conf="$(cd "$here/../site" && pwd)/lighttpd.conf"
# shellcheck source=web-servers.sh
source "$here/web-servers.sh"

die() { echo "site-server: $*" >&2; exit 1; }

start() {
  local run port user
  run="$(cd "${1:?usage: site-server.sh start RUNDIR PORT}" && pwd)"
  port="${2:?usage: site-server.sh start RUNDIR PORT}"
  shift 2
  [ -d "$run/htdocs" ] || die "$run/htdocs is missing"
  if ws_pid lighttpd "$run" >/dev/null; then die "already running for $run"; fi

  if [ "$(id -u)" -eq 0 ]; then
    # What the CGI program needs, seen as the user it will run as.
    local uid gid f
    user="$(ws_user)"
    uid="$(id -u "$user")"; gid="$(id -g "$user")"
    as_user() { setpriv --reuid="$uid" --regid="$gid" --clear-groups "$@"; }
    as_user test -r "$run/htdocs/index.html" || die "user $user cannot read $run/htdocs (every directory above it must be searchable by others)"
    for f in "$run"/cgi-bin/*; do
      [ -e "$f" ] || continue
      as_user test -x "$f" || die "user $user cannot run $f"
    done
    for f in "$@"; do
      as_user test -r "$f" || die "user $user cannot read $f"
    done
  fi
  # Logs from an earlier run as root must stay writable for the server's user.
  [ "$(id -u)" -ne 0 ] || chown "$(ws_user):" "$run"/log/*.log 2>/dev/null || true
  # With a FastCGI pool's socket named, the program's path goes to the pool
  # (the README's block for it) instead of a CGI process per request.
  local conf=$site_conf
  if [ -n "${NEMVO_SITE_FASTCGI_SOCKET:-}" ]; then
    ws_localise "$here/../site/lighttpd/nemvoweb-fastcgi.conf" "$run/nemvoweb-fastcgi.conf" \
      /run/nemvoweb/nemvoweb.sock "$NEMVO_SITE_FASTCGI_SOCKET" || exit 1
    printf 'include "%s"\ninclude "%s"\n' "$site_conf" "$run/nemvoweb-fastcgi.conf" >"$run/site-fastcgi.conf"
    conf=$run/site-fastcgi.conf
  fi
  ws_start lighttpd "$run" "$port" "$conf" || exit 1
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; ws_stop lighttpd "${1:?usage: site-server.sh stop RUNDIR}" ;;
  status) shift; ws_pid lighttpd "${1:?usage: site-server.sh status RUNDIR}" >/dev/null ;;
  *) echo "usage: site-server.sh start RUNDIR PORT | stop RUNDIR | status RUNDIR" >&2; exit 2 ;;
esac
