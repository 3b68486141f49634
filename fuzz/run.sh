#!/usr/bin/env bash
# Runs fuzz targets: each one first over its whole corpus (fuzz/corpus/NAME,
# every kept finding included), then fresh for SECONDS more, with its
# dictionary. Exits non-zero when any target finds something; the input is
# then in WORK/NAME/ (printed).
#
#   fuzz/run.sh BUILD_DIR SECONDS [NAME...]     (default: every target)
#
# BUILD_DIR was configured with CC=clang CXX=clang++ -DNEMVO_BUILD_FUZZ=ON.
# FUZZ_WORK (default: a temporary directory, removed afterwards when nothing
# was found) keeps the new inputs of the run, e.g. for merging into the corpus.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: fuzz/run.sh BUILD_DIR SECONDS [NAME...]}
seconds=${2:?usage: fuzz/run.sh BUILD_DIR SECONDS [NAME...]}
shift 2
if [ $# -eq 0 ]; then
  set -- $(cd "$here" && ls *_fuzz.cpp | sed 's/_fuzz\.cpp$//')
fi

work=${FUZZ_WORK:-}
keep=1
if [ -z "$work" ]; then
  work=$(mktemp -d /tmp/nemvo-fuzz.XXXXXX)
  keep=0
fi

# Inputs longer than libFuzzer's default of 4096 bytes where a target's
# behaviour changes beyond it (the template scanner's 4096-byte buffer).
max_len() {
  case "$1" in
    ExpandTemplate) echo 20000 ;;
    *) echo 4096 ;;
  esac
}

status=0
for name in "$@"; do
  bin=$build/fuzz/fuzz_$name
  if [ ! -x "$bin" ]; then
    echo "fuzz: $bin is not built" >&2
    status=1
    continue
  fi
  mkdir -p "$work/$name/new"
  corpus=$here/corpus/$name
  mkdir -p "$corpus"
  echo "== fuzz_$name: corpus of $(ls "$corpus" | wc -l) inputs, then ${seconds}s fresh"
  if "$bin" -dict="$here/dict/$name.dict" -max_len="$(max_len "$name")" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$name/" \
      "$work/$name/new" "$corpus" > "$work/$name/log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+[[:space:]]+DONE' "$work/$name/log" | tr '\n' ' '
    echo
  else
    status=1
    tail -n 60 "$work/$name/log"
    echo "fuzz_$name FAILED; input and log in $work/$name/" >&2
    keep=1
  fi
done
[ "$keep" -eq 1 ] || rm -rf "$work"
exit $status
