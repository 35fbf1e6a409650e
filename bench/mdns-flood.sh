#!/bin/bash
# Hostile announcers: GHOSTS instances on hosts without an address record (Avahi never resolves
# them) on the air together with GOOD devices that resolve. Prints what one browse costs (peak
# threads and descriptors), when the last good device was reported, and how long the stop took.
#
#   bench/mdns-flood.sh [BUILD_DIR] [GHOSTS] [GOOD] [WAIT_MS]
#
# Builds its own test LAN (simlan) and avahi-daemon (with-avahi.sh); needs root. The announcers
# run under uids of their own, as on a network they are other hosts: they must not use up the
# D-Bus connections the program's user may open.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
. "$here/../tools/lib.sh"

if [ "${1:-}" != "--inside" ]; then
    build=$(cd "${1:-$root/build}" && pwd)
    exec "$root/tools/simlan/simlan.sh" run "$here/mdns-bench.topology" -- \
        "$root/tools/simlan/with-avahi.sh" -- "$0" --inside "$build" "${2:-300}" "${3:-10}" \
        "${4:-150000}"
fi
latency="$2/bench/mdns-latency"
ghosts=$3
good=$4
[ -x "$latency" ] || { echo "mdns-flood: build the target mdns-latency in $2 first" >&2; exit 2; }
stop_jobs() {
    local pids
    mapfile -t pids < <(jobs -p)
    stop_process "${pids[@]}"
}
at_exit stop_jobs

for i in $(seq "$good"); do
    avahi-publish -a -R "good$i.local" "${LUMISWEEP_LAN_SCANNER_IP%.*}.$((100 + i))" >/dev/null 2>&1 &
done
# Existing system users: the bus refuses a uid that has no account.
uids=(65534 1 2 3 5 6 7 8)
for i in $(seq "$ghosts"); do
    uid=${uids[i % 8]}
    setpriv --reuid="$uid" --regid="$uid" --clear-groups avahi-publish -s \
        -H "ghost$i.local" "Ghost$i" _encoder._tcp 80 MAC=00:11:22:33:44:55 >/dev/null 2>&1 &
done
for i in $(seq "$good"); do
    avahi-publish -s -H "good$i.local" "Good$i" _encoder._tcp 80 "MAC=00:11:22:33:45:$i" \
        >/dev/null 2>&1 &
done
for _ in $(seq 60); do
    [ "$(avahi-browse -t -p _encoder._tcp 2>/dev/null | grep -c '^+')" -ge $((ghosts + good)) ] \
        && break
    sleep 0.2
done
echo "on the air: $(avahi-browse -t -p _encoder._tcp 2>/dev/null | grep -c '^+') instances"
# One more than announced: the browse runs for the whole WAIT_MS, so the peaks cover the flood.
"$latency" Good 1 $((good + 1)) "$5" &
pid=$!
count() { find "/proc/$pid/$1" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
threads=0
fds=0
while kill -0 "$pid" 2>/dev/null; do
    t=$(count task)
    f=$(count fd)
    [ "$t" -gt "$threads" ] && threads=$t
    [ "$f" -gt "$fds" ] && fds=$f
    sleep 0.05
done
echo "peak threads $threads, open descriptors $fds; the figure is the time to the last good device"
