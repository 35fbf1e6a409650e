#!/bin/bash
# The benchmark report: one table from one run, every figure next to the tool people would use
# otherwise, on the project's simulated encoder LAN (root; nothing leaves its namespaces).
#
#   sudo bench/run-report.sh [BUILD_DIR]
#
# Rows: ARP sweep /24 and /22 (20 devices) against arp-scan and nmap -sn, a whole ARP scan
# through the Controller until the last row with name and firmware, the HTTP probe sweep, the
# mDNS first row against avahi-browse, the stop with 256 workers busy, peak memory, and the time
# until the window is shown.
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=$(cd "${1:-$top/build}" && pwd)
. "$top/tools/lib.sh"
work=$(mktemp -d /tmp/lumisweep-report.XXXXXX)
at_exit rm -rf "$work"
export LUMISWEEP_ENCODERSIM="$build/tools/encodersim/encodersim" QT_LOGGING_RULES="*.debug=false"

echo "Running the sweep benchmark..." >&2
"$here/run-sweep-bench.sh" "$build" >"$work/sweep.txt" 2>"$work/sweep.err" || { cat "$work/sweep.err"; exit 1; }
echo "Running the mDNS benchmark..." >&2
"$here/mdns-bench.sh" "$build" 15 >"$work/mdns.txt" 2>"$work/mdns.err" || { cat "$work/mdns.err"; exit 1; }

echo "Running a whole scan through the Controller..." >&2
"$top/tools/simlan/make-topology.py" --prefix 24 --span 256 --devices 20 --seed 5 \
    --special "--arp-delay 200" --special "--arp-delay 800" --special "--arp-drop 1" >"$work/scan.topo"
cat >"$work/scan.sh" <<'EOF'
set -u
export QT_QPA_PLATFORM=offscreen
"$1" "$LUMISWEEP_LAN_SCANNER_IP" 1 2>/dev/null | tail -n 1 >"$2.scan"
sleep 1.5
start=$(date +%s%N)
found=$(arp-scan -q -I "$LUMISWEEP_LAN_IFACE" 198.18.0.0/24 | awk '/^198\./ {print $1}' | sort -u | wc -l)
echo "$(( ($(date +%s%N) - start) / 1000000 )) $found" >"$2.arpscan"
EOF
"$top/tools/simlan/simlan.sh" run "$work/scan.topo" -- bash "$work/scan.sh" "$build/bench/scanbench" "$work/s" \
    >/dev/null 2>&1 || { echo "scan benchmark failed" >&2; exit 1; }

echo "Timing the window..." >&2
start_xvfb || exit 1
window_ms=()
for _ in 1 2 3 4 5; do
    # Starting the program lists interfaces; nothing is scanned.
    start=$(date +%s%N)
    XDG_DATA_HOME="$work/data" "$build/lumisweep" >/dev/null 2>&1 &
    app=$!
    wait_for_window '^Lumisweep V2' 10 >/dev/null
    window_ms+=($(( ($(date +%s%N) - start) / 1000000 )))
    stop_process "$app"
done
window_median=$(printf '%s\n' "${window_ms[@]}" | sort -n | sed -n 3p)

# ---- One table ----
row() { printf '%-40s %12s %-30s %12s %8s\n' "$@"; }
ratio() { python3 -c "print('%.2f x' % ($1 / $2))"; }
# The figure after a row's name (which may hold blanks and slashes), by position.
field_after() { awk -v name="$2" -v f="$3" 'index($0, name) == 1 {split(substr($0, length(name) + 1), v, " "); print v[f]}' "$1"; }
sweep_field() { field_after "$work/sweep.txt" "$1" "$2"; }
mdns_field() { field_after "$work/mdns.txt" "$1" 1; }

echo
row "figure" "lumisweep" "peer" "peer" "ratio"
row "------" "---------" "----" "----" "-----"
for net in /24 /22; do
    ours=$(sweep_field "lumisweep ARP $net" 1)
    found=$(sweep_field "lumisweep ARP $net" 2)
    as=$(sweep_field "arp-scan $net" 1)
    as_found=$(sweep_field "arp-scan $net" 2)
    nm=$(sweep_field "nmap -sn $net" 1)
    nm_found=$(sweep_field "nmap -sn $net" 2)
    row "ARP sweep $net, s (found of 20)" "$ours ($found)" "arp-scan" "$as ($as_found)" "$(ratio "$ours" "$as")"
    row "" "" "nmap -sn" "$nm ($nm_found)" "$(ratio "$ours" "$nm")"
done
read -r as_ms as_found <"$work/s.arpscan"
scan=$(cat "$work/s.scan")
last=$(echo "$scan" | sed -n 's/.*last_complete_row_s=\([^ ]*\).*/\1/p')
done_s=$(echo "$scan" | sed -n 's/.*done_s=\([^ ]*\).*/\1/p')
rows=$(echo "$scan" | sed -n 's/.*complete_rows=\([^ ]*\).*/\1/p')
as_s=$(python3 -c "print('%.3f' % ($as_ms / 1000))")
row "ARP scan /24 to last full row, s (rows)" "$last ($rows)" "arp-scan (MACs only)" "$as_s ($as_found)" "$(ratio "$last" "$as_s")"
row "ARP scan /24 to its end, s" "$done_s" "arp-scan" "$as_s" "$(ratio "$done_s" "$as_s")"
row "HTTP probe sweep /24, s (found)" "$(sweep_field "lumisweep HTTP probe /24" 1) ($(sweep_field "lumisweep HTTP probe /24" 2))" "-" "-" "-"
ours=$(mdns_field "lumisweep startDiscover")
peer=$(mdns_field "avahi-browse -r -t _encoder._tcp")
row "mDNS first row, ms (median)" "$ours" "avahi-browse -r -t" "$peer" "$(ratio "$ours" "$peer")"
stop=$(awk '/^lumisweep stop/ {print $(NF-2)}' "$work/sweep.txt")
row "stop with 256 workers busy, s" "$stop" "-" "-" "-"
rss=$(awk '/^lumisweep (ARP|HTTP)/ {print $NF}' "$work/sweep.txt" | sort -n | tail -n 1)
scan_rss=$(echo "$scan" | sed -n 's/.*peak_rss_mb=\([^ ]*\).*/\1/p')
row "peak memory, MB (sweep / whole scan)" "$rss / $scan_rss" "-" "-" "-"
row "window shown after start, ms (median of 5)" "$window_median" "-" "-" "-"
echo
echo "Devices: 20 per LAN, four outside the vendor prefixes, one answering ARP 200 ms late, one 800 ms late,"
echo "one ignoring the first ARP request; arp-scan and nmap run in the same scanner namespace."
