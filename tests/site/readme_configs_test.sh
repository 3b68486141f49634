#!/usr/bin/env bash
# The README's web server sections are the configurations the site tests run:
# the Apache and nginx blocks, and the FastCGI blocks, are byte for byte the
# files under site/ that the fixtures install, and every setting of the lighttpd block is in
# site/lighttpd.conf (which adds the demo's own settings around it); nginx's
# zone and TLS example are the shipped files. Every configuration the project
# ships (site/, doc/examples/) sets the same two security policies, the login
# page's with the hash of the login page's style block as it is now, and
# nginx's carry the same limit of logins.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
readme=$root/README.md

failed=0
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
ok() { echo "ok   $*"; }

# The first fenced block after the heading $1.
block_after() {
  awk -v heading="$1" '
    $0 == heading { found = 1; next }
    found && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }
  ' "$readme"
}

for pair in "### Apache:site/apache/nemvoweb.conf" "### nginx with fcgiwrap:site/nginx/nemvoweb.conf" \
  "### nginx with the FastCGI pool:site/nginx/nemvoweb-fastcgi.conf" \
  "### Apache with the FastCGI pool:site/apache/nemvoweb-fastcgi.conf" \
  "### lighttpd with the FastCGI pool:site/lighttpd/nemvoweb-fastcgi.conf" \
  "### lighttpd starting the program itself:site/lighttpd/nemvoweb-fastcgi-spawn.conf" \
  "#### nginx's zone of login requests:site/nginx/nemvoweb-limit.conf" \
  "#### nginx over HTTPS:doc/examples/nginx-tls.conf.in"; do
  heading=${pair%%:*} file=${pair#*:}
  if diff <(block_after "$heading") "$root/$file" >/dev/null; then
    ok "README \"$heading\" is $file"
  else
    fail "README \"$heading\" differs from $file:"
    diff <(block_after "$heading") "$root/$file"
  fi
done

site_conf=$root/site/lighttpd.conf
trim() { sed 's/^[[:space:]]*//;s/[[:space:]]*$//'; }
lighttpd_block=$(block_after "### lighttpd")
[ -n "$lighttpd_block" ] || fail "README has no lighttpd block"
while IFS= read -r line; do
  case $line in
    server.modules*)
      for m in $(grep -o '"mod_[a-z_]*"' <<<"$line"); do
        grep -q "^server.modules.*$m" "$site_conf" || fail "lighttpd: $m not loaded in site/lighttpd.conf"
      done ;;
    alias.url*)
      # The demo serves the programs from its run directory.
      grep -q '^alias.url.*"/cgi-bin/" => var.site_run + "/cgi-bin/"' "$site_conf" ||
        fail "lighttpd: /cgi-bin/ not aliased in site/lighttpd.conf" ;;
    *)
      # The demo names the program's public web server in a variable.
      line=${line//https:\/\/www.example.com/\" + var.site_public + \"}
      grep -qxF -- "$line" <(trim <"$site_conf") || fail "lighttpd: \"$line\" not in site/lighttpd.conf" ;;
  esac
done < <(trim <<<"$lighttpd_block")
[ "$failed" -ne 0 ] || ok "README lighttpd settings are in site/lighttpd.conf"

grep -qx 'DAEMON_OPTS="-f -c [0-9]*"' "$readme" && ok "README gives fcgiwrap's children" ||
  fail "README gives no DAEMON_OPTS=\"-f -c N\" for fcgiwrap (the nginx fixture starts that many)"

# The policies of every shipped configuration, the public web server's
# address in whatever form the file names it.
hash=$(perl -0777 -ne 'print $1 if /<style>(.*?)<\/style>/s' "$root/site/htdocs/index.html" | openssl dgst -sha256 -binary | base64)
login_csp="default-src 'none'; img-src 'self'; style-src 'sha256-$hash'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"
program_csp="default-src 'none'; img-src PUBLIC/nemvoweb_images/; style-src 'unsafe-inline'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"
files=("$root"/site/lighttpd.conf "$root"/site/apache/*.conf "$root"/site/nginx/nemvoweb*.conf "$root"/doc/examples/*.conf.in)
policy_files=0
for f in "${files[@]}"; do
  rel=${f#"$root"/}
  policies=$(sed 's#https://www.example.com/nemvoweb_images/#PUBLIC/nemvoweb_images/#;
                  s#@NEMVO_PUBLIC_WEB_SERVER@/nemvoweb_images/#PUBLIC/nemvoweb_images/#;
                  s#" + var.site_public + "/nemvoweb_images/#PUBLIC/nemvoweb_images/#' "$f" | grep -o "default-src [^\"]*")
  [ -n "$policies" ] || continue
  policy_files=$((policy_files + 1))
  while IFS= read -r policy; do
    [ "$policy" = "$login_csp" ] || [ "$policy" = "$program_csp" ] || fail "$rel: a policy of its own: $policy"
  done <<<"$policies"
  grep -qF -- "$login_csp" <<<"$policies" || fail "$rel: no login page policy with the page's hash (sha256-$hash)"
  grep -qF -- "$program_csp" <<<"$policies" || fail "$rel: no policy for the program's answers"
  case $rel in
    */nginx*)
      for directive in "limit_req zone=nemvoweb burst=5 nodelay;" "limit_req_status 429;" "limit_req_log_level warn;"; do
        grep -qF -- "$directive" "$f" || fail "$rel: no \"$directive\""
      done ;;
  esac
done
for f in "$root/site/nginx/nemvoweb-limit.conf" "$root/doc/examples/nginx-limit.conf.in"; do
  grep -qx 'limit_req_zone $binary_remote_addr zone=nemvoweb:10m rate=10r/m;' "$f" ||
    fail "${f#"$root"/}: not the zone of 10 logins a minute per address"
done
[ "$policy_files" -ge 14 ] && ok "the shipped configurations ($policy_files) set the same policies and limits" ||
  fail "only $policy_files configurations with a policy"

[ "$failed" -eq 0 ]
