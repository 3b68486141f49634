#!/usr/bin/env bash
# The site through one web server (lighttpd, apache or nginx: the argument),
# as an HTTP client sees it: the login page and, with lighttpd, the images,
# then the program at /cgi-bin/nemvoweb/main with right and wrong logins, bad form
# bodies, other methods and other paths; the status line and headers of every
# answer, the security headers of the login page and of the program's and the
# server's answers on its path; bodies at and above the server's limit; and afterwards no
# attachment and no CGI process left behind.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
site_server=${1:-lighttpd}
# shellcheck source=site_lib.sh
source "$here/site_lib.sh"

write_config
attachments_before=$(attachments)
errlog_lines=$(log_lines)
expected_main_page > "$work/main.expected"

# What a client sees of each server around the program's answer: the headers
# it may show (any other, a Status line above all, is a fault; the security
# headers are checked on their own), and how the body's end is marked. The program's own headers are Content-Type,
# Content-Length and an empty "Content:", which lighttpd drops; Apache drops
# the program's length and sends the body chunked, or with a length of its own
# when the program has ended by then; it names Content-Length in Vary for the
# body limit's test of it.
# Through FastCGI (the pool, or lighttpd starting the program itself) each
# server shows the same as with the program run as CGI.
case $site_server in
  lighttpd | lighttpd-fastcgi | lighttpd-spawn)
    answer_headers="Accept-Ranges Content-Length Content-Type Date Server"; framing=length; server_tag=lighttpd ;;
  apache | apache-fastcgi)
    answer_headers="Content Content-Length Content-Type Date Server Transfer-Encoding Vary"; framing=either; server_tag=Apache/ ;;
  nginx | nginx-fastcgi)
    answer_headers="Connection Content Content-Length Content-Type Date Server"; framing=length; server_tag=nginx/ ;;
esac
# Whether the server starts a process of the program for each request.
case $site_server in *-fastcgi | *-spawn) per_request_process=false ;; *) per_request_process=true ;; esac

# --- The login page ------------------------------------------------------------
# Every server serves the same one, with the security headers of its own.
for path in / /index.html; do
  request login "$site_url$path"
  check "login page $path: 200, the site's own file" eval '[ "$status" = 200 ] && cmp -s "$work/login.body" "$root/site/htdocs/index.html"'
  check "login page $path: the security headers, cacheable" security_headers login login
done

# --- What lighttpd serves itself ---------------------------------------------
if [ "$site_server" = lighttpd ]; then

request login "$site_url/"
check "login page: ISO-8859-1 HTML" [ "$(header login Content-Type)" = "text/html; charset=iso-8859-1" ]
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
fi

# --- The program --------------------------------------------------------------

# The answer to every request the login action handles: status 200, the
# program's content type, the server's headers, a length that matches (or a
# chunked body), well-formed header lines.
well_formed() {
  local n=$1 size name
  size=$(stat -c %s "$work/$n.body")
  [ "$status" = 200 ] || return 1
  [ "$(head -n1 "$work/$n.head")" = "HTTP/1.1 200 OK" ] || return 1
  [ "$(header "$n" Content-Type)" = "text/html" ] || return 1
  [[ $(header "$n" Server) == "$server_tag"* ]] || return 1
  for name in $(sed '1d;/^$/d;s/:.*//' "$work/$n.head"); do
    [[ " $answer_headers $security_header_names " == *" $name "* ]] ||
      { echo "     unexpected header: $name" >&2; return 1; }
  done
  security_headers "$n" program || { echo "     security headers missing or wrong" >&2; return 1; }
  case $framing in
    length) [ "$(header "$n" Content-Length)" = "$size" ] || return 1 ;;
    either) [ "$(header "$n" Content-Length)" = "$size" ] ||
            [ "$(header "$n" Transfer-Encoding)/$(header "$n" Content-Length)" = "chunked/" ] || return 1 ;;
  esac
  # Every header is "Name: value" (the program's empty "Content:" aside).
  sed '1d;/^$/d;/^Content: \{0,1\}$/d' "$work/$n.head" | grep -qvE '^[A-Za-z0-9-]+: .+$' && return 1
  return 0
}
is_main() { well_formed "$1" && cmp -s "$work/$1.body" "$work/main.expected"; }
is_rejected() {
  well_formed "$1" && expected_message_page "$rejected_text" > "$work/$1.expected" &&
    cmp -s "$work/$1.body" "$work/$1.expected"
}
# A message page whose message is not the rejection (and, with $2, starts so).
# is_message NAME TEXT: a well-formed message page showing exactly TEXT (as
# the page shows it, markup characters escaped).
is_message() {
  local msg
  [ $# -eq 2 ] || { echo "is_message needs the expected text" >&2; return 1; }
  well_formed "$1" || return 1
  msg=$(message_of "$work/$1.body" && echo .) || return 1
  [ "${msg%.}" = "$2" ]
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
check "malformed %-escape: message page naming it" is_message badescape "Invalid URL encoded character (%zz) at position 3"
post cutescape --data "u=x&p=abc%4"
check "cut-off %-escape: message page naming it" is_message cutescape "Error decoding URL style (%XX) encoded string at position 6"

form longuser "$(printf 'u%.0s' $(seq 40))" "whatever"
check "40-byte user name: refused with its own message" is_message longuser \
  "Valor longo demais para a constante DPB (user_name)"
form longpw "$NEMVO_TEST_USER" "$(printf 'p%.0s' $(seq 300))"
check "300-byte password: refused with its own message" is_message longpw \
  "Valor longo demais para a constante DPB (password)"
form afterlong "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
check "the database server is still up after them" is_main afterlong

# The CGI program writes nothing for a path it has no action for; the server
# then answers with its own error page (fcgiwrap's 502 through nginx). A
# FastCGI worker answers its own 404 instead (Apache's FastCGI proxy would
# pass nothing on as an empty 200), the same through every server. nginx
# sends the path without a slash to the one with it, where its location is.
# The answers on the program's path carry the program's security headers
# too; Apache's FastCGI location ends with a slash, so the path without one
# is outside it (its 404 carries none).
while read -r server path want headers; do
  [ "$server" = "$site_server" ] || continue
  request other --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" "$site_url$path"
  check "other path $path: $site_server's $want, no page of the program's" \
    eval '[ "$status" = "$want" ] && ! grep -q "Painel\|Voltar" "$work/other.body" &&
          [[ $(header other Server) == "$server_tag"* ]]'
  [ "$headers" = none ] || check "other path $path: the program's security headers" security_headers other program
done <<'TABLE'
lighttpd /cgi-bin/nemvoweb/other 500 program
lighttpd /cgi-bin/nemvoweb 500 program
lighttpd /cgi-bin/nemvoweb/ 500 program
apache   /cgi-bin/nemvoweb/other 500 program
apache   /cgi-bin/nemvoweb 500 program
apache   /cgi-bin/nemvoweb/ 500 program
nginx    /cgi-bin/nemvoweb/other 502 program
nginx    /cgi-bin/nemvoweb 301 program
nginx    /cgi-bin/nemvoweb/ 502 program
nginx-fastcgi    /cgi-bin/nemvoweb/other 404 program
nginx-fastcgi    /cgi-bin/nemvoweb 301 program
nginx-fastcgi    /cgi-bin/nemvoweb/ 404 program
apache-fastcgi   /cgi-bin/nemvoweb/other 404 program
apache-fastcgi   /cgi-bin/nemvoweb 404 none
apache-fastcgi   /cgi-bin/nemvoweb/ 404 program
lighttpd-fastcgi /cgi-bin/nemvoweb/other 404 program
lighttpd-fastcgi /cgi-bin/nemvoweb 404 program
lighttpd-fastcgi /cgi-bin/nemvoweb/ 404 program
lighttpd-spawn   /cgi-bin/nemvoweb/other 404 program
lighttpd-spawn   /cgi-bin/nemvoweb 404 program
lighttpd-spawn   /cgi-bin/nemvoweb/ 404 program
TABLE

# A database name that names no database on the server: its error text.
write_config "${NEMVO_TEST_DB%:*}:/nonexistent/nemvo-site-test.fdb"
form nodb "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
write_config
check "wrong DBSuporte: message page with the database's error text" is_message nodb \
  "I/O error during &quot;open&quot; operation for file &quot;/nonexistent/nemvo-site-test.fdb&quot;"$'\r\n'"Error while trying to open file"$'\r\n'"No such file or directory"

# --- A database server that accepts and never answers ----------------------------
# The login answers within its bound (LoginTimeout, 2 s here) with the client
# library's error text, instead of the client library's three minutes, and the
# program gives the attempt up (nothing is left behind: see the end).
"$NEMVO_SITE_SILENT_SERVER" > "$work/silent.port" &
silent_pid=$!
for _ in $(seq 50); do [ -s "$work/silent.port" ] && break; sleep 0.1; done
write_config "127.0.0.1/$(cat "$work/silent.port"):/nemvo/silent.fdb" "LoginTimeout=2"$'\n'
silent_start=$(date +%s%N)
form silent "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
silent_ms=$((($(date +%s%N) - silent_start) / 1000000))
write_config
kill "$silent_pid" 2>/dev/null
wait "$silent_pid" 2>/dev/null
check "silent database server: message page with the client library's text" is_message silent \
  "connection rejected by remote interface"
echo "     answered in $silent_ms ms"
check "silent database server: answered after the 2 s bound, well before 10 s" \
  [ "$silent_ms" -ge 1500 -a "$silent_ms" -lt 10000 ]

# --- Request bodies at and above the limit ----------------------------------------

# A right login padded to SIZE bytes of body.
padded_login() {
  local size=$1 head
  head="u=$NEMVO_TEST_USER&p=$NEMVO_TEST_PASSWORD&pad="
  { printf '%s' "$head"; head -c $((size - ${#head})) /dev/zero | tr '\0' x; } >"$work/padded.$size"
}


$per_request_process && ! command -v inotifywait >/dev/null && fail "inotifywait is missing: run scripts/install-deps.sh"
padded_login 65536
request atlimit --data-binary "@$work/padded.65536" "$main_url"
check "a 64 KiB body, the limit: reaches the program (main page)" is_main atlimit

# A FastCGI program runs already, so for it only the server's answer shows
# that the body was refused; a CGI program must not even be started.
watch() { if $per_request_process; then watch_program; fi; }
unwatch() { if $per_request_process; then unwatch_program; fi; }
check_not_started() { if $per_request_process; then check "$1: the program is not started" program_not_opened; fi; }
for size in 65537 1048576; do
  padded_login "$size"
  watch
  request big --data-binary "@$work/padded.$size" "$main_url"
  check "a $size-byte body: $site_server's 413" eval '[ "$status" = 413 ] && ! grep -q "Painel" "$work/big.body"'
  # lighttpd refuses a declared length before any module sees the request,
  # mod_setenv included.
  [[ $site_server == lighttpd* ]] ||
    check "a $size-byte body: the 413 carries the program's security headers" security_headers big program
  check_not_started "a $size-byte body"
  unwatch
done
# A body without a declared length: the other servers read it and refuse it
# at the limit; Apache would start the program and cut the body there, so
# its configuration refuses any body sent without a length (411: browsers
# always declare one), before the program runs.
chunked_status=413
[[ $site_server != apache* ]] || chunked_status=411
padded_login 102400
for size in 1048576 102400; do
  watch
  request chunked -H "Transfer-Encoding: chunked" --data-binary "@$work/padded.$size" "$main_url"
  check "a chunked $size-byte body: $site_server's $chunked_status" \
    eval '[ "$status" = "$chunked_status" ] && ! grep -q "Painel" "$work/chunked.body"'
  check "a chunked $size-byte body: the $chunked_status carries the program's security headers" \
    security_headers chunked program
  check_not_started "a chunked $size-byte body"
  unwatch
done
watch
request small --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" "$main_url"
check "a right login after them: main page" is_main small
if $per_request_process; then check "the watch sees the program start for a right login" program_opened; fi
unwatch

# --- Nothing left behind --------------------------------------------------------

check "no CGI process left running" [ -z "$(cgi_children_settled)" ]
check "attachments back to $attachments_before" [ "$(attachments_settle "$attachments_before")" -le "$attachments_before" ]
log_added "$errlog_lines" >"$work/errlog.added"
check "no sanitizer report in the server's error log" bash -c "! grep -q 'Sanitizer' '$work/errlog.added'"

finish
