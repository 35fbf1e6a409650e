#!/bin/bash
# Builds the fuzz targets (clang, ASan, UBSan) and runs each for a fixed time from its seeds in
# fuzz/corpus/<target>/; fails when a target crashes, breaks a property, leaks, hangs or eats
# memory. New inputs stay in the build folder; crashing ones go to <build>/artifacts/.
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]      default: 20 seconds, every target
set -euo pipefail
seconds=${1:-20}
shift || true
top=$(cd "$(dirname "$0")/.." && pwd)
. "$(dirname "$0")/../tools/lib.sh"
build=${LUMISWEEP_FUZZ_BUILD_DIR:-$top/build-fuzz}
# Run by hand or by CI, not by ctest: a missing compiler is an error, not a skipped test.
missing_status=2
need_tools clang++
cmake -S "$top/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 2; }
if [ $# -eq 0 ]; then
    for source in "$top"/fuzz/fuzz_*.cpp; do
        source=${source##*/}
        set -- "$@" "${source%.cpp}"
    done
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} AVAHI_COMPAT_NOWARN=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/artifacts"
failed=0
printf '%-20s %12s %10s %s\n' target executions "exec/s" result
for target in "$@"; do
    mkdir -p "$build/corpus/$target"
    log=$build/$target.log
    # -timeout: one input taking longer is a hang; -rss_limit_mb: an input that eats memory.
    if "$build/$target" "$build/corpus/$target" "$top/fuzz/corpus/$target" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1; then result=ok; else
        result="FAILED, see $log"
        failed=1
        grep -E -A 25 'ERROR|property broken|runtime error|deadly signal' "$log" | head -n 40
    fi
    printf '%-20s %12s %10s %s\n' "$target" "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")" \
        "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")" "$result"
done
exit $failed
