#!/usr/bin/env bash
# Sets up and runs the whole suite: plain, then under AddressSanitizer and UBSan,
# then a short seeded fuzz run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh clang libclang-rt-14-dev
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELC_SANITIZE=ON >/dev/null
cmake --build build-san -j "$jobs"
(cd build-san && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs")

if [ -x fuzz/run.sh ]; then
    fuzz/run.sh --short
fi
