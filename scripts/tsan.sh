#!/usr/bin/env bash
# Builds the tests whose module threads run beside the GUI thread (modem, DBF export,
# notifications, table and graph loading and its stop at close, the database writer and its
# faults, the problem report's mail thread and archive, the sensors dialog's removals while
# sensors report, the program closed while its writer is stuck, the information dialog's count,
# a report's workbook written beside its progress) with ThreadSanitizer in
# build-tsan and runs them; any report fails the run. Called by test.sh; runs on its own too.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(dirname "$here")"
source "$here/lib.sh"

TSAN_TESTS="tst_modemmodule tst_dbfexport tst_notifications tst_mainwindow tst_mainwindowtree tst_graphwidget
  tst_loaderstop tst_databasewriter tst_databasewriterfile tst_databasefaults tst_dialogsendreport tst_reportarchive
  tst_registryroads tst_programclose tst_dialoginfo tst_reports"

install_packages $BUILD_PACKAGES $TEST_PACKAGES
# Every test runs under ru_RU.UTF-8 and Moscow time, as the program's users run it.
ensure_russian_locale

build="$top/build-tsan"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTRIVEL_TSAN=ON -DOSTRIVEL_TESTS=ON >/dev/null
cmake --build "$build" -j "$(build_jobs)" --target $TSAN_TESTS
cd "$build"
# Qt is not instrumented: what its own code reads and writes is never seen, and with
# ignore_noninstrumented_modules neither is what it does through the sanitizer's interceptors
# (the memory it allocates, copies and frees); the synchronisation it provides is made visible
# by tests/tsanqtlocks.cpp. halt_on_error ends a test at its first report with the exit code
# below, which ctest counts as a failure.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 ignore_noninstrumented_modules=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp"
ctest --output-on-failure -j "$(test_jobs)" -R "^($(echo $TSAN_TESTS | tr ' ' '|'))\$" "$@"
