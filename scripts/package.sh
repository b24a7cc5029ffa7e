#!/usr/bin/env bash
# Builds both release packages into build-package/: pelc_<version>_amd64.deb (/usr/bin/pelc
# and its manual page) from a Release build in build-package/, and pelc-<version>-win64.zip
# (pelc.exe, the README, the licence texts of libtiff, libjpeg-turbo and zlib) from
# build-win/, which scripts/build-win.sh makes.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-package
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

# dpkg-shlibdeps (dpkg-dev, with file) finds the library packages the .deb depends on.
scripts/setup.sh dpkg-dev file
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELC_TESTS=OFF -DPELC_BENCH=OFF \
    -DPELC_FUZZ=OFF -DPELC_SANITIZE=OFF >/dev/null
cmake --build "$out" -j "$jobs"
(cd "$out" && cpack -G DEB >/dev/null)

scripts/build-win.sh -DPELC_TESTS=OFF
cpack --config build-win/CPackConfig.cmake -G ZIP -B "$out" >/dev/null

rm -rf "$out/_CPack_Packages"
ls -l "$out"/pelc_*_amd64.deb "$out"/pelc-*-win64.zip
