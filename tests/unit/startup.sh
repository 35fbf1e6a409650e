#!/bin/bash
# The real program: starts offscreen and under Xvfb, writes its settings owner-only, shows the
# window "Lumisweep V2.7.1" within a second, and exits 0 when its close button is clicked.
# Starting the program only lists interfaces; nothing here scans.
set -u
program=$1
tmp=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
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
for display in $(seq 90 140); do
    [ -e /tmp/.X11-unix/X$display ] && continue
    Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
    kill -0 "$xvfb_pid" 2>/dev/null && break
    xvfb_pid=""
done
[ -n "$xvfb_pid" ] || fail "Xvfb did not start"
export DISPLAY=:$display

start=$(date +%s%N)
"$program" >"$tmp/app.log" 2>&1 &
app_pid=$!
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Lumisweep V2\.7\.1$' | head -n 1)
shown_ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ -n "$window" ] || fail "no window titled 'Lumisweep V2.7.1'"
echo "window shown after ${shown_ms} ms"
# Sanitizer builds start several times slower and may say so.
limit_ms=${LUMISWEEP_WINDOW_LIMIT_MS:-1000}
[ "$shown_ms" -le "$limit_ms" ] || fail "window took ${shown_ms} ms (limit $limit_ms ms)"
read -r width height < <(xdotool getwindowgeometry --shell "$window" | awk -F= '/WIDTH|HEIGHT/ {printf "%s ", $2}')
[ "$width" = 960 ] && [ "$height" = 560 ] || fail "window is ${width}x${height}, not 960x560"

sleep 0.3
xdotool mousemove --window "$window" 940 20 click 1
quit_limit_ms=${LUMISWEEP_QUIT_LIMIT_MS:-1000}
for _ in $(seq $((quit_limit_ms / 100 + 20))); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the close button did not end the program"
wait "$app_pid"
rc=$?
app_pid=""
[ "$rc" = 0 ] || fail "exit code $rc after the close button"
echo "PASS: offscreen and Xvfb start-up, close button exits 0"
