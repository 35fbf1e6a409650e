#!/bin/bash
# One LAN's figures for bench/run-report.sh, inside the LAN's scanner namespace: lumisweep's ARP
# sweep next to arp-scan and nmap; with 'full' also the rescan after a device left, the command
# line against arp-scan, the scan to its last full row, the window's scan through the ARP helper
# (as root) in turns with arp-scan, three of each, and the HTTP probe sweep. 'unprivileged'
# is the command line's ARP scan alone, without root's capability for raw sockets. 'helper' is the
# sweep through the ARP helper, run by a user whose helper holds the capability, next to arp-scan;
# 'helper-rescan' a rescan two seconds after a sweep, by the helper and by the kernel's path,
# where one device (ARPONLY) answers nothing but ARP. 'wide' adds the helper's sweep too.
#
#   report-lan.sh NET OUT MODE          figures as key=value lines appended to OUT
#   MODE: full|short|wide|unprivileged|helper|helper-rescan
#
# Environment: BUILD (the build folder), LEAVER (full: the device that leaves the LAN), SWEEP_AS
# (optional: a command the first sweep runs under, e.g. without root's capability for raw sockets),
# GO (optional, unprivileged: the scan starts once this file exists, after touching OUT.up),
# ARPONLY (helper-rescan: the device that answers only ARP).
set -u
. "$(dirname "$0")/../tools/lib.sh"
require_test_lan
net=$1 out=$2 mode=$3
seconds() { python3 -c "import time; print('%.3f' % time.monotonic())"; }
timed() { # NAME COMMAND...: wall time of a whole process, and its output in OUT.NAME.out
    local start
    start=$(seconds)
    "${@:2}" >"$out.$1.out" 2>"$out.$1.err"
    echo "$1_s=$(python3 -c "print('%.3f' % ($(seconds) - $start))")" >>"$out"
}
hosts() { awk '/^198\.18\./ {print $1}' "$out.$1.out" | sort -u | wc -l; }
keys() { sed "s/\([a-z_]*\)=/$1_\1=/g" >>"$out"; }
# The sweep through the helper, as a user whose build folder's helper holds the capability.
helper_sweep() { # PREFIX
    setpriv --reuid=65534 --regid=65534 --clear-groups env SWEEPBENCH_LIST=1 \
        "$BUILD/bench/sweepbench" helper "$net" "$LUMISWEEP_LAN_IFACE" \
        "$LUMISWEEP_LAN_SCANNER_IP" "$BUILD/lumisweep-arp" 2>"$out.$1.err" | keys "$1"
}
kernel_sweep() { # PREFIX: the kernel's path, without root's capability for raw sockets
    setpriv --bounding-set=-net_raw --inh-caps=-net_raw -- env SWEEPBENCH_LIST=1 \
        "$BUILD/bench/sweepbench" arp "$net" 2>"$out.$1.err" | keys "$1"
}
if [ "$mode" = helper ] || [ "$mode" = helper-rescan ] || [ "$mode" = wide ]; then
    need_tools setcap setpriv
    setcap cap_net_raw+ep "$BUILD/lumisweep-arp"
    at_exit setcap -r "$BUILD/lumisweep-arp"
fi
if [ "$mode" = helper ]; then
    helper_sweep helper
    sleep 1.5
    timed helperpeer arp-scan -q -I "$LUMISWEEP_LAN_IFACE" "$net"
    echo "helperpeer_found=$(hosts helperpeer)" >>"$out"
    exit 0
fi
if [ "$mode" = helper-rescan ]; then
    # The kernel's path keeps its entries; two seconds later they are STALE, and the ARP-only
    # device answers no echo, knock or datagram that would show it is still there.
    kernel_sweep kernel
    sleep 2
    kernel_sweep kernelrescan
    helper_sweep helperrescan
    for sweep in kernelrescan helperrescan; do
        echo "${sweep}_arponly=$(grep -c "^found $ARPONLY " "$out.$sweep.err")" >>"$out"
    done
    exit 0
fi
if [ "$mode" = unprivileged ]; then
    if [ -n "${GO:-}" ]; then
        touch "$out.up"
        wait_for 300 test -e "$GO"
    fi
    timed cli setpriv --bounding-set=-net_raw --inh-caps=-net_raw -- \
        "$BUILD/lumisweep" --scan arp --format json --interface "$LUMISWEEP_LAN_SCANNER_IP"
    echo "cli_found=$(grep -c '"ip"' "$out.cli.out")" >>"$out"
    # What the scan says on standard error about addresses it could not check.
    echo "cli_unchecked=$(sed -n 's/.* \([0-9]*\) addresses could not be checked.*/\1/p' \
        "$out.cli.err" | grep . || echo 0)" >>"$out"
    exit 0
fi
${SWEEP_AS:-} "$BUILD/bench/sweepbench" arp "$net" | keys sweep
sleep 1.5
timed arpscan arp-scan -q -I "$LUMISWEEP_LAN_IFACE" "$net"
echo "arpscan_found=$(hosts arpscan)" >>"$out"
if [ "$mode" = wide ]; then
    helper_sweep helper
    exit 0 # nmap had not finished a /16 after 21 minutes
fi
timed nmap nmap -sn -n "$net"
echo "nmap_found=$(($(grep -c '^Nmap scan report' "$out.nmap.out") - 1))" >>"$out"
[ "$mode" = full ] || exit 0
# One device leaves; two seconds later every entry is STALE, and a rescan must find the others
# and not the one that left.
curl -s -m 2 "http://$LEAVER/public/deviceName" >/dev/null
sleep 2
"$BUILD/bench/sweepbench" arp "$net" | keys rescan
timed rescanpeer arp-scan -q -I "$LUMISWEEP_LAN_IFACE" "$net"
echo "rescanpeer_found=$(hosts rescanpeer)" >>"$out"
# The command line against arp-scan, both as whole processes, start to exit.
timed cli "$BUILD/lumisweep" --scan arp --format json --interface "$LUMISWEEP_LAN_SCANNER_IP"
echo "cli_found=$(grep -c '"ip"' "$out.cli.out")" >>"$out"
timed clipeer arp-scan -q -I "$LUMISWEEP_LAN_IFACE" "$net"
"$BUILD/bench/scanbench" "$LUMISWEEP_LAN_SCANNER_IP" 1 | keys scan
for round in 1 2 3; do
    SCANBENCH_ARP_HELPER="$BUILD/lumisweep-arp" "$BUILD/bench/scanbench" \
        "$LUMISWEEP_LAN_SCANNER_IP" 1 | keys "windowhelper$round"
    timed "windowpeer$round" arp-scan -q -I "$LUMISWEEP_LAN_IFACE" "$net"
done
"$BUILD/bench/sweepbench" http "$net" | keys http
