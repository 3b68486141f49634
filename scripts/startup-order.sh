#!/usr/bin/env bash
# Writes src/main/cgi-startup-order.txt: the functions of nemvoweb that its
# CGI requests run, in the order the linker is to place them first in the
# program (see src/main/CMakeLists.txt).
#
# A CGI process maps the program anew for every request, and the kernel brings
# in its code 64 KiB around each page first touched: scattered over the whole
# program, the few dozen KiB a request runs cost it most of the program's code
# in memory and in page faults. Placed together, they cost a few windows.
#
#   scripts/startup-order.sh      (after changes that move the request's code;
#                                  bench/request.sh shows what it is worth)
#
# Each request runs once under valgrind's callgrind against the local
# Firebird server, smallest first: a request to another path, then a refused
# login, an accepted login, and a login to a database server that is not
# there. A function keeps the place of the first request that runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${NEMVO_ORDER_BUILD:-$root/build/startup-order}
out=$root/src/main/cgi-startup-order.txt
fb=$root/scripts/firebird.sh
export NEMVO_FB_PORT=${NEMVO_FB_PORT:-3050}
export NEMVO_FB_LEASE="startup-order-$$" NEMVO_FB_LEASE_PID=$$
# shellcheck source=bench/bench_lib.sh
. "$root/bench/bench_lib.sh"

dbpath=/var/lib/firebird/3.0/data/nemvo-bench/startup-order.fdb
user=nemvo_order
password=Order-1
site=$build/run
config=$site/Nemvo.Config

command -v valgrind >/dev/null || { echo "startup-order.sh: needs valgrind" >&2; exit 1; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_TESTS=OFF -DNEMVO_CONFIG_PATH="$config" >/dev/null
cmake --build "$build" --target nemvoweb -j2 >/dev/null
program=$build/src/main/nemvoweb

tmp=$(mktemp -d)
trap 'bench_database_down; rm -rf "$tmp"' EXIT
bench_database_up
mkdir -p "$site"
awk -f bench/main_template.awk > "$site/main.html"

# functions NAME DATABASE METHOD PATH BODY EXPECTED: the program's own
# functions that the request runs, by their symbol names, appended to
# $tmp/all, once its answer was seen to hold EXPECTED (empty: no answer).
# Each request comes from a client address of its own, which the login
# throttle has never seen.
client=0
functions() {
  local name=$1 database=$2 method=$3 path=$4 body=$5 expected=$6
  client=$((client + 1))
  printf '[Nemvo.FrameWork]\nDBSuporte=%s\nMainHTML=%s\n' "$database" "$site/main.html" > "$config"
  printf '%s' "$body" |
    env -i REQUEST_METHOD="$method" PATH_INFO="$path" SERVER_PROTOCOL=HTTP/1.1 \
      REMOTE_ADDR="10.254.$((RANDOM % 256)).$client" \
      CONTENT_LENGTH="${#body}" CONTENT_TYPE=application/x-www-form-urlencoded \
      valgrind --tool=callgrind --demangle=no --callgrind-out-file="$tmp/$name.out" "$program" \
      >"$tmp/$name.answer" 2>/dev/null
  if [ -z "$expected" ]; then ! [ -s "$tmp/$name.answer" ]; else grep -q "$expected" "$tmp/$name.answer"; fi ||
    { echo "startup-order.sh: $name: not the answer expected" >&2; exit 1; }
  # Lines "COST ???:SYMBOL [OBJECT]": those whose object is the program.
  callgrind_annotate --threshold=100 "$tmp/$name.out" |
    awk -v p="[$program]" 'index($0, p) { sub(/^.*\?\?\?:/, ""); sub(/ \[.*$/, ""); print }' >> "$tmp/all"
  echo "$name: $(grep -c . "$tmp/all") functions so far" >&2
}

db=$("$fb" url "$dbpath")
functions other "$db" POST /other "u=$user&p=$password" ''
functions refused "$db" POST /main "u=nemvo_order_no&p=wrong" 'Senha inv'
functions accepted "$db" POST /main "u=$user&p=$password" 'Painel'
# The program's own mp_exptmod and what it calls, which the client library
# runs through its integer library during a login: callgrind counts them to
# that library.
cat >> "$tmp/all" <<'NAMES'
mp_exptmod
_ZN5nemvo8platform19LibraryModularPowerEPv
_ZN5nemvo8platform12_GLOBAL__N_116NextModularPowerEv
_ZZN5nemvo8platform12_GLOBAL__N_113ObjectHoldingEPKvENUlP12dl_phdr_infomPvE_4_FUNES5_mS6_
NAMES
functions unreachable "127.0.0.1/1:/nemvo-order/none.fdb" POST /main "u=$user&p=$password" 'Erro'

{
  echo "# The functions a CGI request of nemvoweb runs, placed first in the program"
  echo "# in this order. Written by scripts/startup-order.sh: do not edit."
  awk '!seen[$0]++' "$tmp/all"
} > "$out"
echo "wrote $out: $(grep -vc '^#' "$out") functions" >&2
