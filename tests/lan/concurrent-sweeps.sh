#!/bin/bash
# Two ARP sweeps of a /22 without root's raw-socket capability, at the same moment, each in a LAN
# of its own: the kernel's neighbour table is one for the whole machine. Together they must not
# overflow it (its table_fulls count stays), and each must list every encoder of its LAN.
#
#   concurrent-sweeps.sh BUILD_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/lib.sh"
need_root "network namespaces"
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/lsw-pair.XXXXXX)
at_exit rm -rf "$work"
fail() { echo "FAIL: $*"; exit 1; }
fulls() { ip -s ntable show name arp_cache | awk '$1 == "table_fulls" {print $2; exit}'; }

"$here/../../tools/simlan/make-topology.py" --prefix 22 --span 1024 --devices 24 --seed 22 \
    >"$work/lan.topo" || exit 1
# Each side waits, once its LAN is up, until both are: the sweeps must overlap.
sweep() { # SIDE
    # shellcheck disable=SC2016 # expanded by the inner shell, in the scanner namespace
    "$here/../../tools/simlan/simlan.sh" run "$work/lan.topo" -- sh -c \
        'touch "$0.up"; while [ ! -e "$1" ]; do sleep 0.05; done
         exec setpriv --bounding-set=-net_raw --inh-caps=-net_raw -- "$2" --scan arp \
             --format json --interface "$LUMISWEEP_LAN_SCANNER_IP"' \
        "$work/$1" "$work/go" "$build/lumisweep" >"$work/$1.json" 2>"$work/$1.err"
}
sides=(a b)
pids=()
for side in "${sides[@]}"; do
    sweep "$side" &
    pids+=($!)
done
at_exit stop_process "${pids[@]}"
wait_for 120 test -e "$work/a.up" -a -e "$work/b.up"
up=$?
before=$(fulls)
touch "$work/go"
statuses=()
for pid in "${pids[@]}"; do
    wait "$pid"
    statuses+=($?)
done
after=$(fulls)
[[ " ${statuses[*]} " != *" 77 "* ]] || exit 77
[ $up = 0 ] || fail "the LANs did not come up"

encoders=$(awk '$1 == "device" && $3 !~ /^00:11:22/ {sub("/.*", "", $2); print $2}' "$work/lan.topo")
for i in "${!sides[@]}"; do
    side=${sides[i]}
    [ "${statuses[i]}" = 0 ] || fail "sweep $side exited ${statuses[i]}"
    missing=$(for ip in $encoders; do grep -q "\"ip\": \"$ip\"" "$work/$side.json" || echo "$ip"; done)
    [ -z "$missing" ] || fail "sweep $side missed $(echo "$missing" | wc -l) encoders" \
        "($(tr '\n' ' ' <"$work/$side.err"))"
done
[ "$before" = "$after" ] || fail "the neighbour table overflowed: table_fulls $before -> $after"
echo "PASS: two /22 sweeps at once, every encoder found, table_fulls stayed at $after"
