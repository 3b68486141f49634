#!/usr/bin/env bash
# The site in a real browser: headless Chromium driven through chromedriver's
# WebDriver interface (with curl and jq). Opens the login page, types the
# credentials, submits, and reads the page the browser shows; once with the
# right and once with a wrong password. Each page renders under the security
# headers the server sends with it (its styles applied), and the browser's
# console shows no Content-Security-Policy violation; that the console would
# show one is checked with the login page under a policy that must fail. A
# screenshot of each result is kept in $NEMVO_SITE_ARTIFACTS (default: the run
# directory's artifacts/).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=site_lib.sh
source "$here/site_lib.sh"

artifacts=${NEMVO_SITE_ARTIFACTS:-$NEMVO_SITE_RUN/artifacts}
mkdir -p "$artifacts"
write_config
attachments_before=$(attachments)

# --- chromedriver -----------------------------------------------------------------

driver_port=$((site_port + 1))
while (exec 3<>"/dev/tcp/127.0.0.1/$driver_port") 2>/dev/null; do driver_port=$((driver_port + 1)); done
chromedriver --port="$driver_port" --log-path="$work/chromedriver.log" >/dev/null 2>&1 &
driver_pid=$!
wd="http://127.0.0.1:$driver_port"
session=""
stop_driver() {
  [ -z "$session" ] || curl -s --max-time 10 -X DELETE "$wd/session/$session" >/dev/null || true
  kill "$driver_pid" 2>/dev/null || true
  wait "$driver_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap stop_driver EXIT

for _ in $(seq 100); do
  curl -s --max-time 2 "$wd/status" | jq -e '.value.ready' >/dev/null 2>&1 && break
  sleep 0.1
done

# wd_call METHOD PATH [JSON]: one WebDriver command; prints its "value".
wd_call() {
  local out
  out=$(curl -s --max-time 60 -X "$1" -H 'Content-Type: application/json' \
    ${3:+--data "$3"} "$wd/session/$session$2") || { echo "webdriver $1 $2: no answer" >&2; return 1; }
  if jq -e '.value.error? // empty' <<<"$out" >/dev/null 2>&1; then
    echo "webdriver $1 $2: $(jq -r '.value.error + ": " + .value.message' <<<"$out" | head -n3)" >&2
    return 1
  fi
  jq -c '.value' <<<"$out"
}
js() { wd_call POST /execute/sync "$(jq -nc --arg s "$1" '{script: $s, args: []}')" | jq -r '.'; }
element() {
  wd_call POST /element "$(jq -nc --arg v "$1" '{using: "css selector", value: $v}')" |
    jq -r '.["element-6066-11e4-a52e-4f735466cecf"]'
}

caps=$(jq -nc --arg profile "$work/profile" '{capabilities: {alwaysMatch: {
  browserName: "chrome", "goog:loggingPrefs": {browser: "ALL"},
  "goog:chromeOptions": {binary: "/usr/bin/chromium", args: [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage", "--window-size=1024,768", ("--user-data-dir=" + $profile)]}}}}')
session=$(curl -s --max-time 60 -H 'Content-Type: application/json' --data "$caps" "$wd/session" |
  jq -r '.value.sessionId // empty')
if [ -z "$session" ]; then
  fail "chromedriver started a Chromium session"
  tail -n 20 "$work/chromedriver.log" >&2
  finish; exit
fi

# login NAME USER PASSWORD: fills in the login form like a person and submits
# it; leaves the resulting page's title, text and a screenshot.
login() {
  local name=$1 i
  wd_call POST /url "$(jq -nc --arg u "$site_url/" '{url: $u}')" >/dev/null || return 1
  local u p b
  u=$(element '#u') && p=$(element '#p') && b=$(element '#entrar') || return 1
  wd_call GET /screenshot | jq -r . | base64 -d > "$artifacts/login-page.png"
  console_log >"$work/$name.login-page.console"
  style_of body backgroundColor >"$work/$name.login-page.background"
  wd_call POST "/element/$u/value" "$(jq -nc --arg t "$2" '{text: $t}')" >/dev/null || return 1
  wd_call POST "/element/$p/value" "$(jq -nc --arg t "$3" '{text: $t}')" >/dev/null || return 1
  wd_call POST "/element/$b/click" '{}' >/dev/null || return 1
  for i in $(seq 100); do
    [[ "$(wd_call GET /url | jq -r .)" == */cgi-bin/nemvoweb/main ]] &&
      [ "$(js 'return document.readyState')" = complete ] && break
    sleep 0.1
  done
  wd_call GET /title | jq -r . > "$work/$name.title"
  js 'return document.body.innerText' > "$work/$name.text"
  wd_call GET /screenshot | jq -r . | base64 -d > "$artifacts/$name.png"
}

# The console's entries since the last call: a violated policy shows as a
# "security" entry (Chromium reports what it blocked there).
console_log() {
  curl -s --max-time 30 -X POST -H 'Content-Type: application/json' --data '{"type": "browser"}' \
    "$wd/session/$session/se/log" | jq -c '.value[]?'
}
# no_violation NAME: no policy violation in the console's entries kept in
# $work/NAME.console (when none are kept: since the last call).
no_violation() {
  [ -e "$work/$1.console" ] || console_log >"$work/$1.console"
  ! grep -q '"source":"security"\|Content Security Policy' "$work/$1.console" ||
    { sed 's/^/     console: /' "$work/$1.console" >&2; return 1; }
}
style_of() { js "return getComputedStyle(document.querySelector('$1')).$2"; }

has_text() { grep -qF -- "$2" "$work/$1.text"; }
title_is() { [ "$(cat "$work/$1.title")" = "$2" ]; }

# The detector first: the login page under its own policy with the style
# block's hash left out must show a violation on the console.
console_log >/dev/null
bad_csp="default-src 'none'; img-src 'self'; style-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"
bad_page=$(sed "s|<head>|<head><meta http-equiv=\"Content-Security-Policy\" content=\"$bad_csp\">|" \
  "$site_root/site/htdocs/index.html" | base64 -w0)
wd_call POST /url "$(jq -nc --arg u "data:text/html;base64,$bad_page" '{url: $u}')" >/dev/null
check "a policy without the style block's hash: the console shows the violation" eval '! no_violation bad-policy 2>/dev/null'
check "a policy without the style block's hash: the page's style is not applied" \
  eval '[ "$(style_of body backgroundColor)" != "rgb(238, 243, 249)" ]'
console_log >/dev/null

login browser-right "$NEMVO_TEST_USER" "$NEMVO_TEST_PASSWORD"
check "login page: no policy violation on the console" no_violation browser-right.login-page
check "login page: its style block applied under the policy" \
  eval '[ "$(cat "$work/browser-right.login-page.background")" = "rgb(238, 243, 249)" ]'
check "right login: the browser shows the main page" title_is browser-right "Nemvo.Web - Administração"
check "right login: main page text" has_text browser-right "Nemvo.Web - Painel de administração"
check "right login: no tag text shown" bash -c "! grep -q '<#' '$work/browser-right.text'"
check "right login: no policy violation on the console" no_violation browser-right
check "right login: the template's style block applied under the policy" \
  eval '[ "$(style_of header backgroundColor)" = "rgb(0, 102, 204)" ]'
check "right login: screenshot kept" [ -s "$artifacts/browser-right.png" ]

login browser-wrong "$NEMVO_TEST_USER" "not-the-password"
check "wrong login: the browser shows the error page" title_is browser-wrong "Nemvo.Web - Administração - Erro"
check "wrong login: 'Usuário/Senha inválidos'" has_text browser-wrong "Usuário/Senha inválidos"
check "wrong login: back link" \
  eval '[ "$(js "return document.querySelector(\"#msg-box a\").textContent")" = Voltar ]'
check "wrong login: warning icon" \
  eval '[[ "$(js "return document.querySelector(\"#warning-box img\").src")" == */nemvoweb_images/warning.png ]]'
# The icon loads only when the program was built for this very server.
if [ "$NEMVO_SITE_PUBLIC" = "$site_url" ]; then
  check "wrong login: the icon is shown at 128x128" \
    eval '[ "$(js "var i = document.querySelector(\"#warning-box img\"); return i.naturalWidth + \"x\" + i.naturalHeight")" = 128x128 ]'
fi
check "wrong login: no policy violation on the console (icons and favicon from $NEMVO_SITE_PUBLIC)" \
  no_violation browser-wrong
check "wrong login: the message's style attribute applied under the policy" \
  eval '[ "$(style_of "#msg-box" color)" = "rgb(0, 102, 204)" ]'
check "wrong login: screenshot kept" [ -s "$artifacts/browser-wrong.png" ]
if [ "$NEMVO_SITE_PUBLIC" = "$site_url" ]; then
  # "Voltar" leads back to the login form.
  back() {
    local link
    link=$(element '#msg-box a') && wd_call POST "/element/$link/click" '{}' >/dev/null || return 1
    for _ in $(seq 50); do
      [ "$(wd_call GET /url | jq -r .)" = "$site_url/" ] && [ "$(js 'return document.readyState')" = complete ] &&
        break
      sleep 0.1
    done
    [ "$(js 'return document.querySelector("#login") ? "form" : "none"')" = form ]
  }
  check "wrong login: Voltar leads back to the login page" back
fi

check "no CGI process left running" [ -z "$(cgi_children_settled)" ]
check "attachments back to $attachments_before" [ "$(attachments_settle "$attachments_before")" -le "$attachments_before" ]
finish
