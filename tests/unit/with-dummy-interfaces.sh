#!/bin/bash
# Runs a test inside a network namespace whose only interfaces are loopback and veth ends with
# known addresses (the dummy driver is not built on every kernel), so the interface inventory can be checked against a known machine.
# Needs root for `ip netns`; exits 77 (skipped) without it.
set -u
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "SKIP: the interface inventory test needs root and iproute2 (ip netns)" >&2
    exit 77
fi
ns="lsu-$$-$RANDOM"
cleanup() { ip netns del "$ns" 2>/dev/null; }
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$ns" || exit 1
in_ns() { ip netns exec "$ns" "$@" || { echo "setup failed: $*" >&2; exit 1; }; }
iface() { in_ns ip link add "$1" type veth peer name "$1-peer"; }
in_ns ip link set lo up
# ethA: two addresses; ethB: one more and an address it shares with ethC; ethD: down.
iface ethA
in_ns ip addr add 192.168.1.10/24 dev ethA
in_ns ip addr add 10.0.0.5/8 dev ethA
iface ethB
in_ns ip addr add 192.168.1.9/24 dev ethB
in_ns ip addr add 172.16.0.1/16 dev ethB
iface ethC
in_ns ip addr add 172.16.0.1/24 dev ethC
iface ethD
in_ns ip addr add 169.254.7.7/16 dev ethD
for dev in ethA ethB ethC; do in_ns ip link set "$dev-peer" up; in_ns ip link set "$dev" up; done
in_ns ip addr add 127.0.0.2/8 dev lo

LUMISWEEP_DUMMY_INTERFACES=1 ip netns exec "$ns" "$@"
