#!/bin/bash
# Screenshots the real program in the simulated LAN, under Xvfb.
#
#   tools/screenshot.sh BUILD_DIR [OUTPUT.png]       after an ARP scan; default docs/screenshot.png
#   tools/screenshot.sh --states BUILD_DIR [FOLDER]  one picture per state of the window, default
#                                                    docs/: window-idle, -scanning, -complete,
#                                                    -tooltip, -menu, -stopped, -nothing-found
#   tools/screenshot.sh --quit-check BUILD_DIR       close the window during a sweep instead:
#                                                    fails unless the program exits 0 within 1 s
#                                                    (LUMISWEEP_QUIT_LIMIT_MS; 0: no limit)
#
# The program only ever runs inside the LAN's scanner namespace (simlan.sh), whose sole
# interfaces are loopback and the test LAN, so the sweep cannot reach a real network.
# Needs root, Xvfb, xdotool and ImageMagick; exits 77 where the LAN cannot be made.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(dirname "$HERE")
readonly HERE REPO
readonly TOPOLOGY="$HERE/screenshot.topology"
# Hosts of other makers only: a sweep that finds nothing.
readonly EMPTY_TOPOLOGY="$HERE/screenshot-empty.topology"
# Debian's ImageMagick; another 'convert' may stand earlier on PATH.
readonly IMPORT=/usr/bin/import
readonly CONVERT=/usr/bin/convert
readonly SCAN_FACE=A9C03E         # the usable Scan button's face colour
readonly BAR_MIDDLE_Y=63          # title bar 40 + half the function bar's 46
readonly SCAN_TOP_ROW_Y=52        # inside the Scan face, above its caption
readonly CLOSE_X=940 CLOSE_Y=20   # the close button's centre
readonly ROW_X=100 FIRST_ROW_Y=135 ROW_HEIGHT=33
readonly NAME_X=600               # inside the Device Name column
# Sanitizer builds exit several times slower and may say so.
readonly QUIT_LIMIT_MS=${LUMISWEEP_QUIT_LIMIT_MS:-1000}
# The quit check's moment: the sweep has found the first encoder and asks it for its name. The
# /22's sweep goes on for more than a second after that.
readonly ASKED_LOG=sim-198.18.0.2.log

die() {
    echo "screenshot.sh: $*" >&2
    [ -f "${workdir:-}/app.log" ] && grep -v Lumisweepapplication "$workdir/app.log" | tail -n 20 >&2
    exit 1
}
. "$HERE/lib.sh"

if [ "${1:-}" != --inside ]; then
    mode=screenshot
    case "${1:-}" in
    --quit-check) mode=quit && shift ;;
    --states) mode=states && shift ;;
    esac
    [ $# -ge 1 ] || usage 4 9
    build=$(cd "$1" && pwd) || exit 2
    if [ "$mode" = states ]; then
        output=${2:-$REPO/docs}
    else
        output=${2:-$REPO/docs/screenshot.png}
    fi
    case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
    [ -x "$build/lumisweep" ] || die "no program at $build/lumisweep (build the target lumisweep)"
    need_tools Xvfb xdotool "$IMPORT" "$CONVERT"
    if [ -z "${LUMISWEEP_ENCODERSIM:-}" ] && [ -x "$build/tools/encodersim/encodersim" ]; then
        export LUMISWEEP_ENCODERSIM="$build/tools/encodersim/encodersim"
    fi
    if [ "$mode" = states ]; then
        mkdir -p "$output"
        "$REPO/tools/simlan/simlan.sh" run "$EMPTY_TOPOLOGY" -- \
            "$HERE/screenshot.sh" --inside empty "$build" "$output" || exit
    fi
    exec "$REPO/tools/simlan/simlan.sh" run "$TOPOLOGY" -- "$HERE/screenshot.sh" --inside "$mode" "$build" "$output"
fi

# ---- Inside the scanner namespace ----
mode=$2
build=$3
output=$4
require_test_lan
workdir=$(mktemp -d /tmp/lsq-shot.XXXXXX)
at_exit rm -rf "$workdir"
start_xvfb || exit 1

logged() { grep -q "$1" "$workdir/app.log"; }
asked() { grep -q "GET /public/deviceName" "$LUMISWEEP_LAN_DIR/$ASKED_LOG" 2>/dev/null; }
click() { xdotool mousemove --window "$wid" "$1" "$2" click "${3:-1}"; }
# Keys go to the focused window; without a window manager nobody else focuses it.
key() { xdotool windowfocus --sync "$wid" key "$1"; }
row_y() { echo $((FIRST_ROW_Y + ($1 - 1) * ROW_HEIGHT)); }
# The screen, cut to the window: popups such as menus are windows of their own.
shot() {
    local origin
    origin=$(xdotool getwindowgeometry --shell "$wid" | sed -n 's/^[XY]=//p' | paste -sd+)
    "$IMPORT" -window root -crop "960x560+$origin" +repage "$1" || die "import failed"
    echo "saved $1"
}
scan() {
    # The program appends, so that emptying the log does not leave it writing past the end.
    : >"$workdir/app.log"
    click $((scan_x + 20)) "$BAR_MIDDLE_Y"
    wait_for 10 logged "startArpScan" || die "the sweep did not start"
}
scan_done() { wait_for 60 logged "Done Arp Scan" || die "the sweep did not end"; }

mkdir -p "$workdir/data"
XDG_DATA_HOME="$workdir/data" XDG_RUNTIME_DIR="$workdir" QT_QPA_PLATFORM=xcb AVAHI_COMPAT_NOWARN=1 \
    "$build/lumisweep" --verbose >>"$workdir/app.log" 2>&1 &
app_pid=$!
at_exit stop_process $app_pid
wid=$(wait_for_window '^Lumisweep V') || die "the window did not appear"
sleep 1

# Scan sits right of the combo box, whose place follows the label widths of the font in use:
# find its face, the first long run of its colour in a row above the caption (the chosen radio
# has the same colour, but is only 20 wide).
"$IMPORT" -window "$wid" "$workdir/idle.png"
scan_x=$("$CONVERT" "$workdir/idle.png" -crop "960x1+0+$SCAN_TOP_ROW_Y" +repage txt:- |
    awk -v face="#$SCAN_FACE" '
        index($0, face) { split($1, xy, ","); run = run ? run : xy[1]; if (xy[1] - run >= 30) { print run; exit } next }
        { run = 0 }')
[ -n "$scan_x" ] || die "no Scan button found in the window"

case $mode in
quit)
    click $((scan_x + 20)) "$BAR_MIDDLE_Y"
    wait_for 30 asked || die "the sweep found nothing to ask"
    start=$(date +%s%N)
    click "$CLOSE_X" "$CLOSE_Y"
    wait "$app_pid"
    status=$?
    elapsed=$((($(date +%s%N) - start) / 1000000))
    echo "closed during a sweep: exit status $status after $elapsed ms"
    [ "$status" -eq 0 ] || exit 1
    [ "$QUIT_LIMIT_MS" = 0 ] || [ "$elapsed" -lt "$QUIT_LIMIT_MS" ] || exit 1
    exit 0
    ;;
screenshot)
    scan
    scan_done
    sleep 0.5
    click "$ROW_X" "$FIRST_ROW_Y"
    xdotool mousemove --window "$wid" 0 300
    sleep 0.5
    mkdir -p "$(dirname "$output")"
    shot "$output"
    ;;
empty)
    scan
    scan_done
    sleep 0.5
    shot "$output/window-nothing-found.png"
    ;;
states)
    shot "$output/window-idle.png"
    scan
    # The first tick of the progress comes a second after the click.
    sleep 1.5
    shot "$output/window-scanning.png"
    scan_done
    # Rows of slow devices complete after the sweep's end.
    sleep 2
    click "$ROW_X" "$(row_y 2)"
    xdotool mousemove --window "$wid" 0 300
    sleep 0.5
    shot "$output/window-complete.png"
    # The long name is the third row in address order.
    xdotool mousemove --window "$wid" "$NAME_X" "$(row_y 3)"
    sleep 1.5
    shot "$output/window-tooltip.png"
    click "$ROW_X" "$(row_y 4)" 3
    # Onto "Copy row", the menu's fourth entry.
    xdotool mousemove --window "$wid" $((ROW_X + 40)) $(($(row_y 4) + 75))
    sleep 1
    shot "$output/window-menu.png"
    key Escape
    xdotool mousemove --window "$wid" 0 300
    scan
    sleep 0.3
    key Escape
    sleep 1
    shot "$output/window-stopped.png"
    ;;
esac
click "$CLOSE_X" "$CLOSE_Y"
wait "$app_pid"
