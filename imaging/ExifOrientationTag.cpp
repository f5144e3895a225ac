// The Exif Orientation reader, on its own so that code without bitmaps
// (the WebP plug-in) can use it.
#include "imaging/ExifOrientation.h"

#include <cstring>

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

}  // namespace orv
