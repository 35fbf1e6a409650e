#!/bin/bash
# A demo for people without encoders: builds Lumisweep and starts it inside a simulated encoder
# LAN (network namespaces, one simulated encoder per namespace, a private avahi-daemon with two
# mDNS-announced encoders), so that all three scan types show rows. Pick 198.18.0.1 in the
# Interface box. Everything is removed when the window closes.
#
#   sudo tools/demo/demo.sh
#
# Root is needed for the namespaces; the program itself runs as the user who called sudo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

if [ "${1:-}" = --inside ]; then
    # In the scanner namespace, next to the demo's own avahi-daemon.
    shift
    program=$1
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null' EXIT
    prefix=${LUMISWEEP_LAN_SCANNER_IP%.*}
    avahi-publish -a -R studio-c.local "$prefix.51" >/dev/null 2>&1 & pids+=($!)
    avahi-publish -s -H studio-c.local "Studio C" _encoder._tcp 80 MAC=D0:C8:00:00:00:51 FW=3.2.0 \
        Code=1 >/dev/null 2>&1 & pids+=($!)
    avahi-publish -a -R roof-cam.local "$prefix.52" >/dev/null 2>&1 & pids+=($!)
    avahi-publish -s -H roof-cam.local "Roof Camera" _encoder._tcp 80 MAC=02:06:00:00:00:52 \
        FW=2.7.1 Code=2 >/dev/null 2>&1 & pids+=($!)

    run_as=()
    if [ -n "${SUDO_UID:-}" ] && [ "${SUDO_UID}" != 0 ]; then
        home=$(getent passwd "$SUDO_UID" | cut -d: -f6)
        run_as=(setpriv --reuid="$SUDO_UID" --regid="$SUDO_GID" --init-groups env HOME="$home")
    fi
    echo "Lumisweep is starting: choose 198.18.0.1 as Interface, then ARP, Http Download or mDNS."
    "${run_as[@]}" "$program"
    exit 0
fi

if [ "$(id -u)" != 0 ]; then
    echo "The demo builds network namespaces and needs root: sudo $0" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: run the demo from a desktop session (sudo keeps DISPLAY and XAUTHORITY)." >&2
    exit 1
fi
# The X server must let the program in; its cookie is the calling user's.
if [ -z "${XAUTHORITY:-}" ] && [ -n "${SUDO_USER:-}" ]; then
    XAUTHORITY="$(getent passwd "$SUDO_USER" | cut -d: -f6)/.Xauthority"
    export XAUTHORITY
fi

"$top/tools/dev.sh" deps
build=$top/build
if [ -n "${SUDO_UID:-}" ] && [ "${SUDO_UID}" != 0 ]; then
    # Build as the user, so that the build folder stays theirs.
    setpriv --reuid="$SUDO_UID" --regid="$SUDO_GID" --init-groups \
        env HOME="$(getent passwd "$SUDO_UID" | cut -d: -f6)" "$top/tools/dev.sh" build-only
else
    "$top/tools/dev.sh" build-only
fi

export LUMISWEEP_ENCODERSIM="$build/tools/encodersim/encodersim"
exec "$top/tools/simlan/simlan.sh" run "$here/demo.topology" -- \
    "$top/tests/mdns/with-avahi.sh" -- "$0" --inside "$build/lumisweep"
