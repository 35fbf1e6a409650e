#!/bin/bash
# Builds a private encoder LAN out of network namespaces: a bridge, one scanner namespace (loopback
# and one LAN interface only) and a namespace per simulated device. Sweeps run only in here.
#
#   simlan.sh run TOPOLOGY -- COMMAND [ARGS...]   LAN up, COMMAND in the scanner namespace, LAN down
#   simlan.sh up NAME TOPOLOGY                    LAN stays up (demo, debugging)
#   simlan.sh exec NAME -- COMMAND [ARGS...]      COMMAND in the scanner namespace of an up LAN
#   simlan.sh down NAME
#
# Topology lines ('#' starts a comment, shell quoting applies):
#   scanner 198.18.0.1/24
#   device 198.18.0.10/24 02:06:00:00:00:10 [encodersim options...]
#   host 198.18.0.50/24 00:11:22:33:44:55
#   sysctl net.ipv4.neigh.lan0.retrans_time_ms=500      (applied in the scanner namespace)
#
# Environment of COMMAND: LUMISWEEP_LAN_NAME, LUMISWEEP_LAN_IFACE, LUMISWEEP_LAN_SCANNER_IP,
# LUMISWEEP_LAN_DIR (simulator logs sim-IP.log and identify-IP.bin).
# Exit status: COMMAND's; 77 when namespaces cannot be made here; 2 for a bad topology.

set -u

readonly SKIP=77
readonly STATE_ROOT=/run/lumisweep-simlan
readonly LAN_IFACE=lan0
readonly READY_TIMEOUT_S=15

die() { echo "simlan: $*" >&2; exit 2; }

usage() {
    sed -n '4,8p' "$0" >&2
    exit 2
}

can_make_namespaces() {
    if [ "$(id -u)" != 0 ]; then
        echo "simlan: needs root to create network namespaces; skipping" >&2
        return 1
    fi
    if ! ip netns list >/dev/null 2>&1; then
        echo "simlan: 'ip netns' is not available; skipping" >&2
        return 1
    fi
    return 0
}

find_encodersim() {
    local hint=${1:-} dir candidate
    if [ -n "${LUMISWEEP_ENCODERSIM:-}" ]; then
        echo "$LUMISWEEP_ENCODERSIM"
        return
    fi
    # A test binary lives in the same build tree as the simulator it was built with.
    if [ -n "$hint" ] && [ -e "$hint" ]; then
        dir=$(cd "$(dirname "$hint")" && pwd)
        while [ "$dir" != / ]; do
            if [ -x "$dir/tools/encodersim/encodersim" ]; then
                echo "$dir/tools/encodersim/encodersim"
                return
            fi
            dir=$(dirname "$dir")
        done
    fi
    candidate=$(ls -t "$(dirname "$0")"/../../build*/tools/encodersim/encodersim 2>/dev/null | head -n 1)
    echo "$candidate"
}

# Prints each topology line as its words, each ended by NUL, the line ended by an empty word.
topology_words() {
    python3 - "$1" <<'PY'
import shlex, sys
with open(sys.argv[1], encoding="utf-8") as f:
    for number, line in enumerate(f, 1):
        try:
            words = shlex.split(line, comments=True)
        except ValueError as e:
            sys.exit("simlan: %s:%d: %s" % (sys.argv[1], number, e))
        if words:
            sys.stdout.buffer.write(b"".join(w.encode() + b"\0" for w in words) + b"\0")
PY
}

record_namespace() {
    echo "$1" >>"$STATE/namespaces"
}

teardown() {
    local name=$1 state="$STATE_ROOT/$1" ns pids
    [ -d "$state" ] || return 0
    if [ -f "$state/namespaces" ]; then
        # Processes first, so nothing holds a namespace open while it is deleted.
        while read -r ns; do
            pids=$(ip netns pids "$ns" 2>/dev/null)
            [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
        done <"$state/namespaces"
        while read -r ns; do
            ip netns del "$ns" 2>/dev/null
        done <"$state/namespaces"
    fi
    [ -f "$state/dir" ] && rm -rf "$(cat "$state/dir")"
    rm -rf "$state"
}

bring_up() {
    local name=$1 topology=$2
    local words=() word scanner_ip="" scanner_cidr="" port=0 sims=() sim_ips=()
    local encodersim
    encodersim=$(find_encodersim "${3:-}")

    STATE="$STATE_ROOT/$name"
    mkdir -p "$STATE_ROOT"
    mkdir "$STATE" 2>/dev/null || die "a LAN named $name exists already"
    LAN_DIR=$(mktemp -d /tmp/lumisweep-lan.XXXXXX)
    chmod 755 "$LAN_DIR"
    echo "$LAN_DIR" >"$STATE/dir"
    : >"$STATE/namespaces"

    local bridge_ns="$name-b" scanner_ns="$name-s"
    record_namespace "$bridge_ns"
    ip netns add "$bridge_ns" || return 1
    ip -n "$bridge_ns" link add br0 type bridge stp_state 0 forward_delay 0 || return 1
    ip -n "$bridge_ns" link set br0 up

    local parsed
    parsed=$(mktemp)
    topology_words "$topology" >"$parsed" || { rm -f "$parsed"; return 2; }
    local index=0 sysctls=()
    while :; do
        words=()
        while IFS= read -r -d '' word; do
            [ -z "$word" ] && break
            words+=("$word")
        done
        [ ${#words[@]} -eq 0 ] && break
        case "${words[0]}" in
        scanner)
            [ ${#words[@]} -eq 2 ] || { rm -f "$parsed"; die "scanner needs one ADDRESS/PREFIX"; }
            scanner_cidr=${words[1]}
            scanner_ip=${scanner_cidr%/*}
            record_namespace "$scanner_ns"
            ip netns add "$scanner_ns" || return 1
            ip -n "$bridge_ns" link add p0 type veth peer name "$LAN_IFACE" netns "$scanner_ns" || return 1
            ip -n "$bridge_ns" link set p0 master br0 up
            ip netns exec "$scanner_ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
            # The kernel's neighbour table is shared by all namespaces of the machine: let
            # unanswered entries fail after one request so a large sweep cannot fill it.
            ip netns exec "$scanner_ns" sysctl -qw "net.ipv4.neigh.$LAN_IFACE.mcast_solicit=1"
            ip -n "$scanner_ns" addr add "$scanner_cidr" dev "$LAN_IFACE"
            ip -n "$scanner_ns" link set lo up
            ip -n "$scanner_ns" link set "$LAN_IFACE" up
            ;;
        device | host)
            [ ${#words[@]} -ge 3 ] || { rm -f "$parsed"; die "${words[0]} needs ADDRESS/PREFIX and MAC"; }
            [ -n "$scanner_ip" ] || { rm -f "$parsed"; die "the scanner line must come first"; }
            index=$((index + 1))
            local ns="$name-d$index" cidr=${words[1]} mac=${words[2]}
            local ip=${cidr%/*} options=("${words[@]:3}")
            record_namespace "$ns"
            ip netns add "$ns" || return 1
            ip -n "$bridge_ns" link add "p$index" type veth peer name "$LAN_IFACE" netns "$ns" || return 1
            ip -n "$bridge_ns" link set "p$index" master br0 up
            ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
            ip -n "$ns" link set "$LAN_IFACE" address "$mac" || return 1
            ip -n "$ns" addr add "$cidr" dev "$LAN_IFACE"
            ip -n "$ns" link set lo up
            ip -n "$ns" link set "$LAN_IFACE" up
            if [ "${words[0]}" = device ]; then
                local option
                for option in "${options[@]}"; do
                    if [ "$option" = --arp-delay ]; then
                        # The simulator answers ARP itself, late; the device still needs to
                        # reach the scanner, hence the static entry.
                        local scanner_mac
                        scanner_mac=$(ip -n "$scanner_ns" -br link show "$LAN_IFACE" | awk '{print $3}')
                        ip -n "$ns" link set "$LAN_IFACE" arp off
                        ip -n "$ns" neigh replace "$scanner_ip" lladdr "$scanner_mac" dev "$LAN_IFACE" nud permanent
                    fi
                done
                [ -x "$encodersim" ] || { rm -f "$parsed"; die "encodersim not found (build it, or set LUMISWEEP_ENCODERSIM)"; }
                setsid ip netns exec "$ns" "$encodersim" --ip "$ip" --iface "$LAN_IFACE" \
                    --dir "$LAN_DIR" "${options[@]}" >>"$LAN_DIR/sim-$ip.log" 2>&1 </dev/null &
                sims+=($!)
                disown $!
                sim_ips+=("$ip")
            fi
            ;;
        sysctl)
            sysctls+=("${words[@]:1}")
            ;;
        *)
            rm -f "$parsed"
            die "unknown topology line: ${words[*]}"
            ;;
        esac
    done <"$parsed"
    rm -f "$parsed"
    [ -n "$scanner_ip" ] || die "no scanner line in $topology"
    local setting
    for setting in "${sysctls[@]}"; do
        ip netns exec "$scanner_ns" sysctl -qw "$setting" || return 1
    done
    echo "$scanner_ip" >"$STATE/scanner_ip"

    local deadline=$((SECONDS + READY_TIMEOUT_S)) i
    for i in "${!sims[@]}"; do
        while [ ! -e "$LAN_DIR/ready-${sim_ips[$i]}" ]; do
            if ! kill -0 "${sims[$i]}" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
                echo "simlan: simulator ${sim_ips[$i]} did not start:" >&2
                cat "$LAN_DIR/sim-${sim_ips[$i]}.log" >&2
                return 1
            fi
            sleep 0.01
        done
    done
    return 0
}

run_in_scanner() {
    local name=$1
    shift
    local state="$STATE_ROOT/$name"
    ip netns exec "$name-s" env LUMISWEEP_LAN_NAME="$name" LUMISWEEP_LAN_IFACE="$LAN_IFACE" \
        LUMISWEEP_LAN_SCANNER_IP="$(cat "$state/scanner_ip")" LUMISWEEP_LAN_DIR="$(cat "$state/dir")" \
        "$@"
}

command=${1:-}
[ $# -gt 0 ] && shift
case "$command" in
run)
    [ $# -ge 3 ] && [ "$2" = -- ] || usage
    topology=$1
    shift 2
    [ -r "$topology" ] || die "cannot read $topology"
    can_make_namespaces || exit $SKIP
    name="lsw$$"
    child=""
    trap 'teardown "$name"' EXIT
    trap '[ -n "$child" ] && kill -TERM "$child" 2>/dev/null; exit 143' INT TERM HUP
    bring_up "$name" "$topology" "$1" || exit $?
    # In the background, so that a signal reaches the trap at once rather than after COMMAND.
    run_in_scanner "$name" "$@" &
    child=$!
    wait "$child"
    exit $?
    ;;
up)
    [ $# -eq 2 ] || usage
    can_make_namespaces || exit $SKIP
    [ -r "$2" ] || die "cannot read $2"
    if ! bring_up "$1" "$2"; then
        teardown "$1"
        exit 1
    fi
    echo "LAN $1 is up; simulator logs in $(cat "$STATE_ROOT/$1/dir"); 'simlan.sh down $1' removes it"
    ;;
exec)
    [ $# -ge 3 ] && [ "$2" = -- ] || usage
    [ -d "$STATE_ROOT/$1" ] || die "no LAN named $1"
    name=$1
    shift 2
    run_in_scanner "$name" "$@"
    ;;
down)
    [ $# -eq 1 ] || usage
    [ -d "$STATE_ROOT/$1" ] || die "no LAN named $1"
    teardown "$1"
    ;;
*)
    usage
    ;;
esac
