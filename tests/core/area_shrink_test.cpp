// The row-by-row area shrink a big photo goes through while it decodes:
// its result against the exact area mean worked out in doubles, flat
// pictures kept exactly, rows handed back when they are complete.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "imaging/AreaShrink.h"

namespace {

using orv::TAreaShrink;
using Picture = std::vector<uint8_t>;  // rows of w pixels, three bytes each

// The exact mean of the source area under output pixel (x, y), channel c:
// source pixel sx covers [sx, sx + 1) of the source, output pixel x
// covers [x * sw / dw, (x + 1) * sw / dw).
double AreaMean(const Picture& src, int sw, int sh, int dw, int dh, int x, int y, int c) {
  const double x0 = double(x) * sw / dw, x1 = double(x + 1) * sw / dw;
  const double y0 = double(y) * sh / dh, y1 = double(y + 1) * sh / dh;
  double sum = 0;
  for (int sy = int(y0); sy < sh && sy < y1; ++sy) {
    const double wy = std::min(y1, sy + 1.0) - std::max(y0, double(sy));
    for (int sx = int(x0); sx < sw && sx < x1; ++sx) {
      const double wx = std::min(x1, sx + 1.0) - std::max(x0, double(sx));
      sum += wx * wy * src[(size_t(sy) * sw + sx) * 3 + c];
    }
  }
  return sum / ((x1 - x0) * (y1 - y0));
}

// Pushes every row; the output rows in the order they came, and for each
// source row whether it completed one.
Picture ShrinkAll(const Picture& src, int sw, int sh, int dw, int dh,
                  TAreaShrink::Code code = TAreaShrink::Code::kBest,
                  std::vector<int>* completedAt = nullptr) {
  TAreaShrink shrink(sw, sh, dw, dh, code);
  Picture out;
  for (int y = 0; y < sh; ++y)
    if (const uint8_t* row = shrink.Push(src.data() + size_t(y) * sw * 3)) {
      out.insert(out.end(), row, row + size_t(dw) * 3);
      if (completedAt) completedAt->push_back(y);
    }
  return out;
}

Picture Noise(int w, int h, unsigned seed) {
  std::mt19937 random(seed);
  Picture p(size_t(w) * h * 3);
  for (uint8_t& v : p) v = uint8_t(random() & 0xFF);
  return p;
}

TEST(AreaShrink, EachPixelIsTheMeanOfTheAreaItCovers) {
  struct Case {
    int sw, sh, dw, dh;
  } cases[] = {
      {2250, 3, 1620, 2},  // the 24 MP photo's eighth into a 1080p box, per row
      {8, 8, 4, 4},        // whole pixels, 2 x 2 each
      {9, 7, 4, 3},        // fractions both ways
      {17, 9, 3, 2},
      {100, 5, 1, 1},      // everything into one pixel
      {5, 100, 5, 7},      // one side kept
      {7, 7, 7, 7},        // nothing to shrink
      {1000, 2, 999, 1},   // a pixel less: almost every column spills
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh);
    const Picture src = Noise(c.sw, c.sh, unsigned(c.sw * 31 + c.sh));
    const Picture out = ShrinkAll(src, c.sw, c.sh, c.dw, c.dh);
    ASSERT_EQ(out.size(), size_t(c.dw) * c.dh * 3);
    // The plain C++ that builds without vector code run gives the same
    // bytes.
    EXPECT_TRUE(ShrinkAll(src, c.sw, c.sh, c.dw, c.dh, TAreaShrink::Code::kPortable) == out);
    double worst = 0, total = 0;
    for (int y = 0; y < c.dh; ++y)
      for (int x = 0; x < c.dw; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          const double want = AreaMean(src, c.sw, c.sh, c.dw, c.dh, x, y, ch);
          const double off = std::fabs(out[(size_t(y) * c.dw + x) * 3 + ch] - want);
          worst = std::max(worst, off);
          total += off;
        }
    // Rounding to whole levels gives up to half a level, a quarter on
    // average; weights in 1/256 (rows) and 1/16384 (columns) a little more.
    EXPECT_LE(worst, 1.25);
    EXPECT_LE(total / (c.dw * c.dh * 3), 0.35);
  }
}

TEST(AreaShrink, AFlatPictureStaysExactlyFlat) {
  for (int level : {0, 1, 127, 254, 255})
    for (const auto& s : std::vector<std::vector<int>>{{2250, 150, 1620, 108},
                                                       {641, 479, 3, 2},
                                                       {13, 11, 12, 10}}) {
      SCOPED_TRACE(testing::Message() << level << " " << s[0] << "x" << s[1]);
      const Picture src(size_t(s[0]) * s[1] * 3, uint8_t(level));
      for (auto code : {TAreaShrink::Code::kBest, TAreaShrink::Code::kPortable}) {
        const Picture out = ShrinkAll(src, s[0], s[1], s[2], s[3], code);
        ASSERT_EQ(out.size(), size_t(s[2]) * s[3] * 3);
        for (uint8_t v : out) ASSERT_EQ(v, level);
      }
    }
}

TEST(AreaShrink, ARowIsHandedBackAsSoonAsTheSourceRowsItCoversHaveCome) {
  struct Case {
    int sh, dh;
    std::vector<int> completedAt;  // the source rows that complete an output row
  } cases[] = {
      {8, 4, {1, 3, 5, 7}},
      {3, 2, {1, 2}},  // row 1 is split between both outputs
      {5, 5, {0, 1, 2, 3, 4}},
      {10, 1, {9}},
      {7, 3, {2, 4, 6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sh << " -> " << c.dh);
    std::vector<int> at;
    const Picture src = Noise(4, c.sh, 7);
    ShrinkAll(src, 4, c.sh, 3, c.dh, TAreaShrink::Code::kBest, &at);
    EXPECT_EQ(at, c.completedAt);
  }
  // Rows beyond the picture add nothing and complete nothing.
  TAreaShrink shrink(2, 2, 1, 1);
  const uint8_t white[6] = {255, 255, 255, 255, 255, 255}, black[6] = {};
  EXPECT_EQ(shrink.Push(white), nullptr);
  const uint8_t* row = shrink.Push(white);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row[0], 255);
  EXPECT_EQ(shrink.Push(black), nullptr);
  EXPECT_EQ(shrink.RowsDone(), 1);
}

TEST(AreaShrink, OnlyShrinkingToSomethingIsAccepted) {
  struct Case {
    int sw, sh, dw, dh;
  } bad[] = {{10, 10, 11, 10}, {10, 10, 10, 11}, {10, 10, 0, 5}, {10, 10, 5, 0}, {0, 0, 0, 0},
             {10, 10, -1, 5}};
  for (const Case& c : bad)
    EXPECT_THROW(TAreaShrink(c.sw, c.sh, c.dw, c.dh), std::invalid_argument)
        << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
}

}  // namespace
