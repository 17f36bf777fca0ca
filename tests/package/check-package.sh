#!/bin/sh
# The Debian package as a user gets it: built by cpack from this build tree, its files listed, lintian
# without errors, and the program from the unpacked package showing its window and closing cleanly.
# usage: check-package.sh BUILD_DIR
set -eu
cd "$1"
rm -f gyrovane_*.deb
if ! cpack -G DEB >package-cpack.log 2>&1; then
    cat package-cpack.log
    exit 1
fi
deb=$(ls gyrovane_*_amd64.deb)
echo "package: $deb"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/Gyrovane ./usr/bin/kinetra-nodesim \
    ./usr/share/applications/org.gyrovane.Gyrovane.desktop \
    ./usr/share/metainfo/org.gyrovane.Gyrovane.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/gyrovane.svg \
    ./usr/share/icons/hicolor/48x48/apps/gyrovane.png \
    ./usr/share/icons/hicolor/256x256/apps/gyrovane.png \
    ./usr/share/man/man1/Gyrovane.1.gz ./usr/share/man/man1/kinetra-nodesim.1.gz \
    ./usr/share/doc/gyrovane/copyright ./usr/share/doc/gyrovane/manual.md; do
    if ! echo "$contents" | grep -qx "$f"; then
        echo "missing from the package: $f"
        exit 1
    fi
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
case "$depends" in
*libqt5widgets5*libqwt*|*libqwt*libqt5widgets5*) ;;
*) echo "the dependencies were not computed from the binaries"; exit 1 ;;
esac

lintian "$deb" >package-lintian.log 2>&1 || true
cat package-lintian.log
if grep -q '^E: ' package-lintian.log; then
    echo "lintian reports errors"
    exit 1
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
XDG_RUNTIME_DIR=$root QT_QPA_PLATFORM=offscreen timeout 60 "$root/usr/bin/Gyrovane" --quit-after 3
echo "the unpacked program showed its window and closed cleanly"
"$root/usr/bin/kinetra-nodesim" --help >/dev/null
