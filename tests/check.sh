# Counts the checks of a test script. Source it, call `check LABEL EXPECTED
# ACTUAL` for each, and end with `finish`, whose status is the script's.
passed=0
failed=0
check() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1: $3"
    passed=$((passed + 1))
  else
    echo "FAILED: $1: expected '$2', got '$3'"
    failed=$((failed + 1))
    # scripts/mutants needs only the first failure.
    [ -z "${RAVO_TESTS_END_AT_FAILURE:-}" ] || exit 1
  fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
