#include "toolkit/Bitmap.h"

#include <gtest/gtest.h>

#include "toolkit/Exceptions.h"

namespace tk {
namespace {

TEST(Bitmap, RowSizesArePaddedToFourBytes) {
  EXPECT_EQ(RowBytes(1, 1), 4);
  EXPECT_EQ(RowBytes(3, 24), 12);
  EXPECT_EQ(RowBytes(5, 4), 4);
  EXPECT_EQ(RowBytes(33, 1), 8);
  EXPECT_EQ(RowBytes(2, 16), 4);
}

TEST(Bitmap, NewBitmapIsEmptyAndAllocationClears) {
  TBitmap b;
  EXPECT_TRUE(b.Empty());
  b.Allocate(TPixelFormat::pf24bit, 3, 2);
  EXPECT_FALSE(b.Empty());
  EXPECT_EQ(b.Stride(), 12);
  for (size_t i = 0; i < b.ImageSize(); ++i) EXPECT_EQ(b.Bits()[i], 0);
}

TEST(Bitmap, ScanLineZeroIsTheTopRowOfBottomUpStorage) {
  TBitmap b;
  b.Allocate(TPixelFormat::pf8bit, 4, 3);
  b.ScanLine(0)[0] = 7;
  b.ScanLine(2)[0] = 9;
  // Storage is bottom-up: the last stored row is the top one.
  EXPECT_EQ(b.Bits()[2 * b.Stride()], 7);
  EXPECT_EQ(b.Bits()[0], 9);
}

TEST(Bitmap, AbsurdSizesAreRefusedWithoutAllocating) {
  TBitmap b;
  b.Allocate(TPixelFormat::pf8bit, 2, 2);
  EXPECT_THROW(b.Allocate(TPixelFormat::pf24bit, 60000, 60000), EOutOfResources);
  // The failed attempt leaves the bitmap as it was.
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_THROW(b.Allocate(TPixelFormat::pf24bit, -1, 5), EInvalidGraphic);
}

TEST(Bitmap, AssignCopiesPixelsPaletteAndTransparency) {
  TBitmap a;
  a.SetPalette({TPalEntry{1, 2, 3, 0}, TPalEntry{4, 5, 6, 0}});
  a.Allocate(TPixelFormat::pf1bit, 9, 2);
  a.ScanLine(1)[1] = 0x80;
  a.SetTransparent(true);
  a.SetTransparentColor(0x01000001);
  TBitmap b;
  b.Assign(a);
  EXPECT_EQ(b.Width(), 9);
  EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf1bit);
  EXPECT_EQ(b.Palette(), a.Palette());
  EXPECT_EQ(b.ScanLine(1)[1], 0x80);
  EXPECT_TRUE(b.Transparent());
  EXPECT_EQ(b.TransparentColor(), 0x01000001u);
  a.ScanLine(1)[1] = 0;
  EXPECT_EQ(b.ScanLine(1)[1], 0x80);  // a deep copy
  TBitmap empty;
  b.Assign(empty);
  EXPECT_TRUE(b.Empty());
}

}  // namespace
}  // namespace tk
