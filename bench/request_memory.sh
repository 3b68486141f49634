#!/usr/bin/env bash
# Peak resident memory of one nemvoweb request against the size of its body,
# side by side with the floor (bench_cgi_floor_body: the body read into one
# buffer of its size) and with any other builds of the program named in
# NEMVO_BENCH_COMPARE ("label=path ...", for example an older build; such a
# program reads the configuration its own build names).
#
#   bench/request_memory.sh [RUNS]     (default 3 runs per program, median)
#
# Bodies of 1, 10 and 100 MB (10^6 bytes) posted to /main, in three shapes:
#   field     u=...&p=...&f= and filler: one large field the login never reads
#   password  u=...&p= and filler: the password itself is the large field
#   many      "a=1&" over and over: a quarter of the body's size in fields
#             (1 and 10 MB only unless NEMVO_BENCH_MANY_100=1: every field is
#             a line of its own, far more than the body in memory)
# The database named in the configuration refuses at once (a closed port on
# 127.0.0.1), so every request ends with the message page. The goal checked
# is peak <= 2.0 x body + 6 MB; the answers of all programs compared must be
# byte for byte the same.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-3}
build=${NEMVO_BENCH_BUILD:-$root/build/bench-memory}
site=$build/run
config=$site/Nemvo.Config
say() { printf '%s\n' "$*" >&2; }

say "== Building in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DNEMVO_BUILD_BENCH=ON -DNEMVO_BUILD_TESTS=OFF \
  -DNEMVO_CONFIG_PATH="$config" >/dev/null
cmake --build "$build" --target nemvoweb bench_cgi_floor_body -j2 >/dev/null
mkdir -p "$site"
printf '[Nemvo.FrameWork]\nDBSuporte=127.0.0.1/1:/nemvo-bench/none.fdb\nMainHTML=\n' > "$config"

programs=("nemvoweb=$build/src/main/nemvoweb")
for p in ${NEMVO_BENCH_COMPARE:-}; do programs+=("$p"); done
programs+=("floor=$build/bench/bench_cgi_floor_body")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# make_body SHAPE SIZE FILE: exactly SIZE bytes.
make_body() {
  local shape=$1 size=$2 file=$3 head
  case $shape in
    field) head='u=nemvo_bench&p=wrong&f=' ;;
    password) head='u=nemvo_bench&p=' ;;
    many) head='' ;;
  esac
  # yes ends on a broken pipe once head has its bytes.
  (
    set +o pipefail
    printf '%s' "$head"
    if [ "$shape" = many ]; then
      yes 'a=1' | tr '\n' '&' | head -c $((size - ${#head}))
    else
      yes 'abcdefghijklmnopqrstuvwxyz0123456789' | tr -d '\n' | head -c $((size - ${#head}))
    fi
  ) > "$file"
}

# peak_kib PROGRAM BODY-FILE OUT-FILE: the peak resident set size in KiB.
peak_kib() {
  local program=$1 body=$2 out=$3 size
  size=$(stat -c %s "$body")
  env -i REQUEST_METHOD=POST PATH_INFO=/main SERVER_PROTOCOL=HTTP/1.1 CONTENT_LENGTH="$size" \
    CONTENT_TYPE=application/x-www-form-urlencoded \
    /usr/bin/time -f '%M' -o "$tmp/time" "$program" < "$body" > "$out" || true
  tail -n1 "$tmp/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-9s %7s  %-12s %10s %8s  %s\n' shape body program "peak KiB" "x body" "goal: 2.0 x body + 6 MB"
status=0
for shape in field password many; do
  for mb in 1 10 100; do
    if [ "$shape" = many ] && [ "$mb" = 100 ] && [ "${NEMVO_BENCH_MANY_100:-0}" != 1 ]; then continue; fi
    size=$((mb * 1000000))
    body=$tmp/body
    make_body "$shape" "$size" "$body"
    declare -A samples=()
    # Interleaved: every run takes each program once, in turn.
    for ((r = 0; r < runs; r++)); do
      for entry in "${programs[@]}"; do
        label=${entry%%=*}
        samples[$label]+="$(peak_kib "${entry#*=}" "$body" "$tmp/out-$label") "
      done
    done
    reference=""
    for entry in "${programs[@]}"; do
      label=${entry%%=*}
      [ "$label" = floor ] && continue
      if [ -z "$reference" ]; then
        reference=$label
      elif ! cmp -s "$tmp/out-$reference" "$tmp/out-$label"; then
        say "$shape $mb MB: the answers of $reference and $label differ"
        status=1
      fi
    done
    for entry in "${programs[@]}"; do
      label=${entry%%=*}
      kib=$(printf '%s\n' ${samples[$label]} | median)
      awk -v s="$shape" -v mb="$mb" -v l="$label" -v k="$kib" -v b="$size" 'BEGIN {
        peak = k * 1024; goal = 2.0 * b + 6e6
        printf "%-9s %4d MB  %-12s %10d %8.2f  %s\n", s, mb, l, k, peak / b, (peak <= goal ? "ok" : "OVER")
      }'
    done
    unset samples
  done
done
exit $status
