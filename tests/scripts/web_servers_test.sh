#!/usr/bin/env bash
# scripts/web-servers.sh, the tests' and benchmarks' way of running web
# servers: every kind starts on the port it is given, on 127.0.0.1 only,
# answers, refuses a second start for the same directory, and stops with every
# process of it gone (fcgiwrap's children outlive their parent unless the
# whole group is ended).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/web-servers.sh"
work=$(mktemp -d)
chmod 0755 "$work"   # the servers' own user reads it
trap 'for k in nginx fcgiwrap apache lighttpd; do ws_stop "$k" "$work/$k"; done; rm -rf "$work"' EXIT

passed=0 failed=0
check() { local name=$1; shift; if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi; }

# The instance's processes: anything whose command line names its directory.
instance_processes() {
  local p
  for p in /proc/[0-9]*; do
    tr '\0' ' ' 2>/dev/null <"$p/cmdline" | grep -qF "$1/" && echo "${p#/proc/}"
  done
  return 0
}
listeners() { ss -ltnH "sport = :$1" | awk '{ print $4 }' | sort -u | xargs; }

mkdir -p "$work/htdocs"
echo "hello" >"$work/htdocs/index.html"
for kind in lighttpd apache nginx fcgiwrap; do mkdir -p "$work/$kind"; done
printf 'DocumentRoot "%s"\n<Directory "%s">\n    Require all granted\n</Directory>\n' "$work/htdocs" "$work/htdocs" \
  >"$work/apache/site.conf"
printf 'root "%s";\n' "$work/htdocs" >"$work/nginx/site.conf"
cat >"$work/lighttpd/site.conf" <<'CONF'
server.bind = "127.0.0.1"
server.port = var.site_port
server.document-root = var.site_run + "/../htdocs"
server.pid-file = var.site_run + "/lighttpd.pid"
server.errorlog = var.site_run + "/log/error.log"
CONF

for kind in lighttpd apache nginx; do
  dir=$work/$kind
  port=$(ws_free_port)
  ws_start "$kind" "$dir" "$port" "$dir/site.conf"
  check "$kind: starts" [ $? -eq 0 ]
  check "$kind: listens on 127.0.0.1:$port only" [ "$(listeners "$port")" = "127.0.0.1:$port" ]
  check "$kind: serves the document root" [ "$(curl -s --max-time 10 "http://127.0.0.1:$port/index.html")" = hello ]
  ws_start "$kind" "$dir" "$(ws_free_port)" "$dir/site.conf" 2>/dev/null
  check "$kind: a second start for the same directory is refused" [ $? -ne 0 ]
  check "$kind: pid names the running instance" eval 'ws_pid "$kind" "$dir" >/dev/null'
  ws_stop "$kind" "$dir"
  sleep 0.2
  check "$kind: stopped, no process left" [ -z "$(instance_processes "$dir")" ]
  check "$kind: nothing listens on the port" [ -z "$(listeners "$port")" ]
  check "$kind: stopping again is no error" ws_stop "$kind" "$dir"
done

dir=$work/fcgiwrap
ws_start fcgiwrap "$dir" "$dir/socket" 3
check "fcgiwrap: starts on its socket" [ -S "$dir/socket" ]
check "fcgiwrap: runs the children asked for" [ "$(instance_processes "$dir" | wc -l)" -eq 4 ]
ws_stop fcgiwrap "$dir"
sleep 0.2
check "fcgiwrap: stopped, its children too" [ -z "$(instance_processes "$dir")" ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
