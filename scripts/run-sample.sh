#!/usr/bin/env bash
# Sets up, builds build/pelc and converts the bundled sample into a scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Only the program is built here; the tests' option is left as a test run set it, so
# build/ serves both commands in either order.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELC_SANITIZE=OFF -DPELC_FUZZ=OFF \
    >/dev/null
cmake --build build --target pelc
out=$(mktemp -d "${TMPDIR:-/tmp}/pelc-sample.XXXXXX")
cp samples/sample.tif "$out/"
# Messages come in UTF-8 under a UTF-8 locale; the POSIX locale's Shift-JIS is made readable.
if [ "$(locale charmap 2>/dev/null)" = UTF-8 ]; then
    build/pelc "$out/sample.tif"
else
    build/pelc "$out/sample.tif" | iconv -f CP932 -t UTF-8
fi
echo "JPEG files written to: $out"
ls -l "$out"
