#!/usr/bin/env bash
# Builds the exported Qt example application with qmake from the archive, as a user would:
#
#   build-qt-example.sh ARCHIVE OUTDIR      -> OUTDIR/.../NimboExample
set -euo pipefail
archive=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
unzip -q "$archive" -d "$out"
cd "$out/Kinetra_Example_CPP_QT_V1-2-3-R3"
qmake=/usr/lib/qt5/bin/qmake
[[ -x $qmake ]] || qmake="qmake -qt=5"
$qmake NimboExample.pro
make -j"$(nproc 2>/dev/null || echo 2)" 2>&1 | tee build.log
# Warning-free, the exported library included.
! grep -q "warning:" build.log
test -x NimboExample
echo "qt example: built $(pwd)/NimboExample"
