#include "imaging/ExifOrientation.h"

#include <cstring>

#include "toolkit/Bitmap.h"

namespace orv {

namespace {

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kExifHeader = 6;  // "Exif\0\0"
constexpr size_t kTiffHeader = 8;  // byte order, 42, offset of IFD0
constexpr size_t kEntrySize = 12;

// Reads the TIFF block with its own byte order; every read is checked
// against the block's end by the caller.
class TiffBlock {
 public:
  TiffBlock(const uint8_t* data, size_t size, bool bigEndian)
      : data_(data), size_(size), big_(bigEndian) {}

  size_t Size() const { return size_; }
  uint16_t U16(size_t at) const {
    const uint8_t* p = data_ + at;
    return big_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
  }
  uint32_t U32(size_t at) const {
    const uint8_t* p = data_ + at;
    return big_ ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }

 private:
  const uint8_t* data_;
  size_t size_;
  bool big_;
};

}  // namespace

int ExifOrientationFromApp1(const uint8_t* data, size_t size) {
  if (!data || size < kExifHeader + kTiffHeader) return 0;
  if (std::memcmp(data, "Exif\0\0", kExifHeader) != 0) return 0;
  const uint8_t* tiff = data + kExifHeader;
  const size_t tiffSize = size - kExifHeader;
  bool bigEndian;
  if (tiff[0] == 'I' && tiff[1] == 'I')
    bigEndian = false;
  else if (tiff[0] == 'M' && tiff[1] == 'M')
    bigEndian = true;
  else
    return 0;
  const TiffBlock block(tiff, tiffSize, bigEndian);
  if (block.U16(2) != 42) return 0;

  // Offsets are relative to the TIFF header and must leave room for the
  // entry count; anything at or past the segment's end is ignored.
  const uint32_t ifd0 = block.U32(4);
  if (ifd0 < kTiffHeader || ifd0 > block.Size() || block.Size() - ifd0 < 2) return 0;
  const size_t count = block.U16(ifd0);
  const size_t entries = ifd0 + 2;
  if (count > (block.Size() - entries) / kEntrySize) return 0;

  for (size_t i = 0; i < count; ++i) {
    const size_t e = entries + i * kEntrySize;
    if (block.U16(e) != kTagOrientation) continue;
    // One SHORT, held in the first two bytes of the value field.
    if (block.U16(e + 2) != kTypeShort || block.U32(e + 4) != 1) return 0;
    const int value = block.U16(e + 8);
    return value >= 1 && value <= 8 ? value : 0;
  }
  return 0;
}

void PutOrientedRows(tk::TBitmap& dest, int orientation, int srcWidth, int srcHeight, int first,
                     int count, const uint8_t* rows, std::ptrdiff_t stride) {
  // A destination of another shape or rows outside the picture would write
  // out of bounds: nothing is written then.
  if (count <= 0 || first < 0 || first > srcHeight - count) return;
  if (dest.PixelFormat() != tk::TPixelFormat::pf24bit ||
      dest.Width() != UprightWidth(orientation, srcWidth, srcHeight) ||
      dest.Height() != UprightHeight(orientation, srcWidth, srcHeight) || dest.Empty())
    return;
  const std::ptrdiff_t rowBytes = std::ptrdiff_t(srcWidth) * 3;
  // The bitmap is bottom-up: row y + 1 lies one stride below row y.
  uint8_t* const top = dest.ScanLine(0);
  const std::ptrdiff_t down = -std::ptrdiff_t(dest.Stride());

  if (!OrientationSwapsAxes(orientation)) {
    const bool flipRows = orientation == 3 || orientation == 4;
    const bool mirror = orientation == 2 || orientation == 3;
    for (int r = 0; r < count; ++r) {
      const int y = first + r;
      const uint8_t* src = rows + r * stride;
      uint8_t* out = top + std::ptrdiff_t(flipRows ? srcHeight - 1 - y : y) * down;
      if (!mirror) {
        std::memcpy(out, src, size_t(rowBytes));
      } else {
        uint8_t* o = out + rowBytes - 3;
        for (int x = 0; x < srcWidth; ++x, src += 3, o -= 3) {
          o[0] = src[0];
          o[1] = src[1];
          o[2] = src[2];
        }
      }
    }
    return;
  }

  // Source row y becomes a destination column, source column x a
  // destination row. For each source column the band's rows give adjacent
  // pixels of one destination row, so every write lands in a short run
  // and the band itself stays in the cache.
  const bool columnsAscend = orientation == 5 || orientation == 8;  // column = y, else H-1-y
  const bool rowsAscend = orientation == 5 || orientation == 6;     // row = x, else W-1-x
  const int firstColumn = columnsAscend ? first : srcHeight - 1 - first;
  const std::ptrdiff_t step = columnsAscend ? 3 : -3;
  for (int x = 0; x < srcWidth; ++x) {
    const int y = rowsAscend ? x : srcWidth - 1 - x;
    uint8_t* out = top + std::ptrdiff_t(y) * down + std::ptrdiff_t(firstColumn) * 3;
    const uint8_t* src = rows + std::ptrdiff_t(x) * 3;
    for (int r = 0; r < count; ++r, src += stride, out += step) {
      out[0] = src[0];
      out[1] = src[1];
      out[2] = src[2];
    }
  }
}

}  // namespace orv
