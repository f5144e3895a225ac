// Checks the picture a Susie plug-in hands back (a BITMAPINFO block and a
// pixel block) before any of it is read: plug-ins are outside code, and a
// header that claims more than its blocks hold must fail the conversion
// instead of making GDI read past them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv {

enum class PluginDibError {
  kNone,
  kHeaderBlockTooSmall,  // block smaller than a BITMAPINFOHEADER
  kBadHeaderSize,        // biSize below 40 or beyond the block
  kBadDimensions,        // width <= 0, height 0 or not representable
  kBadBitCount,
  kBadCompression,        // uncompressed, bit fields, RLE8 at 8 and RLE4 at 4 bits
  kColorTableTooLarge,    // above 8 bits, more than 256 table entries
  kHeaderBlockTruncated,  // masks or colour table run past the block
  kPictureTooLarge,       // pixel bytes beyond what any bitmap may take
  kPixelBlockTruncated,   // fewer pixel bytes than the rows need
  kBadCompressedSize,     // RLE data of size 0 or larger than the pixel block
};

struct PluginDibLayout {
  int width = 0;
  int height = 0;  // always positive
  bool topDown = false;
  int bitCount = 0;
  size_t headerBytes = 0;  // header, masks and colour table
  size_t pixelBytes = 0;   // rows padded to 4 bytes, or the RLE data size
  // Colour-table entries GDI is to read: biClrUsed, clamped to what the
  // bit depth can index (GDI does the same); 0 above 8 bits without one.
  uint32_t colors = 0;
};

// `header` points at `headerBlockSize` readable bytes (may be null when the
// size is 0); `pixelBlockSize` is the size of the pixel block. A biClrUsed
// above 2^bits is accepted and clamped in `layout.colors`: the caller hands
// GDI a header with the clamped count.
PluginDibError CheckPluginDib(const void* header, size_t headerBlockSize, size_t pixelBlockSize,
                              PluginDibLayout& layout);

}  // namespace orv
