#!/bin/bash
# Runs COMMAND next to a private avahi-daemon:
#
#   with-avahi.sh [--publish FILE] -- COMMAND [ARGS...]
#
# Meant for the scanner namespace of a simulated LAN (LUMISWEEP_LAN_IFACE names its interface).
# The daemon gets a D-Bus system bus of its own and a private mount namespace with a tmpfs over
# /run/avahi-daemon, so nss-mdns in COMMAND reaches this daemon, and a daemon of the machine,
# if any, is never touched.
#
# --publish FILE: each line of FILE ('#' comments, shell quoting) is one avahi-publish argument
# list, published before COMMAND starts and withdrawn when it ends; $PREFIX in a line stands for
# the scanner's address without its last octet, e.g.
#   -a -R cam10.local $PREFIX.10
#   -s -H cam10.local "Cam 10" _encoder._tcp 80 MAC=02:06:00:00:00:10 FW=1.0
#
# COMMAND finds the daemon's log in LUMISWEEP_AVAHI_LOG and its process in LUMISWEEP_AVAHI_PID.
#
# Exits with COMMAND's status; 77 when it cannot run here.
set -u
. "$(dirname "$0")/../lib.sh"

readonly ESTABLISH_TIMEOUT_S=10

arguments=("$@")
publish=
if [ "${1:-}" = --publish ]; then
    [[ $# -ge 2 && -r $2 ]] || { echo "with-avahi.sh: cannot read the --publish file" >&2; exit 2; }
    publish=$(realpath "$2")
    shift 2
fi
[ "${1:-}" != -- ] || shift
[ $# -gt 0 ] || usage 4 4
need_root "namespaces, avahi-daemon"
need_tools avahi-daemon avahi-publish dbus-daemon unshare
require_test_lan

if [ -z "${LUMISWEEP_AVAHI_MOUNTNS:-}" ]; then
    # /run/avahi-daemon is where nss-mdns looks for the daemon's socket; it must exist as a
    # mount point, and an empty directory there is what the avahi package leaves anyway.
    mkdir -p /run/avahi-daemon
    export LUMISWEEP_AVAHI_MOUNTNS=1
    exec unshare --mount --propagation private "$0" "${arguments[@]}"
fi

workdir=$(mktemp -d /tmp/lsm-avahi.XXXXXX)
at_exit rm -rf "$workdir"
# COMMAND may run as another user (the demo runs the program as the user who called sudo), and
# reaches the bus by the socket's name; the folder stays unlistable and writable by root alone.
chmod 711 "$workdir"
mount -t tmpfs -o mode=0755,size=1m lsm-avahi-run /run/avahi-daemon || exit 77

cat >"$workdir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$workdir/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat >"$workdir/avahi-daemon.conf" <<CONF
[server]
host-name=lsm-scanner
use-ipv4=yes
use-ipv6=no
allow-interfaces=$LUMISWEEP_LAN_IFACE
enable-dbus=yes
ratelimit-interval-usec=0
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
publish-addresses=yes
[reflector]
enable-reflector=no
CONF

export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$workdir/system_bus_socket"
dbus-daemon --config-file="$workdir/bus.conf" --nofork --nopidfile >"$workdir/dbus.log" 2>&1 &
at_exit stop_process $!
if ! wait_for 5 test -S "$workdir/system_bus_socket"; then
    echo "with-avahi.sh: dbus-daemon did not start" >&2
    cat "$workdir/dbus.log" >&2
    exit 1
fi

avahi-daemon -f "$workdir/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits \
    >"$workdir/avahi.log" 2>&1 &
avahi_pid=$!
at_exit stop_process $avahi_pid
# Ready when it has claimed its host name; before that it answers browses but publishes nothing.
logged_or_gone() { grep -q "$2" "$1" || ! kill -0 "$3" 2>/dev/null; }
wait_for 10 logged_or_gone "$workdir/avahi.log" "Server startup complete" $avahi_pid
if ! grep -q "Server startup complete" "$workdir/avahi.log"; then
    echo "with-avahi.sh: avahi-daemon did not become ready" >&2
    cat "$workdir/avahi.log" >&2
    exit 1
fi

if [ -n "$publish" ]; then
    prefix=${LUMISWEEP_LAN_SCANNER_IP%.*}
    split_lines "$publish" >/dev/null || exit 2
    publishers=() logs=() lines=() words=()
    while read_words words; do
        lines+=("${words[*]//\$PREFIX/$prefix}")
        # SIGTERM (stop_process) makes avahi-publish withdraw its records before it exits.
        avahi-publish "${words[@]//\$PREFIX/$prefix}" >"$workdir/publish-${#logs[@]}.log" 2>&1 &
        publishers+=($!)
        at_exit stop_process $!
        logs+=("$workdir/publish-${#logs[@]}.log")
    done < <(split_lines "$publish")
    for i in "${!logs[@]}"; do
        wait_for $ESTABLISH_TIMEOUT_S logged_or_gone "${logs[$i]}" "Established under name" "${publishers[$i]}"
        if ! grep -q "Established under name" "${logs[$i]}"; then
            echo "with-avahi.sh: not published: avahi-publish ${lines[$i]}" >&2
            cat "${logs[$i]}" >&2
            exit 1
        fi
    done
fi

export LUMISWEEP_AVAHI_LOG="$workdir/avahi.log" LUMISWEEP_AVAHI_PID=$avahi_pid
run_child "$@"
