#!/usr/bin/env bash
# Builds and starts Gyrovane.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"

if [[ ! -x build/bin/Gyrovane ]]; then
    echo "run.sh: the Gyrovane program is not there yet; only the libraries and tests were built."
    exit 0
fi
exec build/bin/Gyrovane
