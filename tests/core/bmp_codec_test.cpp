// BMP reading of every header, depth and compression users meet, damaged
// files, and the writer's round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Streams.h"

namespace {

using tk::TBitmap;
using tk::TPalEntry;
using tk::TPixelFormat;
using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

// A BMP file assembled field by field, independent of the codec.
struct BmpFile {
  uint32_t headerSize = 40;  // 12 core, 16/64 OS/2 2.x, 40, 52, 56, 108, 124
  int32_t width = 0;
  int32_t height = 0;  // negative: top-down
  int bits = 24;
  uint32_t compression = 0;
  uint32_t clrUsed = 0;
  std::vector<uint32_t> masks;  // in the header when it has room, else after it
  std::vector<TPalEntry> palette;
  Bytes pixels;  // exactly as stored
  bool badOffBits = false;

  Bytes Build() const {
    const bool core = headerSize == 12;
    const size_t entry = core ? 3 : 4;
    const bool masksInHeader = headerSize >= 40 + 4 * masks.size();
    const size_t extraMasks = masksInHeader ? 0 : 4 * masks.size();
    const size_t offBits = 14 + headerSize + extraMasks + palette.size() * entry;
    Bytes f(offBits + pixels.size(), 0);
    f[0] = 'B';
    f[1] = 'M';
    Put32(f, 2, static_cast<uint32_t>(f.size()));
    Put32(f, 10, badOffBits ? 3 : static_cast<uint32_t>(offBits));
    Put32(f, 14, headerSize);
    if (core) {
      Put16(f, 18, static_cast<uint32_t>(width));
      Put16(f, 20, static_cast<uint32_t>(height));
      Put16(f, 22, 1);
      Put16(f, 24, static_cast<uint32_t>(bits));
    } else {
      Bytes h(std::max<uint32_t>(headerSize, 40), 0);
      Put32(h, 0, headerSize);
      Put32(h, 4, static_cast<uint32_t>(width));
      Put32(h, 8, static_cast<uint32_t>(height));
      Put16(h, 12, 1);
      Put16(h, 14, static_cast<uint32_t>(bits));
      Put32(h, 16, compression);
      Put32(h, 20, static_cast<uint32_t>(pixels.size()));
      Put32(h, 32, clrUsed);
      if (masksInHeader)
        for (size_t i = 0; i < masks.size(); ++i) Put32(h, 40 + 4 * i, masks[i]);
      std::memcpy(&f[14], h.data(), headerSize);
    }
    size_t at = 14 + headerSize;
    for (size_t i = 0; !masksInHeader && i < masks.size(); ++i, at += 4) Put32(f, at, masks[i]);
    for (const TPalEntry& e : palette) {
      f[at] = e.b;
      f[at + 1] = e.g;
      f[at + 2] = e.r;
      at += entry;
    }
    if (!pixels.empty()) std::memcpy(&f[at], pixels.data(), pixels.size());
    return f;
  }
};

size_t Stride(int width, int bits) { return ((size_t(width) * bits + 31) / 32) * 4; }

// Rows given top to bottom, stored bottom-up (or as given when top-down).
Bytes StoreRows(const std::vector<Bytes>& topToBottom, int width, int bits, bool topDown) {
  const size_t stride = Stride(width, bits);
  Bytes out;
  for (size_t i = 0; i < topToBottom.size(); ++i) {
    const Bytes& row = topToBottom[topDown ? i : topToBottom.size() - 1 - i];
    Bytes padded(stride, 0);
    std::memcpy(padded.data(), row.data(), row.size());
    out.insert(out.end(), padded.begin(), padded.end());
  }
  return out;
}

void Load(TBitmap& bmp, const Bytes& file) { bmp.LoadFromMemory(file.data(), file.size()); }

// Index of pixel (x, y) of a 1/4/8-bit bitmap.
int IndexAt(const TBitmap& bmp, int x, int y) {
  const uint8_t* row = bmp.ScanLine(y);
  switch (bmp.BitCount()) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
      return (x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
    default:
      return row[x];
  }
}

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}
Rgb ColorAt(const TBitmap& bmp, int x, int y) {
  const uint8_t* p = bmp.ScanLine(y) + x * (bmp.BitCount() / 8);
  return {p[2], p[1], p[0]};
}

const std::vector<TPalEntry> kPalette4 = {
    {0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}};

// A bitmap that tells whether a failed load touched it.
void MakeSentinel(TBitmap& bmp) {
  bmp.SetPalette(kPalette4);
  bmp.Allocate(TPixelFormat::pf8bit, 3, 2);
  bmp.ScanLine(1)[2] = 3;
}
void ExpectSentinel(const TBitmap& bmp) {
  ASSERT_EQ(bmp.Width(), 3);
  ASSERT_EQ(bmp.Height(), 2);
  EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(bmp.ScanLine(1)[2], 3);
  EXPECT_EQ(bmp.Palette().size(), 4u);
}

TEST(BmpRead, PalettedDepthsGiveIndexesAndPalette) {
  // 1 bit, 10 wide: a row crossing a byte boundary.
  BmpFile f1;
  f1.width = 10;
  f1.height = 2;
  f1.bits = 1;
  f1.palette = {{10, 20, 30, 0}, {200, 210, 220, 0}};
  f1.pixels = StoreRows({{0xA5, 0x40}, {0x0F, 0x80}}, 10, 1, false);
  TBitmap b1;
  Load(b1, f1.Build());
  ASSERT_EQ(b1.PixelFormat(), TPixelFormat::pf1bit);
  const int top[10] = {1, 0, 1, 0, 0, 1, 0, 1, 0, 1};
  const int bottom[10] = {0, 0, 0, 0, 1, 1, 1, 1, 1, 0};
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(IndexAt(b1, x, 0), top[x]) << x;
    EXPECT_EQ(IndexAt(b1, x, 1), bottom[x]) << x;
  }
  EXPECT_EQ(b1.Palette()[1], (TPalEntry{200, 210, 220, 0}));

  // 4 bit with a palette of three entries: the rest reads as black.
  BmpFile f4;
  f4.width = 3;
  f4.height = 1;
  f4.bits = 4;
  f4.clrUsed = 3;
  f4.palette = {kPalette4[1], kPalette4[2], kPalette4[3]};
  f4.pixels = StoreRows({{0x12, 0xF0}}, 3, 4, false);
  TBitmap b4;
  Load(b4, f4.Build());
  ASSERT_EQ(b4.PixelFormat(), TPixelFormat::pf4bit);
  ASSERT_EQ(b4.Palette().size(), 16u);
  EXPECT_EQ(b4.Palette()[2], kPalette4[3]);
  EXPECT_EQ(b4.Palette()[15], TPalEntry{});
  EXPECT_EQ(IndexAt(b4, 0, 0), 1);
  EXPECT_EQ(IndexAt(b4, 1, 0), 2);
  EXPECT_EQ(IndexAt(b4, 2, 0), 15);

  // 2 bit (Windows CE) widens to 4 bit.
  BmpFile f2;
  f2.width = 5;
  f2.height = 1;
  f2.bits = 2;
  f2.palette = kPalette4;
  f2.pixels = StoreRows({{0x1B, 0xC0}}, 5, 2, false);
  TBitmap b2;
  Load(b2, f2.Build());
  ASSERT_EQ(b2.PixelFormat(), TPixelFormat::pf4bit);
  const int want2[5] = {0, 1, 2, 3, 3};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(IndexAt(b2, x, 0), want2[x]) << x;
  EXPECT_EQ(b2.Palette()[3], kPalette4[3]);
}

TEST(BmpRead, TopDownAndBottomUpGiveTheSamePicture) {
  const std::vector<Bytes> rows = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
  for (bool topDown : {false, true}) {
    BmpFile f;
    f.width = 3;
    f.height = topDown ? -4 : 4;
    f.bits = 8;
    f.palette = kPalette4;
    f.clrUsed = 4;
    f.pixels = StoreRows(rows, 3, 8, topDown);
    TBitmap bmp;
    Load(bmp, f.Build());
    ASSERT_EQ(bmp.Height(), 4);
    ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(IndexAt(bmp, x, y), rows[y][x]) << topDown;
  }
}

TEST(BmpRead, TrueColourDepthsKeepTheirBytes) {
  // 24 bit, odd width so rows carry padding.
  BmpFile f24;
  f24.width = 3;
  f24.height = 2;
  f24.bits = 24;
  f24.pixels =
      StoreRows({{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}}, 3, 24, false);
  TBitmap b24;
  Load(b24, f24.Build());
  ASSERT_EQ(b24.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(ColorAt(b24, 0, 0), (Rgb{3, 2, 1}));
  EXPECT_EQ(ColorAt(b24, 2, 1), (Rgb{18, 17, 16}));

  // 32 bit BI_RGB: the fourth byte travels along.
  BmpFile f32;
  f32.width = 2;
  f32.height = 1;
  f32.bits = 32;
  f32.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
  TBitmap b32;
  Load(b32, f32.Build());
  ASSERT_EQ(b32.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(0, std::memcmp(b32.ScanLine(0), f32.pixels.data(), 8));

  // 16 bit without masks is 5-5-5.
  BmpFile f16;
  f16.width = 2;
  f16.height = 1;
  f16.bits = 16;
  f16.pixels = {0x1F, 0x7C, 0xE0, 0x03};
  TBitmap b16;
  Load(b16, f16.Build());
  ASSERT_EQ(b16.PixelFormat(), TPixelFormat::pf15bit);
  EXPECT_EQ(0, std::memcmp(b16.ScanLine(0), f16.pixels.data(), 4));
}

TEST(BmpRead, BitFieldMasksPickOrConvertTheFormat) {
  auto make16 = [](TBitmap& out, std::vector<uint32_t> masks, uint32_t headerSize, uint16_t pixel) {
    BmpFile f;
    f.headerSize = headerSize;
    f.width = 1;
    f.height = 1;
    f.bits = 16;
    f.compression = masks.size() == 4 && headerSize == 40 ? 6 : 3;
    f.masks = std::move(masks);
    f.pixels = {static_cast<uint8_t>(pixel), static_cast<uint8_t>(pixel >> 8), 0, 0};
    Load(out, f.Build());
  };
  // 5-6-5 after a bare info header, and inside a V4 header.
  for (uint32_t hs : {40u, 108u, 124u}) {
    std::vector<uint32_t> m565 = {0xF800, 0x07E0, 0x001F};
    if (hs > 40) m565.push_back(0);
    TBitmap bmp;
    make16(bmp, m565, hs, 0xF81F);
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf16bit) << hs;
    EXPECT_EQ(bmp.ScanLine(0)[0], 0x1F);
    EXPECT_EQ(bmp.ScanLine(0)[1], 0xF8);
  }
  TBitmap rgb555;
  make16(rgb555, {0x7C00, 0x03E0, 0x001F}, 40, 0);
  EXPECT_EQ(rgb555.PixelFormat(), TPixelFormat::pf15bit);
  TBitmap zeroMasks;
  make16(zeroMasks, {0, 0, 0}, 40, 0x7C00);
  EXPECT_EQ(zeroMasks.PixelFormat(), TPixelFormat::pf15bit);
  EXPECT_EQ(zeroMasks.ScanLine(0)[1], 0x7C);

  // 4-4-4 without alpha becomes 24 bit, each nibble scaled to 0..255.
  TBitmap rgb444;
  make16(rgb444, {0x0F00, 0x00F0, 0x000F}, 40, 0x0F5A);
  ASSERT_EQ(rgb444.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(ColorAt(rgb444, 0, 0), (Rgb{0xF * 17, 0x5 * 17, 0xA * 17}));

  // 4-4-4-4 with alpha (BI_ALPHABITFIELDS) becomes 32 bit with the alpha.
  TBitmap argb;
  make16(argb, {0x0F00, 0x00F0, 0x000F, 0xF000}, 40, 0x8123);
  ASSERT_EQ(argb.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(ColorAt(argb, 0, 0), (Rgb{1 * 17, 2 * 17, 3 * 17}));
  EXPECT_EQ(argb.ScanLine(0)[3], 8 * 17);

  // 32 bit with red and blue swapped (a V5 header's masks).
  BmpFile f;
  f.headerSize = 124;
  f.width = 1;
  f.height = 1;
  f.bits = 32;
  f.compression = 3;
  f.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0};
  f.pixels = {0x11, 0x22, 0x33, 0x00};
  TBitmap swapped;
  Load(swapped, f.Build());
  ASSERT_EQ(swapped.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(ColorAt(swapped, 0, 0), (Rgb{0x11, 0x22, 0x33}));

  // Standard 32-bit masks are read as stored.
  f.headerSize = 56;
  f.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  f.pixels = {0x11, 0x22, 0x33, 0x44};
  TBitmap straight;
  Load(straight, f.Build());
  ASSERT_EQ(straight.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(0, std::memcmp(straight.ScanLine(0), f.pixels.data(), 4));
}

TEST(BmpRead, Os2HeadersWithTriplePalettes) {
  BmpFile core;
  core.headerSize = 12;
  core.width = 2;
  core.height = 2;
  core.bits = 8;
  core.palette.assign(256, TPalEntry{});
  core.palette[7] = {1, 2, 3, 0};
  core.pixels = StoreRows({{7, 0}, {0, 7}}, 2, 8, false);
  TBitmap bmp;
  Load(bmp, core.Build());
  ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(bmp.Palette()[7], (TPalEntry{1, 2, 3, 0}));
  EXPECT_EQ(IndexAt(bmp, 0, 0), 7);
  EXPECT_EQ(IndexAt(bmp, 1, 1), 7);
  EXPECT_EQ(IndexAt(bmp, 1, 0), 0);

  core.bits = 24;
  core.palette.clear();
  core.pixels = StoreRows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, 2, 24, false);
  TBitmap rgb;
  Load(rgb, core.Build());
  EXPECT_EQ(ColorAt(rgb, 1, 1), (Rgb{12, 11, 10}));

  // OS/2 2.x: a 64-byte header with the info header's leading fields.
  BmpFile os2;
  os2.headerSize = 64;
  os2.width = 1;
  os2.height = 1;
  os2.bits = 4;
  os2.clrUsed = 2;
  os2.palette = {kPalette4[0], kPalette4[3]};
  os2.pixels = {0x10, 0, 0, 0};
  TBitmap b2;
  Load(b2, os2.Build());
  EXPECT_EQ(IndexAt(b2, 0, 0), 1);
  EXPECT_EQ(b2.Palette()[1], kPalette4[3]);
}

TEST(BmpRead, Rle8RunsEscapesAndClipping) {
  BmpFile f;
  f.width = 4;
  f.height = 3;
  f.bits = 8;
  f.compression = 1;
  f.palette = kPalette4;
  f.pixels = {
      3, 1,              // bottom row: 1 1 1
      0, 3, 2, 3, 1, 0,  // absolute 2 3 1, padded
      0, 0,              // end of line
      0, 2, 1, 0,        // delta: right 1
      2, 2,              // 2 2 at x = 1..2
      0, 0,              // end of line
      9, 3,              // a run longer than the row: clipped
      0, 2, 0, 5,        // delta far below the picture
      5, 1,              // lands outside: ignored
      0, 1,              // end of bitmap
  };
  TBitmap bmp;
  Load(bmp, f.Build());
  ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
  const int want[3][4] = {{3, 3, 3, 3}, {0, 2, 2, 0}, {1, 1, 1, 1}};
  // Bottom row: 1 1 1 then absolute 2 3 1 clipped after x = 3.
  const int bottom[4] = {1, 1, 1, 2};
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(IndexAt(bmp, x, 2), bottom[x]) << x;
    EXPECT_EQ(IndexAt(bmp, x, 1), want[1][x]) << x;
    EXPECT_EQ(IndexAt(bmp, x, 0), want[0][x]) << x;
  }
}

TEST(BmpRead, Rle4NibblesAlternate) {
  BmpFile f;
  f.width = 5;
  f.height = 2;
  f.bits = 4;
  f.compression = 2;
  f.palette = kPalette4;
  f.pixels = {
      5, 0x12,              // bottom row: 1 2 1 2 1
      0, 0,                 // end of line
      0, 3,    0x32, 0x10,  // absolute 3 2 1: two bytes, already word-aligned
      0, 1,                 // end of bitmap: the rest stays 0
  };
  TBitmap bmp;
  Load(bmp, f.Build());
  ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf4bit);
  const int bottom[5] = {1, 2, 1, 2, 1};
  const int top[5] = {3, 2, 1, 0, 0};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(IndexAt(bmp, x, 1), bottom[x]) << x;
    EXPECT_EQ(IndexAt(bmp, x, 0), top[x]) << x;
  }
}

BmpFile Sample24() {
  BmpFile f;
  f.width = 5;
  f.height = 3;
  f.bits = 24;
  for (int i = 0; i < 3 * static_cast<int>(Stride(5, 24)); ++i)
    f.pixels.push_back(static_cast<uint8_t>(i * 7));
  return f;
}

BmpFile SampleRle8() {
  BmpFile f;
  f.width = 4;
  f.height = 2;
  f.bits = 8;
  f.compression = 1;
  f.palette = kPalette4;
  f.pixels = {4, 1, 0, 0, 0, 4, 1, 2, 3, 0, 0, 1};
  return f;
}

TEST(BmpRead, TruncatedFilesFailAndLeaveTheBitmapAlone) {
  for (const BmpFile& f : {Sample24(), SampleRle8()}) {
    const Bytes full = f.Build();
    // The last row may lack its padding (3 bytes here) and still load.
    const size_t minimum = f.compression ? full.size() : full.size() - 1;
    for (size_t n = 0; n < minimum; ++n) {
      TBitmap bmp;
      MakeSentinel(bmp);
      Bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
      EXPECT_THROW(bmp.LoadFromMemory(part.data(), part.size()), tk::Exception) << n;
      ExpectSentinel(bmp);
    }
  }
}

TEST(BmpRead, DamagedHeadersNeverEscapeAsAnythingButToolkitErrors) {
  for (const BmpFile& f : {Sample24(), SampleRle8()}) {
    const Bytes full = f.Build();
    const size_t headerEnd = std::min<size_t>(full.size(), 14 + 40 + 16 + 4);
    for (size_t at = 0; at < headerEnd; ++at) {
      for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80), uint8_t(0x7F)}) {
        Bytes bad = full;
        bad[at] = value;
        TBitmap bmp;
        MakeSentinel(bmp);
        try {
          bmp.LoadFromMemory(bad.data(), bad.size());
          EXPECT_FALSE(bmp.Empty());
        } catch (const tk::Exception&) {
          ExpectSentinel(bmp);
        }
      }
    }
  }
}

TEST(BmpRead, RejectsWhatIsNotABitmap) {
  auto fails = [](BmpFile f, const char* why) {
    Bytes b = f.Build();
    TBitmap bmp;
    EXPECT_THROW(bmp.LoadFromMemory(b.data(), b.size()), tk::EInvalidGraphic) << why;
    EXPECT_TRUE(bmp.Empty());
  };
  BmpFile f = Sample24();
  f.bits = 7;
  fails(f, "bit count");
  f = Sample24();
  f.width = 0;
  fails(f, "zero width");
  f = Sample24();
  f.width = -5;
  fails(f, "negative width");
  f = Sample24();
  f.compression = 4;  // embedded JPEG
  fails(f, "compression");
  f = SampleRle8();
  f.bits = 4;
  fails(f, "RLE8 at 4 bits");
  f = Sample24();
  f.height = INT32_MIN;
  fails(f, "height");

  const char text[] = "BM but really just text";
  TBitmap bmp;
  EXPECT_THROW(bmp.LoadFromMemory(reinterpret_cast<const uint8_t*>(text), sizeof text),
               tk::EInvalidGraphic);
}

TEST(BmpRead, AbsurdSizesFailBeforeAllocating) {
  for (int bits : {24, 8}) {
    BmpFile f;
    f.width = 60000;
    f.height = 60000;
    f.bits = bits;
    f.compression = bits == 8 ? 1 : 0;
    if (bits == 8) f.palette = kPalette4;
    f.pixels = {0, 1};
    Bytes b = f.Build();
    TBitmap bmp;
    MakeSentinel(bmp);
    EXPECT_THROW(bmp.LoadFromMemory(b.data(), b.size()), tk::Exception) << bits;
    ExpectSentinel(bmp);
  }
  BmpFile huge;
  huge.width = INT32_MAX;
  huge.height = -INT32_MAX;
  huge.bits = 32;
  Bytes b = huge.Build();
  TBitmap bmp;
  EXPECT_THROW(bmp.LoadFromMemory(b.data(), b.size()), tk::EOutOfResources);
}

TEST(BmpRead, BrokenPixelOffsetFallsBackToTheTableEnd) {
  BmpFile f;
  f.width = 2;
  f.height = 1;
  f.bits = 8;
  f.palette = kPalette4;
  f.clrUsed = 4;
  f.pixels = {3, 1, 0, 0};
  f.badOffBits = true;
  TBitmap bmp;
  Load(bmp, f.Build());
  EXPECT_EQ(IndexAt(bmp, 0, 0), 3);
  EXPECT_EQ(IndexAt(bmp, 1, 0), 1);
}

TEST(BmpRead, StreamsAndFiles) {
  const Bytes file = Sample24().Build();
  tk::TMemoryStream stream;
  stream.Data() = Bytes(5, 0xEE);
  stream.Data().insert(stream.Data().end(), file.begin(), file.end());
  stream.SetPosition(5);
  TBitmap fromStream;
  fromStream.LoadFromStream(stream);
  EXPECT_EQ(fromStream.Width(), 5);
  EXPECT_EQ(ColorAt(fromStream, 0, 2), (Rgb{14, 7, 0}));

  TBitmap missing;
  MakeSentinel(missing);
  EXPECT_THROW(missing.LoadFromFile(testing::TempDir() + "no-such-picture.bmp"), tk::EFOpenError);
  ExpectSentinel(missing);
}

void FillRandom(TBitmap& bmp, std::mt19937& rng) {
  const size_t rowBytes = (size_t(bmp.Width()) * bmp.BitCount() + 7) / 8;
  for (int y = 0; y < bmp.Height(); ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(rng());
    // Bits past the last pixel of a packed row are not part of the picture.
    const int spare = static_cast<int>(rowBytes * 8 - size_t(bmp.Width()) * bmp.BitCount());
    if (spare) row[rowBytes - 1] &= static_cast<uint8_t>(0xFF << spare);
  }
}

TEST(BmpWrite, EveryFormatRoundTrips) {
  std::mt19937 rng(7);
  const TPixelFormat formats[] = {
      TPixelFormat::pf1bit,  TPixelFormat::pf4bit,  TPixelFormat::pf8bit, TPixelFormat::pf15bit,
      TPixelFormat::pf16bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit};
  for (TPixelFormat pf : formats) {
    TBitmap src;
    const int bits = tk::PixelFormatBits(pf);
    if (bits <= 8) {
      std::vector<TPalEntry> pal(size_t(1) << bits);
      for (TPalEntry& e : pal) e = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
      src.SetPalette(pal);
    }
    src.Allocate(pf, 13, 7);
    FillRandom(src, rng);
    tk::TMemoryStream out;
    src.SaveToStream(out);

    const Bytes& file = out.Data();
    ASSERT_GE(file.size(), 54u);
    EXPECT_EQ(file[28], bits) << bits;
    EXPECT_EQ(file[30], pf == TPixelFormat::pf16bit ? 3 : 0) << "compression";
    TBitmap back;
    Load(back, file);
    ASSERT_EQ(back.PixelFormat(), pf) << bits;
    ASSERT_EQ(back.Width(), 13);
    ASSERT_EQ(back.Height(), 7);
    EXPECT_EQ(back.Palette(), src.Palette());
    for (int y = 0; y < 7; ++y)
      EXPECT_EQ(0, std::memcmp(back.ScanLine(y), src.ScanLine(y), size_t(src.Stride())))
          << bits << " row " << y;
  }
}

TEST(BmpWrite, ShortPaletteAndFiles) {
  TBitmap src;
  src.SetPalette({kPalette4[2], kPalette4[3]});
  src.Allocate(TPixelFormat::pf8bit, 2, 2);
  src.ScanLine(0)[1] = 1;
  const std::string path = testing::TempDir() + "bmp_codec_short_palette.bmp";
  src.SaveToFile(path);
  TBitmap back;
  back.LoadFromFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(back.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(back.Palette()[1], kPalette4[3]);
  EXPECT_EQ(IndexAt(back, 1, 0), 1);

  TBitmap empty;
  tk::TMemoryStream out;
  EXPECT_THROW(empty.SaveToStream(out), tk::EInvalidGraphic);
  EXPECT_THROW(src.SaveToFile(testing::TempDir() + "no-such-dir/x/y.bmp"), tk::EFCreateError);
}

}  // namespace
