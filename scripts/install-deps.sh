#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the tests and the demo
# site need and the machine does not have yet. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev valgrind
  firebird3.0-server firebird3.0-utils libfbclient2 firebird-dev
  lighttpd apache2 nginx-light fcgiwrap libfcgi-dev libfcgi-bin php8.2-fpm php8.2-interbase
  curl jq hyperfine wrk inotify-tools procps iproute2 librsvg2-bin
  chromium chromium-driver
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
# The server package asks for an administrator password; answer it up front.
# The demo and the tests keep their own users, this one stays local.
echo "firebird3.0-server shared/firebird/sysdba_password/first_install password masterkey" | $SUDO debconf-set-selections
$SUDO apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
