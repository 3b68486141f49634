#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the tests and the demo
# site need and the machine does not have yet. Safe to run again.
#
# What it changes on the machine besides installing packages:
#   - no service of a package installed here is started or enabled: while
#     apt-get runs, a policy-rc.d that refuses every start is in place (unless
#     the administrator has one of their own, which is kept as it is and must
#     refuse starts too), and the packages' systemd units and init scripts are
#     disabled afterwards; packages already installed keep their state;
#   - nothing is preseeded: firebird3.0-server picks a random SYSDBA password
#     and keeps it in /etc/firebird/3.0/SYSDBA.password (readable by root),
#     where scripts/firebird.sh reads it.
#
# Environment (for tests of this script): NEMVO_POLICY_RC_D (default
# /usr/sbin/policy-rc.d), NEMVO_INIT_DIR (default /etc/init.d).
set -euo pipefail

packages=(
  build-essential cmake pkg-config git lld
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev valgrind
  firebird3.0-server firebird3.0-utils libfbclient2 firebird-dev libssl-dev libtommath-dev
  lighttpd lighttpd-mod-openssl apache2 nginx-light fcgiwrap libfcgi-bin php8.2-fpm php8.2-interbase
  curl jq hyperfine wrk inotify-tools procps iproute2 iptables librsvg2-bin
  chromium chromium-driver
  debhelper dpkg-dev fakeroot lintian systemd spawn-fcgi mmdebstrap systemd-container
  fail2ban openssl
  prometheus
)
policy=${NEMVO_POLICY_RC_D:-/usr/sbin/policy-rc.d}
init_dir=${NEMVO_INIT_DIR:-/etc/init.d}
# Marks the policy file as ours, so that only ours is ever removed.
marker="# Written by NemvoWeb's scripts/install-deps.sh for the length of its install."

die() { echo "install-deps: $*" >&2; exit 1; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# invoke-rc.d asks the policy before it starts anything: 101 is "not allowed".
if [ -e "$policy" ] && ! $SUDO grep -qxF "$marker" "$policy"; then
  # The administrator's: asked about the services these packages bring.
  for service in firebird3.0 lighttpd apache2 nginx fcgiwrap php8.2-fpm fail2ban prometheus; do
    rc=0
    $SUDO "$policy" "$service" start >/dev/null 2>&1 || rc=$?
    [ "$rc" -eq 101 ] || die "$policy lets $service start (answer $rc); installing ${missing[*]}" \
      "would start services. Make it refuse starts, or install these packages yourself."
  done
else
  # Ours, or one left by a run that was killed: (re)write it, remove it after.
  trap '$SUDO rm -f "$policy"' EXIT
  printf '#!/bin/sh\n%s\nexit 101\n' "$marker" | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 0755 "$policy"
fi

echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"

# The policy only stops starts; the packages' scripts still enable their
# services for the next boot. Undo that for what this run installed.
for p in "${missing[@]}"; do
  installed "$p" || continue
  while IFS= read -r path; do
    case $path in
      /lib/systemd/system/*.service | /lib/systemd/system/*.socket | /lib/systemd/system/*.timer | \
      /usr/lib/systemd/system/*.service | /usr/lib/systemd/system/*.socket | /usr/lib/systemd/system/*.timer)
        [[ $path == *@* ]] || $SUDO deb-systemd-helper disable "$(basename "$path")" >/dev/null 2>&1 || true ;;
      "$init_dir"/*)
        [ -x "$path" ] && $SUDO update-rc.d "$(basename "$path")" disable >/dev/null 2>&1 || true ;;
    esac
  done < <(dpkg -L "$p" 2>/dev/null)
done
