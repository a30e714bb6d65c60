#!/usr/bin/env bash
# Builds the tests whose module threads run beside the GUI thread with ThreadSanitizer in
# build-tsan and runs them; any report fails the run. Called by test.sh; runs on its own too.
# The modem and the database writer run clean. The DBF export, notification and main-window
# tests still draw reports on the argument copies Qt makes for a queued call after it is
# emitted, in code of Qt's without symbols that no suppression can name; they join the list once
# that hand-over is modelled (tests/tsanqtlocks.cpp).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(dirname "$here")"
source "$here/lib.sh"

TSAN_TESTS="tst_modemmodule tst_databasewriter"

install_packages $BUILD_PACKAGES $TEST_PACKAGES

build="$top/build-tsan"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTRIVEL_TSAN=ON -DOSTRIVEL_TESTS=ON >/dev/null
cmake --build "$build" -j "$(build_jobs)" --target $TSAN_TESTS
cd "$build"
# halt_on_error ends a test at its first report with the exit code below, which ctest counts
# as a failure; the suppressions name frames inside Qt only (see the file).
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp"
ctest --output-on-failure -j "$(build_jobs)" -R "^($(echo $TSAN_TESTS | tr ' ' '|'))\$" "$@"
