#!/bin/bash
# The real program: without a display it says so in one line and exits 1; offscreen it logs its
# version and its window loads without QML errors; under Xvfb it shows "Lumisweep V2.7.1",
# 960 x 560 (window_quit_during_sweep clicks its close button). Starting only lists interfaces;
# nothing here scans.
set -u
. "$(dirname "$0")/../../tools/lib.sh"
program=$1
tmp=$(mktemp -d)
at_exit rm -rf "$tmp"
fail() { echo "FAIL: $*"; grep -v 'Lumisweepapplication::event' "$tmp/app.log" | tail -20; exit 1; }
export XDG_DATA_HOME=$tmp/data HOME=$tmp AVAHI_COMPAT_NOWARN=1

# As in a remote shell: one line that names the way out, no abort, no core.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" >"$tmp/app.log" 2>&1 || status=$?
[ "$status" = 1 ] || fail "without a display: exit status $status, not 1"
if [ "$(wc -l <"$tmp/app.log")" != 1 ] || ! grep -q -- '--scan' "$tmp/app.log"; then
    fail "without a display: not one line naming --scan"
fi

QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software timeout -s TERM 3 "$program" --verbose >"$tmp/app.log" 2>&1
grep -q '^Version Number = 2.7.1 ' "$tmp/app.log" || fail "no version line offscreen"
grep -E 'main.qml:[0-9]+.*(rror|not a type|Cannot|Unable|undefined)' "$tmp/app.log" && fail "QML errors"

start_xvfb || fail "Xvfb did not start"
"$program" --verbose >"$tmp/app.log" 2>&1 &
app_pid=$!
at_exit stop_process $app_pid
window=$(wait_for_window '^Lumisweep V2\.7\.1$' 30) || fail "no window titled 'Lumisweep V2.7.1'"
[ "$(xdotool getwindowgeometry --shell "$window" | grep -E 'WIDTH|HEIGHT' | tr '\n' ' ')" \
    = "WIDTH=960 HEIGHT=560 " ] || fail "the window is not 960 x 560"
echo "PASS: start-up offscreen and under Xvfb"
