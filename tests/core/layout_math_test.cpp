#include "slideshow/LayoutMath.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

class FixedRandom : public TRandom {
 public:
  explicit FixedRandom(int v) : v_(v) {}
  int Next() override { return v_; }

 private:
  int v_;
};

TEST(Margin, TotalPercentSplitOverBothSides) {
  const Margin m = ComputeMargin(10, 1024, 768);
  EXPECT_EQ(m.top, 38);
  EXPECT_EQ(m.bottom, 38);
  EXPECT_EQ(m.left, 51);
  EXPECT_EQ(m.right, 51);
  for (int border : {0, -5, 101}) {
    const Margin none = ComputeMargin(border, 1024, 768);
    EXPECT_EQ(none.top + none.bottom + none.left + none.right, 0) << border;
  }
  const Margin all = ComputeMargin(100, 1024, 768);
  EXPECT_EQ(768 - all.top - all.bottom, 0);
  EXPECT_EQ(1024 - all.left - all.right, 0);
}

TEST(Split, SideBySideOnTheReferenceScreen) {
  // 1024 x 768 with a 10 % border leaves 922 x 692.
  const SideSplit s = SplitSideBySide(922);
  EXPECT_EQ(s.picture, 541);
  EXPECT_EQ(s.caption, 360);
  EXPECT_EQ(922 - s.picture - s.caption, 21);
  const SideSplit narrow = SplitSideBySide(10);
  EXPECT_EQ(narrow.picture, 0);
  EXPECT_EQ(narrow.caption, 0);
}

TEST(Split, StackedUsesWholeHundreds) {
  const StackSplit s = SplitStacked(692, 16);
  EXPECT_EQ(s.picture, 480);
  EXPECT_EQ(s.caption, 120);
  EXPECT_EQ(s.captionOffset, 500);  // caption top 538 for an area at 38
}

TEST(Split, TallCaptionLineTakesRoomFromThePicture) {
  const StackSplit s = SplitStacked(200, 30);
  EXPECT_EQ(s.caption, 30);
  EXPECT_EQ(s.picture, 70);
  EXPECT_EQ(s.captionOffset, 90);
  EXPECT_EQ(s.picture + kCaptionGap + s.caption, 120);
  const StackSplit tiny = SplitStacked(50, 300);
  EXPECT_EQ(tiny.picture, 0);
  EXPECT_EQ(tiny.caption, 300);
}

TEST(FitRect, ShrinksWithSinglePrecisionScale) {
  // 541 / 1600 in single precision is a hair below 0.338125: one pixel short.
  const IntRect r = FitRect(IntRect{0, 0, 1600, 1200}, 541, 692);
  EXPECT_EQ(r.Width(), 540);
  EXPECT_EQ(r.Height(), 405);
}

TEST(FloatingPoint, RoundsEachOperationToItsType) {
  // x87 registers keep 64 mantissa bits: there 1e16 + 1 - 1e16 is 1, with
  // IEEE double arithmetic it is 0; likewise a float quotient.
  volatile double big = 1e16, one = 1.0;
  EXPECT_EQ((big + one) - big, 0.0);
  volatile float w = 541.0f, total = 1600.0f;
  EXPECT_EQ(static_cast<int>(1600.0 * static_cast<double>(w / total)), 540);
}

TEST(FitRect, NeverEnlargesAndShrinksSingleSides) {
  EXPECT_EQ(FitRect(IntRect{0, 0, 300, 200}, 541, 692), (IntRect{0, 0, 300, 200}));
  EXPECT_EQ(FitRect(IntRect{0, 0, 1000, 100}, 500, 692), (IntRect{0, 0, 500, 50}));
  EXPECT_EQ(FitRect(IntRect{0, 0, 100, 1000}, 500, 500), (IntRect{0, 0, 50, 500}));
  const IntRect r = FitRect(IntRect{0, 0, 1000, 1000}, 500, 250);
  EXPECT_EQ(r, (IntRect{0, 0, 250, 250}));
}

TEST(PlaceRect, RandomOffsetOnlyWhereThereIsRoom) {
  FixedRandom random(1000);
  const IntRect box{0, 0, 541, 692};
  const IntRect r = PlaceRect(IntRect{0, 0, 300, 200}, box, random);
  EXPECT_EQ(r.left, 1000 % 241);
  EXPECT_EQ(r.Width(), 300);
  EXPECT_EQ(r.top, 1000 % 492);
  EXPECT_EQ(r.Height(), 200);
  // One pixel of free width: offset 0 mod 1.
  const IntRect tight = PlaceRect(IntRect{0, 0, 540, 405}, box, random);
  EXPECT_EQ(tight.left, 0);
  // Larger than the box: kept at the origin and clipped later.
  const IntRect big = PlaceRect(IntRect{0, 0, 1600, 1200}, box, random);
  EXPECT_EQ(big, (IntRect{0, 0, 1600, 1200}));
}

TEST(PlaceRect, StaysInsideTheBoxForAnyRandomValue) {
  TRandom random(7);
  const IntRect box{0, 0, 641, 480};
  for (int i = 0; i < 2000; ++i) {
    const IntRect r = PlaceRect(IntRect{0, 0, 100 + i % 500, 50 + i % 400}, box, random);
    EXPECT_GE(r.left, 0);
    EXPECT_GE(r.top, 0);
    EXPECT_LE(r.right, box.right);
    EXPECT_LE(r.bottom, box.bottom);
  }
}

}  // namespace
}  // namespace orv
