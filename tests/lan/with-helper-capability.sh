#!/bin/bash
# Runs COMMAND as an unprivileged user while the build folder's ARP helper holds CAP_NET_RAW, as
# a user's machine has it once README's setcap line was run; the capability is taken back after.
#   with-helper-capability.sh HELPER -- COMMAND [ARGS...]
set -u
. "$(dirname "$0")/../../tools/lib.sh"
need_root "setcap and another user"
need_tools setcap setpriv
helper=$1
shift 2
setcap cap_net_raw+ep "$helper" || exit 77
at_exit setcap -r "$helper"
run_child setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp "$@"
