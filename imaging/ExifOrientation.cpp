#include "imaging/ExifOrientation.h"

#include <algorithm>
#include <cstring>

#include "toolkit/Bitmap.h"

namespace orv {

namespace {

// Pixels are three bytes; moving four at a time (the fourth belongs to the
// next pixel) halves the work. Callers order the moves so that the extra
// byte is either rewritten by the next move or lies in the same run, and
// move the run's last pixel with Copy3, which reads and writes nothing
// beyond it.
inline void Copy4(uint8_t* out, const uint8_t* in) { std::memcpy(out, in, 4); }
inline void Copy3(uint8_t* out, const uint8_t* in) {
  out[0] = in[0];
  out[1] = in[1];
  out[2] = in[2];
}

}  // namespace

void MirrorCopyRow24(uint8_t* out, const uint8_t* in, int width) {
  if (width <= 0) return;
  // Left to right in the output, so each move's extra byte is overwritten
  // by the next; the source pixel after each one read is still in the row.
  const uint8_t* src = in + std::ptrdiff_t(width - 1) * 3;
  Copy3(out, src);
  for (int x = 1; x < width - 1; ++x)
    Copy4(out + std::ptrdiff_t(x) * 3, src - std::ptrdiff_t(x) * 3);
  if (width > 1) Copy3(out + std::ptrdiff_t(width - 1) * 3, in);
}

void PutOrientedRows(tk::TBitmap& dest, int orientation, int srcWidth, int srcHeight, int first,
                     int count, const uint8_t* rows, std::ptrdiff_t stride) {
  // A destination of another shape or rows outside the picture would write
  // out of bounds: nothing is written then.
  if (!OrientationSwapsAxes(orientation)) return;
  if (count <= 0 || first < 0 || first > srcHeight - count) return;
  if (dest.PixelFormat() != tk::TPixelFormat::pf24bit ||
      dest.Width() != UprightWidth(orientation, srcWidth, srcHeight) ||
      dest.Height() != UprightHeight(orientation, srcWidth, srcHeight) || dest.Empty())
    return;
  // The bitmap is bottom-up: row y + 1 lies one stride below row y.
  uint8_t* const top = dest.ScanLine(0);
  const std::ptrdiff_t down = -std::ptrdiff_t(dest.Stride());

  // Source row y becomes a destination column, source column x a
  // destination row. Square tiles keep both sides to a few pages and cache
  // lines at a time: a quarter turn walked row by row would touch another
  // page with every pixel.
  constexpr int kTile = 16;
  const bool columnsAscend = orientation == 5 || orientation == 8;  // column = y, else H-1-y
  const bool rowsAscend = orientation == 5 || orientation == 6;     // row = x, else W-1-x
  const int firstColumn = columnsAscend ? first : srcHeight - 1 - first;
  const std::ptrdiff_t step = columnsAscend ? 3 : -3;
  for (int x0 = 0; x0 < srcWidth; x0 += kTile) {
    const int x1 = std::min(x0 + kTile, srcWidth);
    for (int r0 = 0; r0 < count; r0 += kTile) {
      const int r1 = std::min(r0 + kTile, count);
      // The run of one destination row is written from its lowest
      // address up, ending with the pixel nearest the run's end.
      const int rFirst = columnsAscend ? r0 : r1 - 1;
      const int rLast = columnsAscend ? r1 - 1 : r0;
      const int rStep = columnsAscend ? 1 : -1;
      // Destination rows in the order of their addresses (bottom-up).
      for (int i = x0; i < x1; ++i) {
        const int x = rowsAscend ? x0 + x1 - 1 - i : i;
        const int y = rowsAscend ? x : srcWidth - 1 - x;
        uint8_t* out =
            top + std::ptrdiff_t(y) * down + std::ptrdiff_t(firstColumn) * 3 + rFirst * step;
        const uint8_t* src = rows + rFirst * stride + std::ptrdiff_t(x) * 3;
        const std::ptrdiff_t srcStep = rStep * stride;
        // The source byte after the last column lies beyond its row.
        if (x + 1 < srcWidth) {
          for (int r = rFirst; r != rLast; r += rStep, src += srcStep, out += 3) Copy4(out, src);
        } else {
          for (int r = rFirst; r != rLast; r += rStep, src += srcStep, out += 3) Copy3(out, src);
        }
        Copy3(out, src);
      }
    }
  }
}

}  // namespace orv
