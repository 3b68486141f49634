# The shell tests' report (sourced, not run): one line per check, "ok" or
# "FAIL" and its name, and a count at the end.
#
#   check NAME CONDITION...   runs the condition (a command) and reports it
#   ok NAME / fail NAME       reports a check made otherwise
#   finish                    prints the count; false when any check failed

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok   $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
check() { local name=$1; shift; if "$@"; then ok "$name"; else fail "$name"; fi; }
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
