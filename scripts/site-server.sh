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
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
site_conf="$(cd "$here/../site" && pwd)/lighttpd.conf"

die() { echo "site-server: $*" >&2; exit 1; }

pid_of() {
  local pidfile="$1/lighttpd.pid" pid
  [ -s "$pidfile" ] || return 1
  pid="$(cat "$pidfile")"
  # A stale pid file may name a process that is no longer this server.
  [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' < "/proc/$pid/cmdline" | grep -q "lighttpd.*$1/lighttpd.conf" || return 1
  echo "$pid"
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start() {
  local run port user
  run="$(cd "${1:?usage: site-server.sh start RUNDIR PORT}" && pwd)"
  port="${2:?usage: site-server.sh start RUNDIR PORT}"
  shift 2
  [ -d "$run/htdocs" ] || die "$run/htdocs is missing"
  if pid_of "$run" >/dev/null; then die "already running for $run"; fi
  if port_open "$port"; then die "127.0.0.1:$port is already in use"; fi
  mkdir -p "$run/log"
  # The server opens its logs after it has become the unprivileged user.
  [ "$(id -u)" -ne 0 ] || chown "${NEMVO_SITE_USER:-www-data}:" "$run/log" "$run"/log/*.log 2>/dev/null || true
  {
    echo "# Written by scripts/site-server.sh; edit $site_conf instead."
    echo "var.site_run = \"$run\""
    echo "var.site_port = $port"
    if [ "$(id -u)" -eq 0 ]; then
      user="${NEMVO_SITE_USER:-www-data}"
      echo "server.username = \"$user\""
      echo "server.groupname = \"$(id -gn "$user")\""
    fi
    echo "include \"$site_conf\""
  } > "$run/lighttpd.conf"

  if [ "$(id -u)" -eq 0 ]; then
    # What the CGI program needs, seen as the user it will run as.
    local uid gid f
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

  lighttpd -tt -f "$run/lighttpd.conf" >/dev/null || die "configuration check failed: $run/lighttpd.conf"
  lighttpd -f "$run/lighttpd.conf"       # forks into the background, writes the pid file
  for _ in $(seq 100); do
    port_open "$port" && return 0
    sleep 0.1
  done
  stop "$run"
  die "lighttpd did not start listening on 127.0.0.1:$port (see $run/log/error.log)"
}

stop() {
  local run pid
  run="$(cd "${1:?usage: site-server.sh stop RUNDIR}" && pwd)"
  pid="$(pid_of "$run")" || { rm -f "$run/lighttpd.pid"; return 0; }
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  rm -f "$run/lighttpd.pid"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  status) shift; pid_of "$(cd "${1:?usage: site-server.sh status RUNDIR}" && pwd)" >/dev/null ;;
  *) echo "usage: site-server.sh start RUNDIR PORT | stop RUNDIR | status RUNDIR" >&2; exit 2 ;;
esac
