#!/bin/bash
# The ARP watch (lumisweep --scan arp --watch) next to arpwatch, Debian's package, on the same
# events, in three simulated LANs of 20 devices on a /24 at once: "events" (devices boot, then
# lose their cable), "quiet" (nothing happens: CPU and frames sent) and "churn" (a device boots
# or loses its cable every 10 s: memory, descriptors, threads, events lost). Lumisweep runs as
# uid 65534, through a copy of its ARP helper holding CAP_NET_RAW, or by the kernel's path from
# a folder without the helper; arpwatch runs as root, as it is meant to. Prints one table; exit
# status 1 when an event was lost or a LAN could not be measured.
#
#   sudo bench/watch-bench.sh [BUILD_DIR] [--quick]
#
# --quick is a smoke run of about 7 minutes: 3 boots, 2 cuts, 1 minute of each quiet watch and
# 3 minutes of churn, instead of 10, 5, 10 and 30 minutes (about 35 minutes); the kernel's path
# gets 2 boots in both. A boot's time starts at the kernel's receive time, at the scanner, of the
# device's first announcement; a cut's when simlan's link command begins (it takes some 15 ms);
# each ends when the tool's line is read from its pipe.
set -u
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/../tools/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# Booted devices take addresses from here up; the topology's devices lie below.
readonly FIRST_BOOT=101

# Each line of the input with the time it was read, in seconds since the epoch.
stamp() {
    python3 -c 'import sys, time
for line in iter(sys.stdin.buffer.readline, b""):
    sys.stdout.buffer.write(b"%.6f " % time.time() + line)
    sys.stdout.buffer.flush()'
}

# The scanner's frames with the kernel's time: each one it sends ("out arp-request TARGET", "out
# arp-reply", "out other icmp|tcp|udp|?") and each announcement it receives ("announce IP": an ARP request
# from another MAC for the sender's own address).
start_capture() { # FILE
    local mac
    mac=$(ip -br link show "$LUMISWEEP_LAN_IFACE" | awk '{print $3}')
    python3 - "$1" "$mac" "$LUMISWEEP_LAN_IFACE" <<'PY' &
import socket, struct, sys, time
out, mac, iface = sys.argv[1], bytes.fromhex(sys.argv[2].replace(":", "")), sys.argv[3]
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))  # ETH_P_ALL
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
s.setsockopt(socket.SOL_SOCKET, 35, 1)  # SO_TIMESTAMPNS
s.bind((iface, 0))
open(out + ".ready", "w").close()
with open(out, "w", buffering=1) as f:
    while True:
        data, anc, _, address = s.recvmsg(64, 64)
        when = "%d.%09d" % struct.unpack("qq", anc[0][2][:16]) if anc else "%.6f" % time.time()
        arp = len(data) >= 42 and data[12:14] == b"\x08\x06"
        if address[2] == socket.PACKET_OUTGOING:
            if arp:
                kind = "arp-reply"
                if data[20:22] == b"\0\1":
                    kind = "arp-request " + socket.inet_ntoa(data[38:42])
            else:
                kind = "other " + {1: "icmp", 6: "tcp", 17: "udp"}.get(data[23], "?")
            f.write("%s out %s\n" % (when, kind))
        elif arp and data[28:32] == data[38:42] and data[6:12] != mac:
            f.write("%s announce %s\n" % (when, socket.inet_ntoa(data[28:32])))
PY
    CAPTURE_PID=$!
    at_exit stop_process "$CAPTURE_PID"
    wait_for 10 test -e "$1.ready"
}

listed_all() { [ "$(grep -c "$2" "$1")" -ge "$3" ]; }

# arpwatch as root in debug mode: its reports (on standard output), stamped, in FILE.
start_arpwatch() { # FILE
    : >"$1.dat"
    arpwatch -d -N -p -i "$LUMISWEEP_LAN_IFACE" -f "$1.dat" > >(stamp >"$1") 2>"$1.err" &
    ARPWATCH_PID=$!
    at_exit stop_process "$ARPWATCH_PID"
}

# A watch as uid 65534 from FOLDER (its helper beside it, or none), its stamped lines in FILE
# (and standard error's in FILE.err); returns once the first scan listed every encoder and its
# queries are over, so that a device booted later is new to it. WATCH_PID is lumisweep's.
start_watch() { # FOLDER FILE [OPTIONS...]
    local folder=$1 file=$2
    shift 2
    setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/home" \
        "$folder/lumisweep" --scan arp --watch --format json "$@" \
        > >(stamp >"$file") 2> >(stamp >"$file.err") &
    WATCH_PID=$!
    at_exit stop_process "$WATCH_PID"
    if ! wait_for 120 listed_all "$file" '"event":"present"' "$encoders"; then
        echo "watch-bench: $mode: the first scan did not list the $encoders encoders" >&2
        cat "$file.err" >&2
        return 1
    fi
    sleep 10
}

# The stamp of the first line of FILE after AFTER that matches REGEX.
line_after() { # FILE REGEX AFTER
    awk -v re="$2" -v after="$3" '$1 >= after && $0 ~ re {print $1; found = 1; exit}
        END {exit !found}' "$1"
}

# Waits up to SECONDS for such a line and prints its stamp; 1 if none came.
stamp_of() { # FILE REGEX AFTER SECONDS
    wait_for "$4" line_after "$1" "$2" "$3" >/dev/null && line_after "$1" "$2" "$3"
}

since() { awk -v from="$1" -v to="$2" 'BEGIN {printf "%.3f", to - from}'; }

control() { # COMMAND ARGS...: simlan's add, link or move on this LAN
    local words
    read -ra words <<<"$LUMISWEEP_LAN_CONTROL"
    "${words[@]}" "$1" "$LUMISWEEP_LAN_NAME" "${@:2}"
}

# Boots an encoder at 198.18.0.N; BOOTED_AT is when the command began.
boot() { # N
    BOOTED_AT=$EPOCHREALTIME
    control add device "198.18.0.$1/24" "$(printf '08:ea:40:ff:00:%02x' "$1")" \
        --name "Boot $1" --fw "2.$1" >/dev/null
}

event_re() { echo "\"event\":\"$1\".*\"ip\":\"198.18.0.$2\""; }

# One boot seen by the watch in FILE (and by arpwatch, when ARPWATCH_FILE is set): a line
# "N announced ours theirs" in RESULTS: seconds from the boot command to the announcement, and
# from the announcement to each tool's line, "lost" for a line that never came.
timed_boot() { # N FILE WAIT_S RESULTS
    local n=$1 announced ours theirs=-
    boot "$n" || return 1
    announced=$(stamp_of "$out.frames" "announce 198.18.0.$n\$" "$BOOTED_AT" 30) || announced=$BOOTED_AT
    ours=$(stamp_of "$2" "$(event_re appeared "$n")" "$BOOTED_AT" "$3") || ours=lost
    [ "$ours" = lost ] || ours=$(since "$announced" "$ours")
    if [ -n "${ARPWATCH_FILE:-}" ]; then
        theirs=$(stamp_of "$ARPWATCH_FILE" "new station .198.18.0.$n." "$BOOTED_AT" 30) || theirs=lost
        [ "$theirs" = lost ] || theirs=$(since "$announced" "$theirs")
    fi
    echo "$n $(since "$BOOTED_AT" "$announced") $ours $theirs" | tee -a "$4" >&2
}

# Cuts device N's link and times its departure (OUT.cuts: "N seconds"), then plugs it in again.
timed_cut() { # N FILE
    local cut departed
    cut=$EPOCHREALTIME
    control link "198.18.0.$1" down
    departed=$(stamp_of "$2" "$(event_re departed "$1")" "$cut" 60) || departed=lost
    [ "$departed" = lost ] || departed=$(since "$cut" "$departed")
    echo "$1 $departed" | tee -a "$out.cuts" >&2
    control link "198.18.0.$1" up
}

# Boots and cuts, watched through the helper and by arpwatch at once; then boots watched by the
# kernel's path with the default sweep period.
events_lan() {
    local n after
    start_capture "$out.frames" || return 1
    start_arpwatch "$out.arpwatch"
    # Its debug log shows where the time goes, should a figure miss its target.
    start_watch "$work/helper" "$out.helper" --verbose || return 1
    wait_for 60 listed_all "$out.arpwatch" "new station" "$devices" || return 1
    : >"$out.boots"
    : >"$out.cuts"
    for ((n = FIRST_BOOT; n < FIRST_BOOT + boots; n++)); do
        ARPWATCH_FILE=$out.arpwatch timed_boot "$n" "$out.helper" 60 "$out.boots" || return 1
    done
    after=$EPOCHREALTIME
    for ((n = FIRST_BOOT; n < FIRST_BOOT + cuts; n++)); do
        timed_cut "$n" "$out.helper"
    done
    for ((n = FIRST_BOOT; n < FIRST_BOOT + cuts; n++)); do
        stamp_of "$out.helper" "$(event_re returned "$n")" "$after" 90 >/dev/null \
            || echo "watch-bench: 198.18.0.$n never returned" | tee -a "$out.lost" >&2
    done
    stop_process "$WATCH_PID" "$ARPWATCH_PID"
    start_watch "$work/kernel" "$out.kernel" || return 1
    # The first boot comes in the first period; each later one just after the sweep gave its
    # address up (1.25 s after asking), to be asked again a period later: the longest wait once
    # the sweeps run.
    for ((n = FIRST_BOOT + boots; n < FIRST_BOOT + boots + kernel_boots; n++)); do
        if [ "$n" != $((FIRST_BOOT + boots)) ]; then
            stamp_of "$out.frames" "arp-request 198.18.0.$n\$" "$EPOCHREALTIME" 120 >/dev/null \
                || return 1
            sleep 2
        fi
        timed_boot "$n" "$out.kernel" 150 "$out.kernel-boots" || return 1
    done
    stop_process "$WATCH_PID"
}

cpu_ticks() { # PID...: their user and system time together, in clock ticks
    local pid fields total=0
    for pid in "$@"; do
        read -ra fields < <(sed 's/^.*) //' "/proc/$pid/stat")
        total=$((total + fields[11] + fields[12]))
    done
    echo "$total"
}

percent() { # TICKS SECONDS: % of one core
    awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v s="$2" 'BEGIN {printf "%.2f", 100 * t / hz / s}'
}

frames_between() { # FROM TO KIND: frames sent per second
    awk -v from="$1" -v to="$2" -v kind="$3" '$1 >= from && $1 < to && $2 == "out" && $3 == kind {n++}
        END {printf "%d %.2f", n, n / (to - from)}' "$out.frames"
}

# ARP requests per second to the topology's devices: the watch's re-checks.
requests_to_known() { # FROM TO
    awk -v from="$1" -v to="$2" 'NR == FNR && $1 == "device" {sub("/.*", "", $2); known[$2] = 1}
        NR == FNR {next}
        $1 >= from && $1 < to && $3 == "arp-request" && $4 in known {n++}
        END {printf "%.2f", n / (to - from)}' "$work/lan.topo" "$out.frames"
}

# CPU and frames sent of a quiet watch, after its first scan: figures NAME_* in OUT.
measure_quiet() { # NAME WATCH_PID [ARPWATCH_PID]
    local helper t0 t1 ours0 helper0 theirs0 seconds
    mapfile -t helper < <(pgrep -P "$2" -x lumisweep-arp)
    t0=$EPOCHREALTIME
    ours0=$(cpu_ticks "$2")
    helper0=$(cpu_ticks "${helper[@]}")
    theirs0=$(cpu_ticks "${@:3}")
    sleep "$quiet_s"
    t1=$EPOCHREALTIME
    seconds=$(since "$t0" "$t1")
    {
        echo "$1_seconds=$seconds"
        echo "$1_cpu=$(percent $(($(cpu_ticks "$2") - ours0)) "$seconds")"
        echo "$1_helper_cpu=$(percent $(($(cpu_ticks "${helper[@]}") - helper0)) "$seconds")"
        [ $# -lt 3 ] || echo "arpwatch_cpu=$(percent $(($(cpu_ticks "$3") - theirs0)) "$seconds")"
        read -r count rate < <(frames_between "$t0" "$t1" arp-request)
        echo "$1_arp_requests=$count" "$1_arp_per_s=$rate"
        echo "$1_known_per_s=$(requests_to_known "$t0" "$t1")"
        read -r count rate < <(frames_between "$t0" "$t1" other)
        echo "$1_other_frames=$count" "$1_other_per_s=$rate"
        awk -v from="$t0" -v to="$t1" '$1 >= from && $1 < to && $3 == "other" {n[$4]++}
            END {for (p in n) printf "%s:%d,", p, n[p]}' "$out.frames" | sed "s/^/$1_other_kinds=/"
    } | tr ' ' '\n' >>"$out"
}

quiet_lan() {
    local count rate
    start_capture "$out.frames" || return 1
    start_arpwatch "$out.arpwatch"
    start_watch "$work/helper" "$out.helper" || return 1
    wait_for 60 listed_all "$out.arpwatch" "new station" "$devices" || return 1
    measure_quiet helper "$WATCH_PID" "$ARPWATCH_PID"
    stop_process "$WATCH_PID" "$ARPWATCH_PID"
    start_watch "$work/kernel" "$out.kernel" || return 1
    measure_quiet kernel "$WATCH_PID"
    stop_process "$WATCH_PID"
}

sample() { # PID SECONDS: a line "seconds VmRSS_kB descriptors threads" in OUT.samples
    local rss threads fds
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$1/status")
    threads=$(awk '/^Threads/ {print $2}' "/proc/$1/status")
    fds=$(find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l)
    echo "$2 $rss $fds $threads" >>"$out.samples"
}

# Every 10 s a device boots or the last one booted loses its cable, in turns, for CHURN_S;
# lumisweep's memory, descriptors and threads sampled at each turn.
churn_lan() {
    local start n=$FIRST_BOOT turn=0 elapsed=0 booted=() cut=()
    start_watch "$work/helper" "$out.helper" || return 1
    start=$EPOCHREALTIME
    while [ "${elapsed%.*}" -lt "$churn_s" ]; do
        sample "$WATCH_PID" "$elapsed"
        if ((turn % 2 == 0)); then
            boot "$n" && booted+=("$n")
            n=$((n + 1))
        else
            control link "198.18.0.${booted[-1]}" down && cut+=("${booted[-1]}")
        fi
        turn=$((turn + 1))
        sleep "$(awk -v s="$start" -v now="$EPOCHREALTIME" -v t="$turn" \
            'BEGIN {d = s + 10 * t - now; printf "%.3f", (d > 0 ? d : 0)}')"
        elapsed=$(since "$start" "$EPOCHREALTIME")
    done
    churn_count appeared "${booted[@]}"
    churn_count departed "${cut[@]}"
    sample "$WATCH_PID" "$(since "$start" "$EPOCHREALTIME")"
    stop_process "$WATCH_PID"
}

churn_count() { # EVENT N...: how many of the devices got the event (waiting up to 60 s for the
    local n got=0 #            last ones), into OUT
    for n in "${@:2}"; do
        if stamp_of "$out.helper" "$(event_re "$1" "$n")" 0 60 >/dev/null; then
            got=$((got + 1))
        else
            echo "watch-bench: churn: no $1 for 198.18.0.$n" | tee -a "$out.lost" >&2
        fi
    done
    echo "churn_$1=$got/$(($# - 1))" >>"$out"
}

inside() { # MODE WORK QUICK
    require_test_lan
    need_tools python3 arpwatch setpriv
    mode=$1 work=$2 out=$2/$1
    encoders=$(awk '$1 == "device" && $3 !~ /^00:11:22/' "$work/lan.topo" | wc -l)
    devices=$(grep -c '^device' "$work/lan.topo")
    if [ "$3" = 1 ]; then
        boots=3 cuts=2 kernel_boots=2 quiet_s=60 churn_s=180
    else
        boots=10 cuts=5 kernel_boots=2 quiet_s=600 churn_s=1800
    fi
    : >"$out"
    "${mode}_lan" || exit 1
}

# "median (min to max, n=N)" of the numbers on its input, one a line; "lost" and "-" left out.
stats() {
    awk '$1 != "lost" && $1 != "-"' | sort -g | awk '{v[NR] = $1}
        END {if (!NR) {print "-"; exit}
            m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%.3f (%.3f to %.3f, n=%d)", m, v[1], v[NR], NR}'
}

column_of() { [ ! -s "$1" ] || awk -v c="$2" '{print $c}' "$1"; } # FILE N
field() { sed -n "s/^$2=//p" "$work/$1" | head -n 1; }          # MODE KEY
row() { printf "%-44s %-32s %-30s %-30s %s\\n" "$@"; }

# Memory (MB, at the first sample a minute in, and at the end; the largest), descriptors and
# threads (at the start and the end) of the churn run.
churn_rows() {
    local samples=$work/churn.samples
    row "churn: RSS after 1 min; end; largest, MB" "$(awk '$1 >= 60 && !a {a = $2} {e = $2}
        $2 > m {m = $2} END {printf "%.1f; %.1f; %.1f", a / 1024, e / 1024, m / 1024}' "$samples")" \
        - - "growth <= 2 MB"
    row "churn: descriptors; threads (start -> end)" "$(awk 'NR == 1 {f = $3; t = $4}
        {g = $3; u = $4} END {printf "%d -> %d; %d -> %d", f, g, t, u}' "$samples")" - - "back to start"
    row "churn: appeared; departed (of boots; cuts)" "$(field churn churn_appeared); \
$(field churn churn_departed)" - - "none lost"
}

report() { # QUICK
    local boots=$work/events.boots
    echo
    [ "$1" = 0 ] || echo "(--quick: a smoke run, shorter than the figures' definitions)"
    row figure "lumisweep, helper" "lumisweep, kernel" arpwatch target
    row ------ ----------------- ----------------- -------- ------
    row "appeared after the announcement, s" "$(column_of "$boots" 3 | stats)" \
        "$(column_of "$work/events.kernel-boots" 3 | stats)" "$(column_of "$boots" 4 | stats)" \
        "<= 1.0 (kernel: 60)"
    row "  lumisweep minus arpwatch, per boot, s" "$(awk '$3 != "lost" && $4 != "lost" \
        {print $3 - $4}' "$boots" | stats)" - - "<= 0.5"
    row "departed after the link cut, s" "$(column_of "$work/events.cuts" 2 | stats)" - "(none)" \
        "<= 15"
    row "CPU, quiet /24 of 20, % of one core" "$(field quiet helper_cpu) + helper \
$(field quiet helper_helper_cpu)" "$(field quiet kernel_cpu)" "$(field quiet arpwatch_cpu)" "<= 1"
    row "ARP requests sent per s" "$(field quiet helper_arp_per_s)" \
        "$(field quiet kernel_arp_per_s)" "0 (listens)" "<= 8.2 (20/5 + 253/60)"
    row "  of which to the 20 known devices" "$(field quiet helper_known_per_s)" \
        "$(field quiet kernel_known_per_s)" - "<= 4 (20/5)"
    row "other frames sent per s" "$(field quiet helper_other_per_s)" \
        "$(field quiet kernel_other_per_s)" 0 -
    churn_rows
    echo
    echo "Quiet watches: $(field quiet helper_seconds) s (helper, with arpwatch) and" \
        "$(field quiet kernel_seconds) s (kernel's path). Other frames by protocol: helper" \
        "$(field quiet helper_other_kinds | grep . || echo none); kernel's path" \
        "$(field quiet kernel_other_kinds)."
    echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
}

in_lan() { # MODE QUICK
    # exec: a signal to this background job reaches simlan, which takes its LAN down.
    exec "$root/tools/simlan/simlan.sh" run "$work/lan.topo" -- "$here/watch-bench.sh" --inside "$1" \
        "$work" "$2" 2>"$work/$1.log"
}

prepare() { # BUILD
    "$root/tools/simlan/make-topology.py" --prefix 24 --span 100 --devices 20 --seed 20261209 \
        >"$work/lan.topo" || exit 1
    mkdir "$work/helper" "$work/kernel" "$work/home"
    cp "$1/lumisweep" "$1/lumisweep-arp" "$work/helper/"
    cp "$1/lumisweep" "$work/kernel/"
    setcap cap_net_raw+ep "$work/helper/lumisweep-arp" || exit 1
    at_exit setcap -r "$work/helper/lumisweep-arp"
    chown 65534:65534 "$work/home"
    chmod 755 "$work" "$work/helper" "$work/kernel"
    export LUMISWEEP_ENCODERSIM="$1/tools/encodersim/encodersim" QT_QPA_PLATFORM=offscreen
}

main() {
    local build="" quick=0 arg mode pids=() failed=0
    for arg in "$@"; do
        case $arg in --quick) quick=1 ;; -*) usage 10 10 ;; *) build=$arg ;; esac
    done
    build=$(cd "${build:-$root/build}" && pwd) || exit 2
    need_root "network namespaces, setcap, another user"
    need_tools setcap setpriv python3 arpwatch
    [ -x "$build/lumisweep-arp" ] || { echo "watch-bench: build $build first" >&2; exit 2; }
    work=$(mktemp -d /tmp/lsw-watchbench.XXXXXX)
    [ -n "${WATCHBENCH_KEEP:-}" ] || at_exit rm -rf "$work"
    prepare "$build"
    echo "watch-bench: LANs at work in $work (events, quiet, churn)..." >&2
    for mode in events quiet churn; do
        in_lan "$mode" "$quick" &
        pids+=($!)
    done
    at_exit stop_process "${pids[@]}"
    for arg in "${pids[@]}"; do
        wait "$arg" || failed=1
    done
    report "$quick"
    if [ $failed = 1 ] || [ -n "$(cat "$work"/*.lost 2>/dev/null)" ] \
        || grep -qw lost "$work"/events.*boots "$work/events.cuts" 2>/dev/null; then
        tail -n 20 "$work"/*.log "$work"/*.lost 2>/dev/null >&2
        exit 1
    fi
}

if [ "${1:-}" = --inside ]; then
    inside "${@:2}"
else
    main "$@"
fi
