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

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! cpack --config "$config" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack could not make the package"
    exit 1
fi
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

deb=$(ls "$scratch"/out/*.deb)
case "$(basename "$deb")" in
strip-viewer_"$version"_*.deb) ;;
*) fail "package named $(basename "$deb"), expected strip-viewer_${version}_ARCH.deb" ;;
esac
root=$(realpath "$scratch")/root
dpkg-deb -x "$deb" "$root"
for path in usr/share/man/man1/wavepreview.1.gz usr/share/doc/strip-viewer/README.md \
    usr/share/doc/strip-viewer/copyright usr/share/doc/strip-viewer/changelog.gz; do
    [ -f "$root/$path" ] || fail "the package has no /$path"
done

plugins=$(LV2_PATH=$root/usr/lib/lv2 lv2ls)
printf '%s\n' "$plugins" | grep -qx 'urn:strip-viewer:display' ||
    fail "lv2ls in the scratch root lists '$plugins'"

preview=$root/usr/bin/wavepreview
said=$("$preview" --version 2>&1)
[ "$said" = "wavepreview $version" ] || fail "wavepreview --version says '$said'"
layer=$(ldd "$preview" | sed -n 's/^[[:space:]]*libgdiplus_cairo.so => \([^ ]*\).*/\1/p')
case "$(realpath -q "$layer")" in
"$root"/usr/lib/lv2/strip-viewer.lv2/*) ;;
*) fail "wavepreview loads the drawing layer from '$layer', not from the scratch root" ;;
esac
"$preview" -q --size 80x20 --duration 0.5 -o "$scratch/picture.png" &&
    [ "$(head -c 8 "$scratch/picture.png" | od -A n -t x1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
    fail "wavepreview in the scratch root drew no picture"

report=$(lintian --fail-on error "$deb" 2>&1) || fail "lintian finds errors in the package"
printf '%s\n' "$report" | grep -v 'running with root privileges'

[ "$failures" -eq 0 ] || exit 1
echo "the package installs and works"
