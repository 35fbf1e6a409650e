#!/bin/bash
# The Debian package as a user receives it: built by cpack from a finished build folder, then
# taken apart with dpkg-deb. Checks the control fields a fresh Debian 12 needs to pull in the
# QML modules and the DNS-SD library, that the package holds the program, the desktop entry,
# the AppStream metadata and the seven icon sizes and nothing else, that freedesktop's and
# AppStream's validators accept the shipped files, that apt can resolve its dependencies, and
# that the packaged program starts. Starting it only lists interfaces; nothing here scans.
#   tests/packaging/check-package.sh BUILD_DIR
set -u
build=${1:?usage: $0 BUILD_DIR}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
need() {
    command -v "$1" >/dev/null || { echo "SKIP: $1 is missing (package $2)"; exit 77; }
}
need cpack cmake
need dpkg-deb dpkg
need dpkg-shlibdeps dpkg-dev
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
need python3 python3

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "FAIL: $build is not a configured build folder"; exit 1; }
app_id=org.lumisweep.Lumisweep

# The package ---------------------------------------------------------------------------------
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log"
    echo "FAIL: cpack did not build the package"
    exit 1
fi
arch=$(dpkg --print-architecture)
deb=$tmp/out/lumisweep_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$tmp/out"; echo "FAIL: no $(basename "$deb")"; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# Control fields ------------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
# One dependency per line, version constraints dropped, so "libqt5core5a (>= 5.15.1)" reads
# as libqt5core5a.
names() { tr ',' '\n' | sed 's/(.*)//; s/^ *//; s/ *$//' | sed '/^$/d'; }
[ "$(field Package)" = lumisweep ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
field Depends | names >"$tmp/depends"
field Recommends | names >"$tmp/recommends"
for pkg in qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls \
    libavahi-compat-libdnssd1 libqt5core5a libqt5quick5 libqt5network5; do
    grep -qx "$pkg" "$tmp/depends" || fail "Depends lacks $pkg: $(field Depends)"
done
for pkg in avahi-daemon libnss-mdns; do
    grep -qx "$pkg" "$tmp/recommends" || fail "Recommends lacks $pkg"
    grep -qx "$pkg" "$tmp/depends" && fail "$pkg is a hard dependency: the program runs without it"
done

# Contents: exactly the shipped files, owned by root ------------------------------------------
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./||' | sort >"$tmp/files"
{
    echo usr/bin/lumisweep
    echo "usr/share/applications/$app_id.desktop"
    echo "usr/share/metainfo/$app_id.metainfo.xml"
    for size in 16 24 32 48 64 128 256; do
        echo "usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    done
} | sort >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/files" >"$tmp/files.diff" || {
    cat "$tmp/files.diff"
    fail "package contents differ from the expected list (- missing, + unexpected)"
}
dpkg-deb -c "$deb" | awk '$2 != "root/root" {print}' | grep . && fail "files not owned by root"
dpkg-deb -c "$deb" | awk '$NF == "./usr/bin/lumisweep" && $1 != "-rwxr-xr-x" {print}' | grep . \
    && fail "the program is not mode 755"

dpkg-deb -x "$deb" "$tmp/root"
root=$tmp/root
if command -v file >/dev/null; then
    file "$root/usr/bin/lumisweep" | grep -q 'not stripped' && fail "the program is not stripped"
fi

# Desktop entry and AppStream -----------------------------------------------------------------
desktop=$root/usr/share/applications/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Exec)" = lumisweep ] || fail "Exec is '$(entry Exec)', not the installed program"
[ "$(entry Icon)" = "$app_id" ] || fail "Icon is '$(entry Icon)', no such icon is installed"
[ "$(entry Name)" = Lumisweep ] || fail "Name is '$(entry Name)'"

# The metainfo must point at the desktop entry and carry the package's version, or software
# centres show a stale release or no launcher.
python3 - "$metainfo" "$app_id" "$version" <<'EOF' || fail "metainfo does not match the package"
import sys
import xml.etree.ElementTree as ET
path, app_id, version = sys.argv[1:]
root = ET.parse(path).getroot()
problems = []
if root.findtext("id") != app_id:
    problems.append("id is %r" % root.findtext("id"))
if root.findtext("name") != "Lumisweep":
    problems.append("name is %r" % root.findtext("name"))
if root.findtext("launchable") != app_id + ".desktop":
    problems.append("launchable is %r" % root.findtext("launchable"))
releases = [r.get("version") for r in root.iter("release")]
if not releases or releases[0] != version:
    problems.append("newest release is %r, package is %s" % (releases[:1], version))
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
EOF

# Each icon is a square RGBA PNG of the size its folder names: icon themes pick by folder and
# scale nothing, so a wrong size shows up blurred or cut.
python3 - "$root/usr/share/icons/hicolor" "$app_id" <<'EOF' || fail "icon sizes"
import struct, sys, os
base, app_id = sys.argv[1:]
bad = 0
for size in (16, 24, 32, 48, 64, 128, 256):
    path = os.path.join(base, "%dx%d" % (size, size), "apps", app_id + ".png")
    with open(path, "rb") as f:
        head = f.read(33)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        print("%s: not a PNG" % path); bad += 1; continue
    width, height, depth, colour = struct.unpack(">IIBB", head[16:26])
    if (width, height, depth, colour) != (size, size, 8, 6):
        print("%s: %dx%d depth %d colour type %d" % (path, width, height, depth, colour)); bad += 1
sys.exit(1 if bad else 0)
EOF

# Dependencies resolvable by apt --------------------------------------------------------------
# A simulation against this machine's package lists: a misspelt or non-Debian dependency name
# fails here instead of on a user's machine. No lock is taken, so a concurrent apt run is safe.
if command -v apt-get >/dev/null && [ -n "$(ls /var/lib/apt/lists/ 2>/dev/null | grep -v -e lock -e partial)" ]; then
    if ! apt-get -s -o Debug::NoLocking=1 install "$deb" >"$tmp/apt.log" 2>&1; then
        tail -15 "$tmp/apt.log"
        fail "apt cannot resolve the package's dependencies"
    fi
else
    echo "note: no apt package lists; dependency resolution not checked"
fi

# The packaged program starts -----------------------------------------------------------------
# Offscreen, with its settings in the temporary folder; as root in a network namespace of its
# own with loopback only, so even a fault could not reach a real network.
run=()
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null; then
    run=(unshare --net)
fi
env HOME="$tmp" XDG_DATA_HOME="$tmp/data" AVAHI_COMPAT_NOWARN=1 QT_QPA_PLATFORM=offscreen \
    QT_QUICK_BACKEND=software timeout -s TERM 3 "${run[@]}" "$root/usr/bin/lumisweep" \
    >"$tmp/app.log" 2>&1
rc=$?
[ "$rc" = 124 ] || fail "the packaged program ended by itself (exit code $rc) instead of running"
grep -q "^Version Number = $version " "$tmp/app.log" || fail "the packaged program logged no version line"
if grep -E '(main\.qml:[0-9]+.*(rror|not a type|Cannot|Unable))|module ".*" is not installed' "$tmp/app.log"; then
    fail "the packaged program's window did not load"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "PASS: $(basename "$deb"): control fields, contents, desktop entry, AppStream, icons, apt, start-up"
