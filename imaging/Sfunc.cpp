#include "imaging/Sfunc.h"

namespace orv {

const uint32_t BitOr[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
const uint32_t BitROr[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
const uint32_t BitAnd[8] = {~0x01u, ~0x02u, ~0x04u, ~0x08u, ~0x10u, ~0x20u, ~0x40u, ~0x80u};
const uint32_t BitRAnd[8] = {~0x80u, ~0x40u, ~0x20u, ~0x10u, ~0x08u, ~0x04u, ~0x02u, ~0x01u};
const uint32_t BitBAnd[8] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F};

namespace {
struct AbsTable {
  uint8_t v[512];
  constexpr AbsTable() : v() {
    for (int i = 0; i < 512; ++i)
      v[i] = static_cast<uint8_t>(i < 256 ? i : (i == 256 ? 0 : 512 - i));
  }
};
constexpr AbsTable kAbs;
}  // namespace

const uint8_t abs256tbl[512] = {
#define ORV_ROW(i) kAbs.v[i], kAbs.v[i + 1], kAbs.v[i + 2], kAbs.v[i + 3]
#define ORV_ROW16(i) ORV_ROW(i), ORV_ROW(i + 4), ORV_ROW(i + 8), ORV_ROW(i + 12)
#define ORV_ROW64(i) ORV_ROW16(i), ORV_ROW16(i + 16), ORV_ROW16(i + 32), ORV_ROW16(i + 48)
    ORV_ROW64(0),   ORV_ROW64(64),  ORV_ROW64(128), ORV_ROW64(192),
    ORV_ROW64(256), ORV_ROW64(320), ORV_ROW64(384), ORV_ROW64(448),
#undef ORV_ROW64
#undef ORV_ROW16
#undef ORV_ROW
};

int64_t GetLineSize(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }

int64_t GetDIBMemLen(int64_t width, int64_t height, int bitCount) {
  return GetLineSize(width, bitCount) * (height < 0 ? -height : height);
}

int CreateGrayScalePalette(TGLDPalRGB* table, int bitDepth) {
  int count = 256;
  int step = 1;
  switch (bitDepth) {
    case 1:
      count = 2, step = 255;
      break;
    case 2:
      count = 4, step = 85;
      break;
    case 4:
      count = 16, step = 17;
      break;
    default:
      break;
  }
  for (int i = 0; i < count; ++i) {
    const uint8_t level = static_cast<uint8_t>(i * step);
    table[i].Blue = table[i].Green = table[i].Red = level;
    table[i].Reserved = 0;
  }
  return count;
}

namespace {
template <typename Entry, typename Channels>
int NearestIndex(const Entry* entries, tk::TColor color, int count, Channels channels) {
  const int r = tk::RedOf(color), g = tk::GreenOf(color), b = tk::BlueOf(color);
  int best = 0;
  int bestDistance = 0x7FFFFFFF;
  for (int i = 0; i < count; ++i) {
    int er, eg, eb;
    channels(entries[i], er, eg, eb);
    const int distance =
        abs256tbl[(er - r) & 0x1FF] + abs256tbl[(eg - g) & 0x1FF] + abs256tbl[(eb - b) & 0x1FF];
    if (distance == 0) return i;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}
}  // namespace

int GetNearestPaletteEntryIndex(const TGLDPaletteEntry* entries, tk::TColor color, int count) {
  return NearestIndex(entries, color, count, [](const TGLDPaletteEntry& e, int& r, int& g, int& b) {
    r = e.peRed, g = e.peGreen, b = e.peBlue;
  });
}

int GetNearestColorTableIndex(const TGLDPalRGB* table, tk::TColor color, int count) {
  return NearestIndex(table, color, count, [](const TGLDPalRGB& e, int& r, int& g, int& b) {
    r = e.Red, g = e.Green, b = e.Blue;
  });
}

int GetMaxColorSub(int bitCount) { return bitCount >= 0 && bitCount <= 8 ? 1 << bitCount : 0; }

int GetMaxColor(const TGLDBitmapInfoHeader& header) {
  if (header.biClrUsed != 0) return static_cast<int>(header.biClrUsed);
  return GetMaxColorSub(header.biBitCount);
}

tk::TPixelFormat GLDPixelFormat(int bitCount) {
  switch (bitCount) {
    case 1:
      return tk::TPixelFormat::pf1bit;
    case 4:
      return tk::TPixelFormat::pf4bit;
    case 8:
      return tk::TPixelFormat::pf8bit;
    case 15:
      return tk::TPixelFormat::pf15bit;
    case 16:
      return tk::TPixelFormat::pf16bit;
    case 32:
      return tk::TPixelFormat::pf32bit;
    default:
      return tk::TPixelFormat::pf24bit;
  }
}

int GLDBitCount(tk::TPixelFormat format) {
  switch (format) {
    case tk::TPixelFormat::pf1bit:
      return 1;
    case tk::TPixelFormat::pf4bit:
      return 4;
    case tk::TPixelFormat::pf8bit:
      return 8;
    case tk::TPixelFormat::pf15bit:
    case tk::TPixelFormat::pfCustom:
      return 15;
    case tk::TPixelFormat::pf16bit:
      return 16;
    case tk::TPixelFormat::pf32bit:
      return 32;
    case tk::TPixelFormat::pf24bit:
    case tk::TPixelFormat::pfDevice:
      return 24;
  }
  return 24;
}

}  // namespace orv
