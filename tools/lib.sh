# shellcheck shell=bash
# Shell helpers shared by the project's scripts. Source it; it runs nothing.
#
#   need_root WHY             exit $missing_status unless root
#   need_tools TOOL...        exit $missing_status unless every TOOL can be run
#   missing_status            77 (skipped, for ctest) unless the script sets another status
#   usage FIRST LAST          print lines FIRST to LAST of the script (its usage) and exit 2
#   at_exit COMMAND [ARGS...] run COMMAND on exit (also on INT/TERM/HUP), last registered first;
#                             the script's exit status is kept
#   stop_process PID...       SIGTERM, then reap
#   run_child COMMAND...      COMMAND in the background, so a signal reaches our traps at once
#                             rather than after COMMAND; returns COMMAND's status
#   wait_for SECONDS COMMAND...  poll COMMAND every 50 ms until it succeeds; 1 on time-out
#   start_xvfb                a private X server on a free display; exports DISPLAY
#   wait_for_window TITLE_REGEX [SECONDS]   print the id of the first visible window so titled
#   require_test_lan          exit 2 unless in a simulated LAN's scanner namespace
#   split_lines FILE          each line's words (shell quoting, '#' comments), for read_words
#   read_words ARRAY          the next line of split_lines' output into ARRAY; 1 at the end

lib_name=${0##*/}
missing_status=77

lib_missing() {
    if [ "$missing_status" = 77 ]; then
        echo "$lib_name: $1; skipping" >&2
    else
        echo "$lib_name: $1" >&2
    fi
    exit "$missing_status"
}

need_root() {
    [ "$(id -u)" = 0 ] || lib_missing "needs root ($1)"
}

need_tools() {
    local tool
    for tool in "$@"; do
        # Every tool a script asks for is in one of tools/dev.sh's package lists.
        command -v "$tool" >/dev/null || lib_missing "$tool is missing (tools/dev.sh deps installs it)"
    done
}

usage() {
    sed -n "$1,$2p" "$0" >&2
    exit 2
}

lib_cleanups=()

lib_run_cleanups() {
    local status=$? i
    trap - EXIT INT TERM HUP
    set +e
    for ((i = ${#lib_cleanups[@]} - 1; i >= 0; i--)); do
        eval "${lib_cleanups[i]}"
    done
    exit $status
}

at_exit() {
    if [ ${#lib_cleanups[@]} -eq 0 ]; then
        trap lib_run_cleanups EXIT
        trap 'exit 129' HUP
        trap 'exit 130' INT
        trap 'exit 143' TERM
    fi
    lib_cleanups+=("$(printf '%q ' "$@")")
}

stop_process() {
    local pid
    for pid in "$@"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "$@"; do
        wait "$pid" 2>/dev/null
    done
    return 0
}

run_child() {
    "$@" &
    local pid=$!
    at_exit stop_process "$pid"
    wait "$pid"
}

wait_for() {
    # Microseconds, whatever the locale's decimal sign.
    local deadline=$((${EPOCHREALTIME//[!0-9]/} + $1 * 1000000))
    shift
    until "$@"; do
        [ "${EPOCHREALTIME//[!0-9]/}" -lt $deadline ] || return 1
        sleep 0.05
    done
}

start_xvfb() {
    local dir pid
    dir=$(mktemp -d /tmp/lsw-xvfb.XXXXXX)
    at_exit rm -rf "$dir"
    # -displayfd: the server picks a free display itself and names it once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
    pid=$!
    at_exit stop_process "$pid"
    if ! wait_for 10 test -s "$dir/display"; then
        echo "$lib_name: Xvfb did not start: $(cat "$dir/log")" >&2
        return 1
    fi
    DISPLAY=":$(cat "$dir/display")"
    export DISPLAY
}

wait_for_window() {
    local id
    id=$(timeout "${2:-15}" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    [ -n "$id" ] && echo "$id"
}

# Sweeps and mDNS must never reach a real network: only loopback and the test LAN may be here.
require_test_lan() {
    local dev
    if [ -z "${LUMISWEEP_LAN_IFACE:-}" ]; then
        echo "$lib_name: refusing to run outside a simulated LAN (tools/simlan/simlan.sh run)" >&2
        exit 2
    fi
    for dev in /sys/class/net/*; do
        dev=${dev##*/}
        if [ "$dev" != lo ] && [ "$dev" != "$LUMISWEEP_LAN_IFACE" ]; then
            echo "$lib_name: refusing to run next to interface $dev; use a simulated LAN" >&2
            exit 2
        fi
    done
}

split_lines() {
    python3 - "$1" <<'PY'
import shlex, sys
with open(sys.argv[1], encoding="utf-8") as f:
    for number, line in enumerate(f, 1):
        try:
            words = shlex.split(line, comments=True)
        except ValueError as e:
            sys.exit("%s:%d: %s" % (sys.argv[1], number, e))
        if words:
            sys.stdout.buffer.write(b"".join(w.encode() + b"\0" for w in words) + b"\n\0")
PY
}

read_words() {
    local -n lib_words=$1
    local word
    lib_words=()
    while IFS= read -r -d '' word; do
        [ "$word" = $'\n' ] && return 0
        lib_words+=("$word")
    done
    return 1
}
