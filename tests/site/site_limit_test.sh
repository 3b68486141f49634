#!/usr/bin/env bash
# The README's rate limit of logins through nginx, with the figures it ships
# (site/nginx/nemvoweb-limit.conf: 10 a minute per address, a burst of 5
# answered at once), where the other site tests' servers take many logins a
# second. KIND (the argument) is nginx (the program as CGI through the nginx
# fixture's fcgiwrap) or nginx-fastcgi (the FastCGI pool): an nginx of its own
# with the README's block for KIND. Logins within the limit reach the program;
# those above it get nginx's 429, with the security headers, and a CGI program
# is not even started; after the refill time one more gets through.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
kind=${1:-nginx}
site_server=$kind
# shellcheck source=site_lib.sh
source "$here/site_lib.sh"

write_config
expected_main_page > "$work/main.expected"
attachments_before=$(attachments)

dir=$NEMVO_SITE_RUN/$kind-limit
stop_limited() { ws_stop nginx "$dir"; rm -rf "$work"; }
trap stop_limited EXIT
ws_stop nginx "$dir"
rm -rf "$dir"
mkdir -p "$dir"
for _ in 1 2 3; do
  port=$(ws_free_port) || exit 1
  ws_site_config "$kind" "$NEMVO_SITE_RUN" "$dir" "$port" || exit 1
  NEMVO_SITE_LOGIN_RATE=shipped ws_start nginx "$dir" "$port" "$dir/site.conf" && break
  port=""
done
[ -n "$port" ] || { fail "nginx with the shipped limit started"; finish; exit; }
check "the zone is the README's, unchanged" cmp -s "$dir/nemvoweb-limit.conf" "$root/site/nginx/nemvoweb-limit.conf"
main_url=http://127.0.0.1:$port/cgi-bin/nemvoweb/main

login() { request "$1" --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" "$main_url"; }
is_main() { [ "$status" = 200 ] && cmp -s "$work/$1.body" "$work/main.expected"; }
# nginx's own 429 page, nothing of the program.
is_limited() {
  [ "$status" = 429 ] && grep -q '429 Too Many Requests' "$work/$1.body" && ! grep -q 'Painel\|Voltar' "$work/$1.body" &&
    [ -z "$(header "$1" Retry-After)" ]
}
cgi=false
[ "$kind" = nginx ] && cgi=true

# One request and the burst of five: answered at once, by the program.
passed_in_burst=0
for i in 1 2 3 4 5 6; do
  login "burst$i"
  is_main "burst$i" && passed_in_burst=$((passed_in_burst + 1))
done
check "six logins in a row (one and the burst of five): all reach the program" [ "$passed_in_burst" = 6 ]

# Above the limit: nginx answers, the program is not asked.
$cgi && watch_program
limited=0
for i in 1 2 3 4; do
  login "over$i"
  is_limited "over$i" && limited=$((limited + 1))
done
check "four more at once: nginx's 429 each, nothing of the program" [ "$limited" = 4 ]
check "the 429 carries the program's security headers" security_headers over1 program
if $cgi; then
  check "the 429s: the program is not started" program_not_opened
  unwatch_program
fi
check "nginx logs the refusals" grep -q 'limiting requests.*zone "nemvoweb"' "$dir/log/error.log"

# 10 a minute: one more after six seconds, and not two. Both are sent at
# once, so that however long the program takes to answer one (a sanitized
# build's, on a loaded machine, can take seconds) the other is not later.
sleep 6.5
refills=()
for n in refilled refilled2; do
  curl -s --max-time 30 -o "$work/$n.body" -w '%{http_code}' \
    --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" "$main_url" > "$work/$n.code" &
  refills+=($!)
done
wait "${refills[@]}"
# One answered by the program, the other by nginx's 429.
one_of_each() {
  local n answered=0 refused=0
  for n in refilled refilled2; do
    case $(cat "$work/$n.code") in
      200) cmp -s "$work/$n.body" "$work/main.expected" && answered=$((answered + 1)) ;;
      429) grep -q "429 Too Many Requests" "$work/$n.body" && refused=$((refused + 1)) ;;
    esac
  done
  [ "$answered" = 1 ] && [ "$refused" = 1 ]
}
check "six seconds later, two at once: one reaches the program, nginx refuses the other ($(cat "$work/refilled.code" "$work/refilled2.code" | tr '\n' ' '))" one_of_each

check "no CGI process left running" [ -z "$(cgi_children_settled)" ]
check "attachments back to $attachments_before" [ "$(attachments_settle "$attachments_before")" -le "$attachments_before" ]
finish
