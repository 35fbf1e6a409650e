#!/bin/bash
# Builds a private encoder LAN out of network namespaces: a bridge, one scanner namespace (loopback
# and one LAN interface only) and a namespace per simulated device. Sweeps run only in here.
#
#   simlan.sh run TOPOLOGY -- COMMAND [ARGS...]   LAN up, COMMAND in the scanner namespace, LAN down
#   simlan.sh up NAME TOPOLOGY                    LAN stays up (demo, debugging)
#   simlan.sh exec NAME -- COMMAND [ARGS...]      COMMAND in the scanner namespace of an up LAN
#   simlan.sh down NAME
#   simlan.sh gateway-count NAME                  packets the LAN's gateway was sent to pass on
#   simlan.sh reap PID NAME                       NAME goes down once process PID has ended
#   simlan.sh add NAME device|host ADDRESS/PREFIX MAC [OPTIONS...]
#                                                 boots one more device on an up LAN: it
#                                                 announces its address once its simulator
#                                                 answers; prints the device's key
#   simlan.sh link NAME KEY up|down               plugs a device's cable in, or pulls it
#   simlan.sh move NAME KEY ADDRESS/PREFIX        gives a device another address, restarts its
#                                                 simulator there, and announces it
#
# Topology lines ('#' starts a comment, shell quoting applies):
#   scanner 198.18.0.1/24
#   device 198.18.0.10/24 02:06:00:00:00:10 [--firewall] [encodersim options...]
#   host 198.18.0.50/24 00:11:22:33:44:55 [--firewall]
#   gateway 198.18.0.254/24                             (a router the scanner's default route goes
#                                                        through; it passes nothing on, it counts)
#   sysctl net.ipv4.neigh.lan0.retrans_time_ms=500      (applied in the scanner namespace)
#   nameserver 198.18.0.53/24                           (the scanner's DNS server: a host that takes
#                                                        every query and never answers, as one that
#                                                        is down behind a firewall; without this
#                                                        line a server on loopback refuses at once)
#   iface ethA [down] 192.168.1.10/24 10.0.0.5/8        (a veth pair ethA / ethA-p, both ends in
#                                                        the scanner namespace; 'iface lo CIDR...'
#                                                        adds addresses to loopback)
# Devices may share an address, and a device's address may lie outside the scanner's subnet: it
# still answers ARP from the scanner. --firewall makes its namespace drop ICMP, TCP port 80 and
# UDP port 9 (nftables), so that only ARP reaches it.
# A topology of iface lines alone makes a scanner namespace without a LAN, for checks of the
# interface inventory; then the LUMISWEEP_LAN_* variables below are not set.
#
# Environment of COMMAND: LUMISWEEP_LAN_NAME, LUMISWEEP_LAN_IFACE, LUMISWEEP_LAN_SCANNER_IP,
# LUMISWEEP_LAN_DIR (simulator logs sim-IP.log and identify-IP.bin; IP_N for the Nth device or
# host line when an earlier device has the address already); with a gateway line,
# LUMISWEEP_LAN_GATEWAY_COUNT: a shell command (for sh -c, as root) that prints how many packets
# the gateway was sent for addresses not its own, i.e. what left through the default route.
# LUMISWEEP_LAN_CONTROL: how COMMAND runs this script's add, link and move on its own LAN, as
# "$LUMISWEEP_LAN_CONTROL add ..." (word-split, as root): COMMAND runs in a mount namespace of
# its own, where a namespace it made would be out of the teardown's sight.
# Exit status: COMMAND's; 77 when namespaces cannot be made here; 2 for a bad topology.

set -u
. "$(dirname "$0")/../lib.sh"

readonly STATE_ROOT=/run/lumisweep-simlan
readonly LAN_IFACE=lan0
readonly READY_TIMEOUT_S=15
# Outside the vendor prefixes, so the gateway is never listed as an encoder.
readonly GATEWAY_MAC=02:00:00:00:00:fe
readonly NAMESERVER_MAC=02:00:00:00:00:53

die() { echo "simlan: $*" >&2; exit 2; }

need_namespaces() {
    need_root "network namespaces"
    if ! ip netns list >/dev/null 2>&1; then
        echo "simlan: 'ip netns' is not available; skipping" >&2
        exit 77
    fi
}

find_encodersim() {
    local hint=${1:-} dir candidate newest=""
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
    for candidate in "$(dirname "$0")"/../../build*/tools/encodersim/encodersim; do
        if [ -x "$candidate" ] && { [ -z "$newest" ] || [ "$candidate" -nt "$newest" ]; }; then
            newest=$candidate
        fi
    done
    echo "$newest"
}

record_namespace() {
    echo "$1" >>"$STATE/namespaces"
}

teardown() {
    local name=$1 state="$STATE_ROOT/$1" ns pids=()
    [ -d "$state" ] || return 0
    if [ -f "$state/namespaces" ]; then
        # Processes first, so nothing holds a namespace open while it is deleted.
        while read -r ns; do
            mapfile -t pids < <(ip netns pids "$ns" 2>/dev/null)
            [ ${#pids[@]} -eq 0 ] || kill -KILL "${pids[@]}" 2>/dev/null
        done <"$state/namespaces"
        while read -r ns; do
            ip netns del "$ns" 2>/dev/null
        done <"$state/namespaces"
    fi
    [ -f "$state/dir" ] && rm -rf "$(cat "$state/dir")"
    rm -rf "$state"
}

# The simulator answers ARP for its own address itself (late, or not at first), so the kernel
# must not; the device still needs to reach the scanner, hence a static entry for it.
takes_over_arp() {
    local option
    for option in "$@"; do
        case $option in --arp-delay | --arp-drop) return 0 ;; esac
    done
    return 1
}

# Drops what a sweep sends to a host besides ARP.
firewall_up() { # NAMESPACE
    need_tools nft
    ip netns exec "$1" nft -f - <<'NFT'
table inet firewall {
    chain input {
        type filter hook input priority 0; policy accept;
        meta l4proto icmp drop
        tcp dport 80 drop
        udp dport 9 drop
    }
}
NFT
}

ready_or_gone() { # KEY PID
    [ -e "$LAN_DIR/ready-$1" ] || ! kill -0 "$2" 2>/dev/null
}

# Real LANs have a router, and the scanner a default route through it: what the scanner sends
# for an address off its links goes there. This one has no way out; it counts what it is sent
# to pass on (frames for its MAC, packets not for its address) and drops it.
# One namespace on the LAN's bridge: an interface with the given MAC and address, and loopback.
add_lan_namespace() { # NAME SUFFIX BRIDGE_PORT MAC ADDRESS/PREFIX
    local ns="$1-$2"
    record_namespace "$ns"
    ip netns add "$ns" || return 1
    ip -n "$1-b" link add "$3" type veth peer name "$LAN_IFACE" netns "$ns" || return 1
    ip -n "$1-b" link set "$3" master br0 up
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
    ip -n "$ns" link set "$LAN_IFACE" address "$4" || return 1
    ip -n "$ns" addr add "$5" dev "$LAN_IFACE"
    ip -n "$ns" link set lo up
    ip -n "$ns" link set "$LAN_IFACE" up
}

add_gateway() { # NAME ADDRESS/PREFIX
    local ns="$1-g"
    add_lan_namespace "$1" g pg "$GATEWAY_MAC" "$2" || return 1
    ip netns exec "$ns" nft -f - <<'NFT' || return 1
table ip simlan {
    counter routed {}
    chain prerouting {
        type filter hook prerouting priority raw; policy accept;
        meta pkttype host fib daddr type != local counter name "routed"
    }
}
NFT
    ip -n "$1-s" route add default via "${2%/*}" dev "$LAN_IFACE" || return 1
    : >"$STATE/gateway"
}

# A lookup that reaches this server waits the resolver's whole timeout (5 s, twice, on glibc):
# queries are dropped, so neither an answer nor an ICMP or TCP refusal comes back.
add_silent_nameserver() { # NAME ADDRESS/PREFIX
    local ns="$1-n"
    add_lan_namespace "$1" n pn "$NAMESERVER_MAC" "$2" || return 1
    ip netns exec "$ns" nft -f - <<'NFT' || return 1
table ip simlan {
    chain input {
        type filter hook input priority filter; policy accept;
        udp dport 53 drop
        tcp dport 53 drop
    }
}
NFT
    echo "nameserver ${2%/*}" >"$STATE/resolv.conf"
}

# The scanner's neighbour state, kept for lines that come after the scanner's.
scanner_mac() { # NAME
    ip -n "$1-s" -br link show "$LAN_IFACE" | awk '{print $3}'
}

# Starts the simulator of device KEY in namespace NS; its pid goes to the device's line.
start_sim() { # NS KEY IP OPTIONS...
    local ns=$1 key=$2 ip=$3
    shift 3
    [ -x "$ENCODERSIM" ] || die "encodersim not found (build it, or set LUMISWEEP_ENCODERSIM)"
    rm -f "$LAN_DIR/ready-$key"
    setsid ip netns exec "$ns" "$ENCODERSIM" --ip "$ip" --iface "$LAN_IFACE" \
        --dir "$LAN_DIR" --key "$key" "$@" >>"$LAN_DIR/sim-$key.log" 2>&1 </dev/null &
    echo $! >"$STATE/sim-$key.pid"
    disown $!
}

wait_ready() { # KEY
    local pid
    pid=$(cat "$STATE/sim-$1.pid" 2>/dev/null) || return 0
    if ! wait_for $READY_TIMEOUT_S ready_or_gone "$1" "$pid" || [ ! -e "$LAN_DIR/ready-$1" ]; then
        echo "simlan: simulator $1 did not start:" >&2
        cat "$LAN_DIR/sim-$1.log" >&2
        return 1
    fi
}

# One device or host line: its namespace on the bridge, and for a device its simulator. Each
# gets a line "KEY INDEX KIND ADDRESS/PREFIX" in the LAN's devices file; KEY is the address, or
# ADDRESS_INDEX when an earlier device has the address already.
add_device() { # NAME INDEX device|host ADDRESS/PREFIX MAC [--firewall] [OPTIONS...]
    local name=$1 index=$2 kind=$3 cidr=$4 mac=$5
    shift 5
    local ns="$name-d$index" ip=${cidr%/*} options=() option firewall=0 key scanner_ip
    for option in "$@"; do
        if [ "$option" = --firewall ]; then firewall=1; else options+=("$option"); fi
    done
    add_lan_namespace "$name" "d$index" "p$index" "$mac" "$cidr" || return 1
    # A device of another subnet has no route back to the scanner, which its kernel needs
    # before it answers the scanner's ARP.
    scanner_ip=$(cat "$STATE/scanner_ip")
    ip -n "$ns" route get "$scanner_ip" >/dev/null 2>&1 \
        || ip -n "$ns" route add "$scanner_ip/32" dev "$LAN_IFACE" || return 1
    [ $firewall = 0 ] || firewall_up "$ns" || return 1
    key=$ip
    ! awk -v ip="$ip/" '$3 == "device" && index($4, ip) == 1 {found = 1} END {exit !found}' \
        "$STATE/devices" || key="${ip}_$index"
    echo "$key $index $kind $cidr" >>"$STATE/devices"
    [ "$kind" = device ] || return 0
    printf '%s\0' "${options[@]}" >"$STATE/sim-$key.args"
    if takes_over_arp "${options[@]}"; then
        ip -n "$ns" link set "$LAN_IFACE" arp off
        ip -n "$ns" neigh replace "$scanner_ip" lladdr "$(scanner_mac "$name")" dev "$LAN_IFACE" \
            nud permanent
    fi
    start_sim "$ns" "$key" "$ip" "${options[@]}"
}

# The devices file's line of KEY: "KEY INDEX KIND ADDRESS/PREFIX".
device_line() { # KEY
    local line
    line=$(awk -v key="$1" '$1 == key' "$STATE/devices")
    [ -n "$line" ] || die "no device $1 on LAN $(basename "$STATE")"
    echo "$line"
}

# The state of an up LAN, for the commands that change it.
lan_state() { # NAME
    [ -d "$STATE_ROOT/$1" ] || die "no LAN named $1"
    STATE="$STATE_ROOT/$1"
    LAN_DIR=$(cat "$STATE/dir")
    ENCODERSIM=$(cat "$STATE/encodersim")
}

stop_sim() { # KEY
    local pid
    pid=$(cat "$STATE/sim-$1.pid" 2>/dev/null) || return 0
    kill -TERM "$pid" 2>/dev/null
    wait_for 5 sh -c "! kill -0 $pid 2>/dev/null"
}

bring_up() {
    local name=$1 topology=$2
    local words=() scanner_ip="" sysctls=() index=0
    ENCODERSIM=$(find_encodersim "${3:-}")
    split_lines "$topology" >/dev/null || exit 2

    STATE="$STATE_ROOT/$name"
    mkdir -p "$STATE_ROOT"
    mkdir "$STATE" 2>/dev/null || die "a LAN named $name exists already"
    LAN_DIR=$(mktemp -d /tmp/lumisweep-lan.XXXXXX)
    chmod 755 "$LAN_DIR"
    echo "$LAN_DIR" >"$STATE/dir"
    echo "nameserver 127.0.0.1" >"$STATE/resolv.conf"
    echo "$ENCODERSIM" >"$STATE/encodersim"
    : >"$STATE/namespaces"
    : >"$STATE/devices"

    local bridge_ns="$name-b" scanner_ns="$name-s"
    record_namespace "$bridge_ns"
    ip netns add "$bridge_ns" || return 1
    ip -n "$bridge_ns" link add br0 type bridge stp_state 0 forward_delay 0 || return 1
    ip -n "$bridge_ns" link set br0 up
    record_namespace "$scanner_ns"
    ip netns add "$scanner_ns" || return 1
    ip netns exec "$scanner_ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 \
        net.ipv6.conf.default.disable_ipv6=1
    ip -n "$scanner_ns" link set lo up

    while read_words words <&3; do
        case "${words[0]}" in
        scanner)
            [ ${#words[@]} -eq 2 ] || die "scanner needs one ADDRESS/PREFIX"
            [ -z "$scanner_ip" ] || die "only one scanner line"
            scanner_ip=${words[1]%/*}
            echo "$scanner_ip" >"$STATE/scanner_ip"
            ip -n "$bridge_ns" link add p0 type veth peer name "$LAN_IFACE" netns "$scanner_ns" || return 1
            ip -n "$bridge_ns" link set p0 master br0 up
            # The kernel's neighbour table is shared by all namespaces of the machine: let
            # unanswered entries fail after one request so a large sweep cannot fill it.
            ip netns exec "$scanner_ns" sysctl -qw "net.ipv4.neigh.$LAN_IFACE.mcast_solicit=1"
            ip -n "$scanner_ns" addr add "${words[1]}" dev "$LAN_IFACE"
            ip -n "$scanner_ns" link set "$LAN_IFACE" up
            ;;
        iface)
            [ ${#words[@]} -ge 2 ] || die "iface needs a NAME"
            local dev=${words[1]} cidrs=("${words[@]:2}") up=1 cidr
            if [ "${cidrs[0]:-}" = down ]; then
                up=0
                cidrs=("${cidrs[@]:1}")
            fi
            if [ "$dev" != lo ]; then
                ip -n "$scanner_ns" link add "$dev" type veth peer name "$dev-p" || return 1
                if [ $up = 1 ]; then
                    ip -n "$scanner_ns" link set "$dev-p" up
                    ip -n "$scanner_ns" link set "$dev" up
                fi
            fi
            for cidr in "${cidrs[@]}"; do
                ip -n "$scanner_ns" addr add "$cidr" dev "$dev" || return 1
            done
            ;;
        device | host)
            [ ${#words[@]} -ge 3 ] || die "${words[0]} needs ADDRESS/PREFIX and MAC"
            [ -n "$scanner_ip" ] || die "the scanner line must come first"
            index=$((index + 1))
            add_device "$name" "$index" "${words[@]}" || return 1
            ;;
        gateway)
            [ ${#words[@]} -eq 2 ] || die "gateway needs one ADDRESS/PREFIX"
            [ -n "$scanner_ip" ] || die "the scanner line must come first"
            [ ! -e "$STATE/gateway" ] || die "only one gateway line"
            add_gateway "$name" "${words[1]}" || return 1
            ;;
        nameserver)
            [ ${#words[@]} -eq 2 ] || die "nameserver needs one ADDRESS/PREFIX"
            [ -n "$scanner_ip" ] || die "the scanner line must come first"
            [ ! -e "$STATE/nameserver" ] || die "only one nameserver line"
            : >"$STATE/nameserver"
            add_silent_nameserver "$name" "${words[1]}" || return 1
            ;;
        sysctl)
            sysctls+=("${words[@]:1}")
            ;;
        *)
            die "unknown topology line: ${words[*]}"
            ;;
        esac
    done 3< <(split_lines "$topology")
    local setting
    for setting in "${sysctls[@]}"; do
        ip netns exec "$scanner_ns" sysctl -qw "$setting" || return 1
    done

    local key
    while read -r key _; do
        wait_ready "$key" || return 1
    done <"$STATE/devices"
    return 0
}

# Replaces the calling shell, so that a signal sent to it reaches COMMAND itself. Name lookups
# would otherwise go to the machine's DNS server, through the gateway if there is one, and wait
# seconds for an answer that never comes (nss-mdns asks it about .local first); the scanner gets
# the topology's silent server, or one on loopback, where nothing listens, so they fail at once.
run_in_scanner() {
    local name=$1 state="$STATE_ROOT/$1" lan=()
    shift
    if [ -s "$state/scanner_ip" ]; then
        lan=(LUMISWEEP_LAN_NAME="$name" LUMISWEEP_LAN_IFACE="$LAN_IFACE"
            LUMISWEEP_LAN_SCANNER_IP="$(cat "$state/scanner_ip")" LUMISWEEP_LAN_DIR="$(cat "$state/dir")")
    fi
    if [ -s "$state/scanner_ip" ]; then
        lan+=(LUMISWEEP_LAN_CONTROL="nsenter --mount=/proc/$$/ns/mnt -- $(realpath "$0")")
    fi
    if [ -e "$state/gateway" ]; then
        lan+=(LUMISWEEP_LAN_GATEWAY_COUNT="$(printf '%q ' "$(realpath "$0")" gateway-count "$name")")
    fi
    # shellcheck disable=SC2016 # for the inner shell to expand
    exec ip netns exec "$name-s" sh -c \
        '[ ! -e /etc/resolv.conf ] || mount --bind "$0" /etc/resolv.conf || exit 2; exec "$@"' \
        "$state/resolv.conf" env "${lan[@]}" "$@"
}

command=${1:-}
[ $# -gt 0 ] && shift
case "$command" in
run)
    [[ $# -ge 3 && $2 == -- ]] || usage 4 18
    topology=$1
    shift 2
    [ -r "$topology" ] || die "cannot read $topology"
    need_namespaces
    name="lsw$$"
    at_exit teardown "$name"
    # A script killed outright runs no trap: ctest's time-out sends SIGKILL to every process of
    # the test's tree. A watcher outside that tree (its parent gone, in a session of its own)
    # takes the LAN down then.
    (setsid "$0" reap $$ "$name" </dev/null >/dev/null 2>&1 &)
    bring_up "$name" "$topology" "$1" || exit $?
    run_child run_in_scanner "$name" "$@"
    ;;
up)
    [ $# -eq 2 ] || usage 4 18
    need_namespaces
    [ -r "$2" ] || die "cannot read $2"
    [ ! -d "$STATE_ROOT/$1" ] || die "a LAN named $1 exists already"
    # In a subshell, so that a bad topology line, too, leaves nothing behind.
    (bring_up "$1" "$2") || {
        status=$?
        teardown "$1"
        exit $status
    }
    echo "LAN $1 is up; simulator logs in $(cat "$STATE_ROOT/$1/dir"); 'simlan.sh down $1' removes it"
    ;;
exec)
    [[ $# -ge 3 && $2 == -- ]] || usage 4 18
    [ -d "$STATE_ROOT/$1" ] || die "no LAN named $1"
    name=$1
    shift 2
    run_in_scanner "$name" "$@"
    ;;
down)
    [ $# -eq 1 ] || usage 4 18
    [ -d "$STATE_ROOT/$1" ] || die "no LAN named $1"
    teardown "$1"
    ;;
reap)
    [ $# -eq 2 ] || usage 4 18
    while kill -0 "$1" 2>/dev/null; do
        sleep 0.5
    done
    teardown "$2"
    ;;
add)
    [ $# -ge 4 ] || usage 4 18
    lan_state "$1"
    [[ $2 == device || $2 == host ]] || die "add: device or host, not $2"
    index=$(($(wc -l <"$STATE/devices") + 1))
    # A device announces its address once its web server answers, as one that boots does.
    extra=()
    [ "$2" = host ] || extra=(--announce 2)
    add_device "$1" "$index" "${@:2}" "${extra[@]}" || exit 1
    key=$(awk -v index_="$index" '$2 == index_ {print $1}' "$STATE/devices")
    wait_ready "$key" || exit 1
    echo "$key"
    ;;
link)
    [[ $# -eq 3 && ($3 == up || $3 == down) ]] || usage 4 18
    lan_state "$1"
    read -r _ index _ < <(device_line "$2")
    ip -n "$1-b" link set "p$index" "$3"
    ;;
move)
    [ $# -eq 3 ] || usage 4 18
    lan_state "$1"
    read -r key index kind _ < <(device_line "$2")
    [ "$kind" = device ] || die "move: $2 is a host"
    ns="$1-d$index"
    stop_sim "$key"
    ip -n "$ns" addr flush dev "$LAN_IFACE"
    ip -n "$ns" addr add "$3" dev "$LAN_IFACE" || exit 1
    ip -n "$ns" route get "$(cat "$STATE/scanner_ip")" >/dev/null 2>&1 \
        || ip -n "$ns" route add "$(cat "$STATE/scanner_ip")/32" dev "$LAN_IFACE" || exit 1
    awk -v key="$key" -v cidr="$3" '$1 == key {$4 = cidr} {print}' "$STATE/devices" \
        >"$STATE/devices.new" && mv "$STATE/devices.new" "$STATE/devices"
    mapfile -d '' options <"$STATE/sim-$key.args"
    start_sim "$ns" "$key" "${3%/*}" "${options[@]}" --announce 2
    wait_ready "$key" || exit 1
    ;;
gateway-count)
    [ $# -eq 1 ] || usage 4 18
    [ -e "$STATE_ROOT/$1/gateway" ] || die "no LAN named $1 with a gateway"
    ip netns exec "$1-g" nft list counter ip simlan routed | awk '$1 == "packets" {print $2}'
    ;;
*)
    usage 4 18
    ;;
esac
