#!/bin/bash
# Screenshots the real program after an ARP scan of the simulated LAN, under Xvfb.
#
#   tools/screenshot.sh BUILD_DIR [OUTPUT.png]       default output: docs/screenshot.png
#   tools/screenshot.sh --quit-check BUILD_DIR       close the window during a sweep instead:
#                                                    fails unless the program exits 0 within 1 s
#
# The program only ever runs inside the LAN's scanner namespace (simlan.sh), whose sole
# interfaces are loopback and the test LAN, so the sweep cannot reach a real network.
# Needs root, Xvfb, xdotool and ImageMagick; exits 77 where the LAN cannot be made.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(dirname "$HERE")
readonly HERE REPO
readonly TOPOLOGY="$HERE/screenshot.topology"
# Debian's ImageMagick; another 'convert' may stand earlier on PATH.
readonly IMPORT=/usr/bin/import
readonly CONVERT=/usr/bin/convert
readonly SCAN_FACE=A9C03E         # the usable Scan button's face colour
readonly BAR_MIDDLE_Y=63          # title bar 40 + half the function bar's 46
readonly SCAN_TOP_ROW_Y=52        # inside the Scan face, above its caption
readonly CLOSE_X=940 CLOSE_Y=20   # the close button's centre
readonly FIRST_ROW_X=100 FIRST_ROW_Y=135
# Sanitizer builds exit several times slower and may say so.
readonly QUIT_LIMIT_MS=${LUMISWEEP_QUIT_LIMIT_MS:-1000}

die() {
    echo "screenshot.sh: $*" >&2
    [ -f "${workdir:-}/app.log" ] && grep -v Lumisweepapplication "$workdir/app.log" | tail -n 20 >&2
    exit 1
}
. "$HERE/lib.sh"

if [ "${1:-}" != --inside ]; then
    mode=screenshot
    if [ "${1:-}" = --quit-check ]; then
        mode=quit
        shift
    fi
    [ $# -ge 1 ] || usage 4 6
    build=$(cd "$1" && pwd) || exit 2
    output=${2:-$REPO/docs/screenshot.png}
    case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
    [ -x "$build/lumisweep" ] || die "no program at $build/lumisweep (build the target lumisweep)"
    need_tools Xvfb xdotool "$IMPORT" "$CONVERT"
    if [ -z "${LUMISWEEP_ENCODERSIM:-}" ] && [ -x "$build/tools/encodersim/encodersim" ]; then
        export LUMISWEEP_ENCODERSIM="$build/tools/encodersim/encodersim"
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
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }

mkdir -p "$workdir/data"
XDG_DATA_HOME="$workdir/data" XDG_RUNTIME_DIR="$workdir" QT_QPA_PLATFORM=xcb AVAHI_COMPAT_NOWARN=1 \
    "$build/lumisweep" --verbose >"$workdir/app.log" 2>&1 &
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
grep -q "Current index: 0" "$workdir/app.log" || die "no interface address in the combo box"
click $((scan_x + 20)) "$BAR_MIDDLE_Y"

if [ "$mode" = quit ]; then
    wait_for 10 logged "startArpScan" || die "the sweep did not start"
    sleep 0.5
    ! logged "Done Arp Scan" || die "the sweep ended before the window was closed"
    start=$(date +%s%N)
    click "$CLOSE_X" "$CLOSE_Y"
    wait "$app_pid"
    status=$?
    elapsed=$((($(date +%s%N) - start) / 1000000))
    echo "closed during a sweep: exit status $status after $elapsed ms"
    [ "$status" -eq 0 ] && [ "$elapsed" -lt "$QUIT_LIMIT_MS" ] || exit 1
    exit 0
fi

wait_for 30 logged "Done Arp Scan" || die "the sweep did not end"
sleep 0.5
click "$FIRST_ROW_X" "$FIRST_ROW_Y"
xdotool mousemove --window "$wid" 0 300
sleep 0.5
mkdir -p "$(dirname "$output")"
"$IMPORT" -window "$wid" "$output" || die "import failed"
echo "saved $output"
click "$CLOSE_X" "$CLOSE_Y"
wait "$app_pid"
