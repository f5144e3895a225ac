// What the decoder process makes of a decoded picture before it writes it
// for the saver: every pixel format as 24-bit BGR, and a picture larger
// than its box shrunk into it.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "decoder/DecodedPixels.h"
#include "slideshow/LayoutMath.h"
#include "toolkit/Bitmap.h"

namespace orv {
namespace {

struct Bgr {
  int b, g, r;
};

Bgr At(const tk::TBitmap& b, int x, int y) {
  const uint8_t* p = const_cast<tk::TBitmap&>(b).ScanLine(y) + 3 * x;
  return {p[0], p[1], p[2]};
}

TEST(DecodedPixels, EveryFormatBecomesBgr) {
  struct Case {
    const char* what;
    tk::TPixelFormat pf;
    std::vector<uint8_t> row;  // the first row's bytes
    Bgr first, second;
  } cases[] = {
      {"32 bits drop the fourth byte",
       tk::TPixelFormat::pf32bit,
       {1, 2, 3, 4, 5, 6, 7, 8},
       {1, 2, 3},
       {5, 6, 7}},
      {"16 bits: 5-6-5",
       tk::TPixelFormat::pf16bit,
       {0xFF, 0xFF, 0x1F, 0x00},
       {255, 255, 255},
       {255, 0, 0}},
      {"15 bits: 5-5-5",
       tk::TPixelFormat::pf15bit,
       {0x00, 0x7C, 0xE0, 0x03},
       {0, 0, 255},
       {0, 255, 0}},
      {"8 bits through the palette", tk::TPixelFormat::pf8bit, {2, 1}, {30, 20, 10}, {3, 2, 1}},
      {"4 bits, high nibble first", tk::TPixelFormat::pf4bit, {0x21}, {30, 20, 10}, {3, 2, 1}},
      {"1 bit, high bit first", tk::TPixelFormat::pf1bit, {0x40}, {0, 0, 0}, {3, 2, 1}},
      {"an index past the palette is black",
       tk::TPixelFormat::pf8bit,
       {200, 1},
       {0, 0, 0},
       {3, 2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tk::TBitmap b;
    b.Allocate(c.pf, 2, 2);
    b.SetPalette({{0, 0, 0, 0}, {3, 2, 1, 0}, {30, 20, 10, 0}});
    std::copy(c.row.begin(), c.row.end(), b.ScanLine(0));
    MakeBgr24(b);
    ASSERT_EQ(b.BitCount(), 24);
    ASSERT_EQ(b.Width(), 2);
    const Bgr f = At(b, 0, 0), s = At(b, 1, 0);
    EXPECT_EQ(f.b, c.first.b);
    EXPECT_EQ(f.g, c.first.g);
    EXPECT_EQ(f.r, c.first.r);
    EXPECT_EQ(s.b, c.second.b);
    EXPECT_EQ(s.g, c.second.g);
    EXPECT_EQ(s.r, c.second.r);
  }
}

TEST(DecodedPixels, OnlyWhatIsLargerThanItsBoxIsShrunk) {
  struct Case {
    int w, h, boxW, boxH, wantW, wantH;
  } cases[] = {
      {300, 200, 150, 150, 150, 100},   {300, 200, 300, 200, 300, 200},
      {300, 200, 1000, 1000, 300, 200}, {300, 200, 0, 0, 300, 200},
      {4000, 10, 100, 100, 100, 1},  // a sliver keeps a row
      // The layout's place truncates (2000 x 0.461 as a float is 921.99):
      // the picture comes at that size, not a pixel larger.
      {2000, 1500, 922, 692, 921, 691},
  };
  for (const Case& c : cases) {
    if (c.boxW > 0) {
      const IntRect place = FitRect(IntRect{0, 0, c.w, c.h}, c.boxW, c.boxH);
      EXPECT_EQ(std::max(place.Width(), 1), c.wantW) << "the layout places it otherwise";
    }
    tk::TBitmap b;
    b.Allocate(tk::TPixelFormat::pf32bit, c.w, c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        uint8_t* p = b.ScanLine(y) + 4 * x;
        p[0] = 20, p[1] = 30, p[2] = 220, p[3] = 255;
      }
    ShrinkIntoBox(b, c.boxW, c.boxH);
    EXPECT_EQ(b.Width(), c.wantW) << c.w << "x" << c.h << " into " << c.boxW;
    EXPECT_EQ(b.Height(), c.wantH);
    // A flat picture stays exactly flat, wherever it was shrunk.
    const int bpp = b.BitCount() / 8;
    const uint8_t* p = b.ScanLine(b.Height() - 1) + bpp * (b.Width() - 1);
    EXPECT_EQ(p[0], 20);
    EXPECT_EQ(p[1], 30);
    EXPECT_EQ(p[2], 220);
  }
}

}  // namespace
}  // namespace orv
