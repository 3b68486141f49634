#!/usr/bin/env bash
# The shipped fail2ban filter (doc/fail2ban/filter.d/nemvoweb.conf) on a
# table of log lines in each server's format: which lines fail2ban counts,
# and the address it takes from each. Refused and throttled logins count,
# accepted, erroring and deferred ones (made to wait for others' refusals)
# never; the address is client='s alone, whatever
# a user name, a path, a query string or a Referer holds; lines in no
# server's format (a word before the login line) do not count.
#
#   fail2ban_filter_test.sh
#
# The site tests' real logs are fail2ban_site_logs_test.sh's.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=fail2ban_lib.sh
source "$here/fail2ban_lib.sh"

# LOGTYPE<TAB>EXPECTED<TAB>LINE: EXPECTED is the address fail2ban must take,
# or "-" when the line must not count.
table=$(cat <<'TABLE'
file	192.0.2.1	nemvoweb: login refused client=192.0.2.1 user=bob path=/main
file	192.0.2.2	nemvoweb: login throttled client=192.0.2.2 user=bob path=/main
file	-	nemvoweb: login accepted client=192.0.2.3 user=bob path=/main
file	-	nemvoweb: login error client=192.0.2.4 user=bob path=/main
file	-	nemvoweb: login refused client=- user=bob path=/main
file	2001:db8::5	nemvoweb: login refused client=2001:db8::5 user=bob path=/main
file	192.0.2.6	nemvoweb: login refused client=::ffff:192.0.2.6 user=bob path=/main
file	192.0.2.7	nemvoweb: login refused client=192.0.2.7 user=x\x20client=203.0.113.1\x20user=y path=/main
file	192.0.2.8	nemvoweb: login refused client=192.0.2.8 user=client=203.0.113.2 path=/main\x20client=203.0.113.3
file	192.0.2.9	nemvoweb: login throttled client=192.0.2.9 user=nemvoweb:\x20login\x20refused\x20client=203.0.113.4 path=/main
file	-	nemvoweb: login accepted client=192.0.2.10 user=x\x20nemvoweb:\x20login\x20refused\x20client=203.0.113.5 path=/main
file	-	other: nemvoweb: login refused client=203.0.113.6 user=bob path=/main
file	-	nemvoweb: login refused client=203.0.113.7x user=bob path=/main
file	192.0.2.11	2026-12-11 01:34:41: (mod_fastcgi.c.449) FastCGI-stderr:nemvoweb: login refused client=192.0.2.11 user=bob path=/main
file	-	2026-12-11 01:34:41: (mod_fastcgi.c.449) FastCGI-stderr:nemvoweb: login accepted client=192.0.2.12 user=bob path=/main
file	192.0.2.13	[Fri Dec 11 01:35:45.838705 2026] [proxy_fcgi:error] [pid 28519:tid 28527] [client 127.0.0.1:54296] AH01071: Got error 'nemvoweb: login throttled client=192.0.2.13 user=bob\\x20client=203.0.113.8 path=/main\n', referer: http://x/ nemvoweb: login refused client=203.0.113.9 user=a path=/main
file	-	[Fri Dec 11 01:35:45.838705 2026] [proxy_fcgi:error] [pid 28519:tid 28527] [client 203.0.113.10:54296] AH01071: Got error 'nemvoweb: login error client=192.0.2.14 user=bob path=/main\n'
file	192.0.2.15	[Fri Dec 11 01:35:45.813141 2026] [cgi:error] [pid 28484:tid 28484] [client 127.0.0.1:45564] AH01215: stderr from /usr/lib/cgi-bin/nemvoweb: nemvoweb: login refused client=192.0.2.15 user=bob path=/main, referer: http://x/
file	-	[Fri Dec 11 01:35:45.807871 2026] [authz_core:error] [pid 28484:tid 28484] [client 203.0.113.11:45564] AH01630: client denied by server configuration: /srv/main, referer: http://x/ nemvoweb: login refused client=203.0.113.12 user=a path=/main
file	192.0.2.16	2026/12/11 01:33:51 [error] 21784#21784: *2 FastCGI sent in stderr: "nemvoweb: login refused client=192.0.2.16 user=bob path=/main" while reading response header from upstream, client: 203.0.113.13, server: 127.0.0.1, request: "POST /cgi-bin/nemvoweb/main?client=203.0.113.14 HTTP/1.1", upstream: "fastcgi://unix:/run/fcgiwrap.socket:", host: "127.0.0.1"
file	-	2026/12/11 01:33:51 [error] 21784#21784: *3 FastCGI sent in stderr: "nemvoweb: login accepted client=192.0.2.17 user=bob path=/main" while reading upstream, client: 127.0.0.1, server: 127.0.0.1, request: "POST /cgi-bin/nemvoweb/main HTTP/1.1", referrer: "nemvoweb: login refused client=203.0.113.15 user=a path=/main"
file	-	2026/12/11 01:33:51 [error] 21784#21784: *4 open() "/srv/nemvoweb: login refused client=203.0.113.16 user=a path=" failed (2: No such file or directory), client: 127.0.0.1, server: 127.0.0.1
short	192.0.2.18	Dec 11 01:02:03 web1 nemvoweb[812]: nemvoweb: login refused client=192.0.2.18 user=bob path=/main
short	2001:db8::19	Dec 11 01:02:04 web1 nemvoweb[813]: nemvoweb: login throttled client=2001:db8::19 user=bob path=/main
short	-	Dec 11 01:02:05 web1 nemvoweb[812]: nemvoweb: login accepted client=192.0.2.20 user=bob path=/main
short	-	Dec 11 01:02:06 web1 nemvoweb[812]: nemvoweb: login error client=192.0.2.21 user=bob path=/main
file	-	nemvoweb: login deferred client=192.0.2.22 user=bob path=/main
short	-	Dec 11 01:02:07 web1 nemvoweb[812]: nemvoweb[1]: nemvoweb: login refused client=203.0.113.17 user=a path=/main
TABLE
)

for logtype in file short; do
  log=$f2b_work/$logtype.log
  awk -F'\t' -v t="$logtype" '$1 == t { sub(/^[^\t]*\t[^\t]*\t/, ""); print }' <<<"$table" >"$log"
  f2b_matches "$log" "$logtype" >"$f2b_work/$logtype.matched"
  while IFS=$'\t' read -r type want line; do
    [ "$type" = "$logtype" ] || continue
    got=$(l=$line awk -F'\t' 'substr($0, index($0, "\t") + 1) == ENVIRON["l"] { print $1 }' "$f2b_work/$logtype.matched")
    [ -n "$got" ] || got=-
    check "$logtype: ${want/#-/not counted}: ${line:0:90}" [ "$got" = "$want" ]
  done <<<"$table"
done

# The filter as the jails load it: each jail's settings and the filter's
# variant for its backend, read by fail2ban's own configuration reader (no
# server runs: -d only prints what would be sent to one).
conf=$f2b_work/conf
mkdir -p "$conf/filter.d" "$conf/jail.d" "$conf/action.d"
cp "$f2b_filter" "$conf/filter.d/"
cp "$f2b_jails" "$conf/jail.d/"
printf '[Definition]\nloglevel = INFO\nlogtarget = %s\nsocket = %s\npidfile = %s\ndbfile = :memory:\n' \
  "$f2b_work/f2b.log" "$f2b_work/f2b.sock" "$f2b_work/f2b.pid" >"$conf/fail2ban.conf"
printf '[DEFAULT]\nbanaction = dummy\naction = dummy\n' >"$conf/jail.conf"
printf '[Definition]\nactionban = true\nactionunban = true\n' >"$conf/action.d/dummy.conf"
touch "$f2b_work/some.log"
jails=$(sed -n 's/^\[\(nemvoweb-[a-z]*\)\]$/\1/p' "$f2b_jails")
check "four jails: lighttpd, apache, nginx, journal" [ "$(echo $jails)" = "nemvoweb-lighttpd nemvoweb-apache nemvoweb-nginx nemvoweb-journal" ]
fail2ban-client -c "$conf" -d >"$f2b_work/none.dump" 2>&1
check "as shipped, no jail is enabled" bash -c "! grep -q \"^\['add'\" '$f2b_work/none.dump'"
for jail in $jails; do
  # One line enables it; the log paths are the test's (a file backend needs
  # an existing file).
  printf '[%s]\nenabled = true\n' "$jail" >"$conf/jail.local"
  [ "$jail" = nemvoweb-journal ] || printf 'logpath = %s\n' "$f2b_work/some.log" >>"$conf/jail.local"
  fail2ban-client -c "$conf" -d >"$f2b_work/$jail.dump" 2>&1
  dump=$f2b_work/$jail.dump
  check "$jail: enabled with one line" grep -qF "['start', '$jail']" "$dump"
  for setting in "'maxretry', 5" "'findtime', '10m'" "'bantime', '1h'" "'bantime.increment', True" "'bantime.maxtime', '1d'"; do
    check "$jail: $setting" grep -qF "['set', '$jail', $setting]" "$dump"
  done
  if [ "$jail" = nemvoweb-journal ]; then
    check "$jail: systemd backend, the service's entries, the journal's variant" \
      eval "grep -qF \"['add', '$jail', 'systemd']\" '$dump' &&
            grep -qF \"['set', '$jail', 'addjournalmatch', '_SYSTEMD_UNIT=nemvoweb.service']\" '$dump' &&
            grep -F \"'addfailregex'\" '$dump' | grep -qF 'S+ \\\\S+:'"
  else
    check "$jail: the log files' variant" eval "grep -F \"'addfailregex'\" '$dump' | grep -qF 'FastCGI sent in stderr'"
  fi
  # The shipped log paths, before the test's replaced them.
  case $jail in
    nemvoweb-lighttpd) paths="/var/log/lighttpd/error.log /var/log/lighttpd/breakage.log" ;;
    nemvoweb-apache) paths="/var/log/apache2/*error.log" ;;
    nemvoweb-nginx) paths="/var/log/nginx/*error.log" ;;
    nemvoweb-journal) paths="" ;;
  esac
  check "$jail: Debian's log paths (${paths:-none})" [ "$(f2b_jail_setting "$jail" logpath)" = "$paths" ]
  check "$jail: ports http,https" [ "$(f2b_jail_setting "$jail" port)" = http,https ]
  if [ "$jail" != nemvoweb-journal ]; then
    check "$jail: its date pattern reaches the filter" grep -qF "['set', '$jail', 'datepattern'" "$dump"
  fi
done

finish
