# Sourced by the shell tests: `check <description> <command...>` prints one
# ok/FAIL line per check and counts the failures in $failures.
failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok   - $what"; else echo "FAIL - $what"; failures=$((failures + 1)); fi
}
