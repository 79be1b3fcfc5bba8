#!/usr/bin/env bash
# Install what is missing, build Release and a sanitizer build, run every test in both.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
pelmira_install_missing
pelmira_web_driver || echo "test.sh: npm ci failed in tests/web: the web page's tests will be skipped"

pelmira_build build/release Release
pelmira_build build/asan Debug -DPELMIRA_SANITIZE=ON

status=0
echo "== Release =="
ctest --test-dir build/release --output-on-failure -j2 || status=1
echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
# intercept_tls_get_addr=0: the leak checker misreads glibc 2.36's dynamic TLS
# records and now and then crashes scanning one at exit (google/sanitizers#1322).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j2 || status=1
exit $status
