#!/bin/bash
# Sweep benchmark on the simulated encoder LAN (root; never touches the machine's own networks).
# Prints one table: the program's ARP sweep of a /24 and a /22 with 20 devices next to arp-scan
# and nmap -sn in the same scanner namespace, the HTTP probe sweep, the stop latency with 256
# workers busy, peak RSS, and one /16 sweep with devices spread over it.
#
#   bench/run-sweep-bench.sh BUILD_DIR [--with-16]
#
# The /16 run is opt-in: the kernel's neighbour table (gc_thresh1..3) is one table for the
# whole machine, not per namespace, and a /16 sweep drives it to its limit for a while, so
# the machine's own neighbour resolution may fail meanwhile ("neighbor table overflow").

set -u
build=${1:?usage: run-sweep-bench.sh BUILD_DIR [--with-16]}
build=$(cd "$build" && pwd)
with16=0
[ "${2:-}" = --with-16 ] && with16=1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../tools/lib.sh"
simlan="$here/../tools/simlan/simlan.sh"
work=$(mktemp -d /tmp/lumisweep-bench.XXXXXX)
at_exit rm -rf "$work"
export LUMISWEEP_ENCODERSIM="$build/tools/encodersim/encodersim"
for tool in "$build/bench/sweepbench" "$LUMISWEEP_ENCODERSIM" /usr/sbin/arp-scan /usr/bin/nmap; do
    [ -x "$tool" ] || { echo "missing $tool" >&2; exit 2; }
done

# topology FILE PREFIX_LEN SPAN: 20 devices spread over SPAN addresses, three of them hard to
# resolve: ARP answered 200 ms and 800 ms late, and the first ARP request ignored.
topology() {
    "$here/../tools/simlan/make-topology.py" --prefix "$2" --span "$3" --devices 20 --seed 20261206 \
        --special "--arp-delay 200" --special "--arp-delay 800" --special "--arp-drop 1" >"$1"
}

# Runs inside the scanner namespace; writes "key value" lines.
cat >"$work/inner.sh" <<'EOF2'
set -u
subnet=$1 out=$2 extra=$3
export QT_LOGGING_RULES="*.debug=false"
seconds() { python3 -c "import time; print('%.3f' % time.monotonic())"; }
"$SWEEPBENCH" arp "$subnet" >"$out.arp"
sleep 1.5
start=$(seconds)
arp-scan -q -I "$LUMISWEEP_LAN_IFACE" "$subnet" >"$out.arpscan" 2>&1
end=$(seconds)
# arp-scan lists a host again for each duplicate answer; count hosts.
echo "$(python3 -c "print('%.3f' % ($end - $start))") $(awk '/^198\.18\./ {print $1}' "$out.arpscan" | sort -u | wc -l)" >"$out.arpscan.sum"
start=$(seconds)
nmap -sn -n "$subnet" >"$out.nmap" 2>&1
end=$(seconds)
echo "$(python3 -c "print('%.3f' % ($end - $start))") $(grep -c '^Nmap scan report' "$out.nmap")" >"$out.nmap.sum"
if [ "$extra" = http ]; then
    "$SWEEPBENCH" http "$subnet" >"$out.http"
elif [ "$extra" = stop ]; then
    # Every address of the /22 is on the link, so all 256 workers sit in an ARP wait.
    "$SWEEPBENCH" stop "$subnet" >"$out.stop"
fi
EOF2

field() { sed -n "s/.*\b$2=\([^ ]*\).*/\1/p" "$1"; }

run_lan() { # NAME PREFIX SPAN SUBNET EXTRA
    topology "$work/$1.topo" "$2" "$3" || return 1
    SWEEPBENCH="$build/bench/sweepbench" "$simlan" run "$work/$1.topo" -- \
        env SWEEPBENCH="$build/bench/sweepbench" bash "$work/inner.sh" "$4" "$work/$1" "$5"
}

run_lan s24 24 256 198.18.0.0/24 http || exit 1
run_lan s22 22 1024 198.18.0.0/22 stop || exit 1

printf '\n%-34s %10s %10s %12s %8s\n' "sweep (20 devices)" "seconds" "found" "vs arp-scan" "RSS MB"
for lan in s24 s22; do
    net=$([ $lan = s24 ] && echo /24 || echo /22)
    read -r as_s as_n <"$work/$lan.arpscan.sum"
    read -r nm_s nm_n <"$work/$lan.nmap.sum"
    ours=$(field "$work/$lan.arp" seconds)
    printf '%-34s %10s %10s %12s %8s\n' "lumisweep ARP $net" "$ours" "$(field "$work/$lan.arp" found)" \
        "$(python3 -c "print('%.2f x' % ($ours / $as_s))")" "$(field "$work/$lan.arp" peak_rss_mb)"
    printf '%-34s %10s %10s %12s %8s\n' "arp-scan $net" "$as_s" "$as_n" "1.00 x" "-"
    printf '%-34s %10s %10s %12s %8s\n' "nmap -sn $net" "$nm_s" "$((nm_n - 1))" \
        "$(python3 -c "print('%.2f x' % ($nm_s / $as_s))")" "-"
done
printf '%-34s %10s %10s %12s %8s\n' "lumisweep HTTP probe /24" "$(field "$work/s24.http" seconds)" \
    "$(field "$work/s24.http" found)" "-" "$(field "$work/s24.http" peak_rss_mb)"
printf '%-34s %10s %10s\n' "lumisweep stop, $(field "$work/s22.stop" workers_busy) workers busy" \
    "$(python3 -c "print('%.3f' % ($(field "$work/s22.stop" stop_ms) / 1000))")" \
    "done x$(field "$work/s22.stop" done_signals)"
echo "(nmap counts exclude the scanner itself; the 20 include devices answering ARP 200 ms and 800 ms late"
echo " and one ignoring the first ARP request)"

if [ $with16 = 1 ]; then
    topology "$work/s16.topo" 16 65536
    peak="$work/s16.entries"
    # The neighbour table and its gc_thresh limits are shared by every namespace of the machine.
    (while :; do ip -s ntable show name arp_cache | sed -n 's/.*entries \([0-9]*\).*/\1/p'; sleep 0.5; done) >"$peak" &
    sampler=$!
    at_exit stop_process $sampler
    SWEEPBENCH="$build/bench/sweepbench" "$simlan" run "$work/s16.topo" -- \
        env QT_LOGGING_RULES="*.debug=false" "$build/bench/sweepbench" arp 198.18.0.0/16 >"$work/s16.arp"
    kill $sampler
    echo
    echo "/16 sweep, 20 devices spread: $(cat "$work/s16.arp")"
    echo "neighbour table: gc_thresh1..3 = $(sysctl -n net.ipv4.neigh.default.gc_thresh1 net.ipv4.neigh.default.gc_thresh2 net.ipv4.neigh.default.gc_thresh3 | tr '\n' ' ')(machine-wide); peak entries during the sweep: $(sort -n "$peak" | tail -n 1)"
fi
