#!/usr/bin/env bash
# scripts/install-deps.sh against stand-ins for apt-get, dpkg, dpkg-query,
# debconf-set-selections, deb-systemd-helper and update-rc.d (first in PATH),
# which record what the script asks of them. Each case starts from a machine
# state (what is installed, what policy-rc.d there is) and checks what the
# script did: which packages it installed, whether a policy refusing service
# starts was in place while apt-get ran, what it left behind, which services it
# disabled, and that it preseeded nothing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
script=$(cd "$here/../../scripts" && pwd)/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0 failed=0
check() { local name=$1; shift; if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi; }

# --- The stand-ins ---------------------------------------------------------------
stubs=$work/stubs
mkdir -p "$stubs"
stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$stubs/$1"; chmod +x "$stubs/$1"; }
# State: $STATE/installed (one package a line), $STATE/files/PKG (dpkg -L),
# $STATE/log (every call), $STATE/policy (the policy file's path).
stub dpkg-query 'pkg=${@: -1}; grep -qxF "$pkg" "$STATE/installed" && printf "install ok installed"; exit 0'
stub dpkg '[ "$1" = -L ] && cat "$STATE/files/$2" 2>/dev/null; exit 0'
stub debconf-set-selections 'echo "debconf $(cat)" >>"$STATE/log"'
stub deb-systemd-helper 'echo "deb-systemd-helper $*" >>"$STATE/log"'
stub update-rc.d 'echo "update-rc.d $*" >>"$STATE/log"'
stub sudo 'exec "$@"'
stub apt-get '
echo "apt-get $*" >>"$STATE/log"
[ "$1" = install ] || exit 0
# What a package'"'"'s start of its service would meet now.
rc=none
[ -x "$STATE/policy" ] && { rc=0; "$STATE/policy" lighttpd start >/dev/null 2>&1 || rc=$?; }
echo "policy during install: $rc" >>"$STATE/log"
[ -e "$STATE/fail-install" ] && exit 100
for a in "$@"; do case $a in -*|install) ;; *) echo "$a" >>"$STATE/installed" ;; esac; done'

all_packages() { sed -n '/^packages=(/,/^)/p' "$script" | sed '1d;$d' | tr ' ' '\n' | sed '/^$/d'; }

# new_machine: everything installed but the packages given.
new_machine() {
  export STATE=$work/state.$1; shift
  rm -rf "$STATE"; mkdir -p "$STATE/files" "$STATE/init.d"
  all_packages | grep -vxF -f <(printf '%s\n' "$@" '#none#') >"$STATE/installed"
  : >"$STATE/log"
  STATE_POLICY=$STATE/policy
}
run_script() {
  PATH="$stubs:$PATH" NEMVO_POLICY_RC_D="$STATE/policy" NEMVO_INIT_DIR="$STATE/init.d" \
    "$script" >"$STATE/out" 2>&1
}
logged() { grep -qxF -- "$1" "$STATE/log"; }
not_logged() { ! grep -q -- "$1" "$STATE/log"; }

# --- Cases -----------------------------------------------------------------------

# No policy of the administrator's: one that refuses starts while apt-get
# runs, gone afterwards; only the missing packages; their units disabled.
new_machine fresh lighttpd firebird3.0-server
printf '%s\n' /lib/systemd/system/lighttpd.service /etc/lighttpd/lighttpd.conf >"$STATE/files/lighttpd"
printf '%s\n' /lib/systemd/system/firebird3.0.service /lib/systemd/system/getty@.service \
  "$STATE/init.d/firebird3.0" >"$STATE/files/firebird3.0-server"
: >"$STATE/init.d/firebird3.0"; chmod +x "$STATE/init.d/firebird3.0"
printf '%s\n' /lib/systemd/system/nginx.service >"$STATE/files/nginx-light"
run_script; rc=$?
check "fresh: succeeds" [ "$rc" -eq 0 ]
check "fresh: installs exactly the missing packages" \
  logged "apt-get install -y -q --no-install-recommends firebird3.0-server lighttpd"
check "fresh: service starts refused while apt-get installs" logged "policy during install: 101"
check "fresh: the policy is removed afterwards" [ ! -e "$STATE/policy" ]
check "fresh: nothing preseeded (the package's random SYSDBA password)" not_logged debconf
check "fresh: the new packages' units are disabled" \
  eval 'logged "deb-systemd-helper disable lighttpd.service" && logged "deb-systemd-helper disable firebird3.0.service"'
check "fresh: their init scripts too" logged "update-rc.d firebird3.0 disable"
check "fresh: template units and other files are left alone" \
  eval 'not_logged "getty@" && not_logged "lighttpd.conf"'
check "fresh: an installed package's service keeps its state" not_logged "nginx.service"

# The administrator's policy refuses starts: kept as it is, byte for byte.
new_machine admin apache2
printf '#!/bin/sh\n# the administrator'"'"'s\nexit 101\n' >"$STATE/policy"; chmod 0750 "$STATE/policy"
cp -p "$STATE/policy" "$STATE/policy.before"
run_script; rc=$?
check "administrator's refusing policy: succeeds" [ "$rc" -eq 0 ]
check "administrator's refusing policy: used while apt-get installs" logged "policy during install: 101"
check "administrator's refusing policy: left in place unchanged" \
  eval 'cmp -s "$STATE/policy" "$STATE/policy.before" && [ "$(stat -c %a "$STATE/policy")" = 750 ]'

# The administrator's policy lets services start: nothing is installed.
new_machine permissive nginx-light
printf '#!/bin/sh\nexit 0\n' >"$STATE/policy"; chmod +x "$STATE/policy"
cp "$STATE/policy" "$STATE/policy.before"
run_script; rc=$?
check "administrator's permissive policy: fails" [ "$rc" -ne 0 ]
check "administrator's permissive policy: says why" grep -q "lets .* start" "$STATE/out"
check "administrator's permissive policy: apt-get not run" not_logged apt-get
check "administrator's permissive policy: left in place" cmp -s "$STATE/policy" "$STATE/policy.before"

# A policy of ours left by a run that was killed: used, then removed.
new_machine stale wrk
printf '#!/bin/sh\n%s\nexit 101\n' "$(grep -o "# Written by NemvoWeb's scripts/install-deps.sh[^\"]*" "$script")" >"$STATE/policy"
chmod +x "$STATE/policy"
run_script; rc=$?
check "our stale policy: succeeds and is removed" eval '[ "$rc" -eq 0 ] && [ ! -e "$STATE/policy" ]'

# apt-get fails: the script fails, and its policy goes all the same.
new_machine failing jq
touch "$STATE/fail-install"
run_script; rc=$?
check "apt-get fails: the script fails" [ "$rc" -ne 0 ]
check "apt-get fails: the policy is removed" [ ! -e "$STATE/policy" ]

# Nothing missing: nothing run, nothing written.
new_machine complete
run_script; rc=$?
check "nothing missing: no apt-get, no policy" eval '[ "$rc" -eq 0 ] && [ ! -s "$STATE/log" ] && [ ! -e "$STATE/policy" ]'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
