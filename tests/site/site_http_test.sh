#!/usr/bin/env bash
# The site through lighttpd, as an HTTP client sees it: the login page and
# images, then the program at /cgi-bin/nemvoweb/main with right and wrong
# logins, bad form bodies, other methods and other paths; the status line and
# headers of every answer; and afterwards no attachment and no CGI process
# left behind.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=site_lib.sh
source "$here/site_lib.sh"

write_config
attachments_before=$(attachments)
errlog_lines=$(wc -l < "$NEMVO_SITE_RUN/log/error.log")
expected_main_page > "$work/main.expected"

# --- What lighttpd serves itself ---------------------------------------------

request login "$site_url/"
check "login page: 200" [ "$status" = 200 ]
check "login page: ISO-8859-1 HTML" [ "$(header login Content-Type)" = "text/html; charset=iso-8859-1" ]
check "login page: the site's own file" cmp -s "$work/login.body" "$root/site/htdocs/index.html"
check "login page: form posts u and p to the program" \
  grep -q 'method="post" action="/cgi-bin/nemvoweb/main"' "$work/login.body"

png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }'; }
for icon in warning info stop question; do
  request "$icon" "$site_url/nemvoweb_images/$icon.png"
  check "$icon.png: 200 image/png" [ "$status/$(header "$icon" Content-Type)" = "200/image/png" ]
  check "$icon.png: 128x128" [ "$(png_size "$work/$icon.body")" = "128x128" ]
done
request favicon "$site_url/nemvoweb_images/favicon.ico"
check "favicon.ico: 200 image/x-icon" [ "$status/$(header favicon Content-Type)" = "200/image/x-icon" ]
check "favicon.ico: an icon file" [ "$(od -An -tx1 -N4 "$work/favicon.body" | tr -d ' ')" = "00000100" ]
request conf "$site_url/../lighttpd.conf"
check "nothing outside htdocs is served" [ "$status" != 200 ]

# --- The program --------------------------------------------------------------

# The answer to every request the login action handles: status 200, the
# program's content type, a length that matches, well-formed header lines.
well_formed() {
  local n=$1 size
  size=$(stat -c %s "$work/$n.body")
  [ "$status" = 200 ] || return 1
  [ "$(head -n1 "$work/$n.head")" = "HTTP/1.1 200 OK" ] || return 1
  [ "$(header "$n" Content-Type)" = "text/html" ] || return 1
  [ "$(header "$n" Content-Length)" = "$size" ] || return 1
  # No CGI header line leaks through, and every header is "Name: value".
  grep -qi '^Status:' "$work/$n.head" && return 1
  sed '1d;/^$/d' "$work/$n.head" | grep -qvE '^[A-Za-z0-9-]+: .+$' && return 1
  return 0
}
is_main() { well_formed "$1" && cmp -s "$work/$1.body" "$work/main.expected"; }
is_rejected() {
  well_formed "$1" && expected_message_page "$rejected_text" > "$work/$1.expected" &&
    cmp -s "$work/$1.body" "$work/$1.expected"
}
# A message page whose message is not the rejection (and, with $2, starts so).
is_message() {
  local msg
  well_formed "$1" || return 1
  msg=$(message_of "$work/$1.body") || return 1
  [ -n "$msg" ] && [ "$msg" != "$rejected_text" ] && [[ $msg == "${2:-}"* ]]
}

post() { local n=$1; shift; request "$n" -X "${method:-POST}" "$@" "$main_url"; }
form() { local n=$1 u=$2 p=$3; shift 3; post "$n" --data-urlencode "u=$u" --data-urlencode "p=$p" "$@"; }

form right "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
check "right login: the template's expansion, byte for byte" is_main right
check "right login: no transparent tag reaches the client" bash -c "! grep -q '<#' '$work/right.body'"

form right2 "$NEMVO_SITE_USER2" "$NEMVO_SITE_PASSWORD2"
check "right login, password holding = & and a blank: main page" is_main right2

form wrongpw "$NEMVO_TEST_USER" "not-the-password"
check "wrong password: rejection message page, byte for byte" is_rejected wrongpw

form nouser "nemvo_nobody_$$" "whatever"
check "unknown user: rejection message page, byte for byte" is_rejected nouser

method=DELETE form delete "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
check "DELETE with the form body: main page (any method)" is_main delete
method=PUT form put "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
check "PUT with the form body: main page (any method)" is_main put

request query -G --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" "$main_url"
check "credentials only in the query string are not seen: a message page" \
  bash -c "! cmp -s '$work/query.body' '$work/main.expected'"
check "credentials only in the query string: well-formed message page" \
  eval 'well_formed query && message_of "$work/query.body" >/dev/null'

post empty --data ""
check "empty body: a message page" eval 'well_formed empty && message_of "$work/empty.body" >/dev/null'

post badescape --data "u=%zz&p=x"
check "malformed %-escape: message page naming it" is_message badescape "Invalid URL encoded character"
post cutescape --data "u=x&p=abc%4"
check "cut-off %-escape: message page naming it" is_message cutescape "Error decoding URL style"

form longuser "$(printf 'u%.0s' $(seq 40))" "whatever"
check "40-byte user name: refused with its own message" is_message longuser
form longpw "$NEMVO_TEST_USER" "$(printf 'p%.0s' $(seq 300))"
check "300-byte password: refused with its own message" is_message longpw
form afterlong "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
check "the database server is still up after them" is_main afterlong

# The program writes nothing for a path it has no action for; lighttpd then
# answers with its own error page.
for path in /cgi-bin/nemvoweb/other /cgi-bin/nemvoweb /cgi-bin/nemvoweb/; do
  request other --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" "$site_url$path"
  check "other path $path: no answer from the program (lighttpd's 500)" \
    eval '[ "$status" = 500 ] && ! grep -q "Painel" "$work/other.body"'
done

# A database name that names no database on the server: its error text.
write_config "${NEMVO_TEST_DB%:*}:/nonexistent/nemvo-site-test.fdb"
form nodb "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
write_config
check "wrong DBSuporte: message page with the database's error text" is_message nodb

# --- Nothing left behind --------------------------------------------------------

check "no CGI process left running" [ -z "$(cgi_children_settled)" ]
check "attachments back to $attachments_before" [ "$(attachments_settle "$attachments_before")" -le "$attachments_before" ]
check "no sanitizer report in the server's error log" \
  bash -c "! tail -n +$((errlog_lines + 1)) '$NEMVO_SITE_RUN/log/error.log' | grep -q 'Sanitizer'"

finish
