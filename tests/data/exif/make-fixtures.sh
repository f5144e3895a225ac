#!/usr/bin/env bash
# Makes the Exif orientation fixtures: corners.jpg, a 61 x 45 picture whose
# four corners differ (red, green, blue, yellow) with a white mark off the
# centre line, so every turn and mirror gives another picture; oN.jpg, the
# same frame with an Exif APP1 segment whose Orientation is N (odd N
# little-endian, even N big-endian, Orientation after two other entries);
# and uprightN.bmp, what ImageMagick makes of oN.jpg with -auto-orient, the
# reference the tests compare the program's decoding with.
# Needs ImageMagick and python3. The pictures are baseline 4:4:4, so every
# libjpeg-turbo decodes them to the same pixels.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 61x45 xc:'#808080' \
  -fill '#ff0000' -draw 'rectangle 0,0 19,14' \
  -fill '#00ff00' -draw 'rectangle 41,0 60,14' \
  -fill '#0000ff' -draw 'rectangle 0,30 19,44' \
  -fill '#ffff00' -draw 'rectangle 41,30 60,44' \
  -fill '#ffffff' -draw 'rectangle 24,6 30,20' \
  -strip -quality 100 -sampling-factor 1x1,1x1,1x1 corners.jpg
for n in 1 2 3 4 5 6 7 8; do
  python3 - "$n" <<'PY'
import struct, sys
n = int(sys.argv[1])
order = '<' if n % 2 else '>'
def entry(tag, typ, count, value):
    return struct.pack(order + 'HHI', tag, typ, count) + value
short = lambda v: struct.pack(order + 'HH', v, 0)
make = b'Orvanelle\0'
entries = [entry(0x0100, 4, 1, struct.pack(order + 'I', 61)),
           entry(0x010F, 2, len(make), struct.pack(order + 'I', 8 + 2 + 3 * 12 + 4)),
           entry(0x0112, 3, 1, short(n))]
ifd = struct.pack(order + 'H', len(entries)) + b''.join(entries) + struct.pack(order + 'I', 0)
tiff = (b'II' if order == '<' else b'MM') + struct.pack(order + 'HI', 42, 8) + ifd + make
body = b'Exif\0\0' + tiff
jpeg = open('corners.jpg', 'rb').read()
assert jpeg[:2] == b'\xff\xd8'
at = 2
if jpeg[2:4] == b'\xff\xe0':  # after the JFIF segment, as cameras write it
    at = 4 + struct.unpack('>H', jpeg[4:6])[0]
app1 = b'\xff\xe1' + struct.pack('>H', len(body) + 2) + body
open('o%d.jpg' % n, 'wb').write(jpeg[:at] + app1 + jpeg[at:])
PY
  convert "o$n.jpg" -auto-orient -type TrueColor "BMP3:upright$n.bmp"
  test "$(identify -format '%[orientation]' "o$n.jpg")" != Undefined
done
