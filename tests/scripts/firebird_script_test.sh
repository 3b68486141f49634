#!/usr/bin/env bash
# scripts/firebird.sh start and stop on a port of its own: the server answers
# on 127.0.0.1 only, runs with a configuration of the script's own, and the
# machine's firebird.conf is the same bytes before, during and after; a state
# directory that is not this account's own is refused before anything starts.
# (A second server cannot log anyone in while the tests' server holds the
# security database; that is not asked of it here.)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fb=$(cd "$here/../../scripts" && pwd)/firebird.sh
source "$here/../../scripts/web-servers.sh"
work=$(mktemp -d)
chmod 0755 "$work"   # the server runs as the firebird user
system_conf=/etc/firebird/3.0/firebird.conf

passed=0 failed=0
check() { local name=$1; shift; if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi; }

export NEMVO_FB_PORT
NEMVO_FB_PORT=$(ws_free_port)
export NEMVO_FB_STATE_DIR=$work/state
trap '"$fb" stop >/dev/null 2>&1; rm -rf "$work"' EXIT

before=$(sha256sum <"$system_conf")
"$fb" start
check "start succeeds" [ $? -eq 0 ]
pid=$(cat "$NEMVO_FB_STATE_DIR/server.pid" 2>/dev/null)
listeners=$(ss -ltnH "sport = :$NEMVO_FB_PORT" | awk '{ print $4 }' | sort -u | xargs)
check "listens on 127.0.0.1:$NEMVO_FB_PORT and nowhere else ($listeners)" [ "$listeners" = "127.0.0.1:$NEMVO_FB_PORT" ]
check "the server reads the script's own root directory" \
  grep -qxF "FIREBIRD=$NEMVO_FB_STATE_DIR/root" <(tr '\0' '\n' <"/proc/$pid/environ")
check "its firebird.conf sets the port and the address" \
  eval 'grep -qx "RemoteServicePort = $NEMVO_FB_PORT" "$NEMVO_FB_STATE_DIR/root/firebird.conf" &&
        grep -qx "RemoteBindAddress = 127.0.0.1" "$NEMVO_FB_STATE_DIR/root/firebird.conf"'
check "the machine's firebird.conf is untouched while it runs" [ "$(sha256sum <"$system_conf")" = "$before" ]
"$fb" stop
check "stop ends the server" [ ! -d "/proc/$pid" ]
check "nothing listens on the port afterwards" [ -z "$(ss -ltnH "sport = :$NEMVO_FB_PORT")" ]
check "the machine's firebird.conf is untouched afterwards" [ "$(sha256sum <"$system_conf")" = "$before" ]

# A state directory someone else made (in /tmp, under a name anyone can guess).
export NEMVO_FB_STATE_DIR=$work/foreign
mkdir -p "$NEMVO_FB_STATE_DIR"
chown nobody: "$NEMVO_FB_STATE_DIR"
out=$("$fb" start 2>&1); rc=$?
check "another account's state directory: refused" eval '[ $rc -ne 0 ] && [[ $out == *"not this account"* ]]'
check "another account's state directory: nothing started" [ -z "$(ss -ltnH "sport = :$NEMVO_FB_PORT")" ]
ln -s "$work/state" "$work/link"
export NEMVO_FB_STATE_DIR=$work/link
"$fb" start >/dev/null 2>&1
check "a state directory that is a link: refused" [ $? -ne 0 ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
