#include "plugins/common/SusieDib.h"

#include <cstring>

namespace orvspi {

bool MakeDibSpec(int64_t width, int64_t height, bool alpha, DibSpec& spec) {
  if (width <= 0 || height <= 0) return false;
  const int bits = alpha ? 32 : 24;
  // Divide before multiplying: neither factor may wrap the product.
  const uint64_t rowBytes = (uint64_t(width) * bits + 31) / 32 * 4;
  if (rowBytes > kMaxDibBytes || uint64_t(height) > kMaxDibBytes / rowBytes) return false;
  spec.width = int(width);
  spec.height = int(height);
  spec.bitCount = bits;
  spec.rowBytes = size_t(rowBytes);
  spec.pixelBytes = size_t(rowBytes * uint64_t(height));
  return true;
}

uint8_t* VectorDib::Allocate(const DibSpec& spec) {
  spec_ = spec;
  pixels_.assign(spec.pixelBytes, 0);
  return pixels_.data();
}

uint8_t VectorDib::At(int x, int y, int c) const {
  const size_t row = size_t(spec_.height - 1 - y);
  return pixels_[row * spec_.rowBytes + size_t(x) * size_t(spec_.bitCount / 8) + size_t(c)];
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

// The one loop behind both entry points: `srcRow(y)` is stored row y (top
// first), `swap` exchanges the first and third channel.
template <typename RowOf>
void PutOriented(RowOf srcRow, int width, int height, int channels, bool swap, int orientation,
                 const DibSpec& spec, uint8_t* dst) {
  const OrientationMap m = MapOf(orientation);
  const ptrdiff_t bpp = spec.bitCount / 8;
  const ptrdiff_t stride = ptrdiff_t(spec.rowBytes);
  const ptrdiff_t a = ptrdiff_t(m.aW) * (width - 1) + ptrdiff_t(m.aH) * (height - 1);
  const ptrdiff_t b = ptrdiff_t(m.bW) * (width - 1) + ptrdiff_t(m.bH) * (height - 1);
  // Bottom-up rows: upright row v is row height' - 1 - v of the block.
  uint8_t* const origin = dst + a * bpp + (spec.height - 1 - b) * stride;
  const ptrdiff_t stepX = m.ux * bpp - m.vx * stride;
  const ptrdiff_t stepY = m.uy * bpp - m.vy * stride;
  const int i0 = swap ? 2 : 0;
  const int i2 = swap ? 0 : 2;
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = srcRow(y);
    uint8_t* out = origin + stepY * y;
    if (channels == 4) {
      for (int x = 0; x < width; ++x, in += 4, out += stepX) {
        out[0] = in[i0];
        out[1] = in[1];
        out[2] = in[i2];
        out[3] = in[3];
      }
    } else {
      for (int x = 0; x < width; ++x, in += 3, out += stepX) {
        out[0] = in[i0];
        out[1] = in[1];
        out[2] = in[i2];
      }
    }
  }
}

}  // namespace

void PutRgbRowsOriented(const uint8_t* src, ptrdiff_t srcStride, int width, int height,
                        int channels, int orientation, const DibSpec& spec, uint8_t* dst) {
  PutOriented([&](int y) { return src + srcStride * y; }, width, height, channels, true,
              orientation, spec, dst);
}

void PutDibOriented(const uint8_t* src, size_t srcRowBytes, int width, int height, int channels,
                    int orientation, const DibSpec& spec, uint8_t* dst) {
  PutOriented([&](int y) { return src + srcRowBytes * size_t(height - 1 - y); }, width, height,
              channels, false, orientation, spec, dst);
}

}  // namespace orvspi
