#!/usr/bin/env bash
# Makes the HEIC, AVIF and WebP pictures of the plug-in tests with Debian's
# encoders (heif-enc, avifenc, cwebp, webpmux) and, beside each, what
# Debian's reference decoders (heif-convert, dwebp) make of it:
#   NAME.EXT      the picture          NAME.ref.png  the expected pixels
# plus broken files that no plug-in may decode (truncated, damaged,
# claiming a size beyond the host's bitmap limit). Made anew on every run,
# in OUT.
#   make-photo-samples.sh OUT
set -euo pipefail
out=${1:?usage: make-photo-samples.sh OUT}
rm -rf "$out"
mkdir -p "$out"
cd "$out"

# An asymmetric picture, so that a turn or a mirror shows, of odd size to
# exercise row padding; its 16-bit copy gives the 10- and 12-bit pictures.
convert -size 97x61 gradient:'#e02010-#1030d0' -fill '#20e040' -draw 'rectangle 4,4 40,24' \
  -fill white -draw 'circle 70,44 80,50' PNG24:src.png
convert src.png PNG48:src16.png
convert src.png \( -size 97x61 gradient:white-black \) -alpha off -compose CopyOpacity \
  -composite PNG32:alpha.png
# An even one for the encoders' grid: four tiles of 64 x 64.
convert -size 128x128 gradient:'#f0c000-#0040a0' -fill '#c02080' -draw 'rectangle 10,70 60,120' \
  PNG24:grid.png

# An Exif block whose Orientation says "turned 90° clockwise" (6), as
# little-endian TIFF: header, IFD0 with one entry, no next IFD.
printf 'II*\000\010\000\000\000\001\000\022\001\003\000\001\000\000\000\006\000\000\000\000\000\000\000' \
  >exif6.tiff
{ printf 'Exif\000\000'; cat exif6.tiff; } >exif6.exif

quiet() { "$@" >/dev/null 2>&1 || { echo "make-photo-samples: failed: $*" >&2; exit 1; }; }

# HEIC: 8 bits, 10 bits, alpha.
quiet heif-enc -q 90 -o heic8.heic src.png
quiet heif-enc -q 90 -b 10 -o heic10.heic src16.png
quiet heif-enc -q 90 -o heicalpha.heic alpha.png
# AVIF: plain, turned (with an Exif Orientation the container's turn must
# win over), mirrored, cropped, 10 and 12 bits, a grid, alpha.
quiet avifenc -s 8 src.png avif8.avif
quiet avifenc -s 8 --irot 1 --exif exif6.exif src.png avifirot.avif
quiet avifenc -s 8 --imir 1 src.png avifimir.avif
quiet avifenc -s 8 --crop 8,6,64,40 src.png avifclap.avif
quiet avifenc -s 8 -d 10 src16.png avif10.avif
quiet avifenc -s 8 -d 12 src16.png avif12.avif
quiet avifenc -s 8 -g 2x2 grid.png avifgrid.avif
quiet avifenc -s 8 alpha.png avifalpha.avif
# One picture of 512 x 512 each, whose coded data the tests build hostile
# grids round (a small file that asks for a canvas of 8192 x 8192).
convert -size 512x512 gradient:'#4080c0-#c08040' PNG24:tile.png
quiet heif-enc -q 40 -o tile512.heic tile.png
quiet avifenc -s 10 tile.png tile512.avif
for f in *.heic *.avif; do
  quiet heif-convert "$f" "${f%.*}.ref.png"
done

# WebP: lossy, lossless, lossy and lossless with alpha, and one with an
# Exif Orientation of 6, which is shown turned as JPEG photos are.
quiet cwebp -q 80 src.png -o lossy.webp
quiet cwebp -lossless src.png -o lossless.webp
quiet cwebp -q 80 alpha.png -o alpha.webp
quiet cwebp -lossless -exact alpha.png -o alphall.webp
quiet webpmux -set exif exif6.tiff lossy.webp -o orient6.webp
# Some writers keep the JPEG segment's "Exif\0\0" in the chunk.
quiet webpmux -set exif exif6.exif lossy.webp -o orient6x.webp
for f in lossy lossless alpha alphall; do
  quiet dwebp "$f.webp" -o "$f.ref.png"
done
quiet convert lossy.ref.png -rotate 90 orient6.ref.png
cp orient6.ref.png orient6x.ref.png

# Two flat photos for the slideshow's end-to-end run (tests/e2e).
convert -size 640x480 xc:'rgb(230,20,20)' PNG24:red.png
convert -size 640x480 xc:'rgb(20,230,20)' PNG24:green.png
quiet heif-enc -q 90 -o show-red.heic red.png
quiet avifenc -s 8 green.png show-green.avif

# Broken files: each starts like its format, so the plug-in takes it and
# has to fail in its decoder: the first half of the file, and the header of
# the real file followed by noise. The noise is seeded, and a seed whose
# noise Debian's reference decoder still takes (lossy decoders are lenient)
# is passed over, so every run makes the same broken files. Files of noise
# alone are taken by no plug-in.
for f in heic8.heic avif8.avif lossy.webp; do
  size=$(stat -c %s "$f")
  head -c $((size / 2)) "$f" >"trunc-$f"
  python3 - "$f" <<'PY'
import random, subprocess, sys
name = sys.argv[1]
real = open(name, "rb").read()
decoder = ["dwebp", "noise-" + name, "-o", "noise.check.png"] if name.endswith(".webp") \
    else ["heif-convert", "noise-" + name, "noise.check.png"]
for seed in range(19, 119):
    rng = random.Random(seed)
    open("noise-" + name, "wb").write(real[:64] + bytes(rng.getrandbits(8) for _ in range(len(real))))
    if subprocess.run(decoder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        break
else:
    sys.exit("no seed gives a broken " + name)
rng = random.Random(7)
open("random-" + name, "wb").write(bytes(rng.getrandbits(8) for _ in range(4096)))
PY
done
rm -f noise.check.png
# A size far beyond the host's limit in the container's ispe box, and in
# a lossless WebP's header (16384 x 16384 is 768 MiB of 24-bit pixels).
python3 - <<'PY'
import struct
d = bytearray(open("heic8.heic", "rb").read())
i = d.find(b"ispe")
while i >= 0:
    d[i + 8:i + 16] = struct.pack(">II", 20000, 20000)
    i = d.find(b"ispe", i + 4)
open("huge-heic8.heic", "wb").write(d)
d = bytearray(open("lossless.webp", "rb").read())
assert d[20] == 0x2F
d[21] = d[22] = d[23] = 0xFF
d[24] |= 0x0F
open("huge-lossless.webp", "wb").write(d)
PY
echo "make-photo-samples: $(ls | wc -l) files in $out"
