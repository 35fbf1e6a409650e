#!/bin/bash
# Runs COMMAND as on a machine without the DNS-SD library: without-dnssd.sh -- COMMAND [ARGS...]
#
# In a private mount namespace every file the dynamic loader would find for libdns_sd.so.1 is
# covered with /dev/null, so loading it fails exactly as if it were not installed. Nothing
# outside this process tree sees the change. Exits with COMMAND's status; 77 when it cannot.
set -u

if [ "${1:-}" = "--" ]; then
    shift
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 -- COMMAND [ARGS...]" >&2
    exit 2
fi
. "$(dirname "$0")/../../tools/lib.sh"
need_root "a private mount namespace"
need_tools unshare

if [ -z "${LUMISWEEP_NODNSSD_MOUNTNS:-}" ]; then
    export LUMISWEEP_NODNSSD_MOUNTNS=1
    exec unshare --mount --propagation private "$0" -- "$@"
fi

for path in $(ldconfig -p | awk '/libdns_sd\.so\.1 /{print $NF}') \
    /usr/lib/x86_64-linux-gnu/libdns_sd.so.1 /usr/lib/libdns_sd.so.1 /lib/libdns_sd.so.1; do
    if [ -e "$path" ]; then
        mount --bind /dev/null "$(readlink -f "$path")" || exit 77
    fi
done
"$@"
