#!/bin/bash
# The mDNS figure: time from the start of a browse to the report of one announced device, for
# lumisweep and for avahi-browse on the same private daemon, alternating, in one run.
#
#   bench/mdns-bench.sh [--silent-dns] [BUILD_DIR] [ROUNDS]
#
# Builds its own test LAN (simlan) and avahi-daemon (with-avahi.sh), which announces the device
# of mdns-bench.publish; needs root. --silent-dns gives the scanner a DNS server that never
# answers (mdns-bench-silent-dns.topology).
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
. "$here/../tools/lib.sh"

if [ "${1:-}" != "--inside" ]; then
    topology=$here/mdns-bench.topology
    if [ "${1:-}" = --silent-dns ]; then
        topology=$here/mdns-bench-silent-dns.topology
        shift
    fi
    build=$(cd "${1:-$root/build}" && pwd)
    rounds=${2:-15}
    exec "$root/tools/simlan/simlan.sh" run "$topology" -- \
        "$root/tools/simlan/with-avahi.sh" --publish "$here/mdns-bench.publish" -- \
        "$0" --inside "$build" "$rounds"
fi
build=$2
rounds=$3
latency="$build/bench/mdns-latency"
[ -x "$latency" ] || { echo "mdns-bench: build the target mdns-latency in $build first" >&2; exit 2; }

avahi_round() {
    local start line
    start=$(date +%s%N)
    while IFS= read -r line; do
        if [[ $line == =*";Bench1;"* ]]; then
            echo "avahi-browse $(( ($(date +%s%N) - start) / 1000 ))"
            return
        fi
    done < <(timeout 5 avahi-browse -r -t -p _encoder._tcp 2>/dev/null)
    echo "avahi-browse timeout"
}

results=$(mktemp)
at_exit rm -f "$results"
for _ in $(seq "$rounds"); do
    avahi_round >>"$results"
    "$latency" Bench1 1 >>"$results"
done

median() { sort -n | awk '{v[NR]=$1} END {if (NR==0) {print "-"} else if (NR%2) {print v[(NR+1)/2]} else {print (v[NR/2]+v[NR/2+1])/2}}'; }
minmax() { sort -n | awk 'NR==1{min=$1} {max=$1} END {print min "-" max}'; }

# avahi-browse figures are in microseconds, lumisweep's in milliseconds.
avahi=$(awk '$1=="avahi-browse" && $2!="timeout" {printf "%.1f\n", $2/1000}' "$results")
ours=$(awk '$1=="lumisweep" && $2!="timeout" {print $2}' "$results")
stops=$(awk '$1=="lumisweep" {print $4}' "$results")
printf '%-34s %8s %12s %6s\n' "browse start -> device reported" "median" "min-max" "n"
printf '%-34s %8s %12s %6s\n' "avahi-browse -r -t _encoder._tcp" "$(echo "$avahi" | median)" \
    "$(echo "$avahi" | minmax)" "$(echo "$avahi" | grep -c .)"
printf '%-34s %8s %12s %6s\n' "lumisweep startDiscover" "$(echo "$ours" | median)" \
    "$(echo "$ours" | minmax)" "$(echo "$ours" | grep -c .)"
printf '%-34s %8s %12s %6s\n' "lumisweep stopDiscover (ms)" "$(echo "$stops" | median)" \
    "$(echo "$stops" | minmax)" "$(echo "$stops" | grep -c .)"
echo "timeouts: $(grep -c timeout "$results")  (figures in ms, $rounds rounds alternating)"

# A browse that waits 5 s for an instance nobody announces, while Bench1 is on the air: the
# processing loop must sleep in its wait, not spin.
cpu=$( { TIMEFORMAT='%U %S'; time "$latency" Nobody 1 >/dev/null; } 2>&1 | tail -1)
echo "CPU time of a 5 s browse with nothing new to report: user ${cpu% *} s, system ${cpu#* } s"
