#!/usr/bin/env bash
# Converts files of the shared TIFF corpus (../shared/corpus beside the project) with the
# Linux pelc and with a Windows pelc.exe (after the command that runs it, such as wine),
# each in its own scratch folder, and checks that both end with the same status and write
# the same JPEG files, byte for byte. By default a few files of every compression the
# corpus has; with --all every file, reporting the counts instead of failing on the first
# difference.
# Usage: tests/windows/corpus_parity.sh [--all] LINUX_PELC [runner...] PELC_EXE
set -euo pipefail
all=no
[ "${1:-}" = --all ] && { all=yes; shift; }
[ $# -ge 2 ] || { echo "usage: $0 [--all] LINUX_PELC [runner...] PELC_EXE" >&2; exit 2; }
linux=$(realpath "$1")
shift
windows=("$@")
windows[-1]=$(realpath "${windows[-1]}")
repo=$(cd "$(dirname "$0")/../.." && pwd)
corpus="$repo/../shared/corpus"
[ -d "$corpus" ] || { echo "no corpus at $corpus" >&2; exit 1; }

# One or two files per compression, pages that both builds convert.
picked=(
    pillow/tiff_adobe_deflate.tif leptonica/rgb16.tif            # deflate
    pillow/hopper_lzw.tif image-tiff/cmyk-4c-8b.tiff              # LZW
    image-tiff/jello.tif golang-image/bw-packbits.tiff            # PackBits
    pillow/tiff_strip_ycbcr_jpeg_2x2_sampling.tif libtiff/quad-tile.jpg.tiff  # JPEG
    libtiff/ojpeg_zackthecat_subsamp22_single_strip.tiff twelvemonkeys/smallliz.tif  # old JPEG
    image-tiff/g3test.tif sharp/G31D_MULTI.TIF                    # CCITT G3
    leptonica/feyn-fract.tif pillow/g4-multi.tiff                 # CCITT G4
    pillow/hopper_webp.tif libtiff/webp_lossless_rgba_alpha_fully_opaque.tif  # WebP
    exampletiffs/shapes_zstd.tif                                  # ZSTD
    pillow/hopper_lzma.tif                                        # LZMA
    gdal/byte_lerc.tif                                            # LERC
    libtiff/logluv-3c-16b.tiff                                    # SGILog
    sharp/cielab-dagams.tiff                   # CIE L*a*b*: floating point in libtiff
)
if [ "$all" = yes ]; then
    mapfile -t picked < <(cd "$corpus" && find . -type f ! -name MANIFEST.tsv ! -name README.md |
        sed 's|^\./||' | sort)
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pelc-parity.XXXXXX")
trap 'rm -rf "$work"' EXIT

# convert FOLDER FILE PELC...: converts a copy of FILE, under a plain name (no "/" first,
# which Windows reads as an option), alone in FOLDER; prints pelc's status.
convert() {
    local folder=$1 file=$2
    shift 2
    rm -rf "$folder" && mkdir -p "$folder"
    cp "$corpus/$file" "$folder/page.tif"
    local status=0
    (cd "$folder" && timeout 120 "$@" page.tif >/dev/null 2>&1) || status=$?
    echo "$status"
}

files=0 linux_pages=0 windows_pages=0 identical=0 differing=()
for file in "${picked[@]}"; do
    files=$((files + 1))
    linux_status=$(convert "$work/linux" "$file" "$linux")
    windows_status=$(convert "$work/windows" "$file" "${windows[@]}")
    written=$(cd "$work/linux" && find . -name '*.jpg' | sort)
    windows_written=$(cd "$work/windows" && find . -name '*.jpg' | sort)
    linux_pages=$((linux_pages + $(grep -c . <<<"$written" || true)))
    windows_pages=$((windows_pages + $(grep -c . <<<"$windows_written" || true)))
    same=yes
    [ "$linux_status" = "$windows_status" ] && [ "$written" = "$windows_written" ] || same=no
    [ "$all" = yes ] || [ -n "$written" ] || { echo "$file: the Linux build wrote no page"; same=no; }
    for jpeg in $written; do
        if cmp -s "$work/linux/$jpeg" "$work/windows/$jpeg"; then
            identical=$((identical + 1))
        else
            same=no
        fi
    done
    if [ "$same" = no ]; then
        differing+=("$file")
        echo "$file: Linux status $linux_status, pages: $(echo $written);" \
            "Windows status $windows_status, pages: $(echo $windows_written)"
    fi
done
echo "parity: $files files; pages written by Linux $linux_pages, by Windows $windows_pages;" \
    "$identical identical"
[ "$all" = yes ] && exit 0
[ "$identical" -gt 0 ] && [ ${#differing[@]} -eq 0 ]
