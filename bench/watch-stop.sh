#!/bin/bash
# How fast a watch ends on Ctrl-C, in a simulated LAN: lumisweep --scan arp --watch as root
# (through the ARP helper, kept for the whole watch) and, without the helper, through the
# kernel's path; each run waits for the first scan's devices, watches a second, then gets SIGINT.
# Prints the time from the signal to the process's end, and its exit status, for each run.
#
#   sudo bench/watch-stop.sh [BUILD_DIR] [RUNS]
set -u
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/../tools/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

if [ "${1:-}" != "--inside" ]; then
    need_root "network namespaces"
    build=$(cd "${1:-$root/build}" && pwd)
    export LUMISWEEP_ENCODERSIM="$build/tools/encodersim/encodersim"
    exec "$root/tools/simlan/simlan.sh" run "$root/tests/lan/watch.topology" -- \
        "$0" --inside "$build" "${2:-10}"
fi
require_test_lan
build=$2
runs=$3
work=$(mktemp -d /tmp/lsw-stop.XXXXXX)
at_exit rm -rf "$work"
out=$work/events
# Without a helper beside it, the program watches through the kernel's neighbour table.
mkdir "$work/kernel"
cp "$build/lumisweep" "$work/kernel/"

# One watch, stopped by SIGINT once its first scan is told: "MILLISECONDS STATUS".
stopped_after() { # PROGRAM
    local pid start end status=0
    "$1" --scan arp --watch --format json >"$out" 2>/dev/null &
    pid=$!
    wait_for 60 grep -q '"present"' "$out" || { kill "$pid"; echo "no first scan"; return 1; }
    sleep 1
    start=$(date +%s%N)
    kill -INT "$pid"
    wait "$pid" || status=$?
    end=$(date +%s%N)
    echo "$(((end - start) / 1000000)) $status"
}

for engine in helper kernel; do
    program=$build/lumisweep
    [ "$engine" = kernel ] && program=$work/kernel/lumisweep
    times=()
    for _ in $(seq "$runs"); do
        read -r ms status < <(stopped_after "$program")
        [ "$status" = 130 ] || { echo "watch-stop: exit status $status, not 130" >&2; exit 1; }
        times+=("$ms")
    done
    sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
    echo "Ctrl-C to the end of the watch, $engine, ms (sorted, $runs runs): $sorted"
done
