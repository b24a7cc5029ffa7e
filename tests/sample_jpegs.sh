#!/usr/bin/env bash
# Converts samples/sample.tif in a scratch folder with the pelc given (after the command
# that runs it, such as wine, if any) and checks its JPEG files against
# samples/sample.sha256, recorded from the Linux build: every build must give these bytes.
# Usage: tests/sample_jpegs.sh [runner...] pelc
# After a deliberate change to the encoding, record the new bytes from the Linux build:
#   cd <folder with sample.tif converted by build/pelc> && sha256sum sample_*.jpg >samples/sample.sha256
set -euo pipefail
args=("$@")
[[ ${args[-1]} == /* ]] || args[-1]=$PWD/${args[-1]}
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/pelc-sample.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$repo/samples/sample.tif" "$work/"
cd "$work"
# A relative name: on Windows an argument that begins with "/" is an option.
"${args[@]}" sample.tif >/dev/null
expected=$(wc -l <"$repo/samples/sample.sha256")
written=$(find . -maxdepth 1 -name '*.jpg' | wc -l)
[ "$written" -eq "$expected" ] || { echo "$written JPEG files written, $expected expected"; exit 1; }
sha256sum -c "$repo/samples/sample.sha256"
