#!/usr/bin/env bash
# The production examples over HTTPS (doc/examples/KIND-tls.conf.in; KIND, the
# argument: nginx, apache or lighttpd), as shipped but for the host name,
# ports, certificate and paths: a server of its own on two free ports of
# 127.0.0.1 with a certificate for 127.0.0.1 made here, passing the program's
# path to the FastCGI pool fixture. Logins over HTTPS (curl trusting only
# that certificate), HSTS and the security headers on every answer, and
# plain HTTP redirected to HTTPS for every path without the program answering.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
kind=${1:-nginx}
# shellcheck source=site_lib.sh
source "$here/site_lib.sh"

write_config
expected_main_page > "$work/main.expected"
attachments_before=$(attachments)

dir=$NEMVO_SITE_RUN/$kind-tls
server=$kind
stop_tls() { ws_stop "$server" "$dir"; rm -rf "$work"; }
trap stop_tls EXIT
ws_stop "$server" "$dir"
rm -rf "$dir"
mkdir -p "$dir"

# A certificate for 127.0.0.1, its own authority.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>"$dir/openssl.log" ||
  { cat "$dir/openssl.log"; fail "openssl made a test certificate"; finish; exit; }
chmod 0644 "$dir/cert.pem"

case $kind in
  nginx) example=nginx-tls.conf.in ;;
  apache) example=apache2-tls.conf.in ;;
  lighttpd) example=lighttpd-tls.conf.in ;;
  *) echo "usage: $0 nginx|apache|lighttpd" >&2; exit 2 ;;
esac

# The example with this run's host, ports, certificate and paths (IPv6
# listeners left out: the test listens on 127.0.0.1 only).
localised() {
  local http=$1 https=$2 pairs
  pairs=(
    https://admin.example.com "https://127.0.0.1:$https"
    /etc/ssl/certs/admin.example.com.pem "$dir/cert.pem"
    /etc/ssl/private/admin.example.com.key "$dir/key.pem"
    @NEMVO_SHARE_DIR@/htdocs "$NEMVO_SITE_RUN/htdocs"
    @NEMVO_IMAGES_DIR@ "$NEMVO_SITE_RUN/htdocs/nemvoweb_images"
    @NEMVO_FASTCGI_SOCKET@ "$NEMVO_SITE_RUN/pool/nemvoweb.sock"
    @NEMVO_PUBLIC_WEB_SERVER@ "$NEMVO_SITE_PUBLIC")
  case $kind in
    nginx) pairs+=("listen 80;" "listen 127.0.0.1:$http;" "listen 443 ssl;" "listen 127.0.0.1:$https ssl;"
                   "listen [::]:80;" "" "listen [::]:443 ssl;" "") ;;
    apache) pairs+=("<VirtualHost *:80>" "<VirtualHost 127.0.0.1:$http>" "<VirtualHost *:443>" "<VirtualHost 127.0.0.1:$https>") ;;
    lighttpd) pairs+=('$SERVER["socket"] == ":443"' "\$SERVER[\"socket\"] == \"127.0.0.1:$https\"") ;;
  esac
  ws_localise "$root/doc/examples/$example" "$dir/example.conf" "${pairs[@]}"
}

started=false
for _ in 1 2 3; do
  http_port=$(ws_free_port) && https_port=$(ws_free_port) || break
  [ "$http_port" != "$https_port" ] || continue
  localised "$http_port" "$https_port" || break
  case $kind in
    nginx)
      # The example is whole server blocks (http level); the harness's own
      # server block listens on a port of its own.
      : >"$dir/site.conf"
      NEMVO_NGINX_HTTP_CONF=$dir/example.conf ws_start nginx "$dir" "$(ws_free_port)" "$dir/site.conf" && started=true ;;
    apache)
      printf 'Listen 127.0.0.1:%s\nInclude "%s"\n' "$https_port" "$dir/example.conf" >"$dir/site.conf"
      NEMVO_APACHE_MODULES="ssl socache_shmcb proxy proxy_fcgi" \
        ws_start apache "$dir" "$http_port" "$dir/site.conf" && started=true ;;
    lighttpd)
      cat >"$dir/site.conf" <<EOF
server.bind = "127.0.0.1"
server.port = var.site_port
server.pid-file = var.site_run + "/lighttpd.pid"
server.errorlog = var.site_run + "/log/error.log"
mimetype.assign = ( ".html" => "text/html; charset=iso-8859-1", ".png" => "image/png", ".ico" => "image/x-icon" )
include "$dir/example.conf"
EOF
      ws_start lighttpd "$dir" "$http_port" "$dir/site.conf" && started=true ;;
  esac
  $started && break
done
$started || { fail "$kind started with the TLS example"; cat "$dir"/log/*.log 2>/dev/null; finish; exit; }
for _ in $(seq 50); do ws_port_open "$https_port" && break; sleep 0.1; done

base=https://127.0.0.1:$https_port
tls() { local n=$1; shift; request "$n" --cacert "$dir/cert.pem" "$@"; }
hsts() { [ "$(header "$1" Strict-Transport-Security)" = "max-age=31536000" ]; }

tls login "$base/"
check "HTTPS: the login page, trusted with the test certificate" \
  eval '[ "$status" = 200 ] && cmp -s "$work/login.body" "$root/site/htdocs/index.html"'
check "HTTPS: the login page's security headers and HSTS" eval 'security_headers login login && hsts login'
tls icon "$base/nemvoweb_images/warning.png"
check "HTTPS: the images, with HSTS" eval '[ "$status" = 200 ] && hsts icon'

tls right --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" "$base/cgi-bin/nemvoweb/main"
check "HTTPS: a right login, the main page byte for byte" \
  eval '[ "$status" = 200 ] && cmp -s "$work/right.body" "$work/main.expected"'
check "HTTPS: the program's security headers and HSTS" eval 'security_headers right program && hsts right'
tls wrong --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=not-the-password" "$base/cgi-bin/nemvoweb/main"
check "HTTPS: a wrong login, the rejection" \
  eval '[ "$status" = 200 ] && expected_message_page "$rejected_text" | cmp -s - "$work/wrong.body"'
head -c 70000 /dev/zero | tr '\0' x >"$work/big"
tls big --http1.1 -H "Transfer-Encoding: chunked" --data-binary "@$work/big" "$base/cgi-bin/nemvoweb/main"
# Apache refuses any body sent without a length (411), the others one above
# the limit (413).
big_status=413
[ "$kind" != apache ] || big_status=411
check "HTTPS: a 70000-byte chunked body: the server's $big_status, with HSTS" eval '[ "$status" = "$big_status" ] && hsts big'
status=$(curl -s -o /dev/null -w '%{http_code}' "$base/") || true
check "HTTPS: curl without --cacert does not trust it" [ "$status" = 000 ]

# Plain HTTP: a redirect to the same path over HTTPS, for a login too.
for path in / /cgi-bin/nemvoweb/main "/cgi-bin/nemvoweb/main?x=1"; do
  request plain --data-urlencode "u=$NEMVO_TEST_USER" --data-urlencode "p=$NEMVO_TEST_PASSWORD" \
    "http://127.0.0.1:$http_port$path"
  check "plain HTTP $path: 301 to $base$path, nothing of the program" \
    eval '[ "$status" = 301 ] && [ "$(header plain Location)" = "$base$path" ] && ! grep -q "Painel\|Voltar" "$work/plain.body"'
done
request follow -L --cacert "$dir/cert.pem" "http://127.0.0.1:$http_port/"
check "plain HTTP, redirect followed: the login page over HTTPS" \
  eval '[ "$status" = 200 ] && cmp -s "$work/follow.body" "$root/site/htdocs/index.html"'

check "attachments back to $attachments_before" [ "$(attachments_settle "$attachments_before")" -le "$attachments_before" ]
finish
