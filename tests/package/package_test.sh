#!/usr/bin/env bash
# The Debian package, as an administrator meets it on a machine run by
# systemd: builds it from a copy of the source tree (dpkg-buildpackage),
# checks it with lintian, and installs it in a Debian 12 container booted
# with systemd (tests/package/container.sh), never on this machine. There,
# with the units as shipped:
#   - the socket unit enabled, the first request through nginx starts the
#     service; right and wrong logins, an oversized body, the message page's
#     icon, also through lighttpd and Apache with the installed snippets;
#   - the workers run as www-data under the unit's hardening, and every path
#     that calls into the system only now and then runs under its system-call
#     filter: an unresponsive database (the login's deadline), a killed
#     worker, recycling after --max-requests, a shortened trace object;
#   - nemvo-trace, run by a member of the package's trace group, shows a
#     wrong login's database error;
#   - readiness and status (Type=notify), a reload under a load of logins
#     (no request lost), the main process killed (restarted; the socket
#     keeps what is queued), a stop with requests in flight, the journal's
#     lines and their priorities, systemd-analyze security's score;
#   - reinstall, remove and purge: nothing of the package is left.
# This machine is left as it was: nothing installed, nothing left running.
#
# Runs as root, one run at a time (a lock). The container's root is made
# once (about a minute and a half, from Debian's archive) and cached in
# build/package-root.
#
# Environment: NEMVO_PACKAGE_TEST_KEEP=1 keeps build/package for inspection;
# NEMVO_PACKAGE_MAX_SCORE the highest exposure score accepted (default 1.7).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$root/build/package
lock=/run/lock/nemvoweb-package-test.lock
export NEMVO_FB_LEASE=nemvoweb-package-test-$$ NEMVO_FB_LEASE_PID=$$
fb=$root/scripts/firebird.sh
db_path=/var/lib/firebird/3.0/data/nemvo-package-test.fdb
db_user=nemvo_pkg_test
db_password="pkg=t&st $$"
max_score=${NEMVO_PACKAGE_MAX_SCORE:-1.7}
started=$(date +%s)

say() { printf '%s\n' "$*" >&2; }
die() { say "package test: $*"; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || die "needs root (it boots a container)"
  exec sudo -E "$0" "$@"
fi
for tool in dpkg-buildpackage dh lintian mmdebstrap systemd-nspawn nsenter curl flock isql-fb python3; do
  command -v "$tool" >/dev/null || die "$tool is missing: run scripts/install-deps.sh"
done
source "$here/container.sh"

exec 8>"$lock"
flock -w 1800 8 || die "another package test still runs (lock $lock)"

# --- Results ---------------------------------------------------------------------

passed=0
failed=0
check() {
  local label=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok   $label"; else failed=$((failed + 1)); echo "FAIL $label"; fi
}
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
host_installed() { dpkg-query -W -f='${Status}' nemvoweb 2>/dev/null | grep -qv 'not-installed'; }
# A command in the container as ACCOUNT (with its groups).
ct_as() { local user=$1; shift; ct_run setpriv --reuid="$user" --regid="$(ct_run id -g "$user")" --init-groups "$@"; }

# --- Leaving the machine as it was -----------------------------------------------

tmp=""
silent_pid=""
load_pid=""
fb_started=0
cleanup() {
  trap - EXIT INT TERM
  [ -z "$load_pid" ] || kill "$load_pid" 2>/dev/null
  [ -z "$silent_pid" ] || kill "$silent_pid" 2>/dev/null
  ct_stop
  if [ $fb_started -eq 1 ]; then
    "$fb" drop-user "$db_user" || true
    "$fb" drop-db "$db_path" || true
    "$fb" stop || true
  fi
  [ -z "$tmp" ] || rm -rf "$tmp"
  [ "${NEMVO_PACKAGE_TEST_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

rm -rf /tmp/nemvo-package-test.*
host_installed && die "nemvoweb is installed on this machine; the test installs it in a container only, and leaves this one alone"
tmp=$(mktemp -d /tmp/nemvo-package-test.XXXXXX)
chmod 0755 "$tmp"

port=$(bash "$root/scripts/web-servers.sh" free-port) || die "no free port"
public=http://127.0.0.1:$port

# --- Build ------------------------------------------------------------------------

rm -rf "$work"
mkdir -p "$work/src"
tar -C "$root" --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . | tar -C "$work/src" -xf - ||
  die "could not copy the source tree"
say "== Building the package (log: $work/build.log)"
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
if ! (cd "$work/src" && NEMVO_PUBLIC_WEB_SERVER=$public dpkg-buildpackage -b -us -uc -j"$(nproc)") \
     > "$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log" >&2
  die "dpkg-buildpackage failed"
fi
deb=$(ls "$work"/nemvoweb_*_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || die "no nemvoweb_*.deb was built"
changes=$(ls "$work"/nemvoweb_*.changes | head -n1)

say "== lintian"
lintian --fail-on error,warning --pedantic "$changes" > "$work/lintian.log" 2>&1
lintian_status=$?
grep -v 'running with root privileges' "$work/lintian.log" >&2
check "lintian: no error, no warning (overrides are justified in debian/nemvoweb.lintian-overrides)" \
  [ $lintian_status -eq 0 ]
check "depends on the client library, not on a database server" \
  bash -c "dpkg-deb -f '$deb' Depends | grep -qw libfbclient2 && ! dpkg-deb -f '$deb' Depends Recommends | grep -q firebird[0-9.]*-server"
check "suggests fail2ban, needs it not" \
  bash -c "dpkg-deb -f '$deb' Suggests | grep -qw fail2ban && ! dpkg-deb -f '$deb' Depends Recommends Pre-Depends | grep -qw fail2ban"

# --- The container ------------------------------------------------------------------

boot_started=$(date +%s)
cached=$(ct_make_root "$root/build/package-root" "$work/mmdebstrap.log") || exit 1
say "== Booting the container"
ct_boot "$cached" "$work/root" "$work/boot.log" --bind="$tmp" --bind-ro="$root" || exit 1
say "   root ready and booted in $(( $(date +%s) - boot_started )) s"
cp "$deb" "$ct_dir/root/nemvoweb.deb"
ct_run find / -xdev \( -path /proc -o -path /sys -o -path "$root" -o -path "$tmp" \) -prune -o -iname '*nemvo*' -print \
  2>/dev/null | sort > "$tmp/before"

say "== Installing the package in the container"
ct_run env DEBIAN_FRONTEND=noninteractive dpkg -i /root/nemvoweb.deb > "$work/dpkg-install.log" 2>&1 ||
  { cat "$work/dpkg-install.log" >&2; die "dpkg -i failed in the container"; }
ct_run dpkg -L nemvoweb | sort > "$tmp/files"

check "program in Debian's CGI directory" ct_run test -x /usr/lib/cgi-bin/nemvoweb
check "nemvo-trace in PATH" ct_run test -x /usr/bin/nemvo-trace
check "manual pages nemvoweb(8) and nemvo-trace(1)" \
  ct_run test -e /usr/share/man/man8/nemvoweb.8.gz -a -e /usr/share/man/man1/nemvo-trace.1.gz
check "configuration: root:www-data 0640, readable but not writable by www-data" \
  eval '[ "$(ct_run stat -c "%U:%G %a" /etc/nemvo/Nemvo.Config)" = "root:www-data 640" ] &&
        ct_as www-data test -r /etc/nemvo/Nemvo.Config && ct_as www-data test ! -w /etc/nemvo/Nemvo.Config'
are_conffiles() {
  local f
  ct_run dpkg-query -W -f='${Conffiles}' nemvoweb > "$tmp/conffiles" || return 1
  for f in "$@"; do grep -q "^ $f " "$tmp/conffiles" || return 1; done
}
check "configuration and fail2ban files are conffiles" \
  are_conffiles /etc/nemvo/Nemvo.Config /etc/fail2ban/filter.d/nemvoweb.conf /etc/fail2ban/jail.d/nemvoweb.conf
check "systemd-analyze verify passes on the installed units" \
  ct_run systemd-analyze verify --man=no /lib/systemd/system/nemvoweb.socket /lib/systemd/system/nemvoweb.service
check "units neither enabled nor started by the install" \
  eval '[ "$(ct_run systemctl is-enabled nemvoweb.socket)" = disabled ] &&
        ! ct_run systemctl -q is-active nemvoweb.socket nemvoweb.service'

# --- Site: database, configuration, nginx -------------------------------------------

say "== Firebird test database and user (on this machine's loopback)"
"$fb" start 8>&- || die "the Firebird server did not start"
fb_started=1
"$fb" create-db "$db_path" || die "could not create $db_path"
"$fb" create-user "$db_user" "$db_password" || die "could not create the test user"
db_url=$("$fb" url "$db_path")

# Test data, in the container: the template somewhere the service may read
# (its /tmp is private), the configuration written in place (its owner and
# mode stay). The login throttle is off: every login comes from 127.0.0.1.
ct_run mkdir -p /srv/nemvo-test
printf '<html><body><h1>Painel</h1><#Greeting style=short>instalado</body></html>\n' |
  ct_run tee /srv/nemvo-test/main.html >/dev/null
printf '<html><body><h1>Painel</h1>instalado</body></html>\n' > "$tmp/main.expected"
ct_run chmod -R a+rX /srv/nemvo-test
write_config() {  # extra lines after the test's own
  { printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=/srv/nemvo-test/main.html\nLoginFailures=0\n' "$db_url"
    printf '%s\n' "$@"; } | ct_run tee /etc/nemvo/Nemvo.Config >/dev/null
}
write_config

rejected=$'Usu\xe1rio/Senha inv\xe1lidos'
# post NAME URL CURL-ARGS...: leaves $tmp/NAME.body and $tmp/NAME.status.
post() {
  local name=$1 url=$2; shift 2
  curl -s --max-time 30 -o "$tmp/$name.body" -w '%{http_code}' "$@" "$url" > "$tmp/$name.status" ||
    echo 000 > "$tmp/$name.status"
}
status_of() { cat "$tmp/$1.status"; }
is_main() { [ "$(status_of "$1")" = 200 ] && cmp -s "$tmp/$1.body" "$tmp/main.expected"; }
# all_main PREFIX N: PREFIX-1 ... PREFIX-N all got the main page.
all_main() {
  local i
  for i in $(seq "$2"); do is_main "$1-$i" || return 1; done
}
is_rejected() { [ "$(status_of "$1")" = 200 ] && grep -qaF "$rejected" "$tmp/$1.body"; }
right() { post "$1" "$2" --data-urlencode "u=$db_user" --data-urlencode "p=$db_password" "${@:3}"; }
wrong() { post "$1" "$2" --data-urlencode "u=$db_user" --data-urlencode "p=not-$db_password" "${@:3}"; }
head -c 70000 /dev/zero | tr '\0' x > "$tmp/big"

# The web servers, started inside the container as the harness does
# (scripts/web-servers.sh), with the installed snippets as they are: the
# FastCGI ones reach the socket unit's socket.
examples=/usr/share/doc/nemvoweb/examples
site_conf() {
  case $1 in
    lighttpd) cat <<EOF ;;
server.bind = "127.0.0.1"
server.port = var.site_port
server.document-root = "/usr/share/nemvoweb/htdocs"
server.pid-file = var.site_run + "/lighttpd.pid"
server.errorlog = var.site_run + "/log/error.log"
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html", ".png" => "image/png", ".ico" => "image/x-icon" )
include "$2"
EOF
    apache) cat <<EOF ;;
DocumentRoot "/usr/share/nemvoweb/htdocs"
<Directory "/usr/share/nemvoweb/htdocs">
    Require all granted
</Directory>
Include "$2"
EOF
    nginx) printf 'root /usr/share/nemvoweb/htdocs;\ninclude "%s";\n' "$2" ;;
  esac
}
# ws KIND start|stop DIR [PORT CONF]: the harness in the container.
ws() {
  local kind=$1 action=$2; shift 2
  ct_run env NEMVO_APACHE_MODULES="env proxy proxy_fcgi" bash "$root/scripts/web-servers.sh" "$action" "$kind" "$@" 8>&-
}
# site NAME KIND SNIPPET [PORT]: starts KIND with the installed SNIPPET;
# sets url.
site() {
  local name=$1 kind=$2 snippet=$3 dir=$tmp/$1
  mkdir -p "$dir"
  site_conf "$kind" "$examples/$snippet" > "$dir/site.conf"
  site_port=${4:-$(bash "$root/scripts/web-servers.sh" free-port)} || die "no free port"
  ws "$kind" start "$dir" "$site_port" "$dir/site.conf" || die "$name did not start in the container"
  url=http://127.0.0.1:$site_port
}
# logins NAME: the login page, a right and a wrong login, an oversized body
# (and the icon when the site is the public web server), through $url.
logins() {
  local name=$1 main=$url/cgi-bin/nemvoweb/main
  curl -s --max-time 10 -D "$tmp/$name-login.head" -o "$tmp/$name-login.body" "$url/nemvoweb/"
  check "$name: the snippet's login page /nemvoweb/: the installed one" \
    eval 'ct_run cat /usr/share/nemvoweb/htdocs/index.html | cmp -s "$tmp/$name-login.body" -'
  right "$name-right" "$main"
  check "$name: right login: the template with its transparent tag removed" is_main "$name-right"
  wrong "$name-wrong" "$main" -D "$tmp/$name-wrong.head"
  check "$name: wrong login: the rejection message page, never stored" \
    eval 'is_rejected "$name-wrong" && grep -qi "^Cache-Control: no-store" "$tmp/$name-wrong.head"'
  post "$name-big" "$main" --data-binary @"$tmp/big"
  check "$name: a body above 64 KiB refused (413)" [ "$(status_of "$name-big")" = 413 ]
  if [ "$url" = "$public" ]; then
    local icon
    icon=$(grep -ao 'src="[^"]*warning.png"' "$tmp/$name-wrong.body" | sed 's/^src="//;s/"$//')
    curl -s --max-time 10 -o "$tmp/icon.body" -w '%{http_code} %{content_type}' "$icon" > "$tmp/icon.status"
    check "$name: the message page's icon ($icon): the installed image" \
      eval '[ "$(cat "$tmp/icon.status")" = "200 image/png" ] && ct_run cat /usr/share/nemvoweb/images/warning.png | cmp -s "$tmp/icon.body" -'
  fi
}

# --- The FastCGI service under systemd ------------------------------------------

service_pid() { ct_run systemctl show -P MainPID nemvoweb.service; }
workers_of() { ct_run pgrep -P "$1" | tr '\n' ' '; }
journal() { ct_run journalctl -q -u nemvoweb.service --no-pager "$@"; }

say "== Socket activation through nginx"
ct_run systemctl enable --now nemvoweb.socket > "$work/enable.log" 2>&1
check "socket unit listening, service not yet started" \
  eval 'ct_run systemctl -q is-active nemvoweb.socket && ! ct_run systemctl -q is-active nemvoweb.service'
site nginx nginx nginx-fastcgi.conf "$port"
nginx_url=$url
logins nginx-fastcgi
check "the first request started the service (socket activation)" ct_run systemctl -q is-active nemvoweb.service
main_pid=$(service_pid)
workers=$(workers_of "$main_pid")
check "the pool and its workers run as www-data" \
  eval '[ "$(ct_run stat -c %U /proc/$main_pid)" = www-data ] && [ -n "$workers" ] &&
        [ "$(for w in $workers; do ct_run stat -c %U /proc/$w; done | sort -u | tr -d "\n")" = www-data ]'
check "readiness and status told to systemd (Type=notify)" \
  eval '[ "$(ct_run systemctl show -P Type nemvoweb.service)" = notify ] &&
        ct_run systemctl show -P StatusText nemvoweb.service | grep -qE "^[0-9]+ workers? \([0-9]+ busy\), [0-9]+ requests? served$"'

say "== Error paths under the unit's system-call filter"
# A database server that takes connections and never answers: the login's
# deadline (LoginTimeout=2) ends the wait.
silent_port=$(bash "$root/scripts/web-servers.sh" free-port)
python3 -c 'import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(16)
time.sleep(600)' "$silent_port" &
silent_pid=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$silent_port") 2>/dev/null && break; sleep 0.1; done
{ printf '[Nemvo.FrameWork]\nDBSuporte=127.0.0.1/%s:/silent.fdb\nMainHTML=/srv/nemvo-test/main.html\nLoginFailures=0\nLoginTimeout=2\n' "$silent_port"; } |
  ct_run tee /etc/nemvo/Nemvo.Config >/dev/null
t0=$(date +%s%N)
right silent "$nginx_url/cgi-bin/nemvoweb/main"
t1=$(date +%s%N)
check "unresponsive database: the login's deadline fired ($(( (t1 - t0) / 1000000 )) ms), a message page, the pool alive" \
  eval '[ "$(status_of silent)" = 200 ] && ! is_main silent && [ $(( (t1 - t0) / 1000000 )) -ge 1500 ] &&
        [ $(( (t1 - t0) / 1000000 )) -lt 10000 ] &&
        [ "$(service_pid)" = "$main_pid" ]'
kill "$silent_pid" 2>/dev/null; wait "$silent_pid" 2>/dev/null; silent_pid=""
write_config

victim=${workers%% *}
ct_run kill -9 "$victim"
sleep 0.5
right after-kill "$nginx_url/cgi-bin/nemvoweb/main"
check "a killed worker is replaced, logins go on" \
  eval 'is_main after-kill && journal | grep -q "worker $victim killed by signal Killed: replaced"'

# The trace channel: a member of the package's trace group reads it; a
# shortened object costs the writers nothing.
trace_group=nemvo-trace
check "the package made its trace group $trace_group" eval 'ct_run getent group "$trace_group" >/dev/null'
ct_run useradd --no-create-home nemvoadmin
ct_run usermod -aG "$trace_group" nemvoadmin
ct_as nemvoadmin nemvo-trace > "$tmp/trace.out" 2> "$tmp/trace.err" &
reader=$!
for _ in $(seq 50); do grep -qs watching "$tmp/trace.err" && break; sleep 0.1; done
wrong traced "$nginx_url/cgi-bin/nemvoweb/main"
for _ in $(seq 50); do grep -q 'Usu\|user name' "$tmp/trace.out" && break; sleep 0.1; done
check "nemvo-trace (a member of $trace_group) shows a wrong login's database error" \
  grep -q $'Usu\xc3\xa1rio\|user name and password' "$tmp/trace.out"
ct_run sh -c 'for f in /dev/shm/IB.SQL.MONITOR.*; do truncate -s 0 "$f"; done'
wrong shortened "$nginx_url/cgi-bin/nemvoweb/main"
right after-shortened "$nginx_url/cgi-bin/nemvoweb/main"
check "shortened trace objects: logins answered, the pool alive" \
  eval 'is_rejected shortened && is_main after-shortened && [ "$(service_pid)" = "$main_pid" ]'
timeout 10 bash -c "$(declare -f ct_run ct_as); ct_leader=$ct_leader; ct_as nobody nemvo-trace" > /dev/null 2> "$tmp/stranger.err"
check "nemvo-trace as an account outside $trace_group: refused, saying so" grep -q "group $trace_group" "$tmp/stranger.err"
sed 's/^/     /' "$tmp/stranger.err"
kill "$reader" 2>/dev/null; wait "$reader" 2>/dev/null
ct_run pkill -x nemvo-trace

# Recycling: the shipped unit with a smaller --max-requests (a drop-in that
# changes nothing else).
ct_run mkdir -p /etc/systemd/system/nemvoweb.service.d
exec_start=$(ct_run systemctl show -P ExecStart nemvoweb.service | sed -n 's/.*argv\[\]=\([^;]*\) ;.*/\1/p')
printf '[Service]\nExecStart=\nExecStart=%s\n' "${exec_start/--max-requests 10000/--max-requests 3}" |
  ct_run tee /etc/systemd/system/nemvoweb.service.d/recycle.conf >/dev/null
ct_run systemctl daemon-reload
ct_run systemctl restart nemvoweb.service
for i in $(seq 12); do right "recycle-$i" "$nginx_url/cgi-bin/nemvoweb/main"; done
check "recycling after --max-requests under the filter: workers replaced, every login answered" \
  eval 'all_main recycle 12 && journal | grep -q "done with its requests: replaced"'
ct_run rm -rf /etc/systemd/system/nemvoweb.service.d
ct_run systemctl daemon-reload
ct_run systemctl restart nemvoweb.service
main_pid=$(service_pid)

say "== Reload under load"
load_out=$tmp/load
: > "$load_out"
( while :; do
    curl -s --max-time 30 -o /dev/null -w '%{http_code}\n' --data-urlencode "u=$db_user" --data-urlencode "p=$db_password" \
      "$nginx_url/cgi-bin/nemvoweb/main" >> "$load_out"
  done ) &
load_pid=$!
sleep 1
ct_run systemctl reload nemvoweb.service
sleep 1
ct_run systemctl reload nemvoweb.service
sleep 1
kill "$load_pid"; wait "$load_pid" 2>/dev/null; load_pid=""
reload_total=$(wc -l < "$load_out")
reload_failed=$(grep -vcx 200 "$load_out")
echo "     reload: $reload_total requests during two reloads, $reload_failed failed"
check "two reloads under load: same main process, program started anew, no request failed" \
  eval '[ "$reload_total" -gt 10 ] && [ "$reload_failed" -eq 0 ] && [ "$(service_pid)" = "$main_pid" ] &&
        [ "$(journal | grep -c "started anew, listening on")" -ge 2 ] && ct_run systemctl -q is-active nemvoweb.service'

say "== The main process killed, then stopped with requests in flight"
ct_run systemctl kill -s KILL --kill-who=main nemvoweb.service
requests=()
for i in $(seq 4); do right "queued-$i" "$nginx_url/cgi-bin/nemvoweb/main" & requests+=($!); done
wait "${requests[@]}"
check "the main process killed: restarted (Restart=on-failure), the queued logins answered" \
  eval 'all_main queued 4 && [ "$(service_pid)" != "$main_pid" ] && [ "$(service_pid)" != 0 ]'
requests=()
for i in $(seq 4); do right "inflight-$i" "$nginx_url/cgi-bin/nemvoweb/main" & requests+=($!); done
sleep 0.2
t0=$(date +%s%N)
ct_run systemctl stop nemvoweb.service
t1=$(date +%s%N)
wait "${requests[@]}"
check "stop with requests in flight: ended in $(( (t1 - t0) / 1000000 )) ms, within the shutdown bound, none lost" \
  eval '[ $(( (t1 - t0) / 1000000 )) -lt 30000 ] && all_main inflight 4'
right restarted "$nginx_url/cgi-bin/nemvoweb/main"
check "the socket starts it again on the next request" is_main restarted
ws nginx stop "$tmp/nginx"

say "== The journal"
journal -o export > "$tmp/journal.export"
check "journal: the pool's lines with their priorities (notice for signals, warning for a killed worker)" \
  eval 'grep -B20 -A20 "^MESSAGE=SIGTERM from process" "$tmp/journal.export" | grep -q "^PRIORITY=5" &&
        grep -B20 -A20 "^MESSAGE=worker $victim killed" "$tmp/journal.export" | grep -q "^PRIORITY=4"'
check "journal: no name or process id of the program's own before its lines" \
  eval '! journal -o cat | grep -qE "^nemvoweb\[[0-9]+\]: "'
journal > "$work/journal.txt"

say "== systemd-analyze security"
ct_run systemd-analyze security --no-pager nemvoweb.service > "$work/security.txt" 2>&1
score=$(sed -n 's/.*Overall exposure level for nemvoweb.service: \([0-9.]*\).*/\1/p' "$work/security.txt")
echo "     exposure: ${score:-?}"
check "systemd-analyze security: exposure ${score:-?} <= $max_score" \
  eval '[ -n "$score" ] && awk -v s="$score" -v m="$max_score" "BEGIN { exit !(s <= m) }"'

say "== CGI through lighttpd and Apache"
site lighttpd-cgi lighttpd lighttpd.conf "$port"
logins lighttpd-cgi
ws lighttpd stop "$tmp/lighttpd-cgi"
site apache-cgi apache apache2.conf
logins apache-cgi
ws apache stop "$tmp/apache-cgi"
site lighttpd-fastcgi lighttpd lighttpd-fastcgi.conf "$port"
logins lighttpd-fastcgi
ws lighttpd stop "$tmp/lighttpd-fastcgi"
site apache-fastcgi apache apache2-fastcgi.conf
logins apache-fastcgi
ws apache stop "$tmp/apache-fastcgi"

# --- Upgrade, remove, purge ----------------------------------------------------------------

ct_run systemctl disable --now nemvoweb.socket nemvoweb.service > /dev/null 2>&1
ct_run cp /etc/nemvo/Nemvo.Config /root/Nemvo.Config.edited
ct_run env DEBIAN_FRONTEND=noninteractive dpkg -i /root/nemvoweb.deb > "$work/dpkg-reinstall.log" 2>&1
check "reinstalling keeps the administrator's edits and root:www-data 0640" \
  eval 'ct_run cmp -s /etc/nemvo/Nemvo.Config /root/Nemvo.Config.edited &&
        [ "$(ct_run stat -c "%U:%G %a" /etc/nemvo/Nemvo.Config)" = "root:www-data 640" ]'
ct_run dpkg -r nemvoweb > "$work/dpkg-remove.log" 2>&1
check "remove: the program is gone, the edited configuration stays" \
  eval '! ct_run test -e /usr/lib/cgi-bin/nemvoweb && ct_run cmp -s /etc/nemvo/Nemvo.Config /root/Nemvo.Config.edited'
ct_run dpkg --purge nemvoweb > "$work/dpkg-purge.log" 2>&1
check "purge: the configuration and /etc/nemvo are gone" eval '! ct_run test -e /etc/nemvo'
while read -r f; do
  [ "$f" = /. ] && continue
  ct_run test -e "$f" && ! ct_run test -d "$f" && echo "$f"
done < "$tmp/files" > "$tmp/left-files"
check "purge: none of the package's files is left" [ ! -s "$tmp/left-files" ]
ct_run rm -f /root/nemvoweb.deb /root/Nemvo.Config.edited
ct_run userdel nemvoadmin 2>/dev/null
ct_run rm -rf /srv/nemvo-test
ct_run find / -xdev \( -path /proc -o -path /sys -o -path "$root" -o -path "$tmp" \) -prune -o -iname '*nemvo*' -print \
  2>/dev/null | sort > "$tmp/after"
comm -13 "$tmp/before" "$tmp/after" > "$tmp/new"
check "purge: nothing named after it is left (units' state, dpkg's records, users, groups)" [ ! -s "$tmp/new" ]
[ ! -s "$tmp/left-files" ] || sed 's/^/  left: /' "$tmp/left-files"
[ ! -s "$tmp/new" ] || sed 's/^/  left: /' "$tmp/new"
check "purge: the trace group is gone" eval '[ -z "$trace_group" ] || ! ct_run getent group "$trace_group" >/dev/null'

ct_stop
check "this machine: nemvoweb not installed, nothing of the container left running" \
  eval '! host_installed && ! pgrep -f "nemvopkg$$" >/dev/null'

echo "$passed passed, $failed failed ($(( $(date +%s) - started )) s)"
[ "$failed" -eq 0 ]
