#!/bin/bash
# The Debian package as a user receives it: built by cpack from a finished build folder, its
# contents and control fields, the validators of its desktop entry, metadata and manual page,
# one version and one licence throughout, the programs' hardening, lintian (where installed),
# apt's view of its dependencies, and the packaged command line.
#   tests/packaging/check-package.sh BUILD_DIR
set -u
. "$(dirname "$0")/../../tools/lib.sh"
build=${1:?usage: $0 BUILD_DIR}
need_tools cpack dpkg-deb desktop-file-validate appstreamcli man readelf
tmp=$(mktemp -d)
at_exit rm -rf "$tmp"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
app_id=org.lumisweep.Lumisweep
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1 \
    || { cat "$tmp/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$tmp/out/lumisweep_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "FAIL: no $(basename "$deb")"; exit 1; }

# Exactly the shipped files, owned by root, none setuid or setgid (the ARP helper's privilege is a
# file capability postinst sets); the Qt libraries come through dpkg-shlibdeps, the QML modules
# and the dlopen'ed DNS-SD library by name; the daemon and setcap are only recommended.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $2, $NF}' | sed 's| \./| |' | sort >"$tmp/files"
{
    echo "root/root usr/bin/lumisweep"
    echo "root/root usr/libexec/lumisweep/lumisweep-arp"
    echo "root/root usr/share/applications/$app_id.desktop"
    echo "root/root usr/share/doc/lumisweep/changelog.gz"
    echo "root/root usr/share/doc/lumisweep/copyright"
    echo "root/root usr/share/man/man1/lumisweep.1.gz"
    echo "root/root usr/share/metainfo/$app_id.metainfo.xml"
    for size in 16 24 32 48 64 128 256; do
        echo "root/root usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    done
} | sort | diff -u - "$tmp/files" || fail "package contents (- missing, + unexpected)"
depends=$(dpkg-deb -f "$deb" Depends)
for pkg in qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls \
    libavahi-compat-libdnssd1 libqt5core5a libqt5qml5 libqt5network5; do
    [[ "$depends" == *"$pkg"* ]] || fail "Depends lacks $pkg: $depends"
done
[[ "$(dpkg-deb -f "$deb" Recommends)" == *avahi-daemon*libcap2-bin* ]] || fail "Recommends"
dpkg-deb -c "$deb" | awk '$1 ~ /[sS]/ {print $NF}' | grep . && fail "setuid or setgid files"
[ "$(dpkg-deb -c "$deb" | awk '/lumisweep-arp$/ {print $1}')" = -rwxr-xr-x ] || fail "helper mode"
# postinst gives the helper its capability, and where it cannot, says so and still succeeds.
dpkg-deb -e "$deb" "$tmp/control"
[ -x "$tmp/control/postinst" ] || fail "no executable postinst"
grep -q 'setcap cap_net_raw+ep' "$tmp/control/postinst" || fail "postinst sets no capability"
note=$(PATH=/nonexistent "$tmp/control/postinst" configure 2>&1) \
    || fail "postinst fails without setcap"
[[ "$note" == *"no CAP_NET_RAW"* ]] || fail "postinst without setcap says nothing: $note"
[[ "$depends" == *avahi-daemon* ]] && fail "avahi-daemon is a hard dependency"

dpkg-deb -x "$deb" "$tmp/root"
desktop-file-validate "$tmp/root/usr/share/applications/$app_id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$tmp/root/usr/share/metainfo/$app_id.metainfo.xml" || fail "metainfo"
grep -q "<release version=\"$version\"" "$tmp/root/usr/share/metainfo/$app_id.metainfo.xml" \
    || fail "the metainfo's newest release is not $version"
[[ "$(zcat "$tmp/root/usr/share/doc/lumisweep/changelog.gz" | head -n 1)" == "lumisweep ($version) "* ]] \
    || fail "the changelog's newest entry is not $version"
# One licence everywhere: the repository's LICENSE is the copyright file's text, and the metainfo
# names it as SPDX does (Debian's Expat is SPDX's MIT).
copyright=$tmp/root/usr/share/doc/lumisweep/copyright
[ "$(sed -n 's/^License: //p' "$copyright" | sort -u)" = Expat ] || fail "the copyright file's licence"
grep -q '<project_license>MIT</project_license>' "$tmp/root/usr/share/metainfo/$app_id.metainfo.xml" \
    || fail "the metainfo's project_license is not the copyright file's Expat (SPDX: MIT)"
words() { tr -s ' \n' '\n' | grep -v -e '^$' -e '^\.$'; }
diff <(grep '^ ' "$copyright" | words) \
    <(grep -v '^Copyright ' "$(dirname "$0")/../../LICENSE" | words) >/dev/null \
    || fail "LICENSE is not the copyright file's licence text"
warnings=$(MANWIDTH=80 man --warnings -l "$tmp/root/usr/share/man/man1/lumisweep.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man --warnings: $warnings"
dpkg-deb -f "$deb" Description | awk 'length > 80 { exit 1 }' || fail "a description line over 80"
# Both programs as the helper is built: immediate binding (all relocations read-only before main)
# and fortified string and memory functions, which a sanitizer build of the program leaves to the
# sanitizers.
sanitized=$(sed -n 's/^LUMISWEEP_SANITIZE:STRING=//p' "$build/CMakeCache.txt")
for program in usr/bin/lumisweep usr/libexec/lumisweep/lumisweep-arp; do
    readelf -d "$tmp/root/$program" | grep -q 'FLAGS.*\bNOW\b' || fail "$program: no bindnow"
    [ -n "$sanitized" ] && [ "$program" = usr/bin/lumisweep ] && continue
    readelf --dyn-syms -W "$tmp/root/$program" | grep -q ' __[a-z_]*_chk\b' \
        || fail "$program: no fortified functions"
done
if command -v lintian >/dev/null; then
    # It warns about running as root, which the tests do.
    lintian -I --pedantic "$deb" 2>/dev/null | grep -E '^[EW]: ' && fail "lintian errors or warnings"
fi
# Only where apt has package lists (apt-get update ran): without them it resolves nothing.
if compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null; then
    apt-get -s -o Debug::NoLocking=1 install "$deb" >"$tmp/apt.log" 2>&1 \
        || { tail -15 "$tmp/apt.log"; fail "apt cannot resolve the dependencies"; }
fi

# The packaged command line starts without any display.
export HOME="$tmp" XDG_DATA_HOME="$tmp/data" AVAHI_COMPAT_NOWARN=1
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$tmp/root/usr/bin/lumisweep" --version)" \
    = "lumisweep $version" ] || fail "the command line does not start without a display"
[ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "PASS: $(basename "$deb")"
