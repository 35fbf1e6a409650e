#!/bin/bash
# The real program: without a display it says so in one line and exits 1; a usage error exits 2;
# the command line leaves no settings behind; offscreen it logs its version (the build's, given as
# VERSION) and its window loads without QML errors; under Xvfb it shows "Lumisweep V" and the
# version, 960 x 560, as the desktop entry's window, and a session of keys and clicks writes
# nothing to stderr (window_quit_during_sweep clicks its close button). Starting only lists
# interfaces; nothing here scans.
#   startup.sh PROGRAM VERSION
set -u
. "$(dirname "$0")/../../tools/lib.sh"
program=$1
version=${2:?usage: $0 PROGRAM VERSION}
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
# A usage error ends before anything runs: exit status 2, and what was wrong.
status=0
env -u DISPLAY "$program" --scan ping >"$tmp/app.log" 2>&1 || status=$?
if [ "$status" != 2 ] || ! grep -q "'ping'" "$tmp/app.log"; then
    fail "--scan ping: exit status $status, not 2 with what was wrong"
fi

# The command line only reads settings: a fresh home stays empty, and one it cannot use (a plain
# file here, which even root cannot make folders in) draws no warning.
mkdir "$tmp/home" && touch "$tmp/plain"
env -u XDG_DATA_HOME HOME="$tmp/home" "$program" --list-interfaces >/dev/null 2>&1 \
    || fail "--list-interfaces failed"
[ -z "$(ls -A "$tmp/home")" ] || fail "the command line left files: $(find "$tmp/home" -mindepth 1)"
env -u XDG_DATA_HOME HOME="$tmp/plain" "$program" --list-interfaces >/dev/null 2>"$tmp/stderr"
[ ! -s "$tmp/stderr" ] || fail "an unusable home drew: $(cat "$tmp/stderr")"

QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software timeout -s TERM 3 "$program" --verbose >"$tmp/app.log" 2>&1
grep -qF "Version Number = $version " "$tmp/app.log" || fail "no version line offscreen"
grep -E 'main.qml:[0-9]+.*(rror|not a type|Cannot|Unable|undefined)' "$tmp/app.log" && fail "QML errors"

start_xvfb || fail "Xvfb did not start"
# A session as the desktop starts it, without --verbose: keys and clicks that scan nothing (no
# Enter, no Space), a context menu, the save dialog, then Ctrl+Q. Nothing may reach stderr.
mkdir -m 700 "$tmp/run"
XDG_RUNTIME_DIR=$tmp/run "$program" >/dev/null 2>"$tmp/stderr" &
app_pid=$!
at_exit stop_process $app_pid
title="Lumisweep V$version"
window=$(wait_for_window "^${title//./\\.}\$" 30) || fail "no window titled '$title'"
[ "$(xdotool getwindowgeometry --shell "$window" | grep -E 'WIDTH|HEIGHT' | tr '\n' ' ')" \
    = "WIDTH=960 HEIGHT=560 " ] || fail "the window is not 960 x 560"
# The window is the desktop entry's: the entry's StartupWMClass is its class, and it has the icon.
entry=$(dirname "$0")/../../packaging/org.lumisweep.Lumisweep.desktop
[[ "$(xprop -id "$window" WM_CLASS)" == *", \"$(sed -n 's/^StartupWMClass=//p' "$entry")\"" ]] \
    || fail "WM_CLASS $(xprop -id "$window" WM_CLASS) is not the entry's StartupWMClass"
xprop -id "$window" _NET_WM_ICON | grep -q 'Icon (48 x 48)' || fail "no 48 x 48 window icon"
xdotool windowfocus --sync "$window" key Tab Tab Tab Tab Tab Tab Down Up
# Each key waits for the effect of the one before: a key sent while a menu or a modal dialog
# still holds the input would go to it, or nowhere. The bounds only end a hung session.
press() { xdotool windowfocus --sync "$1" key "$2"; } # WINDOW KEY
# The context menu is a window of its own, beside the main window.
menu_open() { [ "$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)" -gt 1 ]; }
menu_closed() { ! menu_open; }
xdotool mousemove --window "$window" 400 300 click 3
wait_for 120 menu_open || fail "a right-click opened no context menu"
press "$window" Escape
wait_for 120 menu_closed || fail "Escape did not close the context menu"
press "$window" ctrl+s
dialog=$(wait_for_window '^Save as CSV$' 120) || fail "Ctrl+S opened no save dialog"
dialog_closed() { ! xdotool search --onlyvisible --name '^Save as CSV$' >/dev/null 2>&1; }
press "$dialog" Escape
wait_for 120 dialog_closed || fail "Escape did not close the save dialog"
ended() { ! kill -0 "$app_pid" 2>/dev/null; }
press "$window" ctrl+q
wait_for 120 ended || fail "Ctrl+Q did not end the program"
wait $app_pid || fail "exit status $? after Ctrl+Q"
[ ! -s "$tmp/stderr" ] || fail "the window session wrote to stderr: $(cat "$tmp/stderr")"
echo "PASS: start-up offscreen and under Xvfb"
