#!/bin/bash
# Builds one sanitizer preset and runs tests under it; fails on any failing test and on any
# sanitizer report, even one from a process whose exit status a test does not look at (a
# program a script started, a child killed by a timeout).
#   tools/sanitizers.sh asan [LABEL_REGEX]    AddressSanitizer + UBSan; default: every test
#   tools/sanitizers.sh tsan [LABEL_REGEX]    ThreadSanitizer; default: the threaded tests
#                                             (labels lan|mdns: sweeps, mDNS, Controller)
# Run as root: the network tests build their own namespaces (they skip otherwise).
# Presets and options are in CMakePresets.json; suppressions in tools/sanitizers/*.supp.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$(dirname "$0")/lib.sh"

preset=${1:-}
case "$preset" in
asan | tsan) ;;
*) usage 5 9 ;;
esac
build=$top/build-$preset
logs=$build/sanitizer-logs
cd "$top"

[ "$(id -u)" = 0 ] || echo "note: not root, the namespace tests will be skipped" >&2

start=$SECONDS
cmake --preset "$preset" >/dev/null
targets=()
if [ "$preset" = tsan ]; then
    # Only the threaded tests run under ThreadSanitizer; building the rest would double the time.
    targets=(--target encodersim lumisweep tst_scans tst_helper tst_watch)
fi
cmake --build --preset "$preset" -j"$(nproc)" "${targets[@]}" >"$build/sanitizer-build.log" 2>&1 \
    || { tail -n 40 "$build/sanitizer-build.log"; exit 2; }
built=$SECONDS

rm -rf "$logs"
mkdir -p "$logs"
filter=()
if [ $# -ge 2 ]; then
    filter=(-L "$2")
fi
# The namespace tests give the simulated LAN its own name per run, so -j2 is safe; the window
# tests that need the LAN alone say so themselves (RUN_SERIAL).
set +e
ctest --preset "$preset" -j2 "${filter[@]}" 2>&1 | tee "$build/sanitizer-ctest.log"
tests_rc=${PIPESTATUS[0]}
set -e

reports=$(find "$logs" -type f | wc -l)
summary=$(grep -E '^[0-9]+% tests passed' "$build/sanitizer-ctest.log" || true)
echo
echo "$preset: ${summary:-no tests ran}; sanitizer reports: $reports;" \
    "build $((built - start)) s, tests $((SECONDS - built)) s"
if [ "$reports" -gt 0 ]; then
    for log in "$logs"/*; do
        echo "==== $log"
        head -n 60 "$log"
    done
    exit 1
fi
exit "$tests_rc"
