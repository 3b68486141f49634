# Shared by the site tests (sourced, not run). They talk to the program only
# through a web server that site_fixture.sh started, and compare what a client
# receives byte for byte with what the site must answer.
#
# site_server, set before sourcing: the server to talk to, lighttpd (the
# default), apache or nginx (with fcgiwrap) running the program as CGI, or
# nginx-fastcgi, apache-fastcgi or lighttpd-fastcgi passing requests to the
# program's FastCGI pool, or lighttpd-spawn (lighttpd starting the program
# as FastCGI itself).
#
# Environment (set by tests/site/CMakeLists.txt):
#   NEMVO_SITE_RUN            run directory of the fixture (holds "port")
#   NEMVO_SITE_CONFIG         the configuration file the program under test reads
#   NEMVO_SITE_TEMPLATE       the main-page template named there as MainHTML
#   NEMVO_SITE_PUBLIC         the program's public web server address
#   NEMVO_SITE_EXPECTED_PAGE  the expected-pages tool (tests/site/ExpectedPage.cpp)
#   NEMVO_TEST_USER, NEMVO_TEST_PASSWORD, NEMVO_TEST_DB, NEMVO_TEST_DB_PATH,
#   NEMVO_FIREBIRD_SCRIPT     the Firebird test fixture's server, user and database
#   NEMVO_SITE_USER2, NEMVO_SITE_PASSWORD2
#                             a second user whose password holds "=", "&" and a blank

: "${NEMVO_SITE_RUN:?}" "${NEMVO_SITE_CONFIG:?}" "${NEMVO_SITE_TEMPLATE:?}" "${NEMVO_SITE_PUBLIC:?}" "${NEMVO_SITE_EXPECTED_PAGE:?}"
: "${NEMVO_TEST_USER:?}" "${NEMVO_TEST_PASSWORD:?}" "${NEMVO_TEST_DB:?}" "${NEMVO_FIREBIRD_SCRIPT:?}"

site_server=${site_server:-lighttpd}
site_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../scripts/web-servers.sh
source "$site_root/scripts/web-servers.sh"
# The server's own directory (pid file, logs, port) and error logs.
case $site_server in
  lighttpd) server_dir=$NEMVO_SITE_RUN; server_logs=("$server_dir/log/error.log" "$server_dir/log/breakage.log") ;;
  apache) server_dir=$NEMVO_SITE_RUN/apache; server_logs=("$server_dir/log/error.log") ;;
  nginx) server_dir=$NEMVO_SITE_RUN/nginx
         server_logs=("$server_dir/log/error.log" "$NEMVO_SITE_RUN/fcgiwrap/log/fcgiwrap.log") ;;
  nginx-fastcgi | apache-fastcgi | lighttpd-fastcgi)
    server_dir=$NEMVO_SITE_RUN/$site_server
    server_logs=("$server_dir/log/error.log" "$NEMVO_SITE_RUN/pool/pool.log") ;;
  lighttpd-spawn) server_dir=$NEMVO_SITE_RUN/$site_server; server_logs=("$server_dir/log/error.log") ;;
  *) echo "site tests: unknown server $site_server" >&2; exit 2 ;;
esac
site_port=$(cat "$server_dir/port")
site_url="http://127.0.0.1:$site_port"
main_url="$site_url/cgi-bin/nemvoweb/main"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The security headers every deployment sets: on the login page, and on the
# program's answers (which are never stored). The login page's policy admits
# its one style block by its hash, so the hash follows the page.
login_style_hash() {
  printf "sha256-%s" "$(perl -0777 -ne 'print $1 if /<style>(.*?)<\/style>/s' "$site_root/site/htdocs/index.html" |
    openssl dgst -sha256 -binary | base64)"
}
login_csp="default-src 'none'; img-src 'self'; style-src '$(login_style_hash)'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"
program_csp="default-src 'none'; img-src $NEMVO_SITE_PUBLIC/nemvoweb_images/; style-src 'unsafe-inline'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"
security_header_names="Content-Security-Policy X-Frame-Options X-Content-Type-Options Referrer-Policy Cache-Control"
# security_headers NAME login|program: the answer in NAME carries them, each once.
security_headers() {
  local n=$1 csp=$login_csp store=""
  [ "$2" = program ] && csp=$program_csp store=no-store
  [ "$(grep -ci '^Content-Security-Policy:' "$work/$n.head")" = 1 ] || return 1
  [ "$(header "$n" Content-Security-Policy)" = "$csp" ] &&
    [ "$(header "$n" X-Frame-Options)" = DENY ] &&
    [ "$(header "$n" X-Content-Type-Options)" = nosniff ] &&
    [ "$(header "$n" Referrer-Policy)" = no-referrer ] &&
    [ "$(header "$n" Cache-Control)" = "$store" ]
}

# The texts of the site, as the bytes the program writes (ISO-8859-1).
rejected_text=$'Usu\xe1rio/Senha inv\xe1lidos'

# The configuration every site test runs with; written before each test, since
# other program tests may rewrite the same file between them. The tests make
# many refused logins from 127.0.0.1 in a row: the program's own throttle of
# refused logins is off.
write_config() {  # [DBSUPORTE [FURTHER LINES]]
  mkdir -p "$(dirname "$NEMVO_SITE_CONFIG")"
  printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\nLoginFailures=0\n%s' "${1:-$NEMVO_TEST_DB}" "$NEMVO_SITE_TEMPLATE" "${2:-}" \
    > "$NEMVO_SITE_CONFIG.tmp"
  chmod 0644 "$NEMVO_SITE_CONFIG.tmp"
  mv "$NEMVO_SITE_CONFIG.tmp" "$NEMVO_SITE_CONFIG"
}

# The main page and the message page's fixed text before and after the
# message, as the black-box tests expect them (tests/site/ExpectedPage.cpp).
expected_main_page() { "$NEMVO_SITE_EXPECTED_PAGE" main "$NEMVO_SITE_TEMPLATE"; }
message_head() { "$NEMVO_SITE_EXPECTED_PAGE" message-head; }
message_tail() { "$NEMVO_SITE_EXPECTED_PAGE" message-tail; }
expected_message_page() { message_head; printf '%s' "$1"; message_tail; }

# Prints the message shown by a message page in file $1; fails when the file
# is not exactly such a page.
message_of() {
  local head tail size hsize tsize
  head=$(message_head | od -An -tx1 | tr -d ' \n')
  tail=$(message_tail | od -An -tx1 | tr -d ' \n')
  size=$(stat -c %s "$1"); hsize=$(message_head | wc -c); tsize=$(message_tail | wc -c)
  [ "$size" -ge $((hsize + tsize)) ] || return 1
  [ "$(head -c "$hsize" "$1" | od -An -tx1 | tr -d ' \n')" = "$head" ] || return 1
  [ "$(tail -c "$tsize" "$1" | od -An -tx1 | tr -d ' \n')" = "$tail" ] || return 1
  tail -c +$((hsize + 1)) "$1" | head -c $((size - hsize - tsize))
}

# request NAME CURL-ARGS...: one request; leaves $work/NAME.head (status line
# and headers, CR removed), $work/NAME.body, and sets $status.
request() {
  local name=$1; shift
  status=$(curl -s --max-time 30 -o "$work/$name.body" -D "$work/$name.rawhead" -w '%{http_code}' "$@") || status=000
  tr -d '\r' < "$work/$name.rawhead" > "$work/$name.head" 2>/dev/null || : > "$work/$name.head"
}
header() { sed -n "s/^$2: //Ip" "$work/$1.head" | head -n1; }

# shellcheck source=../support/checks.sh
source "$site_root/tests/support/checks.sh"

attachments() { "$NEMVO_FIREBIRD_SCRIPT" attachments "$NEMVO_TEST_DB_PATH"; }

# The program's processes that the server started and that still run (with
# nginx, fcgiwrap starts them). A FastCGI program's processes serve request
# after request and are meant to keep running: none count.
cgi_children() {
  local pid program p
  case $site_server in *-fastcgi | *-spawn) return 0 ;; esac
  program=$(readlink -f "$NEMVO_SITE_RUN/cgi-bin/nemvoweb")
  if [ "$site_server" = nginx ]; then
    pid=$(ws_pid fcgiwrap "$NEMVO_SITE_RUN/fcgiwrap")
  else
    pid=$(ws_pid "$site_server" "$server_dir")
  fi
  for p in $(ws_descendants "$pid"); do
    [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = "$program" ] && echo "$p"
  done
  return 0
}

# The number of lines in each of the server's error logs, and the lines added
# to them since such a count.
log_lines() { local f; for f in "${server_logs[@]}"; do wc -l <"$f" 2>/dev/null || echo 0; done; }
log_added() {
  local counts=($1) i=0 f
  for f in "${server_logs[@]}"; do
    tail -n +$((${counts[$i]:-0} + 1)) "$f" 2>/dev/null
    i=$((i + 1))
  done
}

# The CGI processes still running after up to $1 seconds (default 10). The
# program ends its standard output before its own shutdown, so the client
# may have its answer while the process is still finishing; only one that
# does not end is left behind.
cgi_children_settled() {
  local left i
  for i in $(seq 1 $((${1:-10} * 10))); do
    left=$(cgi_children)
    [ -z "$left" ] && break
    sleep 0.1
  done
  printf '%s' "$left"
}

# Waits up to $1 seconds for the server to close the attachments the program
# had open; prints the final count.
attachments_settle() {
  local want=$1 n i
  for i in $(seq 1 50); do
    n=$(attachments)
    [ "$n" -le "$want" ] && break
    sleep 0.1
  done
  echo "$n"
}

# Whether the server starts the program at all: every start opens the
# program's file (the site's own copy, run by nothing else).
watch_program() {
  # A process of an earlier request may still open the file on its way out
  # (a sanitized program reads its own file).
  cgi_children_settled >/dev/null
  : >"$work/opens"
  inotifywait -m -e open --format x "$NEMVO_SITE_RUN/cgi-bin/nemvoweb" >"$work/opens" 2>"$work/watch.err" &
  watch_pid=$!
  for _ in $(seq 50); do grep -q "Watches established" "$work/watch.err" && break; sleep 0.1; done
}
# After the answer, so that a start the server did not wait for shows too.
program_opened() { sleep 0.3; [ -s "$work/opens" ]; }
program_not_opened() { ! program_opened; }
unwatch_program() { kill "$watch_pid" 2>/dev/null; wait "$watch_pid" 2>/dev/null; }
