#!/bin/bash
# The real program: starts offscreen and under Xvfb, writes its settings owner-only, shows the
# window "Lumisweep V2.7.1" within a second, and exits 0 when its close button is clicked.
# Starting the program only lists interfaces; nothing here scans.
set -u
. "$(dirname "$0")/../../tools/lib.sh"
program=$1
tmp=$(mktemp -d)
at_exit rm -rf "$tmp"
fail() { echo "FAIL: $*"; [ -f "$tmp/app.log" ] && grep -v 'Lumisweepapplication::event' "$tmp/app.log" | tail -20; exit 1; }
export XDG_DATA_HOME=$tmp/data HOME=$tmp AVAHI_COMPAT_NOWARN=1

# Offscreen: the log and the settings file; the window's QML must load without errors.
QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software timeout -s TERM 3 "$program" >"$tmp/app.log" 2>&1
grep -q '^Version Number = 2.7.1 ' "$tmp/app.log" || fail "no version line offscreen"
grep -E 'main.qml:[0-9]+.*(rror|not a type|Cannot|Unable|undefined)' "$tmp/app.log" && fail "the window's QML reported errors"
[ "$(stat -c %a "$tmp/data/Lumisweep/settings.ini")" = 600 ] || fail "settings.ini is not mode 600"
[ "$(stat -c %a "$tmp/data/Lumisweep")" = 700 ] || fail "the data folder is not mode 700"
grep -qx 'APP_VERSION_NUMBER=2.7.1' "$tmp/data/Lumisweep/settings.ini" || fail "version not stored"

# Under Xvfb: a real window, found by its title, closed through its own close button.
start_xvfb || fail "Xvfb did not start"
start=$(date +%s%N)
"$program" >"$tmp/app.log" 2>&1 &
app_pid=$!
at_exit stop_process $app_pid
window=$(wait_for_window '^Lumisweep V2\.7\.1$' 10) || fail "no window titled 'Lumisweep V2.7.1'"
shown_ms=$((($(date +%s%N) - start) / 1000000))
echo "window shown after ${shown_ms} ms"
# Sanitizer builds start several times slower and may say so.
limit_ms=${LUMISWEEP_WINDOW_LIMIT_MS:-1000}
[ "$shown_ms" -le "$limit_ms" ] || fail "window took ${shown_ms} ms (limit $limit_ms ms)"
read -r width height < <(xdotool getwindowgeometry --shell "$window" | awk -F= '/WIDTH|HEIGHT/ {printf "%s ", $2}')
[ "$width" = 960 ] && [ "$height" = 560 ] || fail "window is ${width}x${height}, not 960x560"

sleep 0.3
xdotool mousemove --window "$window" 940 20 click 1
quit_limit_ms=${LUMISWEEP_QUIT_LIMIT_MS:-1000}
gone() { ! kill -0 "$app_pid" 2>/dev/null; }
wait_for $((quit_limit_ms / 1000 + 2)) gone || fail "the close button did not end the program"
wait "$app_pid"
rc=$?
[ "$rc" = 0 ] || fail "exit code $rc after the close button"
echo "PASS: offscreen and Xvfb start-up, close button exits 0"
