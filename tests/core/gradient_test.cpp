#include "slideshow/Gradient.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

Rgb PixelAt(const tk::TBitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + 3 * x;
  return Rgb{p[2], p[1], p[0]};
}

TEST(GradBitmap, HorizontalRunsLeftToRightOnEveryRow) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, 3, 4);
  GradBitmapRgb(b, Rgb{0, 0, 255}, Rgb{255, 100, 0}, false);
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(PixelAt(b, 0, y), (Rgb{0, 0, 255}));
    EXPECT_EQ(PixelAt(b, 1, y), (Rgb{127, 50, 127}));  // truncated halves
    EXPECT_EQ(PixelAt(b, 2, y), (Rgb{255, 100, 0}));
  }
}

TEST(GradBitmap, VerticalRunsTopToBottomOnEveryColumn) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, 5, 3);
  GradBitmapRgb(b, Rgb{10, 20, 30}, Rgb{20, 40, 60}, true);
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(PixelAt(b, x, 0), (Rgb{10, 20, 30}));
    EXPECT_EQ(PixelAt(b, x, 1), (Rgb{15, 30, 45}));
    EXPECT_EQ(PixelAt(b, x, 2), (Rgb{20, 40, 60}));
  }
}

TEST(GradBitmap, SingleRowOrColumnUsesTheStartColour) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, 4, 1);
  GradBitmapRgb(b, Rgb{1, 2, 3}, Rgb{200, 200, 200}, true);
  EXPECT_EQ(PixelAt(b, 3, 0), (Rgb{1, 2, 3}));
  tk::TBitmap c;
  c.Allocate(tk::TPixelFormat::pf24bit, 1, 4);
  GradBitmapRgb(c, Rgb{1, 2, 3}, Rgb{200, 200, 200}, false);
  EXPECT_EQ(PixelAt(c, 0, 3), (Rgb{1, 2, 3}));
  tk::TBitmap empty;
  GradBitmapRgb(empty, Rgb{}, Rgb{}, false);  // nothing to do, no fault
  EXPECT_TRUE(empty.Empty());
}

TEST(TextGradation, TwoCharactersGetTheEndColours) {
  const auto pieces = GradientPieces("AB", Rgb{0, 0, 0}, Rgb{255, 255, 255});
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].color, (Rgb{0, 0, 0}));
  EXPECT_EQ(pieces[1].color, (Rgb{255, 255, 255}));
}

TEST(TextGradation, DoubleByteCharactersStayWhole) {
  const std::string text = "あいA";  // two double-byte characters and one byte
  ASSERT_EQ(text.size(), 5u);
  EXPECT_EQ(CountChars(text), 3);
  const auto pieces = GradientPieces(text, Rgb{0, 0, 0}, Rgb{200, 0, 0});
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].length, 2u);
  EXPECT_EQ(pieces[1].offset, 2u);
  EXPECT_EQ(pieces[1].length, 2u);
  EXPECT_EQ(pieces[1].color, (Rgb{100, 0, 0}));
  EXPECT_EQ(pieces[2].length, 1u);
  EXPECT_EQ(GradientPieces("A", Rgb{5, 5, 5}, Rgb{9, 9, 9}).at(0).color, (Rgb{5, 5, 5}));
}

TEST(TextGradation, ThreeColourSplitNeverCutsACharacter) {
  EXPECT_EQ(ThreeColorSplit("ABCDE"), 2u);
  EXPECT_EQ(ThreeColorSplit("ABC"), 1u);
  EXPECT_EQ(ThreeColorSplit("あいう"), 4u);  // byte 3 leads い: it moves on
  EXPECT_EQ(ThreeColorSplit("Aあい"), 3u);   // byte 2 leads あ
  EXPECT_EQ(ThreeColorSplit("あAい"), 2u);   // byte 2 is a trail byte
  EXPECT_TRUE(IsSingleChar("C"));
  EXPECT_TRUE(IsSingleChar("う"));
  EXPECT_FALSE(IsSingleChar("CD"));
}

}  // namespace
}  // namespace orv
