#!/bin/bash
# One entry point for a newcomer on Debian 12: installs what is missing, builds, then runs the
# program or the tests.
#   tools/dev.sh run     install, build, start Lumisweep
#   tools/dev.sh test    install, build, run every test (needs root: the network tests
#                        build their own namespaces)
#   tools/dev.sh build   install and build only
#   tools/dev.sh deps    install what is missing, nothing more
#   tools/dev.sh build-only  build with what is installed
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
. "$(dirname "$0")/lib.sh"
build=${LUMISWEEP_BUILD_DIR:-$top/build}
# Not a test: without root, 'test' fails rather than reporting a skip.
missing_status=1

# Build and run time: Qt 5 with the QML modules the window imports, the DNS-SD library.
runtime_packages=(cmake g++ make qtbase5-dev qtdeclarative5-dev qml-module-qtquick2
    qml-module-qtquick-window2 qml-module-qtquick-controls libavahi-compat-libdnssd1
    avahi-daemon)
# Tests and benchmarks: namespaces, the real avahi-daemon with its own bus, a display; the
# checks CI runs on top (formatting, shell scripts).
test_packages=(qml-module-qttest iproute2 procps nftables dbus-daemon avahi-utils xvfb xauth
    xdotool x11-utils imagemagick libgl1-mesa-dri arp-scan nmap python3 clang libclang-rt-14-dev
    dpkg-dev desktop-file-utils appstream lintian zlib1g-dev clang-format man-db curl shellcheck
    libcap2-bin)

install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

configure_and_build() {
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)"
}

case "${1:-}" in
run)
    install_missing "${runtime_packages[@]}"
    configure_and_build
    exec "$build/lumisweep"
    ;;
build)
    install_missing "${runtime_packages[@]}" "${test_packages[@]}"
    configure_and_build
    ;;
deps)
    install_missing "${runtime_packages[@]}" "${test_packages[@]}"
    ;;
build-only)
    configure_and_build
    ;;
test)
    need_root "the tests create network namespaces with simulated encoders: sudo $0 test"
    install_missing "${runtime_packages[@]}" "${test_packages[@]}"
    configure_and_build
    cd "$build"
    ctest --output-on-failure --timeout 600 -j2
    ;;
*)
    usage 2 9
    ;;
esac
