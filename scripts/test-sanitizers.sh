#!/usr/bin/env bash
# Builds the client, every test suite and the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ (no benchmarks) and runs the whole suite there.
# Any sanitizer report, in a test or in a client process a test starts, fails the run. Leaks are
# not checked: Qt and the system libraries keep their caches until the process ends.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/asan-tree.sh
configure_asan_tree
cmake --build build-asan -j2
reports="$PWD/build-asan/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
status=0
# The web page's tests run no code of ours that a sanitizer could watch (the page is script).
# Four at a time, as in scripts/test.sh: the suites mostly wait for the processes they start.
(cd build-asan && QT_QPA_PLATFORM=offscreen ctest -E '^web/' --output-on-failure -j4 --timeout 900 \
  --repeat after-timeout:2) || status=$?
if compgen -G "$reports/*" >/dev/null; then
  echo "Sanitizer reports:" >&2
  cat "$reports"/* >&2
  status=1
fi
exit $status
