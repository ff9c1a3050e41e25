# Sourced by scripts/test --sanitize: the sanitizers' settings for every instrumented process
# the tests start (the tests themselves, orvela, orvela-server). Reports go to files, since the
# output of a process a test starts may never be shown; sanitizer_verdict prints them and fails
# when there is any.

SANITIZER_REPORTS="$BUILD_DIR/sanitizer-reports"
rm -rf "$SANITIZER_REPORTS"
mkdir -p "$SANITIZER_REPORTS"

export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:log_path=$SANITIZER_REPORTS/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$SANITIZER_REPORTS/ubsan"
# Only what system libraries keep for the life of the process; Orvela's own leaks are reported.
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"

sanitizer_verdict() {
  local reports=("$SANITIZER_REPORTS"/*)
  if [ ! -e "${reports[0]}" ]; then
    echo "Sanitizers: no reports."
    return 0
  fi
  local report
  for report in "${reports[@]}"; do
    echo "=== sanitizer report $(basename "$report")"
    cat "$report"
  done
  echo "Sanitizers: ${#reports[@]} report(s), kept in $SANITIZER_REPORTS." >&2
  return 1
}
