#!/usr/bin/env bash
# The Debian package, as an administrator meets it: builds it from a copy of
# the source tree (dpkg-buildpackage), checks it with lintian and its units
# with systemd-analyze, installs it on this machine (dpkg -i), runs right and
# wrong logins against the installed program, images and configuration and
# a test Firebird server, through lighttpd and Apache set up with the
# installed snippets and through nginx to the FastCGI service started as its
# units say, watches a wrong login with the installed nemvo-trace, then
# removes and purges the package and checks that nothing of it is left
# beyond what dpkg's conffile rules keep.
#
# Changes the machine (packages, /etc), so it runs as root, one run at a
# time (a lock), and refuses to touch a nemvoweb that it did not install
# itself. Whatever it installed or started goes again on the way out, also
# on failure; a run killed outright is cleaned up by the next one.
#
# Environment: NEMVO_PACKAGE_TEST_PORT chooses lighttpd's port (default: a
# free one), NEMVO_PACKAGE_TEST_KEEP=1 keeps build/package for inspection.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$root/build/package
marker=/var/tmp/nemvoweb-package-test.installed
lock=/run/lock/nemvoweb-package-test.lock
export NEMVO_FB_LEASE=nemvoweb-package-test-$$ NEMVO_FB_LEASE_PID=$$
fb=$root/scripts/firebird.sh
db_path=/var/lib/firebird/3.0/data/nemvo-package-test.fdb
db_user=nemvo_pkg_test
db_password="pkg=t&st $$"
channel=nemvo-package-test-$$

say() { printf '%s\n' "$*" >&2; }
die() { say "package test: $*"; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || die "needs root (it installs a package)"
  exec sudo -E "$0" "$@"
fi
for tool in dpkg-buildpackage dh lintian systemd-analyze lighttpd apache2 nginx spawn-fcgi curl flock setpriv isql-fb; do
  command -v "$tool" >/dev/null || die "$tool is missing: run scripts/install-deps.sh"
done
id www-data >/dev/null 2>&1 || die "no www-data account"

# Whatever this run starts and may outlive it closes descriptor 8 (8>&-).
exec 8>"$lock"
flock -w 1800 8 || die "another package test still runs (lock $lock)"

# --- Results ---------------------------------------------------------------------

passed=0
failed=0
# (Its own variable is not called name: the checks' eval'ed commands use the
# caller's $name.)
check() {
  local label=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok   $label"; else failed=$((failed + 1)); echo "FAIL $label"; fi
}
as() { local user=$1; shift; setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups "$@"; }
installed() { dpkg-query -W -f='${Status}' nemvoweb 2>/dev/null | grep -qv 'not-installed'; }

# --- Leaving the machine as it was -----------------------------------------------

# Ends a process this run started (by its id), waiting up to 5 seconds.
stop_process() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

tmp=""
reader_pid=""
service_pid=""
running_servers=()
fb_started=0
cleanup() {
  trap - EXIT INT TERM
  stop_process "$reader_pid"
  stop_process "$service_pid"
  local server
  for server in "${running_servers[@]}"; do ws_stop $server 2>/dev/null; done
  if [ -e "$marker" ] && installed; then dpkg --purge nemvoweb >/dev/null || say "package test: purge failed"; fi
  rm -f "$marker"
  if [ $fb_started -eq 1 ]; then
    "$fb" drop-user "$db_user" || true
    "$fb" drop-db "$db_path" || true
    "$fb" stop || true
  fi
  rm -f /dev/shm/"$channel".*
  [ -z "$tmp" ] || rm -rf "$tmp"
  [ "${NEMVO_PACKAGE_TEST_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A run killed outright left its package, files and channel behind: with
# the lock held, no other run owns them.
rm -rf /tmp/nemvo-package-test.*
rm -f /dev/shm/nemvo-package-test-*
if [ -e "$marker" ] && installed; then
  say "package test: purging the package an earlier run left installed"
  dpkg --purge nemvoweb >/dev/null || die "could not purge the package an earlier run left"
fi
rm -f "$marker"
installed && die "nemvoweb is installed on this machine and not by this test; it is left alone"
fail2ban_files=(/etc/fail2ban/filter.d/nemvoweb.conf /etc/fail2ban/jail.d/nemvoweb.conf)
for f in /etc/nemvo/Nemvo.Config /usr/lib/cgi-bin/nemvoweb /usr/bin/nemvo-trace "${fail2ban_files[@]}"; do
  [ ! -e "$f" ] || die "$f exists outside the package; the test would overwrite it"
done
trace_group=nemvo-trace
getent group "$trace_group" >/dev/null && die "a group $trace_group exists outside the package; purging would remove it"

# What the package may leave behind is looked for by name, outside the
# places that hold test data (the database server's files, this tree).
scan() {
  find /etc /usr /lib /var/lib /var/cache /var/log /run /srv /opt -xdev \
    \( -path /var/lib/firebird -o -path /run/lock -o -path "$root" \) -prune -o \
    -iname '*nemvo*' -print 2>/dev/null | sort
}

tmp=$(mktemp -d /tmp/nemvo-package-test.XXXXXX)
chmod 0755 "$tmp"
scan > "$tmp/before"

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=${NEMVO_PACKAGE_TEST_PORT:-$(bash "$root/scripts/web-servers.sh" free-port)} || die "no free port"
port_open "$port" && die "127.0.0.1:$port is in use"
public=http://127.0.0.1:$port

# --- Build ------------------------------------------------------------------------

# In a copy of the tree: dpkg-buildpackage writes into the source tree and
# its results next to it.
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

# --- Install ------------------------------------------------------------------------

: > "$marker"
say "== dpkg -i $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" > "$work/dpkg-install.log" 2>&1 ||
  { cat "$work/dpkg-install.log" >&2; die "dpkg -i failed"; }
dpkg -L nemvoweb | sort > "$tmp/files"

check "program in Debian's CGI directory" [ -x /usr/lib/cgi-bin/nemvoweb ]
check "nemvo-trace in PATH" [ -x /usr/bin/nemvo-trace ]
check "manual pages nemvoweb(8) and nemvo-trace(1)" \
  [ -e /usr/share/man/man8/nemvoweb.8.gz -a -e /usr/share/man/man1/nemvo-trace.1.gz ]
check "snippets for lighttpd, Apache and nginx, and their TLS examples" \
  bash -c 'for s in lighttpd apache2 nginx; do [ -e /usr/share/doc/nemvoweb/examples/$s.conf -a -e /usr/share/doc/nemvoweb/examples/$s-tls.conf ] || exit 1; done'
check "configuration is a conffile" \
  bash -c "dpkg-query -W -f='\${Conffiles}' nemvoweb | grep -q '^ /etc/nemvo/Nemvo.Config '"
check "fail2ban filter and jails installed as conffiles" \
  bash -c "for f in ${fail2ban_files[*]}; do dpkg-query -W -f='\${Conffiles}' nemvoweb | grep -q \"^ \$f \" || exit 1; done"
check "fail2ban jails installed disabled, every one" \
  bash -c "grep -q '^enabled *= *false' '${fail2ban_files[1]}' && ! grep -q '^enabled *= *true' '${fail2ban_files[1]}'"
check "configuration readable by www-data" as www-data test -r /etc/nemvo/Nemvo.Config
check "configuration not writable by www-data" as www-data test ! -w /etc/nemvo/Nemvo.Config
check "configuration: root:www-data 0640" [ "$(stat -c '%U:%G %a' /etc/nemvo/Nemvo.Config)" = "root:www-data 640" ]
units=(/lib/systemd/system/nemvoweb.socket /lib/systemd/system/nemvoweb.service)
check "systemd units installed" [ -e "${units[0]}" -a -e "${units[1]}" ]
check "systemd-analyze verify passes on the units" systemd-analyze verify --man=no "${units[@]}"
check "units not enabled on install" \
  bash -c '[ -z "$(find /etc/systemd/system -name "nemvoweb.*" 2>/dev/null)" ]'
# What deb-systemd-invoke asks before it starts a unit on a machine run by
# systemd: only an "enabled" one is started.
check "units not started on install: systemd sees them as not enabled" \
  bash -c '! systemctl --root=/ is-enabled nemvoweb.socket nemvoweb.service | grep -qx "enabled.*"'
check "socket handed over as standard input, service runs as www-data" \
  bash -c "grep -qx 'StandardInput=socket' '${units[1]}' && grep -qx 'User=www-data' '${units[1]}'"
# The SQL trace channel is the group's: made on installation, with the web
# server's account in it (the CGI processes), and the service's too.
check "trace group $trace_group made, a system group, www-data a member" \
  bash -c "gid=\$(getent group $trace_group | cut -d: -f3) && [ -n \"\$gid\" ] && [ \"\$gid\" -lt 1000 ] &&
           id -nG www-data | tr ' ' '\n' | grep -qx $trace_group"
check "the service runs with the trace group" grep -qx "SupplementaryGroups=$trace_group" "${units[1]}"

# --- Logins through lighttpd ----------------------------------------------------------

say "== Firebird test database and user"
# The server may outlive this run: it must not hold the run's lock.
"$fb" start 8>&- || die "the Firebird server did not start"
fb_started=1
"$fb" create-db "$db_path" || die "could not create $db_path"
"$fb" create-user "$db_user" "$db_password" || die "could not create the test user"

# The template and the configuration that names it and the test database:
# test data, written into the conffile in place (its owner and mode stay).
template=$tmp/main.html
printf '<html><body><h1>Painel</h1><#Greeting style=short>instalado</body></html>\n' > "$template"
printf '<html><body><h1>Painel</h1>instalado</body></html>\n' > "$tmp/main.expected"
chmod 0644 "$template"
cp -p /etc/nemvo/Nemvo.Config "$tmp/Nemvo.Config.packaged"
# The login throttle is off: every login comes from 127.0.0.1, and the
# refused ones would make the later ones wait (its own tests are the
# program's, tests/main).
printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\nLoginFailures=0\n' "$("$fb" url "$db_path")" "$template" \
  > /etc/nemvo/Nemvo.Config

# The FastCGI service as systemd would start it, without systemd: the
# socket unit's socket (owner, mode) handed to the service's ExecStart as
# standard input, as the service's user (spawn-fcgi does exactly that).
unit_value() { sed -n "s/^$2=//p" "$1" | tail -n1; }
service_exec=$(unit_value "${units[1]}" ExecStart)
service_user=$(unit_value "${units[1]}" User)
socket_path=$(unit_value "${units[0]}" ListenStream)
check "the service runs the installed program on the socket unit's socket" \
  [ "$service_exec" = "/usr/lib/cgi-bin/nemvoweb --fastcgi stdin --max-requests 10000" -a -n "$socket_path" -a "$(unit_value "${units[1]}" StandardInput)" = socket ]
fcgi_socket=$tmp/fcgi/nemvoweb.sock
mkdir -p "$tmp/fcgi"
chmod 0755 "$tmp/fcgi"
env NEMVO_TRACE_CHANNEL="$channel" spawn-fcgi -n -s "$fcgi_socket" -M "$(unit_value "${units[0]}" SocketMode)" \
  -U "$(unit_value "${units[0]}" SocketUser)" -G "$(unit_value "${units[0]}" SocketGroup)" \
  -u "$service_user" -g "$(unit_value "${units[1]}" Group)" -- $service_exec > "$tmp/fcgi/service.log" 2>&1 8>&- &
service_pid=$!
for _ in $(seq 50); do [ -S "$fcgi_socket" ] && break; sleep 0.1; done
[ -S "$fcgi_socket" ] || { cat "$tmp/fcgi/service.log" >&2; die "the FastCGI service did not start"; }

# The web servers as an administrator would set them up: the installed
# snippets (the FastCGI ones with this run's socket in place of the unit's)
# and login page; only address, port, logs and the trace channel's name (so
# that this run's channel is its own) are the test's. Each is started as
# the harness does (scripts/web-servers.sh). lighttpd runs on the port the
# package was built for as the public web server, so that the message page's
# icon and back link lead to it.
source "$root/scripts/web-servers.sh"
export NEMVO_APACHE_MODULES="env proxy proxy_fcgi"
examples=/usr/share/doc/nemvoweb/examples

# site_conf KIND SNIPPET: the test's part of KIND's configuration around SNIPPET.
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
server.modules += ( "mod_setenv" )
setenv.add-environment = ( "NEMVO_TRACE_CHANNEL" => "$channel" )
include "$2"
EOF
    apache) cat <<EOF ;;
DocumentRoot "/usr/share/nemvoweb/htdocs"
<Directory "/usr/share/nemvoweb/htdocs">
    Require all granted
</Directory>
SetEnv NEMVO_TRACE_CHANNEL $channel
Include "$2"
EOF
    nginx) printf 'root /usr/share/nemvoweb/htdocs;\ninclude "%s";\n' "$2" ;;
  esac
}

# The installed reader, as a member of the trace group (www-data, which the
# package made one), watches this run's channel; coming first, it makes the
# channel for the group, as the package's build says.
as www-data env NEMVO_TRACE_CHANNEL="$channel" /usr/bin/nemvo-trace > "$tmp/trace.out" 2> "$tmp/trace.err" 8>&- &
reader_pid=$!
for _ in $(seq 50); do grep -qs watching "$tmp/trace.err" && break; sleep 0.1; done
check "nemvo-trace (a member) made the channel for the group: 0660, $trace_group" \
  [ "$(stat -c '%a %U %G' "/dev/shm/$channel.SharedMem4_1" 2>/dev/null)" = "660 www-data $trace_group" ]
# Somebody who is no member is refused at once, and told what to ask for.
as nobody env NEMVO_TRACE_CHANNEL="$channel" timeout 10 /usr/bin/nemvo-trace > "$tmp/stranger.out" 2> "$tmp/stranger.err" 8>&-
echo $? > "$tmp/stranger.status"
refused_clearly() {
  [ "$(cat "$tmp/stranger.status")" = 1 ] && [ ! -s "$tmp/stranger.out" ] &&
    grep -qxF "nemvo-trace: no access to the trace channel $channel (objects of group $trace_group, mode 0660): ask to be added to that group" "$tmp/stranger.err"
}
check "nemvo-trace as nobody (no member) refused clearly" refused_clearly
refused_clearly || sed "s/^/  status $(cat "$tmp/stranger.status"): /" "$tmp/stranger.out" "$tmp/stranger.err" >&2

rejected=$'Usu\xe1rio/Senha inv\xe1lidos'
# post NAME URL CURL-ARGS...: leaves $tmp/NAME.body and $tmp/NAME.status.
post() {
  local name=$1 url=$2; shift 2
  curl -s --max-time 30 -o "$tmp/$name.body" -w '%{http_code}' "$@" "$url" > "$tmp/$name.status" ||
    echo 000 > "$tmp/$name.status"
}
status_of() { cat "$tmp/$1.status"; }
is_main() { [ "$(status_of "$1")" = 200 ] && cmp -s "$tmp/$1.body" "$tmp/main.expected"; }
is_rejected() { [ "$(status_of "$1")" = 200 ] && grep -qaF "$rejected" "$tmp/$1.body"; }
head -c 70000 /dev/zero | tr '\0' x > "$tmp/big"

# serve NAME KIND SNIPPET [PORT]: KIND with the installed SNIPPET on PORT (or
# a free one); the login page, a right and a wrong login, an oversized body.
serve() {
  local name=$1 kind=$2 snippet=$examples/$3 port=${4:-} dir=$tmp/$1 url main
  mkdir -p "$dir"
  if grep -q "$socket_path" "$snippet"; then
    ws_localise "$snippet" "$dir/snippet.conf" "$socket_path" "$fcgi_socket" || { fail "$name: snippet"; return; }
    snippet=$dir/snippet.conf
  fi
  site_conf "$kind" "$snippet" > "$dir/site.conf"
  [ -n "$port" ] || port=$(ws_free_port) || die "no free port"
  running_servers+=("$kind $dir")
  ws_start "$kind" "$dir" "$port" "$dir/site.conf" 8>&- || die "$name did not start"
  url=http://127.0.0.1:$port
  main=$url/cgi-bin/nemvoweb/main
  curl -s --max-time 10 -o "$tmp/$name-index.body" "$url/"
  check "$name: login page: the installed one" cmp -s "$tmp/$name-index.body" /usr/share/nemvoweb/htdocs/index.html
  curl -s --max-time 10 -D "$tmp/$name-login.head" -o "$tmp/$name-login.body" "$url/nemvoweb/"
  check "$name: the snippet's login page /nemvoweb/: the installed one, with its policy" \
    eval 'cmp -s "$tmp/$name-login.body" /usr/share/nemvoweb/htdocs/index.html &&
          grep -qi "^Content-Security-Policy: default-src .none.; img-src .self.; style-src .sha256-" "$tmp/$name-login.head"'
  post "$name-right" "$main" --data-urlencode "u=$db_user" --data-urlencode "p=$db_password"
  check "$name: right login: the template with its transparent tag removed" is_main "$name-right"
  post "$name-wrong" "$main" --data-urlencode "u=$db_user" --data-urlencode "p=not-$db_password" -D "$tmp/$name-wrong.head"
  check "$name: wrong login: the program's policy (images from $public), never stored" \
    eval 'grep -qiF "Content-Security-Policy: default-src '"'none'"'; img-src $public/nemvoweb_images/;" "$tmp/$name-wrong.head" &&
          grep -qi "^Cache-Control: no-store" "$tmp/$name-wrong.head" && grep -qi "^X-Frame-Options: DENY" "$tmp/$name-wrong.head"'
  check "$name: wrong login: the rejection message page" is_rejected "$name-wrong"
  check "$name: wrong login: back link to the public web server the package was built for" \
    grep -qF "<a href=\"$public\">Voltar</a>" "$tmp/$name-wrong.body"
  post "$name-big" "$main" --data-binary @"$tmp/big"
  check "$name: a body above 64 KiB refused (413)" [ "$(status_of "$name-big")" = 413 ]
  if [ "$url" = "$public" ]; then
    local icon
    icon=$(grep -ao 'src="[^"]*warning.png"' "$tmp/$name-wrong.body" | sed 's/^src="//;s/"$//')
    curl -s --max-time 10 -o "$tmp/icon.body" -w '%{http_code} %{content_type}' "$icon" > "$tmp/icon.status"
    check "$name: the message page's icon ($icon): the installed image" \
      eval '[ "$(cat "$tmp/icon.status")" = "200 image/png" ] && cmp -s "$tmp/icon.body" /usr/share/nemvoweb/images/warning.png'
  fi
  ws_stop "$kind" "$dir"
}
fail() { failed=$((failed + 1)); echo "FAIL $*"; }

serve lighttpd-cgi lighttpd lighttpd.conf "$port"
for _ in $(seq 50); do grep -q 'Usu' "$tmp/trace.out" && break; sleep 0.1; done
check "nemvo-trace (a member) printed the wrong login's database error" \
  grep -q $'Usu\xc3\xa1rio\|user name and password' "$tmp/trace.out"
stop_process "$reader_pid"
reader_pid=""
serve apache-cgi apache apache2.conf
serve lighttpd-fastcgi lighttpd lighttpd-fastcgi.conf "$port"
serve apache-fastcgi apache apache2-fastcgi.conf
serve nginx-fastcgi nginx nginx-fastcgi.conf
workers=$(pgrep -P "$service_pid" | tr '\n' ' ' || true)
workers_users=$(for w in $workers; do stat -c %U "/proc/$w" 2>/dev/null; done | sort -u | tr -d '\n')
check "FastCGI service: a pool, as $service_user, answered through every server" \
  [ "$(stat -c %U "/proc/$service_pid" 2>/dev/null)" = "$service_user" -a -n "$workers" -a "$workers_users" = "$service_user" ]
kill -TERM "$service_pid" 2>/dev/null
for _ in $(seq 50); do kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
check "FastCGI service: its account uses the trace channel (its log says nothing of it)" \
  bash -c "! grep -q 'trace channel' '$tmp/fcgi/service.log'"
check "FastCGI service: ends on SIGTERM, its workers with it" \
  bash -c "! kill -0 $service_pid 2>/dev/null && for w in $workers; do ! kill -0 \$w 2>/dev/null || exit 1; done"
stop_process "$service_pid"
service_pid=""

# --- Upgrade, remove, purge ----------------------------------------------------------------

cp /etc/nemvo/Nemvo.Config "$tmp/Nemvo.Config.edited"
DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" > "$work/dpkg-reinstall.log" 2>&1
check "reinstalling keeps the administrator's edits" cmp -s /etc/nemvo/Nemvo.Config "$tmp/Nemvo.Config.edited"
check "reinstalling keeps root:www-data 0640" [ "$(stat -c '%U:%G %a' /etc/nemvo/Nemvo.Config)" = "root:www-data 640" ]

dpkg -r nemvoweb > "$work/dpkg-remove.log" 2>&1
check "remove: the program is gone" [ ! -e /usr/lib/cgi-bin/nemvoweb ]
check "remove: the edited configuration stays" cmp -s /etc/nemvo/Nemvo.Config "$tmp/Nemvo.Config.edited"

dpkg --purge nemvoweb > "$work/dpkg-purge.log" 2>&1
check "purge: the package is gone" bash -c "! dpkg-query -W -f='\${Status}' nemvoweb 2>/dev/null | grep -q installed"
check "purge: the configuration and /etc/nemvo are gone" [ ! -e /etc/nemvo ]
check "purge: the trace group is gone" bash -c "! getent group $trace_group >/dev/null"
check "purge: the fail2ban filter and jails are gone, fail2ban's own directories stay" \
  bash -c "for f in ${fail2ban_files[*]}; do [ ! -e \$f ] || exit 1; done; [ -d /etc/fail2ban/jail.d ] || ! dpkg -s fail2ban >/dev/null 2>&1"
while read -r f; do
  [ "$f" = /. ] && continue
  [ -e "$f" ] && [ ! -d "$f" ] && echo "$f"
done < "$tmp/files" > "$tmp/left-files"
check "purge: none of the package's files is left" [ ! -s "$tmp/left-files" ]
scan > "$tmp/after"
comm -13 "$tmp/before" "$tmp/after" > "$tmp/new"
check "purge: nothing named after it is left (units' state, dpkg's records, /run)" [ ! -s "$tmp/new" ]
[ ! -s "$tmp/left-files" ] || sed 's/^/  left: /' "$tmp/left-files"
[ ! -s "$tmp/new" ] || sed 's/^/  left: /' "$tmp/new"
rm -f "$marker"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
