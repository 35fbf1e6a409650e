#!/bin/bash
# Runs COMMAND next to a private avahi-daemon: with-avahi.sh -- COMMAND [ARGS...]
#
# Meant for the scanner namespace of a test LAN (LUMISWEEP_LAN_IFACE names its interface). The
# daemon gets a D-Bus system bus of its own and a private mount namespace with a tmpfs over
# /run/avahi-daemon, so nss-mdns in COMMAND reaches this daemon, and a daemon of the machine,
# if any, is never touched. Exits with COMMAND's status; 77 when it cannot run here.
set -u

if [ "${1:-}" = "--" ]; then
    shift
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 -- COMMAND [ARGS...]" >&2
    exit 2
fi
if [ "$(id -u)" != 0 ]; then
    echo "with-avahi.sh: needs root (namespaces, avahi-daemon)" >&2
    exit 77
fi
for tool in avahi-daemon dbus-daemon dbus-send unshare; do
    if ! command -v "$tool" >/dev/null; then
        echo "with-avahi.sh: $tool is missing" >&2
        exit 77
    fi
done
iface="${LUMISWEEP_LAN_IFACE:-}"
if [ -z "$iface" ]; then
    echo "with-avahi.sh: LUMISWEEP_LAN_IFACE is not set; run inside a test LAN" >&2
    exit 2
fi
# mDNS must never reach a real network: only loopback and the test interface may exist here.
for dev in $(ls /sys/class/net); do
    if [ "$dev" != lo ] && [ "$dev" != "$iface" ]; then
        echo "with-avahi.sh: refusing to run next to interface $dev; use a test namespace" >&2
        exit 2
    fi
done

if [ -z "${LUMISWEEP_AVAHI_MOUNTNS:-}" ]; then
    # /run/avahi-daemon is where nss-mdns looks for the daemon's socket; it must exist as a
    # mount point, and an empty directory there is what the avahi package leaves anyway.
    mkdir -p /run/avahi-daemon
    export LUMISWEEP_AVAHI_MOUNTNS=1
    exec unshare --mount --propagation private "$0" -- "$@"
fi

workdir=$(mktemp -d /tmp/lsm-avahi.XXXXXX)
dbus_pid=
avahi_pid=
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    for pid in $avahi_pid $dbus_pid; do
        kill "$pid" 2>/dev/null
    done
    for pid in $avahi_pid $dbus_pid; do
        wait "$pid" 2>/dev/null
    done
    rm -rf "$workdir"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

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
allow-interfaces=$iface
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
dbus_pid=$!
for _ in $(seq 100); do
    [ -S "$workdir/system_bus_socket" ] && break
    sleep 0.05
done
if [ ! -S "$workdir/system_bus_socket" ]; then
    echo "with-avahi.sh: dbus-daemon did not start" >&2
    cat "$workdir/dbus.log" >&2
    exit 1
fi

avahi-daemon -f "$workdir/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits \
    >"$workdir/avahi.log" 2>&1 &
avahi_pid=$!
# Ready when it has claimed its host name; before that it answers browses but publishes nothing.
ready=
for _ in $(seq 200); do
    if grep -q "Server startup complete" "$workdir/avahi.log"; then
        ready=1
        break
    fi
    if ! kill -0 "$avahi_pid" 2>/dev/null; then
        break
    fi
    sleep 0.05
done
if [ -z "$ready" ]; then
    echo "with-avahi.sh: avahi-daemon did not become ready" >&2
    cat "$workdir/avahi.log" >&2
    exit 1
fi

export LUMISWEEP_AVAHI_LOG="$workdir/avahi.log"
"$@" &
child=$!
trap 'kill $child 2>/dev/null; exit 130' INT
trap 'kill $child 2>/dev/null; exit 143' TERM
wait "$child"
