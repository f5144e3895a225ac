#include "slideshow/Transition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using orv::MakePanZoomPath;
using orv::PanZoomPath;
using orv::RectF;
using orv::SourceAt;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Show(const RectF& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

bool Same(const RectF& a, const RectF& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Draws the same value every time, to reach the ends of what a path may
// choose.
class FixedRandom : public orv::TRandom {
 public:
  explicit FixedRandom(int value) : value_(value) {}
  int Next() override { return value_; }

 private:
  int value_;
};

TEST(FadeWeight, EndsMiddleAndLengthsOfNothing) {
  struct Case {
    double elapsed, fade, weight;
  };
  const Case cases[] = {
      {0, 1000, 0},     {-250, 1000, 0},      {1000, 1000, 1},      {4000, 1000, 1},
      {500, 1000, 0.5}, {250, 1000, 0.15625}, {750, 1000, 0.84375}, {100, 200, 0.5},
      {0, 0, 1},        {50, 0, 1},           {0, -10, 1},          {kNaN, 1000, 0},
      {500, kNaN, 1},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(orv::FadeWeight(c.elapsed, c.fade), c.weight) << c.elapsed << " of " << c.fade;
}

TEST(FadeWeight, RisesSmoothlyFromNothingToAll) {
  for (double fade : {200.0, 1000.0, 5000.0}) {
    const double step = fade / 4000;
    double before = orv::FadeWeight(-step, fade);
    double steepest = 0;
    for (double e = 0; e <= fade * 1.1; e += step) {
      const double w = orv::FadeWeight(e, fade);
      ASSERT_GE(w, before) << e << " of " << fade;
      ASSERT_GE(w, 0);
      ASSERT_LE(w, 1);
      steepest = std::max(steepest, w - before);
      before = w;
    }
    EXPECT_EQ(before, 1);
    // No step: never more than smoothstep's steepest slope (1.5) allows.
    EXPECT_LE(steepest, 1.5 * step / fade + 1e-12) << fade;
    // Slow at both ends: a hundredth in, the weight has hardly moved.
    EXPECT_LT(orv::FadeWeight(fade / 100, fade), 0.001);
    EXPECT_GT(orv::FadeWeight(fade * 99 / 100, fade), 0.999);
  }
}

struct Shape {
  const char* name;
  RectF place;
  int width, height;
};

const Shape kShapes[] = {
    {"same shape, shrunk", {0, 0, 800, 600}, 1600, 1200},
    {"rounded place, taller", {10, 20, 1448, 1099}, 4000, 3000},
    {"rounded place, wider", {-1920, 0, -481, 1079}, 1440, 1080},
    {"portrait", {300, 0, 900, 900}, 1200, 1800},
    {"panorama", {0, 400, 1920, 640}, 8000, 1000},
    {"a few pixels, enlarged", {0, 0, 300, 200}, 3, 2},
    {"sub-pixel place", {0.25, 0.5, 640.75, 480.125}, 2048, 1536},
};

// The largest part of the place's shape inside the picture: what zoom 1
// shows.
void BaseOf(const Shape& s, double& w, double& h) {
  const double aspect = s.place.Width() / s.place.Height();
  w = s.width;
  h = w / aspect;
  if (h > s.height) {
    h = s.height;
    w = h * aspect;
  }
}

TEST(PanZoomPath, EverySampleIsInsideThePictureOfThePlacesShapeAndMovesWithoutSteps) {
  constexpr int kSteps = 2000;
  for (const Shape& s : kShapes) {
    const double aspect = s.place.Width() / s.place.Height();
    double baseW, baseH;
    BaseOf(s, baseW, baseH);
    const double dt = 1.0 / kSteps;
    const double most = std::max(s.width, s.height);
    int zoomsIn = 0, zoomsOut = 0;
    for (uint32_t seed = 1; seed <= 200; ++seed) {
      orv::TRandom random(seed * 2654435761u);
      const PanZoomPath path = MakePanZoomPath(s.place, s.width, s.height, true, random);
      const std::string what = std::string(s.name) + ", seed " + std::to_string(seed);
      RectF before = SourceAt(path, 0);
      // Each edge keeps one direction all the way.
      int direction[4] = {0, 0, 0, 0};
      for (int i = 0; i <= kSteps; ++i) {
        const RectF r = SourceAt(path, i * dt);
        ASSERT_GE(r.left, 0) << what << " at " << i << Show(r);
        ASSERT_GE(r.top, 0) << what << " at " << i << Show(r);
        ASSERT_LE(r.right, s.width) << what << " at " << i << Show(r);
        ASSERT_LE(r.bottom, s.height) << what << " at " << i << Show(r);
        ASSERT_GT(r.Width(), 0) << what;
        ASSERT_NEAR(r.Width() / r.Height() / aspect, 1, 1e-9) << what << " at " << i << Show(r);
        const double zoom = baseW / r.Width();
        ASSERT_GE(zoom, 1 - 1e-12) << what << " at " << i;
        ASSERT_LE(zoom, orv::kPanZoomMaxZoom + 1e-9) << what << " at " << i;
        const double moved[4] = {r.left - before.left, r.top - before.top, r.right - before.right,
                                 r.bottom - before.bottom};
        for (int e = 0; e < 4; ++e) {
          // An edge crosses at most the picture over the path.
          ASSERT_LE(std::fabs(moved[e]), most * dt * (1 + 1e-9) + 1e-9) << what << " at " << i;
          const int sign = moved[e] > 1e-12 ? 1 : (moved[e] < -1e-12 ? -1 : 0);
          if (sign == 0) continue;
          ASSERT_NE(sign, -direction[e]) << what << " turns back at " << i << ", edge " << e;
          direction[e] = sign;
        }
        before = r;
      }
      const double zoomStart = baseW / path.from.Width(), zoomEnd = baseW / path.to.Width();
      // One end close, the other wide and centred on the picture.
      const double close = std::max(zoomStart, zoomEnd), wide = std::min(zoomStart, zoomEnd);
      EXPECT_GE(close, 1.10 - 1e-9) << what;
      EXPECT_LE(wide, 1.05 + 1e-9) << what;
      const RectF& wideEnd = zoomStart < zoomEnd ? path.from : path.to;
      EXPECT_NEAR((wideEnd.left + wideEnd.right) / 2, s.width / 2.0, 1e-9 * most) << what;
      EXPECT_NEAR((wideEnd.top + wideEnd.bottom) / 2, s.height / 2.0, 1e-9 * most) << what;
      (zoomStart < zoomEnd ? zoomsIn : zoomsOut) += 1;
    }
    // Both ways happen.
    EXPECT_GT(zoomsIn, 20) << s.name;
    EXPECT_GT(zoomsOut, 20) << s.name;
  }
}

TEST(PanZoomPath, TimeOutsideThePathIsItsNearerEnd) {
  orv::TRandom random(7);
  const PanZoomPath path = MakePanZoomPath({0, 0, 1024, 768}, 2048, 1536, true, random);
  EXPECT_TRUE(Same(SourceAt(path, 0), path.from));
  EXPECT_TRUE(Same(SourceAt(path, -3), path.from));
  EXPECT_TRUE(Same(SourceAt(path, kNaN), path.from));
  EXPECT_TRUE(Same(SourceAt(path, 1), path.to));
  EXPECT_TRUE(Same(SourceAt(path, 12), path.to));
  EXPECT_FALSE(Same(path.from, path.to));
}

// The ends of the choice: every draw at its lowest gives a zoom in from the
// whole picture to the deepest zoom at the top left corner; at its highest
// a zoom out from the shallowest close end at the bottom right to 105 %.
TEST(PanZoomPath, TheChoicesReachTheirEnds) {
  const double w = 1600, h = 1200;
  FixedRandom low(0);
  PanZoomPath path = MakePanZoomPath({0, 0, 800, 600}, 1600, 1200, true, low);
  EXPECT_TRUE(Same(path.from, RectF{0, 0, w, h})) << Show(path.from);
  EXPECT_NEAR(path.to.left, 0, 1e-9);
  EXPECT_NEAR(path.to.top, 0, 1e-9);
  EXPECT_NEAR(path.to.right, w / 1.15, 1e-9);
  EXPECT_NEAR(path.to.bottom, h / 1.15, 1e-9);

  FixedRandom high(2147483647);
  path = MakePanZoomPath({0, 0, 800, 600}, 1600, 1200, true, high);
  EXPECT_NEAR(path.from.right, w, 1e-9);
  EXPECT_NEAR(path.from.bottom, h, 1e-9);
  EXPECT_NEAR(path.from.Width(), w / 1.10, 1e-9);
  EXPECT_NEAR(path.to.Width(), w / 1.05, 1e-9);
  EXPECT_NEAR(path.to.left, (w - w / 1.05) / 2, 1e-9);
}

TEST(PanZoomPath, SeedsChooseDifferentPathsAndOneSeedTheSamePath) {
  const RectF place{0, 0, 1280, 720};
  std::vector<PanZoomPath> paths;
  for (uint32_t seed : {1u, 2u, 3u, 1000u, 0xDEADBEEFu}) {
    orv::TRandom a(seed), b(seed);
    const PanZoomPath p = MakePanZoomPath(place, 3840, 2160, true, a);
    const PanZoomPath q = MakePanZoomPath(place, 3840, 2160, true, b);
    EXPECT_TRUE(Same(p.from, q.from) && Same(p.to, q.to)) << seed;
    for (const PanZoomPath& other : paths)
      EXPECT_FALSE(Same(p.from, other.from) && Same(p.to, other.to)) << seed;
    paths.push_back(p);
  }
  // One generator, two pictures in a row: two paths.
  orv::TRandom one(42);
  const PanZoomPath first = MakePanZoomPath(place, 3840, 2160, true, one);
  const PanZoomPath second = MakePanZoomPath(place, 3840, 2160, true, one);
  EXPECT_FALSE(Same(first.from, second.from) && Same(first.to, second.to));
}

// A picture that would be enlarged past its pixels, or a picture or place
// with nothing in it, stays whole and still, and the show's random
// sequence is left as it was.
TEST(PanZoomPath, WhatMayNotBeEnlargedStaysWholeAndStill) {
  struct Case {
    const char* name;
    RectF place;
    int width, height;
    bool enlargeable;
    RectF whole;
  };
  const Case cases[] = {
      {"own size", {100, 50, 740, 530}, 640, 480, false, {0, 0, 640, 480}},
      {"smaller than its place", {0, 0, 1920, 1080}, 300, 200, false, {0, 0, 300, 200}},
      {"shrunk, told not to", {0, 0, 800, 600}, 1600, 1200, false, {0, 0, 1600, 1200}},
      {"no picture", {0, 0, 800, 600}, 0, 0, true, {0, 0, 0, 0}},
      {"negative size", {0, 0, 800, 600}, -5, 300, true, {0, 0, 0, 300}},
      {"flat place", {0, 10, 800, 10}, 1600, 1200, true, {0, 0, 1600, 1200}},
      {"inverted place", {800, 0, 0, 600}, 1600, 1200, true, {0, 0, 1600, 1200}},
      {"place of NaN", {0, 0, kNaN, 600}, 1600, 1200, true, {0, 0, 1600, 1200}},
      {"endless place",
       {0, 0, std::numeric_limits<double>::infinity(), 600},
       1600,
       1200,
       true,
       {0, 0, 1600, 1200}},
  };
  for (const Case& c : cases) {
    orv::TRandom random(99), untouched(99);
    const PanZoomPath path = MakePanZoomPath(c.place, c.width, c.height, c.enlargeable, random);
    for (double t : {-1.0, 0.0, 0.001, 0.25, 0.5, 0.999, 1.0, 2.0})
      EXPECT_TRUE(Same(SourceAt(path, t), c.whole))
          << c.name << " at " << t << Show(SourceAt(path, t));
    EXPECT_EQ(random.Next(), untouched.Next()) << c.name;
  }
}

}  // namespace
