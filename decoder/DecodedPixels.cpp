#include "decoder/DecodedPixels.h"

#include <algorithm>
#include <cstring>

#include "imaging/AreaShrink.h"
#include "slideshow/LayoutMath.h"

namespace orv {

namespace {

// 5 bits to 8 as GDI widens them.
uint8_t Widen5(unsigned v) { return uint8_t((v << 3) | (v >> 2)); }
uint8_t Widen6(unsigned v) { return uint8_t((v << 2) | (v >> 4)); }

}  // namespace

void MakeBgr24(tk::TBitmap& picture) {
  const int bits = picture.BitCount();
  // 15 bits are stored in two bytes, as 16 are; only the format tells.
  const bool fiveFiveFive = picture.PixelFormat() == tk::TPixelFormat::pf15bit;
  if (bits == 24 || picture.Width() <= 0 || picture.Height() <= 0) return;
  const int w = picture.Width(), h = picture.Height();
  const std::vector<tk::TPalEntry>& pal = picture.Palette();
  tk::TBitmap out;
  out.Allocate(tk::TPixelFormat::pf24bit, w, h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = picture.ScanLine(y);
    uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < w; ++x, d += 3) {
      switch (bits) {
        case 32:
          std::memcpy(d, s + 4 * x, 3);
          break;
        case 16:
        case 15: {
          const unsigned v = unsigned(s[2 * x]) | unsigned(s[2 * x + 1]) << 8;
          if (!fiveFiveFive) {
            d[0] = Widen5(v & 31), d[1] = Widen6(v >> 5 & 63), d[2] = Widen5(v >> 11 & 31);
          } else {
            d[0] = Widen5(v & 31), d[1] = Widen5(v >> 5 & 31), d[2] = Widen5(v >> 10 & 31);
          }
          break;
        }
        default: {
          // 1, 4 or 8 bits per pixel, the leftmost in the high bits.
          const int perByte = 8 / bits;
          const unsigned byte = s[x / perByte];
          const int shift = (perByte - 1 - x % perByte) * bits;
          const unsigned index = byte >> shift & ((1u << bits) - 1);
          const tk::TPalEntry e = index < pal.size() ? pal[index] : tk::TPalEntry();
          d[0] = e.b, d[1] = e.g, d[2] = e.r;
        }
      }
    }
  }
  picture.Swap(out);
}

void ShrinkIntoBox(tk::TBitmap& picture, int fitWidth, int fitHeight) {
  const int w = picture.Width(), h = picture.Height();
  if (fitWidth <= 0 || fitHeight <= 0 || (w <= fitWidth && h <= fitHeight)) return;
  // The show's own fit, so that without a caption the picture arrives at
  // exactly the size of its place and is drawn without another stretch.
  const IntRect fitted = FitRect(IntRect{0, 0, w, h}, fitWidth, fitHeight);
  const int fw = std::clamp(fitted.Width(), 1, w);
  const int fh = std::clamp(fitted.Height(), 1, h);
  MakeBgr24(picture);
  TAreaShrink shrink(w, h, fw, fh);
  tk::TBitmap out;
  out.Allocate(tk::TPixelFormat::pf24bit, fw, fh);
  for (int y = 0; y < h; ++y)
    if (const uint8_t* row = shrink.Push(picture.ScanLine(y)))
      std::memcpy(out.ScanLine(shrink.RowsDone() - 1), row, size_t(fw) * 3);
  picture.Swap(out);
}

}  // namespace orv
