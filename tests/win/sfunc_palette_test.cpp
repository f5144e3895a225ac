// The GDI palette helpers on real palette handles.
#include <gtest/gtest.h>
#include <windows.h>

#include "imaging/SfuncWin32.h"

using namespace orv;

namespace {
struct PaletteHandle {
  HPALETTE h;
  explicit PaletteHandle(HPALETTE p) : h(p) {}
  ~PaletteHandle() {
    if (h) DeleteObject(h);
  }
};
}  // namespace

TEST(SfuncPalette, CreateAndReadBack) {
  TGLDPalRGB table[256];
  for (int i = 0; i < 256; ++i) {
    table[i].Red = uint8_t(i);
    table[i].Green = uint8_t(255 - i);
    table[i].Blue = uint8_t(i * 7);
    table[i].Reserved = 0x55;
  }
  PaletteHandle pal(CreatePaletteHandle(table, 256));
  ASSERT_NE(pal.h, nullptr);
  TGLDPalRGB back[256];
  ASSERT_EQ(GetPaletteColorTable(pal.h, back), 256);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(back[i].Red, table[i].Red);
    EXPECT_EQ(back[i].Green, table[i].Green);
    EXPECT_EQ(back[i].Blue, table[i].Blue);
    EXPECT_EQ(back[i].Reserved, 0);
  }
  EXPECT_EQ(GetPaletteColor(pal.h, 10), tk::RGBColor(10, 245, 70));
  EXPECT_EQ(GetPaletteColor(pal.h, 300), tk::TColor(-1));
  EXPECT_EQ(GetPaletteColor(nullptr, 0), tk::TColor(-1));
}

TEST(SfuncPalette, NearestEntry) {
  TGLDPalRGB table[8] = {};
  table[3].Red = 254;
  table[7].Red = 255;
  PaletteHandle pal(CreatePaletteHandle(table, 8));
  EXPECT_EQ(orv::GetNearestPaletteIndex(pal.h, tk::RGBColor(255, 0, 0)), 7);
  EXPECT_EQ(orv::GetNearestPaletteIndex(pal.h, tk::RGBColor(200, 0, 0)), 3);
  EXPECT_EQ(orv::GetNearestPaletteColor(pal.h, tk::RGBColor(250, 10, 0)), tk::RGBColor(254, 0, 0));
}

TEST(SfuncPalette, PaletteWithoutEntries) {
  PaletteHandle pal(CreatePaletteHandle(nullptr, 0));
  if (pal.h) {
    TGLDPalRGB back[256];
    EXPECT_LE(GetPaletteColorTable(pal.h, back), 0);
    EXPECT_EQ(orv::GetNearestPaletteIndex(pal.h, 0), -1);
    EXPECT_EQ(orv::GetNearestPaletteColor(pal.h, 0), tk::TColor(-1));
  }
  EXPECT_EQ(orv::GetNearestPaletteIndex(nullptr, 0), -1);
}
