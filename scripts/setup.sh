#!/usr/bin/env bash
# Installs, with apt-get (through sudo unless run as root), the Debian packages that
# building and testing pelc need and that are not installed yet, plus any named as
# arguments. Builds nothing; the README's two commands call it first. With --only, just
# the packages named (a packaging build of pelc.exe needs no test libraries).
# Usage: scripts/setup.sh [--only] [extra packages...]
set -euo pipefail

if [ "${1:-}" = --only ]; then
    shift
    packages=("$@")
else
    packages=(g++ cmake ninja-build pkg-config libtiff-dev libjpeg62-turbo-dev libgtest-dev
              libbenchmark-dev libc-bin "$@")
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
