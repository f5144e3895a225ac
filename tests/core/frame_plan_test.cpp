// The frames a window draws between one slide and the next: which slides,
// how opaque, which part of the picture, and when frames stop moving.
#include "slideshow/FramePlan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace orv {
namespace {

SlideFacts Picture(int w, int h, RectF place, bool enlargeable = true) {
  SlideFacts f;
  f.picture = true;
  f.pictureWidth = w;
  f.pictureHeight = h;
  f.place = place;
  f.enlargeable = enlargeable;
  return f;
}

const RectF kPlace{100, 50, 1100, 800};

TEST(FramePlan, ACrossFadeDrawsTheOldSlideWholeAndTheNewOneRisingOverIt) {
  TTransitionPlayer player(TransitionStyle::kCrossFade, 1000);
  TRandom random;
  EXPECT_EQ(player.Plan(0).count, 0) << "nothing before the first slide";
  player.Begin(SlideFacts{}, 0, 5000, random);
  player.Begin(SlideFacts{}, 2000, 5000, random);  // the first fade is over
  struct Case {
    double ms;
    int count;
    double newOpacity;
    bool moving;
  } cases[] = {
      {2000, 2, 0.0, true}, {2250, 2, 0.15625, true}, {2500, 2, 0.5, true},
      {2750, 2, 0.84375, true}, {3000, 1, 1.0, false}, {9000, 1, 1.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    const FramePlan p = player.Plan(c.ms);
    ASSERT_EQ(p.count, c.count);
    EXPECT_EQ(p.moving, c.moving);
    const FrameLayer& top = p.layers[p.count - 1];
    EXPECT_EQ(top.slot, 1);
    EXPECT_DOUBLE_EQ(top.opacity, c.newOpacity);
    if (c.count == 2) {
      EXPECT_EQ(p.layers[0].slot, 0);
      EXPECT_DOUBLE_EQ(p.layers[0].opacity, 1.0);
    }
  }
  // The old slide's slot is free once its fade is over, never before.
  EXPECT_TRUE(player.SlotInUse(0, 2999));
  EXPECT_FALSE(player.SlotInUse(0, 3000));
  EXPECT_TRUE(player.SlotInUse(1, 3000));
  EXPECT_EQ(player.NextSlot(), 0);
}

TEST(FramePlan, TheNewSlidesWeightRisesWithoutAStepAndNeverFalls) {
  TTransitionPlayer player(TransitionStyle::kCrossFade, 700);
  TRandom random;
  player.Begin(SlideFacts{}, 0, 0, random);
  player.Begin(SlideFacts{}, 1000, 0, random);
  double last = -1;
  for (double ms = 990; ms <= 1800; ms += 3) {
    const FramePlan p = player.Plan(ms);
    const double w = p.layers[p.count - 1].opacity;
    EXPECT_GE(w, last) << ms;
    if (last >= 0) EXPECT_LE(w - last, 3 * 1.5 / 700) << ms;  // smoothstep's steepest slope
    last = w;
  }
  EXPECT_DOUBLE_EQ(last, 1.0);
}

TEST(FramePlan, TheFirstSlideFadesInOverTheBackgroundAndNoStyleCutsAtOnce) {
  TRandom random;
  TTransitionPlayer fade(TransitionStyle::kCrossFade, 400);
  fade.Begin(SlideFacts{}, 100, 0, random);
  FramePlan p = fade.Plan(300);
  ASSERT_EQ(p.count, 1);
  EXPECT_DOUBLE_EQ(p.layers[0].opacity, 0.5);

  TTransitionPlayer none(TransitionStyle::kNone, 400);
  none.Begin(SlideFacts{}, 100, 0, random);
  none.Begin(SlideFacts{}, 200, 0, random);
  p = none.Plan(200);
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(p.layers[0].slot, 1);
  EXPECT_DOUBLE_EQ(p.layers[0].opacity, 1.0);
  EXPECT_FALSE(p.moving);
  EXPECT_FALSE(none.SlotInUse(0, 200));
}

// A Begin before the last fade ended: the slide that was coming goes, the
// one before is no longer drawn, and slots never collide.
TEST(FramePlan, ABeginDuringAFadeFinishesItFirst) {
  TTransitionPlayer player(TransitionStyle::kCrossFade, 1000);
  TRandom random;
  player.Begin(SlideFacts{}, 0, 0, random);     // slot 0
  player.Begin(SlideFacts{}, 5000, 0, random);  // slot 1, fading
  EXPECT_EQ(player.NextSlot(), 0);
  player.Begin(SlideFacts{}, 5300, 0, random);  // slot 0 again
  const FramePlan p = player.Plan(5300);
  ASSERT_EQ(p.count, 2);
  EXPECT_EQ(p.layers[0].slot, 1);
  EXPECT_EQ(p.layers[1].slot, 0);
  EXPECT_DOUBLE_EQ(p.layers[1].opacity, 0.0);
  player.Reset();
  EXPECT_EQ(player.Plan(5300).count, 0);
  EXPECT_EQ(player.NextSlot(), 0);
}

TEST(FramePlan, PanAndZoomMovesOnlyPicturesThatMayBeEnlargedAndStaysInThem) {
  struct Case {
    const char* name;
    TransitionStyle style;
    SlideFacts facts;
    bool moves;
  } cases[] = {
      {"a large photo", TransitionStyle::kPanZoom, Picture(1150, 862, kPlace), true},
      {"one shown at its own size", TransitionStyle::kPanZoom, Picture(1000, 750, kPlace, false),
       false},
      {"the background alone", TransitionStyle::kPanZoom, SlideFacts{}, false},
      {"a cross-fade only", TransitionStyle::kCrossFade, Picture(1150, 862, kPlace), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTransitionPlayer player(c.style, 500);
    TRandom random;
    random.Seed(7);
    player.Begin(c.facts, 1000, 10000, random);
    RectF previous = player.Plan(1000).layers[0].source;
    bool moved = false;
    for (double ms = 1000; ms <= 12000; ms += 16.7) {
      const FramePlan p = player.Plan(ms);
      ASSERT_EQ(p.count, 1);
      const FrameLayer& l = p.layers[0];
      EXPECT_EQ(l.picture, c.facts.picture);
      EXPECT_DOUBLE_EQ(l.place.left, c.facts.place.left);
      EXPECT_GE(l.source.left, 0);
      EXPECT_GE(l.source.top, 0);
      EXPECT_LE(l.source.right, c.facts.pictureWidth);
      EXPECT_LE(l.source.bottom, c.facts.pictureHeight);
      // Sub-pixel steps: at 60 frames a second a 10 s path moves its edges
      // by well under a pixel a frame.
      EXPECT_LT(std::abs(l.source.left - previous.left), 0.5);
      EXPECT_LT(std::abs(l.source.right - previous.right), 0.5);
      if (l.source.left != previous.left || l.source.right != previous.right) moved = true;
      previous = l.source;
      // Frames move while the fade or the path runs, and stop after both.
      if (ms > 11100) EXPECT_FALSE(p.moving) << ms;
      if (c.moves && ms < 10900) EXPECT_TRUE(p.moving) << ms;
    }
    EXPECT_EQ(moved, c.moves);
  }
}

TEST(FramePlan, BitmapsBecomeTopDownRowsOf32Bits) {
  tk::TBitmap b24;
  b24.Allocate(tk::TPixelFormat::pf24bit, 3, 2);
  // Blue, green, red at the top left; the rest black.
  b24.ScanLine(0)[0] = 0x11;
  b24.ScanLine(0)[1] = 0x22;
  b24.ScanLine(0)[2] = 0x33;
  b24.ScanLine(1)[6] = 0x44;
  std::vector<uint32_t> out;
  ASSERT_TRUE(TopDownBgrx(b24, out));
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out[0], 0xFF332211u);
  EXPECT_EQ(out[5], 0xFF000044u);
  EXPECT_EQ(out[1], 0xFF000000u);

  tk::TBitmap b32;
  b32.Allocate(tk::TPixelFormat::pf32bit, 2, 2);
  b32.ScanLine(1)[4] = 0x7F;
  ASSERT_TRUE(TopDownBgrx(b32, out));
  EXPECT_EQ(out[3], 0x0000007Fu);

  tk::TBitmap b8, empty;
  b8.Allocate(tk::TPixelFormat::pf8bit, 2, 2);
  EXPECT_FALSE(TopDownBgrx(b8, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(TopDownBgrx(empty, out));
}

}  // namespace
}  // namespace orv
