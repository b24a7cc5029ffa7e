#!/usr/bin/env bash
# Builds the benchmark corpus: multi-page TIFF files like the ones users scan and fax.
#
#   bench/make_corpus.sh OUT_DIR
#
#   fax.tif      50 pages, 1728x2200 bilevel, CCITT G4, 200 dpi (text, rules, speckle)
#   scan.tif     10 pages, 2480x3508 RGB 8-bit, LZW, 300 dpi (photo area, text, paper noise)
#   gray.tif     10 pages, 2480x3508 8-bit grey, Deflate, 300 dpi (the scan pages in grey)
#   many100.tif 100 pages, 200x200 8-bit grey, LZW, 150 dpi (plasma tiles)
#   many.tif   1000 pages, the same 100 tiles ten times over
#   ojpeg.tif    10 pages, 2480x3508 old-style JPEG (compression 6, YCbCr 4:2:0, 300 dpi):
#                the scan pages through cjpeg -quality 75, wrapped by the script below
#
# Same tools, same bytes: every random source is seeded and nothing reads the clock.
# Only 10 fax, 10 scan and 100 tile images are distinct; no converter keeps anything from
# one page to the next, so repeating them costs each tool the same.
# When OUT_DIR already holds a complete corpus of this version, nothing is rebuilt.
# Needs ImageMagick 6, libtiff-tools, libjpeg-turbo-progs, python3, fonts-dejavu-core.
set -euo pipefail

version=1
out=${1:?usage: make_corpus.sh OUT_DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
stamp=$out/.corpus-version
if [ "$(cat "$stamp" 2>/dev/null)" = "$version" ]; then
  echo "corpus: $out (already built)" >&2
  exit 0
fi
rm -f "$stamp"

magick=${IM:-convert-im6.q16} # the ImageMagick 6 binary itself, whatever `convert` points at
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Lines of plausible office text; a Lehmer generator (exact in awk's doubles) picks the words.
text() { # text SEED LINES
  awk -v state="$1" -v lines="$2" 'BEGIN {
    n = split("invoice order delivery account total amount date page copy received " \
      "please find attached the of and to for with on by from this that our your we " \
      "payment due terms net 30 days item quantity price unit remarks signed approved " \
      "department office reference number fax phone customer supplier shipment 2024 " \
      "1,250.00 No. Ref. Ltd. Co. regards thank you kindly confirm below above as per", word, " ")
    for (l = 0; l < lines; l++) {
      s = ""
      for (i = 0; i < 8 + l % 6; i++) {
        state = (state * 48271) % 2147483647
        s = s word[state % n + 1] " "
      }
      print s
    } }'
}

# Writes PageNumber (297) = (index, total) into every directory, so that a reader that
# orders pages by that tag keeps them in file order.
number_pages() { # number_pages FILE COUNT
  local i
  for ((i = 0; i < $2; i++)); do tiffset -d "$i" -s 297 "$i" "$2" "$1"; done
}

echo "fax pages" >&2
for ((p = 0; p < 10; p++)); do
  "$magick" -size 1728x2200 xc:white -fill black -stroke none \
    -draw "rectangle 100,60 $((700 + 40 * p)),130" \
    -font DejaVu-Sans -pointsize 24 -interline-spacing 4 \
    -annotate +100+220 "$(text $((1000 + p)) $((46 + p)))" \
    -stroke black -strokewidth 3 -draw "line 100,160 1630,160" -draw "line 100,2100 1630,2100" \
    -seed "$((20 + p))" -attenuate 0.04 +noise Impulse -threshold 50% -type bilevel \
    -density 200 -units PixelsPerInch -compress Group4 "$work/fax$p.tif"
done
fax=()
for ((i = 0; i < 50; i++)); do fax+=("$work/fax$((i % 10)).tif"); done
tiffcp -c g4 "${fax[@]}" "$work/fax.tif"
number_pages "$work/fax.tif" 50

echo "scan, gray and old-style JPEG pages" >&2
for ((p = 0; p < 10; p++)); do
  "$magick" -size 2480x3508 xc:'#f4f1e8' \
    \( -seed "$((200 + p))" -size 900x650 plasma:fractal -blur 0x1.2 -resize 2000x1450! \) \
    -geometry +240+280 -composite \
    -font DejaVu-Serif -pointsize 32 -fill '#1e1e1e' -interline-spacing 6 \
    -annotate +240+1900 "$(text $((2000 + p)) 36)" \
    -seed "$((40 + p))" -attenuate 0.06 +noise Gaussian -alpha off -type TrueColor -depth 8 \
    -density 300 -units PixelsPerInch -compress None "$work/scan$p.tif"
  "$magick" "$work/scan$p.tif" -colorspace Gray -type Grayscale -depth 8 -compress None \
    "$work/gray$p.tif"
  "$magick" "$work/scan$p.tif" ppm:- | cjpeg -quality 75 -sample 2x2 >"$work/page$p.jpg"
done
tiffcp -c lzw "$work"/scan?.tif "$work/scan.tif"
number_pages "$work/scan.tif" 10
tiffcp -c zip "$work"/gray?.tif "$work/gray.tif"
number_pages "$work/gray.tif" 10

# libtiff does not write compression 6, so the old-style file is laid out by hand,
# little-endian: header, then per page its JPEG stream and the directory after it. Each
# directory points JPEGInterchangeFormat and its single strip at the same whole stream,
# as most old writers did.
python3 - "$work/ojpeg.tif" 300 "$work"/page?.jpg <<'EOF'
import struct, sys

def frame_of(jpeg):
    """(width, height, components, h sampling, v sampling) from the first SOF0/SOF1."""
    at = 2
    while at + 4 <= len(jpeg):
        marker, length = jpeg[at + 1], struct.unpack(">H", jpeg[at + 2:at + 4])[0]
        if marker in (0xC0, 0xC1):
            height, width, comps = struct.unpack(">HHB", jpeg[at + 5:at + 10])
            return width, height, comps, jpeg[at + 11] >> 4, jpeg[at + 11] & 15
        at += 2 + length
    sys.exit("no baseline frame header")

def directory(index, total, at, jpeg, dpi):
    width, height, comps, hs, vs = frame_of(jpeg)
    short, long_, rational = 3, 4, 5
    tags = [(254, long_, [2]), (256, long_, [width]), (257, long_, [height]),
            (258, short, [8] * comps), (259, short, [6]),
            (262, short, [6 if comps == 3 else 1]), (273, long_, [at]),
            (277, short, [comps]), (278, long_, [height]), (279, long_, [len(jpeg)]),
            (282, rational, [(dpi, 1)]), (283, rational, [(dpi, 1)]), (284, short, [1]),
            (296, short, [2]), (297, short, [index, total]), (512, short, [1]),
            (513, long_, [at]), (514, long_, [len(jpeg)])]
    if comps == 3:
        tags.append((530, short, [hs, vs]))
    return tags

def packed(kind, values):
    if kind == 5:
        return b"".join(struct.pack("<II", *v) for v in values)
    return b"".join(struct.pack("<H" if kind == 3 else "<I", v) for v in values)

out_path, dpi, sources = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
pages = [open(p, "rb").read() for p in sources]
data = bytearray(b"II*\0\0\0\0\0")
link = 4
for index, jpeg in enumerate(pages):
    at = len(data)
    data += jpeg + b"\0" * (len(jpeg) % 2)
    tags = directory(index, len(pages), at, jpeg, dpi)
    ifd = len(data)
    struct.pack_into("<I", data, link, ifd)
    extra_at = ifd + 2 + 12 * len(tags) + 4
    entries, extra = bytearray(struct.pack("<H", len(tags))), bytearray()
    for tag, kind, values in tags:
        raw = packed(kind, values)
        if len(raw) <= 4:
            entries += struct.pack("<HHI", tag, kind, len(values)) + raw.ljust(4, b"\0")
        else:
            entries += struct.pack("<HHII", tag, kind, len(values), extra_at + len(extra))
            extra += raw + b"\0" * (len(raw) % 2)
    link = ifd + len(entries)
    data += entries + b"\0\0\0\0" + extra
open(out_path, "wb").write(data)
EOF

echo "tiles" >&2
"$magick" -seed 9 -size 2000x2000 plasma:fractal -blur 0x1 -colorspace Gray -type Grayscale \
  -depth 8 -crop 200x200 +repage -density 150 -units PixelsPerInch -compress LZW \
  "$work/many100.tif"
"$magick" "$work/many100.tif" -duplicate 9,0--1 -compress LZW "$work/many.tif"

# Every page must decode cleanly before anything is timed on it.
for f in fax scan gray many100 many ojpeg; do
  if tiffinfo -D "$work/$f.tif" 2>&1 >/dev/null | grep -v 'old-style JPEG' | grep -q .; then
    echo "make_corpus: $f.tif does not decode cleanly" >&2
    exit 1
  fi
  mv "$work/$f.tif" "$out/$f.tif"
done
echo "$version" >"$stamp"
echo "corpus: $out" >&2
