#!/bin/bash
# The benchmark report: one table from one run, each figure next to the tool people would use
# otherwise, measured in the same scanner namespace of the project's simulated LAN (root; nothing
# leaves its namespaces).
#
#   sudo bench/run-report.sh [BUILD_DIR] [--with-16] [--with-watch]
#
# The LANs hold 20 devices, four of them hard to resolve: ARP answered 200 ms and 800 ms late,
# the first ARP request ignored, and one that leaves the LAN before the second /24 scan. Two more
# LANs of 24 plain devices in a /22 are swept by the command line without root's raw-socket
# capability, first one alone, then both at the same moment: the kernel's neighbour table is one
# for the whole machine, and they must share it without overflowing it. --with-16 adds a whole
# /16 sweep against arp-scan (about eight minutes; such a sweep keeps the table busy meanwhile).
# --with-watch adds bench/watch-bench.sh's table after this one (about 35 minutes more).
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=$(cd "${1:-$top/build}" && pwd)
. "$here/../tools/lib.sh"
with16=0 with_watch=0
for option in "${@:2}"; do
    case $option in
    --with-16) with16=1 ;;
    --with-watch) with_watch=1 ;;
    *) usage 6 6 ;;
    esac
done
need_root "network namespaces"
work=$(mktemp -d /tmp/lumisweep-report.XXXXXX)
at_exit rm -rf "$work"
export LUMISWEEP_ENCODERSIM="$build/tools/encodersim/encodersim" QT_LOGGING_RULES="*.debug=false"
export QT_QPA_PLATFORM=offscreen AVAHI_COMPAT_NOWARN=1 BUILD="$build"

lan() { # NAME PREFIX SPAN: a topology whose entries go STALE a second after their last answer
    "$top/tools/simlan/make-topology.py" --prefix "$2" --span "$3" --devices 20 --seed 20261207 \
        --special "--arp-delay 200" --special "--arp-delay 800" --special "--arp-drop 1" \
        --special "--leave-after-requests 1" >"$work/$1.topo" || exit 1
    echo "sysctl net.ipv4.neigh.lan0.base_reachable_time_ms=1000" >>"$work/$1.topo"
}

field() { sed -n "s/.*\b$2=\([^ ]*\).*/\1/p" "$work/$1" | head -n 1; }
inlan() { "$top/tools/simlan/simlan.sh" run "$work/$1.topo" -- "${@:2}" || exit 1; }
leaver() { sed -n 's|^device \([0-9.]*\)/.*leave-after-requests.*|\1|p' "$work/$1.topo"; }

echo "/24..." >&2
lan s24 24 256
LEAVER=$(leaver s24) inlan s24 "$here/report-lan.sh" 198.18.0.0/24 "$work/s24" full
echo "/22..." >&2
lan s22 22 1024
inlan s22 "$here/report-lan.sh" 198.18.0.0/22 "$work/s22" short
inlan s22 "$build/bench/sweepbench" stop 198.18.0.0/22 >"$work/stop"
echo "/22 without root's caps, alone and two at once..." >&2
"$top/tools/simlan/make-topology.py" --prefix 22 --span 1024 --devices 24 --seed 20261208 \
    >"$work/pair.topo" || exit 1
encoders=$(awk '$1 == "device" && $3 !~ /^00:11:22/' "$work/pair.topo" | wc -l)
inlan pair "$here/report-lan.sh" 198.18.0.0/22 "$work/alone" unprivileged
table_fulls() { ip -s ntable show name arp_cache | awk '$1 == "table_fulls" {print $2; exit}'; }
# Counted by time, not by line: the kernel's ring buffer drops old lines as new ones come.
overflows_since() { dmesg --since "$1" | grep -c 'neighbor table overflow'; }
pair=()
for side in a b; do
    GO="$work/go" inlan pair "$here/report-lan.sh" 198.18.0.0/22 "$work/pair-$side" unprivileged &
    pair+=($!)
done
at_exit stop_process "${pair[@]}"
wait_for 120 test -e "$work/pair-a.up" -a -e "$work/pair-b.up" || exit 1
fulls_before=$(table_fulls)
pair_start=$(date '+%Y-%m-%d %H:%M:%S')
touch "$work/go"
wait "${pair[@]}" || exit 1
fulls_after=$(table_fulls)
overflows=$(overflows_since "$pair_start")
echo "the ARP helper: /20, and a /24 rescan with an ARP-only device..." >&2
lan s20 20 4096
inlan s20 "$here/report-lan.sh" 198.18.0.0/20 "$work/s20" helper
"$top/tools/simlan/make-topology.py" --prefix 24 --span 256 --devices 20 --seed 20261209 \
    --special=--firewall >"$work/arponly.topo" || exit 1
echo "sysctl net.ipv4.neigh.lan0.base_reachable_time_ms=1000" >>"$work/arponly.topo"
arponly=$(sed -n 's|^device \([0-9.]*\)/.*--firewall.*|\1|p' "$work/arponly.topo")
ARPONLY=$arponly inlan arponly "$here/report-lan.sh" 198.18.0.0/24 "$work/arponly" helper-rescan
echo "start of a /16 sweep..." >&2
lan s16 16 65536
# shellcheck disable=SC2016 # the scanner's address is known only inside the namespace
inlan s16 bash -c '"$BUILD/bench/scanbench" "$LUMISWEEP_LAN_SCANNER_IP" 1 2500' >"$work/start16"
echo "mDNS..." >&2
"$here/mdns-bench.sh" "$build" 15 >"$work/mdns" 2>/dev/null || exit 1
echo "window..." >&2
start_xvfb || exit 1
window_ms=()
for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    QT_QPA_PLATFORM=xcb XDG_DATA_HOME="$work/data" "$build/lumisweep" >/dev/null 2>&1 &
    app=$!
    wait_for_window '^Lumisweep V2' 10 >/dev/null
    window_ms+=($((($(date +%s%N) - start) / 1000000)))
    stop_process "$app"
done
if [ "$with16" = 1 ]; then
    echo "/16 (long)..." >&2
    SWEEP_AS="setpriv --bounding-set=-net_raw --inh-caps=-net_raw --" \
        inlan s16 "$here/report-lan.sh" 198.18.0.0/16 "$work/w16" wide
fi

row() { printf '%-46s %14s  %-22s %14s %8s\n' "$@"; }
ratio() { python3 -c "print('%.2f x' % ($1 / $2))"; }
sweep_rows() { # LABEL FILE PREFIX(sweep|rescan) PEER
    local ours peer
    ours=$(field "$2" "$3_seconds")
    peer=$(field "$2" "$4_s")
    row "$1" "$ours ($(field "$2" "$3_found"))" arp-scan "$peer ($(field "$2" "$4_found"))" \
        "$(ratio "$ours" "$peer")"
}
echo
row figure lumisweep peer peer ratio
row ------ --------- ---- ---- -----
sweep_rows "ARP sweep /24, s (hosts found of 20)" s24 sweep arpscan
row "" "" "nmap -sn" "$(field s24 nmap_s) ($(field s24 nmap_found))" \
    "$(ratio "$(field s24 sweep_seconds)" "$(field s24 nmap_s)")"
sweep_rows "ARP sweep /22, s (hosts found of 20)" s22 sweep arpscan
row "" "" "nmap -sn" "$(field s22 nmap_s) ($(field s22 nmap_found))" \
    "$(ratio "$(field s22 sweep_seconds)" "$(field s22 nmap_s)")"
sweep_rows "ARP rescan /24, all STALE, one left (of 19)" s24 rescan rescanpeer
row "--scan arp --format json, whole process, s" "$(field s24 cli_s) ($(field s24 cli_found) rows)" \
    "arp-scan, whole" "$(field s24 clipeer_s)" "$(ratio "$(field s24 cli_s)" "$(field s24 clipeer_s)")"
row "ARP scan /24 to last full row, s (rows)" \
    "$(field s24 scan_last_complete_row_s) ($(field s24 scan_complete_rows))" - - -
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
ours=$(median3 "$(field s24 windowhelper1_done_s)" "$(field s24 windowhelper2_done_s)" \
    "$(field s24 windowhelper3_done_s)")
peer=$(median3 "$(field s24 windowpeer1_s)" "$(field s24 windowpeer2_s)" "$(field s24 windowpeer3_s)")
row "  via the helper, start to end, s (median of 3)" "$ours ($(field s24 windowhelper1_complete_rows))" \
    arp-scan "$peer" "$(ratio "$ours" "$peer")"
row "HTTP probe sweep /24, s (found)" "$(field s24 http_seconds) ($(field s24 http_found))" - - -
ours=$(awk '/^lumisweep startDiscover/ {print $3}' "$work/mdns")
peer=$(awk '/^avahi-browse/ {print $5}' "$work/mdns")
row "mDNS first row, ms (median of 15)" "$ours" "avahi-browse -r -t" "$peer" "$(ratio "$ours" "$peer")"
row "stop with 256 workers busy, ms" "$(field stop stop_ms)" - - -
row "longest GUI stall, ms (/24 scan; /16 start)" \
    "$(field s24 scan_longest_stall_ms); $(field start16 longest_stall_ms)" - - -
row "peak memory, MB (sweep; whole scan)" \
    "$(field s24 sweep_peak_rss_mb); $(field s24 scan_peak_rss_mb)" - - -
row "window shown after start, ms (median of 5)" \
    "$(printf '%s\n' "${window_ms[@]}" | sort -n | sed -n 3p)" - - -
row "--scan arp /22 without root's caps, s (rows)" \
    "$(field alone cli_s) ($(field alone cli_found))" - - -
row "  two at once, s (rows of $encoders; unchecked)" \
    "$(field pair-a cli_s); $(field pair-b cli_s)" - - -
row "" "($(field pair-a cli_found); $(field pair-b cli_found); \
$(field pair-a cli_unchecked)+$(field pair-b cli_unchecked))" - - -
row "  table_fulls; overflow lines in dmesg" \
    "+$((fulls_after - fulls_before)); $overflows" - - -
sweep_rows "ARP sweep /20 via the helper, as a user, s (of 20)" s20 helper helperpeer
row "ARP rescan /24, ARP-only device: helper; kernel" \
    "$(field arponly helperrescan_seconds) ($(field arponly helperrescan_found)); \
$(field arponly kernelrescan_seconds) ($(field arponly kernelrescan_found))" - - -
row "  the ARP-only device found: helper; kernel" \
    "$(field arponly helperrescan_arponly); $(field arponly kernelrescan_arponly)" - - -
if [ "$with16" = 1 ]; then
    sweep_rows "ARP sweep /16 without root's caps, s" w16 sweep arpscan
    sweep_rows "ARP sweep /16 via the helper, as a user, s" w16 helper arpscan
fi
echo
echo "Lumisweep's sweep counts every host that answered (a fifth of the devices are not encoders);"
echo "the command line lists encoders only. nmap's count leaves out the scanner itself."
if [ "$with_watch" = 1 ]; then
    echo
    echo "Watch..." >&2
    "$here/watch-bench.sh" "$build"
fi
