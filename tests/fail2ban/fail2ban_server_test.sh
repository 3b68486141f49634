#!/usr/bin/env bash
# A running fail2ban with the shipped filter and the Apache jail as shipped
# (one line enables it), on a log the program writes as CGI: the address
# that has maxretry logins refused is banned, one with fewer refusals and
# one with accepted logins are not, and stopping the server lifts the ban.
#
#   fail2ban_server_test.sh
#
# The server is the test's own: its own configuration directory, socket,
# pid file and log, an in-memory database, and an action of its own that
# writes "ban ADDRESS" and "unban ADDRESS" to a file; no firewall rule, and
# nothing of the machine's fail2ban is read or touched. Needs the Firebird
# fixture and the site fixture (the configuration file and template); takes
# the configuration lock and restores the site tests' configuration after.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=fail2ban_lib.sh
source "$here/fail2ban_lib.sh"
: "${NEMVO_SITE_PROGRAM:?}" "${NEMVO_SITE_CONFIG:?}" "${NEMVO_SITE_TEMPLATE:?}" "${NEMVO_TEST_DB:?}"
: "${NEMVO_TEST_USER:?}" "${NEMVO_TEST_PASSWORD:?}"

# The test's configuration: the site tests' with further lines (theirs comes
# back when the test ends).
site_config() {
  printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\n%s' "$NEMVO_TEST_DB" "$NEMVO_SITE_TEMPLATE" "${1:-}" \
    >"$NEMVO_SITE_CONFIG.tmp"
  chmod 0644 "$NEMVO_SITE_CONFIG.tmp"
  mv "$NEMVO_SITE_CONFIG.tmp" "$NEMVO_SITE_CONFIG"
}
f2b_keep_config
# The throttle's record of this test's own, so that its refusals reach no
# other test; the throttle as shipped otherwise (3 refusals, then throttled),
# but for its waits for others' refusals, which depend on what the database
# server counted for the tests before.
site_config "LoginStateFile=$f2b_work/logins"$'\n'"LoginServerGuard=0"$'\n'

machine_socket=/var/run/fail2ban/fail2ban.sock
machine_socket_before=$([ -e "$machine_socket" ] && stat -c %i "$machine_socket" || echo none)
touch "$f2b_work/started"

# --- The test's own fail2ban -----------------------------------------------------

conf=$f2b_work/conf
log=$f2b_work/error.log
record=$f2b_work/bans
sock=$f2b_work/f2b.sock
pidfile=$f2b_work/f2b.pid
mkdir -p "$conf/filter.d" "$conf/jail.d" "$conf/action.d"
cp "$f2b_filter" "$conf/filter.d/nemvoweb.conf"
cp "$f2b_jails" "$conf/jail.d/nemvoweb.conf"
cat >"$conf/fail2ban.conf" <<EOF
[Definition]
loglevel = INFO
logtarget = $f2b_work/fail2ban.log
socket = $sock
pidfile = $pidfile
dbfile = :memory:
syslogsocket = auto
allowipv6 = auto
EOF
cat >"$conf/action.d/nemvo-test-record.conf" <<'EOF'
[Definition]
actionstart =
actionstop =
actioncheck =
actionban = echo "ban <ip>" >> <record>
actionunban = echo "unban <ip>" >> <record>
EOF
printf '[DEFAULT]\nbanaction = nemvo-test-record\n' >"$conf/jail.conf"
# Enabling the jail is one line; the rest points it at the test's log and
# action, and reads the log by polling (the same wherever the test runs).
cat >"$conf/jail.local" <<EOF
[nemvoweb-apache]
enabled = true
logpath = $log
backend = polling
action = nemvo-test-record[record="$record"]
EOF
: >"$log"
: >"$record"
maxretry=$(awk '/^\[nemvoweb-apache\]$/ { on = 1; next } /^\[/ { on = 0 } on && /^maxretry/ { print $3 }' "$f2b_jails")

client() { fail2ban-client -c "$conf" -s "$sock" -p "$pidfile" "$@" 2>>"$f2b_work/client.err"; }
stop_server() {
  client stop >/dev/null 2>&1
  local pid
  pid=$(cat "$pidfile" 2>/dev/null) || return 0
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
}
f2b_cleanups+=(stop_server)
client -b start >"$f2b_work/start.out" 2>&1
for _ in $(seq 100); do client status nemvoweb-apache >/dev/null 2>&1 && break; sleep 0.1; done
check "fail2ban started with the jail enabled by one line" eval 'client status nemvoweb-apache >/dev/null'
# Polling starts at the log's end only once it has looked at the file.
sleep 1.5

# --- Logins, the program run as CGI with the web server's variables ---------------

# cgi ADDRESS USER PASSWORD: one login; its standard error (the login line)
# goes to the log as a CGI program's does under Apache's mod_cgid.
cgi() {
  local body
  body="u=$2&p=$3"
  printf '%s' "$body" | env -i GATEWAY_INTERFACE=CGI/1.1 REQUEST_METHOD=POST CONTENT_LENGTH=${#body} \
    CONTENT_TYPE=application/x-www-form-urlencoded PATH_INFO=/main SCRIPT_NAME=/cgi-bin/nemvoweb \
    SERVER_PROTOCOL=HTTP/1.1 REMOTE_ADDR="$1" "$NEMVO_SITE_PROGRAM" >/dev/null 2>>"$log"
}
banned=192.0.2.10 fewer=192.0.2.20 right=192.0.2.30
for _ in 1 2 3; do cgi "$right" "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"; done
for _ in $(seq $((maxretry - 1))); do cgi "$fewer" "$NEMVO_TEST_USER" not-the-password; done
for _ in $(seq "$maxretry"); do cgi "$banned" "$NEMVO_TEST_USER" not-the-password; done
echo "     log:"; sed 's/^/       /' "$log"
check "the log holds the program's lines: 3 accepted, $((2 * maxretry - 1)) refused or throttled" \
  eval '[ "$(grep -c "^nemvoweb: login accepted client=$right " "$log")" = 3 ] &&
        [ "$(grep -cE "^nemvoweb: login (refused|throttled) client=192\.0\.2\.[12]0 " "$log")" = $((2 * maxretry - 1)) ]'

for _ in $(seq 100); do grep -q "^ban $banned$" "$record" && break; sleep 0.1; done
check "$banned, $maxretry logins refused: banned within 10 s" grep -qx "ban $banned" "$record"
sleep 2
check "$fewer ($((maxretry - 1)) refused) and $right (accepted) not banned" \
  [ "$(grep -c '^ban ' "$record")" = 1 ]
check "fail2ban's own list names $banned alone" \
  eval 'client status nemvoweb-apache | grep -q "Banned IP list:[[:space:]]*$banned[[:space:]]*$"'
client stop >/dev/null 2>&1
for _ in $(seq 50); do [ -e "$sock" ] || break; sleep 0.1; done
check "stopping the server lifts the ban" grep -qx "unban $banned" "$record"
check "the server is gone, its socket with it" [ ! -e "$sock" ]

check "the machine's fail2ban socket untouched" \
  [ "$([ -e "$machine_socket" ] && stat -c %i "$machine_socket" || echo none)" = "$machine_socket_before" ]
check "no file under /etc/fail2ban written" [ -z "$(find /etc/fail2ban -newer "$f2b_work/started" 2>/dev/null)" ]
[ "$failed" -eq 0 ] || { echo "     fail2ban's log:"; sed 's/^/       /' "$f2b_work/fail2ban.log"; }

finish
