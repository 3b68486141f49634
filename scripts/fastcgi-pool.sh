#!/usr/bin/env bash
# Starts and stops a nemvoweb FastCGI pool (nemvoweb --fastcgi) for the demo
# site, the site tests and the benchmarks.
#
#   fastcgi-pool.sh start PROGRAM DIR [WORKERS]   pool on the unix socket DIR/nemvoweb.sock,
#                                                 log in DIR/pool.log; waits until it listens
#   fastcgi-pool.sh stop DIR                      SIGTERM, then waits for its end (no error when none)
#   fastcgi-pool.sh pid DIR                       its process id; fails when it is not running
#
# Started as root, the pool runs as NEMVO_SITE_USER (default www-data), the
# user the web servers run as, so that the socket (mode 0660) is theirs.
set -euo pipefail

user=${NEMVO_SITE_USER:-www-data}

pool_pid() {
  local dir=$1 pid
  pid=$(cat "$dir/pool.pid" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  # A stale pid file may name another process by now.
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "--fastcgi unix:$dir/nemvoweb.sock" || return 1
  echo "$pid"
}

start() {
  local program=${1:?usage: fastcgi-pool.sh start PROGRAM DIR [WORKERS]} dir workers=${3:-$(nproc)} i
  mkdir -p "${2:?}"
  dir=$(cd "$2" && pwd)
  if pool_pid "$dir" >/dev/null; then echo "fastcgi-pool: already running for $dir" >&2; return 1; fi
  local as=()
  if [ "$(id -u)" -eq 0 ]; then
    as=(setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --clear-groups)
    chown "$user:" "$dir"
  fi
  # The shell records its own id and becomes the pool; in a session of its
  # own, so that a terminal's Ctrl-C reaches whoever started it, who then
  # stops it.
  setsid bash -c 'echo $$ >"$1"; shift; exec "$@"' _ "$dir/pool.pid" \
    "${as[@]}" "$program" --fastcgi "unix:$dir/nemvoweb.sock" --workers "$workers" \
    </dev/null >>"$dir/pool.log" 2>&1 &
  for i in $(seq 1 100); do
    [ -S "$dir/nemvoweb.sock" ] && pool_pid "$dir" >/dev/null && return 0
    sleep 0.1
  done
  echo "fastcgi-pool: the pool did not start (see $dir/pool.log)" >&2
  stop "$dir"
  return 1
}

stop() {
  local dir pid i
  dir=$(cd "${1:?usage: fastcgi-pool.sh stop DIR}" 2>/dev/null && pwd) || return 0
  pid=$(pool_pid "$dir") || { rm -f "$dir/pool.pid"; return 0; }
  kill -TERM "$pid" 2>/dev/null || true
  # The pool waits for the requests in flight (30 s at most), then ends.
  for i in $(seq 1 350); do
    [ -d "/proc/$pid" ] || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  rm -f "$dir/pool.pid"
}

case ${1:-} in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  pid) shift; pool_pid "$(cd "${1:?}" && pwd)" ;;
  *) sed -n '2,/^$/p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
