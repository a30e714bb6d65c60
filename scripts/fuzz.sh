#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build-fuzz and runs each one for a bounded
# time, starting from its seed corpus. Fails on any crash, hang, leak, sanitizer report or
# broken property; the input that caused it is kept in build-fuzz/findings/.
#   scripts/fuzz.sh [seconds per target, default 12] [target...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(dirname "$here")"
source "$here/lib.sh"

install_packages $BUILD_PACKAGES $FUZZ_PACKAGES

seconds="${1:-12}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(modemreply gatewayframing sensorpayload smtpreply configfile)

build="$top/build-fuzz"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRIVEL_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$(build_jobs)"

mkdir -p "$build/findings" "$build/logs"
# The configuration target writes a file per run, and the settings store syncs it to disk:
# in memory it runs twenty times as often.
if [ -w /dev/shm ]; then
  TMPDIR="$(mktemp -d /dev/shm/ostrivel-fuzz.XXXXXX)"
  export TMPDIR
  trap 'rm -rf "$TMPDIR"' EXIT
fi
failed=0
for target in "${targets[@]}"; do
  # New inputs go to a corpus of the build; the checked-in seeds are only read.
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  log="$build/logs/$target.log"
  if ! (cd "$build" && "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/findings/$target-" "$corpus" "$top/fuzz/corpus/$target") \
      >"$log" 2>&1; then
    failed=1
    echo "fuzz_$target: FAILED, see $log"
    grep -E "ERROR|SUMMARY|Test unit written" "$log" || tail -20 "$log"
    continue
  fi
  stats="$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')"
  runs="$(grep -oE 'number_of_executed_units: +[0-9]+' "$log" | grep -oE '[0-9]+$')"
  rate="$(grep -oE 'average_exec_per_sec: +[0-9]+' "$log" | grep -oE '[0-9]+$')"
  echo "fuzz_$target: $runs runs, $rate/s, $stats"
done
exit $failed
