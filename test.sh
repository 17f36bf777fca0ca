#!/usr/bin/env bash
# Builds everything and runs every test headless; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps test

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"

status=0
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$jobs" || status=$?

# Short fuzzing smoke run of every fuzz target when clang is at hand.
if [[ -f fuzz/CMakeLists.txt ]] && command -v clang++ >/dev/null 2>&1; then
    if CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGYROVANE_FUZZ=ON \
            -DGYROVANE_TESTS=OFF >/dev/null && cmake --build build-fuzz -j"$jobs" --target fuzz_all; then
        scripts/run-fuzz build-fuzz 20 || status=1
    else
        echo "fuzz: build failed"
        status=1
    fi
else
    echo "fuzz: clang not found, fuzzing skipped"
fi

exit $status
