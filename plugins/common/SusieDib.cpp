#include "plugins/common/SusieDib.h"

#include <cstring>

namespace orvspi {

bool MakeDibLayout(int64_t width, int64_t height, bool alpha, DibLayout& layout) {
  if (width <= 0 || height <= 0) return false;
  const int bits = alpha ? 32 : 24;
  // Divide before multiplying: neither factor may wrap the product.
  const uint64_t rowBytes = (uint64_t(width) * bits + 31) / 32 * 4;
  if (rowBytes > kMaxDibBytes || uint64_t(height) > kMaxDibBytes / rowBytes) return false;
  layout.width = int(width);
  layout.height = int(height);
  layout.bitCount = bits;
  layout.rowBytes = size_t(rowBytes);
  layout.pixelBytes = size_t(rowBytes * uint64_t(height));
  return true;
}

uint8_t* VectorDib::Allocate(const DibLayout& layout) {
  layout_ = layout;
  pixels_.assign(layout.pixelBytes, 0);
  return pixels_.data();
}

uint8_t VectorDib::At(int x, int y, int c) const {
  const size_t row = size_t(layout_.height - 1 - y);
  return pixels_[row * layout_.rowBytes + size_t(x) * size_t(layout_.bitCount / 8) + size_t(c)];
}

namespace {

// Where stored pixel (x, y) lands in the upright picture: u = a + ux x + uy y,
// v = b + vx x + vy y, with a and b counted in stored widths and heights.
struct OrientationMap {
  int aW, aH, ux, uy;  // a = aW (W - 1) + aH (H - 1)
  int bW, bH, vx, vy;
};

OrientationMap MapOf(int orientation) {
  switch (orientation) {
    case 2:
      return {1, 0, -1, 0, 0, 0, 0, 1};  // mirrored left-right
    case 3:
      return {1, 0, -1, 0, 0, 1, 0, -1};  // turned 180°
    case 4:
      return {0, 0, 1, 0, 0, 1, 0, -1};  // mirrored top-bottom
    case 5:
      return {0, 0, 0, 1, 0, 0, 1, 0};  // transposed
    case 6:
      return {0, 1, 0, -1, 0, 0, 1, 0};  // turned 90° clockwise
    case 7:
      return {0, 1, 0, -1, 1, 0, -1, 0};  // transversed
    case 8:
      return {0, 0, 0, 1, 1, 0, -1, 0};  // turned 90° anticlockwise
    default:
      return {0, 0, 1, 0, 0, 0, 0, 1};  // as stored
  }
}

uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// R, G, B to B, G, R for `width` pixels, four pixels (three words) at a
// time: the byte moves of one word each compile to a few shifts, where a
// byte at a time is three times slower on a photo's rows.
void SwapRedBlue24(const uint8_t* in, uint8_t* out, int width) {
  int x = 0;
  for (; x + 4 <= width; x += 4, in += 12, out += 12) {
    const uint32_t w0 = Load32(in), w1 = Load32(in + 4), w2 = Load32(in + 8);
    // in:  r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3
    // out: b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3
    Store32(out, (w0 >> 16 & 0xFF) | (w0 & 0xFF00) | (w0 & 0xFF) << 16 | (w1 >> 8 & 0xFF) << 24);
    Store32(out + 4, (w1 & 0xFF) | (w0 >> 24) << 8 | (w2 & 0xFF) << 16 | (w1 & 0xFF000000));
    Store32(out + 8,
            (w1 >> 16 & 0xFF) | (w2 >> 24) << 8 | (w2 & 0xFF0000) | (w2 >> 8 & 0xFF) << 24);
  }
  for (; x < width; ++x, in += 3, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
}

void SwapRedBlue32(const uint8_t* in, uint8_t* out, int width) {
  for (int x = 0; x < width; ++x, in += 4, out += 4) {
    const uint32_t p = Load32(in);
    Store32(out, (p & 0xFF00FF00) | (p >> 16 & 0xFF) | (p & 0xFF) << 16);
  }
}

// The one loop behind both entry points: `srcRow(y)` is stored row y (top
// first), `swap` exchanges the first and third channel.
template <typename RowOf>
void PutOriented(RowOf srcRow, int width, int height, int channels, bool swap, int orientation,
                 const DibLayout& layout, uint8_t* dst) {
  const OrientationMap m = MapOf(orientation);
  const ptrdiff_t bpp = layout.bitCount / 8;
  const ptrdiff_t stride = ptrdiff_t(layout.rowBytes);
  const ptrdiff_t a = ptrdiff_t(m.aW) * (width - 1) + ptrdiff_t(m.aH) * (height - 1);
  const ptrdiff_t b = ptrdiff_t(m.bW) * (width - 1) + ptrdiff_t(m.bH) * (height - 1);
  // Bottom-up rows: upright row v is row height' - 1 - v of the block.
  uint8_t* const origin = dst + a * bpp + (layout.height - 1 - b) * stride;
  const ptrdiff_t stepX = m.ux * bpp - m.vx * stride;
  const ptrdiff_t stepY = m.uy * bpp - m.vy * stride;
  const int i0 = swap ? 2 : 0;
  const int i2 = swap ? 0 : 2;
  if (stepX == bpp) {
    // Rows stay rows (orientations 1 and 4): a straight copy per row, which
    // the compiler turns into wide moves.
    for (int y = 0; y < height; ++y) {
      const uint8_t* in = srcRow(y);
      uint8_t* out = origin + stepY * y;
      if (!swap) {
        std::memcpy(out, in, size_t(width) * size_t(channels));
      } else if (channels == 4) {
        SwapRedBlue32(in, out, width);
      } else {
        SwapRedBlue24(in, out, width);
      }
    }
    return;
  }
  // Rows become columns: go in square blocks, so that the rows written
  // by one block stay in the cache while it is filled.
  constexpr int kBlock = 32;
  for (int by = 0; by < height; by += kBlock) {
    const int yEnd = by + kBlock < height ? by + kBlock : height;
    for (int bx = 0; bx < width; bx += kBlock) {
      const int xEnd = bx + kBlock < width ? bx + kBlock : width;
      for (int y = by; y < yEnd; ++y) {
        const uint8_t* in = srcRow(y) + ptrdiff_t(bx) * channels;
        uint8_t* out = origin + stepY * y + stepX * bx;
        if (channels == 4) {
          for (int x = bx; x < xEnd; ++x, in += 4, out += stepX) {
            out[0] = in[i0];
            out[1] = in[1];
            out[2] = in[i2];
            out[3] = in[3];
          }
        } else {
          for (int x = bx; x < xEnd; ++x, in += 3, out += stepX) {
            out[0] = in[i0];
            out[1] = in[1];
            out[2] = in[i2];
          }
        }
      }
    }
  }
}

}  // namespace

void PutRgbRowsOriented(const uint8_t* src, ptrdiff_t srcStride, int width, int height,
                        int channels, int orientation, const DibLayout& layout, uint8_t* dst) {
  PutOriented([&](int y) { return src + srcStride * y; }, width, height, channels, true,
              orientation, layout, dst);
}

void PutDibOriented(const uint8_t* src, size_t srcRowBytes, int width, int height, int channels,
                    int orientation, const DibLayout& layout, uint8_t* dst) {
  PutOriented([&](int y) { return src + srcRowBytes * size_t(height - 1 - y); }, width, height,
              channels, false, orientation, layout, dst);
}

}  // namespace orvspi
