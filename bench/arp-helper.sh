#!/bin/bash
# The ARP helper (lumisweep-arp) on its own, in a simulated LAN: what it finds on a /24 (two
# devices on one address, a late and a once-deaf device after a second request, a firewalled
# one), a device of another subnet once its range is sent, the frame rate a device receives at
# the helper's one rate, and that it runs on its file capability alone, with no capability left
# once it is ready, and exits 1 without one; and that an interface deleted while it sends is told
# as lost, every time. Prints the figures; exit status 1 when a check fails.
#
#   sudo bench/arp-helper.sh [BUILD_DIR]
set -u
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/../tools/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

if [ "${1:-}" != "--inside" ]; then
    need_root "network namespaces, setcap"
    build=$(cd "${1:-$root/build}" && pwd)
    exec "$root/tools/simlan/simlan.sh" run "$here/arp-helper.topology" -- "$0" --inside "$build"
fi
require_test_lan
need_tools setcap setpriv python3
helper=$2/lumisweep-arp
[ -x "$helper" ] || { echo "arp-helper: build the target lumisweep-arp in $2 first" >&2; exit 2; }
iface=$LUMISWEEP_LAN_IFACE
scanner=$LUMISWEEP_LAN_SCANNER_IP
tmp=$(mktemp -d /tmp/lsw-arp.XXXXXX)
chmod 755 "$tmp"
at_exit rm -rf "$tmp"
failures=0
check() { # WHAT CONDITION...
    local what=$1
    shift
    if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}

# Starts the helper as a coprocess (HELPER), optionally under a wrapper, and reads "ready".
start_helper() { # [WRAPPER...] PROGRAM
    # Should this script die, the end of its input stops the helper.
    coproc HELPER { exec "$@" "$iface" "$scanner" 2>&1; }
    read -r -t 5 -u "${HELPER[0]}" first_line
}

# Every line of the helper into FILE until it said "idle" and each LINE came, or 30 s passed.
collect() { # FILE LINE...
    local file=$1 line expected status deadline=$((${EPOCHREALTIME//[!0-9]/} + 30000000))
    shift
    : >"$file"
    while [ "${EPOCHREALTIME//[!0-9]/}" -lt $deadline ]; do
        read -r -t 0.1 -u "${HELPER[0]}" line
        status=$?
        if [ $status -gt 128 ]; then
            continue
        elif [ $status != 0 ]; then
            return 1 # the helper is gone
        fi
        echo "$line" >>"$file"
        for expected in idle "$@"; do
            grep -qxF "$expected" "$file" || continue 2
        done
        return 0
    done
    return 1
}

end_helper() {
    local pid=$HELPER_PID input=${HELPER[1]}
    exec {input}>&-
    wait "$pid"
}

# What one broadcast request costs and how they are spaced, as a device sees them: the kernel's
# receive time of each request from the scanner's MAC, per target /16.
capture() { # NAMESPACE OUT
    ip netns exec "$1" python3 - "$2" "$scanner_mac" <<'PY' &
import socket, struct, sys, time
out, mac = sys.argv[1], bytes.fromhex(sys.argv[2].replace(":", ""))
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0806))
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
s.setsockopt(socket.SOL_SOCKET, 35, 1)  # SO_TIMESTAMPNS
s.bind(("lan0", 0))
s.settimeout(3)
open(out + ".ready", "w").close()
with open(out, "w") as f:
    try:
        while True:
            data, anc, _, _ = s.recvmsg(64, 64)
            if len(data) < 42 or data[6:12] != mac or data[20:22] != b"\0\1":
                continue
            sec, nsec = struct.unpack("qq", anc[0][2][:16])
            f.write("%d.%09d %d.%d\n" % (sec, nsec, data[38], data[39]))
    except socket.timeout:
        pass
PY
    wait_for 5 test -e "$2.ready"
}

# count, seconds from first to last, mean frames/s, most frames in any one second: per prefix.
rate_of() { # FILE PREFIX
    python3 - "$1" "$2" <<'PY'
import sys
times = [float(l.split()[0]) for l in open(sys.argv[1]) if l.split()[1] == sys.argv[2]]
most, j = 0, 0
for i, t in enumerate(times):
    while times[j] <= t - 1.0:
        j += 1
    most = max(most, i - j + 1)
span = times[-1] - times[0] if len(times) > 1 else 0
print("%d %.3f %.0f %d" % (len(times), span, (len(times) - 1) / span if span else 0, most))
PY
}

scanner_mac=$(ip -br link show "$iface" | awk '{print $3}')
net=${scanner%.*}

# 1. The /24 twice, then the other subnet's /24.
start_helper "$helper"
echo "helper: $first_line"
check "ready line" [ "${first_line%% *}" = ready ]
start=${EPOCHREALTIME//[!0-9]/}
# Waits for what each pass should find; silence is proven by the simulator's log instead.
echo "send $net.1-$net.254" >&"${HELPER[1]}"
collect "$tmp/pass1" "reply $net.10 02-06-00-00-00-10" "reply $net.20 D0-C8-00-00-00-20" \
    "reply $net.20 08-EA-40-00-00-21" "reply $net.30 0C-8C-24-00-00-30" \
    "reply $net.40 D0-C8-00-00-00-40" "reply $net.50 00-11-22-33-44-55"
pass1_us=$((${EPOCHREALTIME//[!0-9]/} - start))
echo "send $net.1-$net.254" >&"${HELPER[1]}"
collect "$tmp/pass2" "reply $net.31 02-06-00-00-00-31"
echo "send 10.77.0.1-10.77.0.254" >&"${HELPER[1]}"
collect "$tmp/other" "reply 10.77.0.5 08-EA-40-00-00-05"
end_helper
status=$?
check "exit 0 at the end of its input" [ $status = 0 ]
replies() { grep -h '^reply' "$@" | sort -u; }
has() { grep -q "^reply $2 $3\$" "$1"; }
shared_address() { has "$tmp/pass1" "$net.20" D0-C8-00-00-00-20 && has "$tmp/pass1" "$net.20" 08-EA-40-00-00-21; }
deaf_once() {
    grep -q "arp request from $scanner dropped" "$LUMISWEEP_LAN_DIR/sim-$net.31.log" \
        && ! has "$tmp/pass1" "$net.31" 02-06-00-00-00-31 && has "$tmp/pass2" "$net.31" 02-06-00-00-00-31
}
no_repeats() { # one line per answer and request: no file holds a line twice
    local file
    for file in "$tmp"/pass* "$tmp/other"; do
        [ -z "$(grep -v idle "$file" | sort | uniq -d)" ] || return 1
    done
}
echo "first pass: $(grep -c '^reply' "$tmp/pass1") replies, the last (800 ms late) after $((pass1_us / 1000)) ms;" \
    "second pass: $(grep -c '^reply' "$tmp/pass2") new; heard: $(grep -hc '^heard' "$tmp"/pass* | paste -sd+ | bc)"
replies "$tmp/pass1" "$tmp/pass2" "$tmp/other" | sed 's/^/    /'
check "both devices on one address" shared_address
check "the late device (800 ms)" has "$tmp/pass1" "$net.30" 0C-8C-24-00-00-30
check "the once-deaf device: silent first, found on the second request" deaf_once
check "the firewalled device" has "$tmp/pass1" "$net.40" D0-C8-00-00-00-40
check "another subnet's device, once its range is sent" has "$tmp/other" 10.77.0.5 08-EA-40-00-00-05
check "one line per answer and request" no_repeats

# 2. The rate: 8192 requests, counted at a device.
capture "$LUMISWEEP_LAN_NAME-d1" "$tmp/frames"
start_helper "$helper"
echo "send 11.0.0.0-11.0.31.255" >&"${HELPER[1]}"
collect "$tmp/rate1"
end_helper
wait
read -r n1 s1 r1 m1 < <(rate_of "$tmp/frames" 11.0)
echo "rate: $n1 requests in $s1 s at a device, $r1/s mean, at most $m1 in any second (limit 2000)"
check "every request reached the device" [ "$n1" = 8192 ]
check "at most 2000 frames in any second" [ "$m1" -le 2000 ]

# 3. The file capability alone, as a user without any: ready, then no capability left.
cp "$helper" "$tmp/lumisweep-arp"
setcap cap_net_raw+ep "$tmp/lumisweep-arp" || { echo "FAIL  setcap"; exit 1; }
start_helper setpriv --reuid=65534 --regid=65534 --clear-groups "$tmp/lumisweep-arp"
echo "as uid 65534 with the file capability: $first_line"
grep -E '^(Uid|CapInh|CapPrm|CapEff|CapAmb|NoNewPrivs)' "/proc/$HELPER_PID/status" | sed 's/^/    /'
check "ready as uid 65534" [ "${first_line%% *}" = ready ]
check "no capability after ready" [ "$(awk '/^Cap(Inh|Prm|Eff|Amb)/ {print $2}' \
    "/proc/$HELPER_PID/status" | sort -u)" = 0000000000000000 ]
echo "send $net.1-$net.254" >&"${HELPER[1]}"
collect "$tmp/nobody" "reply $net.10 02-06-00-00-00-10"
end_helper
echo "    $(grep -c '^reply' "$tmp/nobody") replies"
check "it finds the LAN as uid 65534" has "$tmp/nobody" "$net.10" 02-06-00-00-00-10
setcap -r "$tmp/lumisweep-arp"
out=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$tmp/lumisweep-arp" "$iface" "$scanner" </dev/null)
status=$?
echo "without the capability: exit $status: $out"
check "without the capability: exit 1" [ $status = 1 ]
check "without the capability: one error line" [ "$(grep -c '^error ' <<<"$out")/$(wc -l <<<"$out")" = 1/1 ]

# 4. A link of its own, deleted after a random share of a /21's requests, 200 times: the kernel
# fails a send before it tells of the change, and that must still read "lost", not "failed".
rounds=${LUMISWEEP_LINK_LOSS_ROUNDS:-200}
told_lost=0
for ((round = 0; round < rounds; ++round)); do
    ip link add lsw0 type veth peer name lsw1
    ip addr add 10.97.0.1/21 dev lsw0
    ip link set lsw1 up && ip link set lsw0 up
    coproc HELPER { exec "$helper" lsw0 10.97.0.1 2>&1; }
    # Bash drops a coprocess's descriptors once it has exited, as this one does after its error.
    pid=$HELPER_PID
    exec {from}<&"${HELPER[0]}" {to}>&"${HELPER[1]}"
    read -r -t 5 -u "$from" first_line
    sent=/sys/class/net/lsw0/statistics/tx_packets
    target=$(($(<$sent) + 20 + RANDOM % 1500))
    echo "send 10.97.0.2-10.97.7.254" >&"$to"
    # A helper that never got going sends nothing: the wait ends with it.
    while [ "$(<$sent)" -lt $target ] && kill -0 "$pid" 2>/dev/null; do :; done
    ip link del lsw0
    last=$(grep -m1 '^error' <&"$from")
    exec {from}<&- {to}>&-
    wait "$pid"
    case $last in "error lost "*) told_lost=$((told_lost + 1)) ;; *) echo "    round $round: $last" ;; esac
done
echo "link deleted while sending: \"lost\" in $told_lost of $rounds rounds"
check "the deleted link is told as lost" [ $told_lost = "$rounds" ]
[ $failures = 0 ]
