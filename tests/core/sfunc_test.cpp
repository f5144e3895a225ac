// Palette and pixel helpers.
#include <gtest/gtest.h>

#include "imaging/Sfunc.h"

using namespace orv;

TEST(Sfunc, RowSizes) {
  EXPECT_EQ(GetLineSize(1, 1), 4);
  EXPECT_EQ(GetLineSize(3, 24), 12);
  EXPECT_EQ(GetLineSize(5, 4), 4);
  EXPECT_EQ(GetLineSize(33, 1), 8);
  EXPECT_EQ(GetLineSize(0, 24), 0);
  EXPECT_EQ(GetDIBMemLen(3, -7, 24), 84);
  EXPECT_EQ(GetDIBMemLen(100000, 100000, 32), int64_t(400000) * 100000) << "no 32-bit overflow";
}

TEST(Sfunc, GrayRamps) {
  TGLDPalRGB t[256];
  EXPECT_EQ(CreateGrayScalePalette(t, 1), 2);
  EXPECT_EQ(t[1].Red, 255);
  EXPECT_EQ(CreateGrayScalePalette(t, 2), 4);
  EXPECT_EQ(t[2].Green, 170);
  EXPECT_EQ(CreateGrayScalePalette(t, 4), 16);
  EXPECT_EQ(t[15].Blue, 255);
  EXPECT_EQ(t[3].Blue, 51);
  for (int depth : {8, 16}) {
    ASSERT_EQ(CreateGrayScalePalette(t, depth), 256);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(t[i].Red, i);
      ASSERT_EQ(t[i].Green, i);
      ASSERT_EQ(t[i].Blue, i);
      ASSERT_EQ(t[i].Reserved, 0);
    }
  }
}

TEST(Sfunc, NearestColour) {
  TGLDPalRGB t[8] = {};
  t[3].Red = 254;
  t[7].Red = 255;
  EXPECT_EQ(GetNearestColorTableIndex(t, tk::RGBColor(255, 0, 0), 8), 7) << "exact match";
  TGLDPalRGB u[8] = {};
  u[2] = {100, 100, 90, 0};  // blue, green, red
  u[5] = {100, 100, 110, 0};
  EXPECT_EQ(GetNearestColorTableIndex(u, tk::RGBColor(100, 100, 100), 8), 2) << "tie: lower index";
  EXPECT_EQ(GetNearestColorTableIndex(u, tk::RGBColor(108, 100, 100), 8), 5);
  EXPECT_EQ(GetNearestColorTableIndex(u, 0, 0), 0);
  // Sum of absolute differences, not squares: (30,0,0) is nearer than
  // (16,16,0) to black under that measure.
  TGLDPaletteEntry e[2] = {{30, 0, 0, 0}, {16, 16, 0, 0}};
  EXPECT_EQ(GetNearestPaletteEntryIndex(e, 0, 2), 0);
}

TEST(Sfunc, Tables) {
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(BitOr[i], 1u << i);
    EXPECT_EQ(BitROr[i], 0x80u >> i);
    EXPECT_EQ(BitAnd[i], ~(1u << i));
    EXPECT_EQ(BitRAnd[i], ~(0x80u >> i));
    EXPECT_EQ(BitBAnd[i], (1u << i) - 1);
  }
  for (int a = 0; a < 256; a += 5)
    for (int b = 0; b < 256; b += 7) ASSERT_EQ(abs256tbl[(a - b) & 0x1FF], std::abs(a - b));
  EXPECT_EQ(abs256tbl[256], 0);
  EXPECT_EQ(abs256tbl[511], 1);
}

TEST(Sfunc, PixelFormatMapping) {
  using pf = tk::TPixelFormat;
  EXPECT_EQ(GLDPixelFormat(1), pf::pf1bit);
  EXPECT_EQ(GLDPixelFormat(4), pf::pf4bit);
  EXPECT_EQ(GLDPixelFormat(8), pf::pf8bit);
  EXPECT_EQ(GLDPixelFormat(15), pf::pf15bit);
  EXPECT_EQ(GLDPixelFormat(16), pf::pf16bit);
  EXPECT_EQ(GLDPixelFormat(32), pf::pf32bit);
  EXPECT_EQ(GLDPixelFormat(2), pf::pf24bit);
  EXPECT_EQ(GLDPixelFormat(48), pf::pf24bit);
  EXPECT_EQ(GLDBitCount(pf::pfCustom), 15);
  EXPECT_EQ(GLDBitCount(pf::pf15bit), 15);
  EXPECT_EQ(GLDBitCount(pf::pfDevice), 24);
  for (int bits : {1, 4, 8, 15, 16, 24, 32}) EXPECT_EQ(GLDBitCount(GLDPixelFormat(bits)), bits);
  EXPECT_EQ(GetMaxColorSub(4), 16);
  EXPECT_EQ(GetMaxColorSub(24), 0);
  TGLDBitmapInfoHeader h;
  h.biBitCount = 8;
  EXPECT_EQ(GetMaxColor(h), 256);
  h.biClrUsed = 20;
  EXPECT_EQ(GetMaxColor(h), 20);
}
