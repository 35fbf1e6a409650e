#!/bin/bash
# The layers' direction, app -> controller -> discovery -> platform, as the build enforces it:
#   check-layers.sh BUILD_DIR PROBE...
# Builds each probe (one include against the direction) and passes only when every one fails on
# that include. The controller links Qt's QML module, which brings QtNetwork's headers with it, so
# network I/O outside discovery/ and platform/ is looked for in the sources instead.
set -u
. "$(dirname "$0")/../../tools/lib.sh"
need_tools cmake
here=$(dirname "$0")
build=$1
shift
failures=0
for probe in "$@"; do
    header=$(sed -n 's/^#include [<"]\(.*\)[>"]$/\1/p' "$here/$probe.cpp")
    output=$(cmake --build "$build" --target "layer_probe_$probe" 2>&1)
    if grep -qF "$header: No such file" <<<"$output"; then
        echo "ok: $probe: $header is out of reach"
    else
        echo "FAIL: $probe: $header did not fail as a missing include"
        tail -n 5 <<<"$output"
        failures=$((failures + 1))
    fi
done
network='^#include <(QtNetwork|QNetwork|QTcp|QUdp|QHostAddress|QHostInfo|QSsl|QDns|QAbstractSocket|QLocalSocket|QLocalServer|QHttp|QAuthenticator)'
if grep -nE "$network" "$here"/../../app/* "$here"/../../controller/*; then
    echo "FAIL: network I/O outside discovery/ and platform/ (above)"
    failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
