#!/usr/bin/env bash
# The README's web server sections are the configurations the site tests run:
# the Apache and nginx blocks, and the FastCGI blocks, are byte for byte the
# files under site/ that the fixtures install, and every setting of the lighttpd block is in
# site/lighttpd.conf (which adds the demo's own settings around it).
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
  "### lighttpd starting the program itself:site/lighttpd/nemvoweb-fastcgi-spawn.conf"; do
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
      grep -qxF -- "$line" <(trim <"$site_conf") || fail "lighttpd: \"$line\" not in site/lighttpd.conf" ;;
  esac
done < <(trim <<<"$lighttpd_block")
[ "$failed" -ne 0 ] || ok "README lighttpd settings are in site/lighttpd.conf"

grep -qx 'DAEMON_OPTS="-f -c [0-9]*"' "$readme" && ok "README gives fcgiwrap's children" ||
  fail "README gives no DAEMON_OPTS=\"-f -c N\" for fcgiwrap (the nginx fixture starts that many)"

[ "$failed" -eq 0 ]
