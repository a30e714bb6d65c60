#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(dirname "$here")"
source "$here/lib.sh"

# The fuzz targets' compiler too, so that sudo asks for the password here and not again after
# the tests, at the end of a long run.
install_packages $BUILD_PACKAGES $TEST_PACKAGES $FUZZ_PACKAGES
# Every test runs under ru_RU.UTF-8 and Moscow time, as the program's users run it.
ensure_russian_locale

# The folders include one way down their layers (README, "How the program is built").
"$here/layers.sh" "$top"

build="$top/build-test"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTRIVEL_SANITIZE=ON -DOSTRIVEL_TESTS=ON >/dev/null
cmake --build "$build" -j "$(build_jobs)"
cd "$build"
ctest --output-on-failure -j "$(test_jobs)" "$@"
# The thread checks, in a build of their own.
"$here/tsan.sh"
# Each fuzz target for a bounded time (about a minute in all).
"$here/fuzz.sh"
