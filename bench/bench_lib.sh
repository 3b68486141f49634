# Shared by the benchmark scripts (sourced, not run).

# bench_quantile FILE Q [SCALE] [DECIMALS]: the Q-quantile (nearest rank) of
# the second column of FILE, times SCALE (default 1), with DECIMALS (default 2).
bench_quantile() {
  awk -v s="${3:-1}" '{ print $2 * s }' "$1" | sort -n |
    awk -v q="$2" -v d="${4:-2}" '{ v[NR] = $1 } END { r = int(q * NR + 0.999999); if (r < 1) r = 1; printf "%.*f", d, v[r] }'
}

# bench_post_script FILE BODY: a wrk script that posts BODY as a form.
bench_post_script() {
  cat >"$1" <<LUA
wrk.method = "POST"
wrk.body = "$2"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
LUA
}

# bench_database_up / bench_database_down: the benchmark's database $dbpath
# (dialect 3) and user $user/$password on the local Firebird server ($fb is
# scripts/firebird.sh), and their removal (which never fails).
bench_database_up() {
  "$fb" start
  "$fb" create-db "$dbpath" 3
  "$fb" create-user "$user" "$password"
}
bench_database_down() {
  "$fb" drop-db "$dbpath" >/dev/null 2>&1 || true
  "$fb" drop-user "$user" >/dev/null 2>&1 || true
  "$fb" stop || true
}
