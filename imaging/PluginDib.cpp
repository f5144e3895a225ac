#include "imaging/PluginDib.h"

#include <climits>
#include <cstring>

#include "toolkit/Bitmap.h"

namespace orv {

namespace {

constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kMaskedHeaderSize = 52;  // BITMAPV2INFOHEADER: the masks inside
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t ReadI32(const uint8_t* p) {
  const uint32_t u = ReadU32(p);
  int32_t v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}
uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

PluginDibError CheckPluginDib(const void* header, size_t headerBlockSize, size_t pixelBlockSize,
                              PluginDibLayout& layout) {
  if (header == nullptr || headerBlockSize < kInfoHeaderSize) {
    return PluginDibError::kHeaderBlockTooSmall;
  }
  const uint8_t* h = static_cast<const uint8_t*>(header);
  const uint32_t biSize = ReadU32(h);
  if (biSize < kInfoHeaderSize || biSize > headerBlockSize) return PluginDibError::kBadHeaderSize;

  const int32_t width = ReadI32(h + 4);
  const int32_t height = ReadI32(h + 8);
  if (width <= 0 || height == 0 || height == INT32_MIN) return PluginDibError::kBadDimensions;

  const uint16_t bits = ReadU16(h + 14);
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return PluginDibError::kBadBitCount;
  }
  const uint32_t compression = ReadU32(h + 16);
  const bool rle = (compression == kBiRle8 && bits == 8) || (compression == kBiRle4 && bits == 4);
  // GDI only decodes run-length data bottom-up.
  if (compression != kBiRgb && !rle &&
      !(compression == kBiBitfields && (bits == 16 || bits == 32))) {
    return PluginDibError::kBadCompression;
  }
  if (rle && height < 0) return PluginDibError::kBadCompression;

  const uint32_t clrUsed = ReadU32(h + 32);
  uint64_t colors = clrUsed;
  if (bits <= 8) {
    const uint32_t maxColors = 1u << bits;
    if (clrUsed == 0 || clrUsed > maxColors) colors = maxColors;
  } else if (clrUsed > 256) {
    return PluginDibError::kColorTableTooLarge;
  }
  // GDI reads the three masks from bytes 40 to 51 whatever biSize says: a
  // plain BITMAPINFOHEADER keeps them right after itself, the larger header
  // versions (52 bytes and up) inside. A header of 41 to 51 bytes would have
  // GDI read masks partly past what we copy, so it is refused.
  if (compression == kBiBitfields && biSize > kInfoHeaderSize && biSize < kMaskedHeaderSize)
    return PluginDibError::kBadHeaderSize;
  const uint64_t masks = (compression == kBiBitfields && biSize == kInfoHeaderSize) ? 12 : 0;
  const uint64_t headerBytes = uint64_t(biSize) + masks + colors * 4;
  if (headerBytes > headerBlockSize) return PluginDibError::kHeaderBlockTruncated;

  const uint64_t absHeight = height < 0 ? uint64_t(-int64_t(height)) : uint64_t(height);
  const uint64_t rowBytes = (uint64_t(width) * bits + 31) / 32 * 4;
  const uint64_t limit = uint64_t(tk::kMaxBitmapBytes);
  // Divide before multiplying: 2^31 rows of 2^33 bytes would wrap around.
  if (rowBytes > limit || absHeight > limit / rowBytes) return PluginDibError::kPictureTooLarge;
  uint64_t pixelBytes = rowBytes * absHeight;
  if (rle) {
    // The runs end wherever the encoder stopped: biSizeImage is the only
    // bound GDI has on what it reads.
    pixelBytes = ReadU32(h + 20);
    if (pixelBytes == 0 || pixelBytes > pixelBlockSize) return PluginDibError::kBadCompressedSize;
  } else if (pixelBytes > pixelBlockSize) {
    return PluginDibError::kPixelBlockTruncated;
  }

  layout.width = width;
  layout.height = static_cast<int>(absHeight);
  layout.topDown = height < 0;
  layout.bitCount = bits;
  layout.headerBytes = static_cast<size_t>(headerBytes);
  layout.pixelBytes = static_cast<size_t>(pixelBytes);
  layout.colors = static_cast<uint32_t>(colors);
  return PluginDibError::kNone;
}

}  // namespace orv
