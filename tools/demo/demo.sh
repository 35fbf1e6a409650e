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
    program=$2
    run_as=()
    if [ -n "${SUDO_UID:-}" ] && [ "${SUDO_UID}" != 0 ]; then
        home=$(getent passwd "$SUDO_UID" | cut -d: -f6)
        run_as=(setpriv --reuid="$SUDO_UID" --regid="$SUDO_GID" --init-groups env HOME="$home")
    fi
    echo "Lumisweep is starting: choose 198.18.0.1 as Interface, then ARP, Http Download or mDNS."
    "${run_as[@]}" "$program"
    exit 0
fi

. "$here/../lib.sh"
need_root "the demo builds network namespaces: sudo $0"
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
    "$top/tools/simlan/with-avahi.sh" --publish "$here/demo.publish" -- "$0" --inside "$build/lumisweep"
