// The fast row functions of the PNG codec against their scalar references.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imaging/Gldpngstream.h"

using namespace orv::pngrow;

namespace {
std::vector<uint8_t> RandomBytes(size_t n, std::mt19937& rng, bool smooth) {
  std::vector<uint8_t> v(n + 16);
  uint8_t last = 0;
  for (auto& b : v) b = last = smooth ? uint8_t(last + (rng() % 5) - 2) : uint8_t(rng());
  return v;
}
}  // namespace

TEST(PngRows, UnfilterMatchesReferenceForEveryFilterAndPixelSize) {
  std::mt19937 rng(1234);
  for (int bpp : {1, 2, 3, 4, 6, 8}) {
    for (size_t pixels : {0, 1, 2, 3, 5, 16, 17, 33, 100}) {
      const size_t len = pixels * bpp;
      for (uint8_t filter = 0; filter <= 4; ++filter) {
        for (bool smooth : {false, true}) {
          const auto prev = RandomBytes(len, rng, smooth);
          auto fast = RandomBytes(len, rng, smooth);
          auto ref = fast;
          ASSERT_TRUE(UnfilterRow(filter, fast.data(), prev.data(), len, bpp));
          ASSERT_TRUE(UnfilterRowRef(filter, ref.data(), prev.data(), len, bpp));
          ASSERT_EQ(fast, ref) << "filter " << int(filter) << " bpp " << bpp << " len " << len;
        }
      }
    }
  }
}

TEST(PngRows, UnfilterRejectsUnknownFilterTypes) {
  uint8_t row[4] = {1, 2, 3, 4}, prev[4] = {};
  for (int f = 5; f < 256; f += 50) {
    EXPECT_FALSE(UnfilterRow(uint8_t(f), row, prev, 4, 1));
    EXPECT_FALSE(UnfilterRowRef(uint8_t(f), row, prev, 4, 1));
  }
}

TEST(PngRows, PaethTiesFollowThePredictorOrder) {
  // a = b = c: a wins; pa > pb = pc: b wins; c only when strictly nearest.
  uint8_t prev[2] = {10, 10};
  uint8_t row[2] = {0, 0};
  ASSERT_TRUE(UnfilterRow(kPaeth, row, prev, 2, 1));
  EXPECT_EQ(row[0], 10);  // a=0 b=10 c=0: b
  EXPECT_EQ(row[1], 10);  // a=10 b=10 c=10: a
  uint8_t prev2[8] = {0, 0, 0, 0, 50, 60, 70, 80};
  uint8_t row2[8] = {100, 110, 120, 130, 0, 0, 0, 0};
  uint8_t ref2[8];
  std::copy(row2, row2 + 8, ref2);
  UnfilterRow(kPaeth, row2, prev2, 8, 4);
  UnfilterRowRef(kPaeth, ref2, prev2, 8, 4);
  EXPECT_EQ(std::vector<uint8_t>(row2, row2 + 8), std::vector<uint8_t>(ref2, ref2 + 8));
}

TEST(PngRows, FilterThenUnfilterGivesTheRowBack) {
  std::mt19937 rng(99);
  for (int bpp : {1, 3, 4, 8}) {
    const size_t len = 40 * bpp;
    const auto prev = RandomBytes(len, rng, true);
    const auto raw = RandomBytes(len, rng, true);
    for (uint8_t filter = 0; filter <= 4; ++filter) {
      std::vector<uint8_t> row(len + 16);
      FilterRow(filter, raw.data(), prev.data(), row.data(), len, bpp);
      UnfilterRow(filter, row.data(), prev.data(), len, bpp);
      ASSERT_TRUE(std::equal(row.begin(), row.begin() + len, raw.begin()))
          << "filter " << int(filter) << " bpp " << bpp;
    }
  }
}

TEST(PngRows, ConvertersMatchReference) {
  std::mt19937 rng(7);
  for (int width = 0; width < 40; ++width) {
    const auto src = RandomBytes(size_t(width) * 4, rng, false);
    std::vector<uint8_t> a(width * 3 + 8, 0xEE), b(width * 3 + 8, 0xEE);
    std::vector<uint8_t> aa(width + 8, 0xEE), ab(width + 8, 0xEE);
    ConvertRgb8(src.data(), a.data(), nullptr, width);
    ConvertRgb8Ref(src.data(), b.data(), nullptr, width);
    ASSERT_EQ(a, b) << "rgb width " << width;
    ConvertRgba8(src.data(), a.data(), aa.data(), width);
    ConvertRgba8Ref(src.data(), b.data(), ab.data(), width);
    ASSERT_EQ(a, b) << "rgba width " << width;
    ASSERT_EQ(aa, ab);
  }
  // The reference itself: r g b a -> b g r and 255 - a.
  const uint8_t px[4] = {1, 2, 3, 200};
  uint8_t out[3], alpha[1];
  ConvertRgba8Ref(px, out, alpha, 1);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[2], 1);
  EXPECT_EQ(alpha[0], 55);
}

TEST(PngRows, Adam7PassGeometry) {
  int covered[13][11] = {};
  for (const PassInfo& p : kAdam7)
    for (int y = 0; y < PassExtent(11, p.y0, p.dy); ++y)
      for (int x = 0; x < PassExtent(13, p.x0, p.dx); ++x)
        ++covered[p.x0 + x * p.dx][p.y0 + y * p.dy];
  for (auto& col : covered)
    for (int c : col) EXPECT_EQ(c, 1);
  EXPECT_EQ(PassExtent(1, 4, 8), 0);
  EXPECT_EQ(PassExtent(5, 4, 8), 1);
}

TEST(PngRows, PlacePixelsWritesOnlyItsColumns) {
  for (int bits : {1, 4, 8, 16, 24}) {
    std::vector<uint8_t> dst(64, 0), src(64);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(0xFF);
    PlacePixels(src.data(), dst.data(), 3, bits, 2, 4);  // columns 2, 6, 10
    for (int x = 0; x < 14; ++x) {
      const size_t bit = size_t(x) * bits;
      const bool set = (dst[bit / 8] >> (bits < 8 ? 7 - bit % 8 : 0)) & 1;
      EXPECT_EQ(set, x == 2 || x == 6 || x == 10) << bits << " bits, column " << x;
    }
  }
}
