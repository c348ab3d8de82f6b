#!/usr/bin/env bash
# Makes the Debian package from a finished build, unpacks it into a scratch root (never the
# machine's own /usr) and uses it from there: lv2ls finds the plug-in in the root, and the root's
# wavepreview tells its version and draws a picture with the root's module and drawing layer.
# lintian must find no errors in the package.
#
# usage: package_test.sh CPACK_CONFIG VERSION
set -uo pipefail
config=$1
version=$2

for tool in cpack dpkg-deb lv2ls lintian ldd; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool not found (scripts/setup installs it)"
        exit 1
    fi
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if ! cpack --config "$config" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack could not make the package"
    exit 1
fi
deb=$(ls "$scratch"/out/*.deb)
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}

case "$(basename "$deb")" in
strip-viewer_"$version"_*.deb) pass "package $(basename "$deb")" ;;
*) fail "package named $(basename "$deb"), expected strip-viewer_${version}_ARCH.deb" ;;
esac

root=$(realpath "$scratch")/root
dpkg-deb -x "$deb" "$root"
for path in usr/bin/wavepreview usr/lib/lv2/strip-viewer.lv2/manifest.ttl \
    usr/share/man/man1/wavepreview.1.gz usr/share/doc/strip-viewer/README.md \
    usr/share/doc/strip-viewer/copyright usr/share/doc/strip-viewer/changelog.gz; do
    [ -f "$root/$path" ] || fail "the package has no /$path"
done

plugins=$(LV2_PATH=$root/usr/lib/lv2 lv2ls)
if printf '%s\n' "$plugins" | grep -qx 'urn:strip-viewer:display'; then
    pass "lv2ls finds the plug-in in the scratch root"
else
    fail "lv2ls in the scratch root lists '$plugins'"
fi

preview=$root/usr/bin/wavepreview
said=$("$preview" --version 2>&1)
[ "$said" = "wavepreview $version" ] || fail "wavepreview --version says '$said'"
layer=$(ldd "$preview" | sed -n 's/^[[:space:]]*libgdiplus_cairo.so => \([^ ]*\).*/\1/p')
case "$(realpath -q "$layer")" in
"$root"/usr/lib/lv2/strip-viewer.lv2/*) pass "wavepreview loads the drawing layer of the root" ;;
*) fail "wavepreview loads the drawing layer from '$layer'" ;;
esac
if "$preview" -q --size 80x20 --duration 0.5 -o "$scratch/picture.png" &&
    [ "$(head -c 8 "$scratch/picture.png" | od -A n -t x1 | tr -d ' ')" = 89504e470d0a1a0a ]; then
    pass "wavepreview draws a picture"
else
    fail "wavepreview in the scratch root drew no picture"
fi

if report=$(lintian --fail-on error "$deb" 2>&1); then
    pass "lintian finds no errors"
else
    fail "lintian finds errors in the package"
fi
printf '%s\n' "$report" | grep -v 'running with root privileges' || true

[ "$failures" -eq 0 ] || exit 1
echo "the package installs and works"
