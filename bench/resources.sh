#!/usr/bin/env bash
# Peak memory and time of pelc on a large legitimate page and on hostile headers.
#
#   bench/resources.sh
#
# Builds pelc in Release, writes the files below, runs `/usr/bin/time -v` on each and prints
# one row per file: input size, pages written, peak resident memory, seconds, and the bound
# peak memory is held to: 4 x the 24-bit size of the largest page accepted (the A4 page).
#
#   a4.tif             A4 at 600 dpi, RGB, 4960 x 7016, uncompressed (a legitimate large page)
#   claim_rgb.tif      claims 65535 x 65535 RGB, holds one tiny Deflate strip
#   claim_bilevel.tif  claims 65535 x 65535 at 1 bit, holds the whole page as valid Deflate
#                      (512 MB of zeros in 520 KB)
#   dirs.tif           65538 chained directories, each an old-style JPEG page of one strip
#   loop.tif           two directories pointing at each other
#   strips.tif         an old-style JPEG page of 16384 strips at one offset, 4 GiB each
#   strips_decoded.tif the same layout as an uncompressed grey page of 16384 one-row strips
#
# env: BUILD_DIR (default $TMPDIR/pelc-resources/build), WORK (default $TMPDIR/pelc-resources),
# PELC (use this binary), NO_INSTALL (never call apt-get).
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-${TMPDIR:-/tmp}/pelc-resources}
build=${BUILD_DIR:-$work/build}
mkdir -p "$work"

if [ ! -x /usr/bin/time ]; then
  [ -n "${NO_INSTALL:-}" ] && { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
  apt-get install -y time >&2
fi
if [ -z "${PELC:-}" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELC_TESTS=OFF >&2
  cmake --build "$build" -j2 --target pelc >&2
  PELC=$build/pelc
fi

files=$work/files
mkdir -p "$files"
python3 - "$files" <<'PY'
import struct, sys, zlib, os

def ifd(entries, next_off):
    # entries: list of (tag, type, count, value_field_bytes(4))
    out = struct.pack('<H', len(entries))
    for tag, typ, count, field in sorted(entries):
        out += struct.pack('<HHI', tag, typ, count) + field
    return out + struct.pack('<I', next_off)

def short(v): return struct.pack('<HH', v, 0)
def long_(v): return struct.pack('<I', v)
SHORT, LONG = 3, 4

def claim(path, width, height, bits, samples, photometric, full):
    # One deflate strip: the whole page of zeros when `full`, else one row.
    row = (width * bits * samples + 7) // 8
    comp = zlib.compressobj(9)
    data = b''
    chunk = bytes(row * 64)
    rows = height if full else 1
    for start in range(0, rows, 64):
        data += comp.compress(chunk[: row * min(64, rows - start)])
    data += comp.flush()
    data_off = 8
    ifd_off = data_off + len(data) + (len(data) & 1)
    extra_off = ifd_off + 2 + 12 * 10 + 4
    bps_field = short(bits) if samples == 1 else long_(extra_off)
    e = [(256, LONG, 1, long_(width)), (257, LONG, 1, long_(height)),
         (258, SHORT, samples, bps_field), (259, SHORT, 1, short(8)),
         (262, SHORT, 1, short(photometric)), (273, LONG, 1, long_(data_off)),
         (277, SHORT, 1, short(samples)), (278, LONG, 1, long_(height)),
         (279, LONG, 1, long_(len(data))), (284, SHORT, 1, short(1))]
    tail = b''.join(struct.pack('<H', bits) for _ in range(samples)) if samples > 1 else b''
    with open(path, 'wb') as f:
        f.write(b'II*\0' + struct.pack('<I', ifd_off) + data + b'\0' * (len(data) & 1)
                + ifd(e, 0) + tail)

def ojpeg_entries(strip_off, strip_count_field, n):
    return [(256, SHORT, 1, short(16)), (257, SHORT, 1, short(16)), (259, SHORT, 1, short(6)),
            (273, LONG, n, strip_off), (279, LONG, n, strip_count_field)]

def many_directories(path, count, payload=b'\xff\xd8 page \xff\xd9'):
    # Every directory: an old-style JPEG page whose one strip is the same few bytes.
    data_off = 8
    first = data_off + len(payload) + (len(payload) & 1)
    size = 2 + 12 * 5 + 4
    out = bytearray(b'II*\0' + struct.pack('<I', first) + payload + b'\0' * (len(payload) & 1))
    for i in range(count):
        nxt = first + (i + 1) * size if i + 1 < count else 0
        out += ifd(ojpeg_entries(long_(data_off), long_(len(payload)), 1), nxt)
    open(path, 'wb').write(out)

def loop(path):
    payload = b'\xff\xd8 loop \xff\xd9'
    first = 8 + len(payload)
    size = 2 + 12 * 5 + 4
    out = bytearray(b'II*\0' + struct.pack('<I', first) + payload)
    out += ifd(ojpeg_entries(long_(8), long_(len(payload)), 1), first + size)
    out += ifd(ojpeg_entries(long_(8), long_(len(payload)), 1), first)  # back to the first
    open(path, 'wb').write(out)

def huge_strips(path, n=16384, decoded=False):
    # n strips all at offset 8 claiming 0xFFFFFFFF bytes each.
    payload = bytes(range(256)) * 4
    offs_at = 8 + len(payload)
    counts_at = offs_at + 4 * n
    first = counts_at + 4 * n
    arrays = struct.pack('<%dI' % n, *([8] * n)) + struct.pack('<%dI' % n, *([0xFFFFFFFF] * n))
    if decoded:
        e = [(256, SHORT, 1, short(16)), (257, LONG, 1, long_(n)), (258, SHORT, 1, short(8)),
             (259, SHORT, 1, short(1)), (262, SHORT, 1, short(1)), (273, LONG, n, long_(offs_at)),
             (277, SHORT, 1, short(1)), (278, LONG, 1, long_(1)), (279, LONG, n, long_(counts_at))]
    else:
        e = ojpeg_entries(long_(offs_at), long_(counts_at), n)
    open(path, 'wb').write(b'II*\0' + struct.pack('<I', first) + payload + arrays + ifd(e, 0))

def a4_rgb(path, width=4960, height=7016):
    # Uncompressed RGB in strips of 64 rows: soft ramps with a band of fine detail.
    row_bytes = width * 3
    rows = []
    for k in range(64):
        r = bytearray(row_bytes)
        for x in range(0, width, 1):
            v = (x * 255 // width + k * 3) & 255
            r[3 * x] = v; r[3 * x + 1] = (v * 7 + k) & 255; r[3 * x + 2] = 255 - v
        rows.append(bytes(r))
    per = 64
    strips = (height + per - 1) // per
    data_off = 8
    size = row_bytes * height
    offs = [data_off + i * per * row_bytes for i in range(strips)]
    counts = [min(per, height - i * per) * row_bytes for i in range(strips)]
    arr_off = data_off + size
    cnt_off = arr_off + 4 * strips
    bps_off = cnt_off + 4 * strips
    res_off = bps_off + 6
    first = res_off + 16
    e = [(256, LONG, 1, long_(width)), (257, LONG, 1, long_(height)),
         (258, SHORT, 3, long_(bps_off)), (259, SHORT, 1, short(1)), (262, SHORT, 1, short(2)),
         (273, LONG, strips, long_(arr_off)), (277, SHORT, 1, short(3)),
         (278, LONG, 1, long_(per)), (279, LONG, strips, long_(cnt_off)),
         (282, 5, 1, long_(res_off)), (283, 5, 1, long_(res_off + 8)), (296, SHORT, 1, short(2))]
    with open(path, 'wb') as f:
        f.write(b'II*\0' + struct.pack('<I', first))
        for y in range(height):
            f.write(rows[(y // 8) % 64])
        f.write(struct.pack('<%dI' % strips, *offs) + struct.pack('<%dI' % strips, *counts))
        f.write(struct.pack('<HHH', 8, 8, 8) + struct.pack('<IIII', 600, 1, 600, 1))
        f.write(ifd(e, 0))

if True:
    out = sys.argv[1]
    which = sys.argv[2:] or ['a4', 'claim_rgb', 'claim_bilevel', 'dirs', 'loop', 'strips', 'strips_decoded']
    for w in which:
        p = os.path.join(out, w + '.tif')
        {'a4': lambda: a4_rgb(p),
         'claim_rgb': lambda: claim(p, 65535, 65535, 8, 3, 2, False),
         'claim_bilevel': lambda: claim(p, 65535, 65535, 1, 1, 0, True),
         'dirs': lambda: many_directories(p, 65536 + 2),
         'loop': lambda: loop(p),
         'strips': lambda: huge_strips(p),
         'strips_decoded': lambda: huge_strips(p, decoded=True)}[w]()
PY

a4_bytes=$((4960 * 3 * 7016)) # rows of 14880 bytes are already a multiple of 4
bound_mb=$((4 * a4_bytes / 1000000))
echo "pelc resources, $(date +%F), $(uname -m), $(nproc) cores; pelc: $PELC"
echo "bound on peak memory: 4 x 24-bit size of the A4 page = 4 x $((a4_bytes / 1000000)) MB = $bound_mb MB (+ a constant)"
printf '%-20s %12s %8s %10s %9s %s\n' file input_bytes written peak_MB seconds messages
for name in a4 claim_rgb claim_bilevel dirs loop strips strips_decoded; do
  run=$work/run-$name
  rm -rf "$run"
  mkdir -p "$run"
  ln "$files/$name.tif" "$run/$name.tif" 2>/dev/null || cp "$files/$name.tif" "$run/"
  (cd "$run" && /usr/bin/time -v "$PELC" "$name.tif" >out.txt 2>time.txt) || true
  peak_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$run/time.txt")
  elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$run/time.txt")
  seconds=$(echo "$elapsed" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f", s }')
  written=$(find "$run" -name '*.jpg' | wc -l)
  # Page failures as pelc shows them on a pipe, in Shift-JIS.
  text=$(iconv -f CP932 -t UTF-8 "$run/out.txt" || true)
  load=$(grep -c 'TIFFｲﾒｰｼﾞ取得ｴﾗｰ' <<<"$text" || true)
  fails=$(grep -c 'JPEG出力ｴﾗｰ' <<<"$text" || true)
  printf '%-20s %12s %8s %10.1f %9s %s\n' "$name.tif" "$(stat -c %s "$files/$name.tif")" "$written" \
    "$(echo "$peak_kb" | awk '{print $1 / 1024}')" "$seconds" "load errors $load, write errors $fails"
  rm -rf "$run"
done
