#!/usr/bin/env bash
# The shipped fail2ban filter on the logs the site tests' web servers really
# write: logins through one server (right, wrong, erroring, and throttled
# after three refusals), then fail2ban-regex over the lines the server added
# to its log, read with the date pattern of the server's jail. Every refused
# and throttled login is counted, no accepted or erroring one, and the
# address is the client's (127.0.0.1 here) even when the user name and the
# Referer hold another.
#
#   fail2ban_site_logs_test.sh lighttpd|apache|nginx|nginx-fastcgi|apache-fastcgi|lighttpd-fastcgi
#   fail2ban_site_logs_test.sh cgi
#
# lighttpd writes a CGI program's standard error to its breakage log only,
# which the site fixture's lighttpd has not: "lighttpd" starts one of the
# test's own on the site's run directory, with the site's configuration and
# a breakage log. The others are the site fixtures' servers. "cgi" runs the
# program as CGI itself with other client addresses (IPv6 among them): its
# lines as Apache's mod_cgid and lighttpd's breakage log hold them, and as
# journalctl -o short shows the journal of a service that writes them.
#
# Takes the configuration lock: the test's configuration gives the throttle
# a record of its own, and the site tests' configuration is restored after.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=fail2ban_lib.sh
source "$here/fail2ban_lib.sh"
: "${NEMVO_SITE_RUN:?}" "${NEMVO_SITE_PROGRAM:?}" "${NEMVO_SITE_CONFIG:?}" "${NEMVO_SITE_TEMPLATE:?}"
: "${NEMVO_TEST_DB:?}" "${NEMVO_TEST_USER:?}" "${NEMVO_TEST_PASSWORD:?}"
source "$f2b_root/scripts/web-servers.sh"
server=${1:?usage: $0 SERVER|cgi}
run=$NEMVO_SITE_RUN

# The test's configuration: the site tests' with further lines (theirs comes
# back when the test ends).
site_config() {
  printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\n%s' "${2:-$NEMVO_TEST_DB}" "$NEMVO_SITE_TEMPLATE" "${1:-}" \
    >"$NEMVO_SITE_CONFIG.tmp"
  chmod 0644 "$NEMVO_SITE_CONFIG.tmp"
  mv "$NEMVO_SITE_CONFIG.tmp" "$NEMVO_SITE_CONFIG"
}
f2b_keep_config
# The throttle's record of this test's own (the web servers' account writes
# it), so that the refusals from 127.0.0.1 reach no other test; refusals
# before throttling as shipped, and a back-off long enough for the test. The
# waits for others' refusals (LoginServerGuard) are off: which of them come
# depends on what the database server counted for the tests before.
chmod 0755 "$f2b_work"
mkdir -p "$f2b_work/state"
ws_is_root && chown "$(ws_user):" "$f2b_work/state"
state=$f2b_work/state/logins
test_config="LoginFailures=3"$'\n'"LoginBackoff=120"$'\n'"LoginServerGuard=0"$'\n'"LoginStateFile=$state"$'\n'
unreachable_db=127.0.0.1/1:/nemvo/none.fdb

# The login lines in FILE, by outcome and client.
lines_of() { grep -c "nemvoweb: login $1 client=$2 " "$3"; }

# check_matches LOG JAIL|short EXPECTED...: fail2ban counts exactly the
# EXPECTED addresses (in order, one per line it counts), and takes each from
# its own line's client= field.
check_matches() {
  local log=$1 how=$2; shift 2
  local matched=$f2b_work/matched.$how got want ip line bad=0
  if [ "$how" = short ]; then f2b_matches "$log" short >"$matched"; else f2b_matches "$log" file "$how" >"$matched"; fi
  got=$(cut -f1 "$matched" | paste -sd' ')
  want="$*"
  check "$how: fail2ban counts the refused and throttled logins: $want" [ "$got" = "$want" ]
  [ "$got" = "$want" ] || sed 's/^/       matched: /' "$matched"
  while IFS=$'\t' read -r ip line; do
    [ "$(client_of "$line")" = "$ip" ] || { bad=1; echo "       not its client= field: $ip in $line"; }
    [[ $line =~ nemvoweb:\ login\ (refused|throttled)\  ]] || { bad=1; echo "       not a refused or throttled line: $line"; }
  done <"$matched"
  check "$how: each address from its own line's client= field" [ "$bad" = 0 ]
}

# --- The program as CGI, directly --------------------------------------------------

if [ "$server" = cgi ]; then
  cgi() {  # ADDRESS|- USER PASSWORD
    local body="u=$2&p=$3" addr=()
    [ "$1" = - ] || addr=(REMOTE_ADDR="$1")
    printf '%s' "$body" | env -i GATEWAY_INTERFACE=CGI/1.1 REQUEST_METHOD=POST CONTENT_LENGTH=${#body} \
      CONTENT_TYPE=application/x-www-form-urlencoded PATH_INFO=/main SCRIPT_NAME=/cgi-bin/nemvoweb \
      SERVER_PROTOCOL=HTTP/1.1 "${addr[@]}" "$NEMVO_SITE_PROGRAM" >/dev/null 2>>"$f2b_work/cgi.log"
  }
  site_config "${test_config/$state/$f2b_work/logins-cgi}"
  log=$f2b_work/cgi.log
  cgi 192.0.2.41 "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
  cgi 192.0.2.42 "a client=203.0.113.50 user=b" wrong
  cgi 2001:db8::43 "$NEMVO_TEST_USER" wrong
  cgi ::ffff:192.0.2.44 "$NEMVO_TEST_USER" wrong
  cgi - "$NEMVO_TEST_USER" wrong
  for _ in 1 2 3 4; do cgi 192.0.2.45 "$NEMVO_TEST_USER" wrong; done
  site_config "${test_config/$state/$f2b_work/logins-cgi}" "$unreachable_db"
  cgi 192.0.2.46 "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
  site_config
  sed 's/^/     /' "$log"
  check "the program wrote one line per login: 1 accepted, 1 error, 7 refused, 1 throttled" \
    eval '[ "$(lines_of accepted 192.0.2.41 "$log")/$(lines_of error 192.0.2.46 "$log")" = 1/1 ] &&
          [ "$(grep -c "nemvoweb: login refused " "$log")/$(lines_of throttled 192.0.2.45 "$log")" = 7/1 ]'
  expected="192.0.2.42 2001:db8::43 192.0.2.44 192.0.2.45 192.0.2.45 192.0.2.45 192.0.2.45"
  check_matches "$log" nemvoweb-apache $expected
  check_matches "$log" nemvoweb-lighttpd $expected
  # The same lines as journalctl -o short shows a service's standard error.
  awk '{ printf "Dec 11 01:02:%02d web1 nemvoweb[%d]: %s\n", NR, 800 + NR, $0 }' "$log" >"$f2b_work/journal.txt"
  check_matches "$f2b_work/journal.txt" short $expected
  finish
  exit
fi

# --- Through a web server ----------------------------------------------------------------

case $server in
  lighttpd)
    # The site's lighttpd configuration (with its breakage log), on the site's files.
    dir=$f2b_work/lighttpd
    mkdir -p "$dir"
    ln -s "$run/htdocs" "$dir/htdocs"
    ln -s "$run/cgi-bin" "$dir/cgi-bin"
    printf 'include "%s"\n' "$f2b_root/site/lighttpd.conf" >"$dir/site.conf"
    f2b_cleanups+=("ws_stop lighttpd '$dir'")
    port=$(ws_free_port) && echo "$port" >"$dir/port" && ws_start lighttpd "$dir" "$port" "$dir/site.conf" || { fail "lighttpd did not start"; finish; exit; }
    logs=("$dir/log/breakage.log" "$dir/log/error.log") jail=nemvoweb-lighttpd ;;
  apache | apache-fastcgi) dir=$run/$server logs=("$dir/log/error.log") jail=nemvoweb-apache ;;
  nginx | nginx-fastcgi) dir=$run/$server logs=("$dir/log/error.log") jail=nemvoweb-nginx ;;
  lighttpd-fastcgi) dir=$run/$server logs=("$dir/log/error.log") jail=nemvoweb-lighttpd ;;
  *) echo "unknown server $server" >&2; exit 2 ;;
esac
url=http://127.0.0.1:$(cat "$dir/port")/cgi-bin/nemvoweb/main
before=()
for f in "${logs[@]}"; do before+=("$(wc -l <"$f" 2>/dev/null || echo 0)"); done

login() {  # USER PASSWORD [CURL-ARGS]: prints the status
  local u=$1 p=$2; shift 2
  curl -s --max-time 30 -o /dev/null -w '%{http_code}' --data-urlencode "u=$u" --data-urlencode "p=$p" "$@" "$url"
}
site_config "$test_config"
statuses=$(login "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD")
site_config "$test_config" "$unreachable_db"
statuses+=" $(login "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD")"
site_config "$test_config"
statuses+=" $(login "x client=203.0.113.60 user=y" wrong -H 'Referer: http://x/ nemvoweb: login refused client=203.0.113.61 user=a path=/main')"
statuses+=" $(login "$NEMVO_TEST_USER" wrong)"
statuses+=" $(login "$NEMVO_TEST_USER" wrong)"
statuses+=" $(login "$NEMVO_TEST_USER" wrong)"
statuses+=" $(login "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD")"
site_config
check "$server: accepted, error, refused three times, then throttled (429) twice: $statuses" \
  [ "$statuses" = "200 200 200 200 200 429 429" ]
sleep 0.5

log=$f2b_work/$server.log
i=0
for f in "${logs[@]}"; do tail -n +$((${before[$i]} + 1)) "$f" 2>/dev/null; i=$((i + 1)); done >"$log"
echo "     the lines $server added to ${logs[*]}:"
sed 's/^/       /' "$log"
check "$server: its log holds the program's lines: 1 accepted, 1 error, 3 refused, 2 throttled" \
  eval '[ "$(lines_of accepted 127.0.0.1 "$log")/$(lines_of error 127.0.0.1 "$log")/$(lines_of refused 127.0.0.1 "$log")/$(lines_of throttled 127.0.0.1 "$log")" = 1/1/3/2 ]'
check_matches "$log" "$jail" 127.0.0.1 127.0.0.1 127.0.0.1 127.0.0.1 127.0.0.1
check "the throttle kept its record where the test's configuration put it" [ -e "$state" ]

finish
