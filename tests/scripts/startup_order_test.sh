#!/usr/bin/env bash
# The program as linked against the order of src/main/cgi-startup-order.txt:
#   - the list still names the program's functions (a list gone stale after
#     renames is only ever noticed as memory: run scripts/startup-order.sh);
#   - the linker placed them together, not where their files put them.
#
#   startup_order_test.sh PROGRAM ORDER-FILE
set -euo pipefail
program=$1
order=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

grep -v '^#' "$order" | sed '/^$/d' | sort -u > "$tmp/listed"
# Defined functions: address, size, name.
nm -S --defined-only "$program" | awk 'NF == 4 && $3 ~ /^[tTwW]$/ { print $4, $1, $2 }' | sort -k1,1 > "$tmp/defined"
join "$tmp/listed" "$tmp/defined" > "$tmp/found"
listed=$(wc -l < "$tmp/listed")
found=$(cut -d' ' -f1 "$tmp/found" | sort -u | wc -l)
echo "$found of $listed listed functions are in $program"
if [ $((found * 100)) -lt $((listed * 90)) ]; then
  echo "FAIL: the list no longer matches the program: run scripts/startup-order.sh" >&2
  exit 1
fi
# Together: their span is not much more than their own size.
lo= hi=0 size=0
while read -r _ address length; do
  a=$((16#$address)) s=$((16#$length))
  if [ -z "$lo" ] || [ "$a" -lt "$lo" ]; then lo=$a; fi
  if [ $((a + s)) -gt "$hi" ]; then hi=$((a + s)); fi
  size=$((size + s))
done < "$tmp/found"
span=$((hi - lo))
echo "listed functions: $size bytes over a span of $span bytes"
if [ $((span * 2)) -gt $((size * 3)) ]; then
  echo "FAIL: the listed functions are spread over the program: was it linked with the order?" >&2
  exit 1
fi
