// Palette and pixel helpers shared by the PNG reader and writer: row sizes,
// gray ramps, nearest-colour search and the pixel-format mapping.
#pragma once

#include <cstdint>

#include "toolkit/Bitmap.h"
#include "toolkit/Graphics.h"

namespace orv {

// One colour-table entry: blue, green, red, reserved (RGBQUAD layout).
struct TGLDPalRGB {
  uint8_t Blue = 0;
  uint8_t Green = 0;
  uint8_t Red = 0;
  uint8_t Reserved = 0;
};
static_assert(sizeof(TGLDPalRGB) == 4, "colour-table entries are four bytes");

// A logical-palette entry: red, green, blue, flags (PALETTEENTRY layout).
struct TGLDPaletteEntry {
  uint8_t peRed = 0;
  uint8_t peGreen = 0;
  uint8_t peBlue = 0;
  uint8_t peFlags = 0;
};
static_assert(sizeof(TGLDPaletteEntry) == 4, "palette entries are four bytes");

// The fields of a BITMAPINFOHEADER that the colour count depends on.
struct TGLDBitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

// Bit masks indexed by bit position 0..7.
extern const uint32_t BitOr[8];    // 1 << i
extern const uint32_t BitROr[8];   // 0x80 >> i: pixel i of a 1-bit row
extern const uint32_t BitAnd[8];   // ~BitOr[i]
extern const uint32_t BitRAnd[8];  // ~BitROr[i]
extern const uint32_t BitBAnd[8];  // (1 << i) - 1
// |a - b| for two bytes, indexed by (a - b) & 0x1FF.
extern const uint8_t abs256tbl[512];

// Bytes of one bitmap row: ceil(width * bits / 8) rounded up to 4.
int64_t GetLineSize(int64_t width, int bitCount);
int64_t GetDIBMemLen(int64_t width, int64_t height, int bitCount);

// Fills a gray ramp for the depth (1, 2, 4, else 256 levels); returns the
// entry count. `table` must hold 256 entries.
int CreateGrayScalePalette(TGLDPalRGB* table, int bitDepth);

// Index of the entry nearest to `color` by the sum of absolute channel
// differences; ties go to the lower index; 0 when count is 0.
int GetNearestPaletteEntryIndex(const TGLDPaletteEntry* entries, tk::TColor color, int count);
int GetNearestColorTableIndex(const TGLDPalRGB* table, tk::TColor color, int count);

int GetMaxColorSub(int bitCount);
int GetMaxColor(const TGLDBitmapInfoHeader& header);

tk::TPixelFormat GLDPixelFormat(int bitCount);
int GLDBitCount(tk::TPixelFormat format);

}  // namespace orv
