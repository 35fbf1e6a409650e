#!/bin/bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) and runs
# each for a fixed time, starting from the seed corpus in fuzz/corpus/<target>/. Fails when any
# target crashes, breaks a property, leaks, runs out of memory or hangs on one input.
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]      default: 20 seconds, every target
# Environment: LUMISWEEP_FUZZ_BUILD_DIR (default build-fuzz next to this folder's parent).
# New inputs the fuzzer finds go to the build folder, never into the repository's seeds;
# crashing inputs are kept in <build>/artifacts/ for the report.
set -euo pipefail

seconds=${1:-20}
shift || true
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LUMISWEEP_FUZZ_BUILD_DIR:-$top/build-fuzz}

command -v clang++ >/dev/null || { echo "clang++ is missing (Debian: clang libclang-rt-14-dev)" >&2; exit 2; }

cmake -S "$top/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 2; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in "$top"/fuzz/fuzz_*.cpp; do
        name=$(basename "$source" .cpp)
        [ -x "$build/$name" ] && targets+=("$name")
    done
fi

# Leaks are findings in our code; Qt's caches that live until exit are not, and they are freed
# only at exit, which libFuzzer's per-input leak check never reaches.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export AVAHI_COMPAT_NOWARN=1

mkdir -p "$build/artifacts"
failed=()
printf '%-20s %8s %12s %10s %8s %s\n' target seconds executions "exec/s" corpus result
for target in "${targets[@]}"; do
    work=$build/corpus/$target
    mkdir -p "$work"
    log=$build/$target.log
    set +e
    # -timeout: one input taking longer is a hang; -rss_limit_mb: a range that eats memory.
    "$build/$target" "$work" "$top/fuzz/corpus/$target" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1
    rc=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    size=$(find "$work" -type f | wc -l)
    result=ok
    if [ "$rc" -ne 0 ]; then
        result="FAILED (exit $rc, log $log)"
        failed+=("$target")
    fi
    printf '%-20s %8s %12s %10s %8s %s\n' "$target" "$seconds" "${runs:-?}" "${rate:-?}" "$size" "$result"
done

if [ ${#failed[@]} -gt 0 ]; then
    for target in "${failed[@]}"; do
        echo "---- $target"
        grep -E -A 25 'ERROR|property broken|runtime error|deadly signal' "$build/$target.log" | head -n 40
    done
    echo "crashing inputs: $build/artifacts/" >&2
    exit 1
fi
