# Shared by the fail2ban tests (sourced, not run): the shipped filter and
# jails, fail2ban-regex over a log with the address each matched line gave,
# and the result counters.
#
# Sets f2b_root (the source tree), f2b_filter, f2b_jails and f2b_work (a
# directory of its own, removed on exit). Without fail2ban the test is
# skipped (exit 77), or fails under NEMVO_REQUIRE_TEST_PREREQUISITES, as the
# other tests that lack what they need.

f2b_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
f2b_filter=$f2b_root/doc/fail2ban/filter.d/nemvoweb.conf
f2b_jails=$f2b_root/doc/fail2ban/jail.d/nemvoweb.conf

for _tool in fail2ban-regex fail2ban-client fail2ban-server; do
  if ! command -v "$_tool" >/dev/null; then
    echo "$_tool is missing: install fail2ban (scripts/install-deps.sh)"
    [ -n "${NEMVO_REQUIRE_TEST_PREREQUISITES:-}" ] && exit 1
    exit 77
  fi
done

f2b_work=$(mktemp -d /tmp/nemvo-f2b.XXXXXX)
f2b_cleanups=()
f2b_on_exit() {
  local c
  for c in "${f2b_cleanups[@]}"; do eval "$c"; done
  rm -rf "$f2b_work"
}
trap f2b_on_exit EXIT

# shellcheck source=../support/checks.sh
source "$f2b_root/tests/support/checks.sh"

# f2b_keep_config: the program's configuration file (NEMVO_SITE_CONFIG) as it
# is now, the other site tests' own, comes back when the test ends.
f2b_keep_config() {
  cp -p "$NEMVO_SITE_CONFIG" "$f2b_work/config.kept" || return 1
  f2b_cleanups+=('cp -p "$f2b_work/config.kept" "$NEMVO_SITE_CONFIG.tmp" && mv "$NEMVO_SITE_CONFIG.tmp" "$NEMVO_SITE_CONFIG"')
}

# f2b_matches LOG [LOGTYPE [JAIL]]: one line per line the filter matched in
# LOG, "ADDRESS<TAB>LINE", ADDRESS being the one fail2ban would ban. LOGTYPE
# is the filter's log kind (file, the default, or short: journalctl -o
# short); JAIL a jail whose date pattern to read the log with (by default
# fail2ban's own detection).
f2b_matches() {
  local log=$1 logtype=${2:-file} jail=${3:-} dates=()
  [ -z "$jail" ] || dates=(--datepattern "$(f2b_jail_setting "$jail" datepattern | sed 's/%%/%/g')")
  fail2ban-regex --raw "${dates[@]}" -o $'<ip>\t<msg>' "$log" "$f2b_filter[logtype=$logtype]" ||
    echo "fail2ban-regex failed on $log" >&2
}

# f2b_jail_setting JAIL NAME: the setting as the shipped jail file gives it
# (continuation lines joined with blanks).
f2b_jail_setting() {
  awk -v j="[$1]" -v n="$2" '$0 == j { on = 1; next } /^\[/ { on = 0 }
    on && $0 ~ "^" n " *=" { sub(/^[^=]*= */, ""); v = $0; p = 1; next }
    on && p && /^ +[^ ]/ { sub(/^ +/, ""); v = v " " $0; next } { p = 0 }
    END { print v }' "$f2b_jails"
}

# The client= address of a login line as the program wrote it (the first
# login line in it): what the filter must take, and nothing else (an IPv4
# address mapped into IPv6 as the IPv4 address fail2ban bans).
client_of() { grep -o 'nemvoweb: login [a-z]* client=[^ ]*' <<<"$1" | head -n1 | sed 's/.*client=//; s/^::ffff:\([0-9.]*\)$/\1/'; }
