// What one frame of a window shows while pictures fade and pan: which of
// the window's two slides are drawn, how opaque, and which part of each
// picture goes into its place. A slide is what the window shows after one
// change of the cycle (a picture with its caption, or the background
// alone). Plain values, no drawing, so every frame's arithmetic is tested
// natively and the drawing code only follows the plan.
#pragma once

#include <cstdint>
#include <vector>

#include "slideshow/Random.h"
#include "slideshow/Transition.h"
#include "toolkit/Bitmap.h"

namespace orv {

// A slide as the window made it: its scene (background, caption and, when
// the picture is not drawn on its own, the picture) and, when it is, the
// picture's bitmap size and its place in the window.
struct SlideFacts {
  bool picture = false;
  int pictureWidth = 0, pictureHeight = 0;  // the bitmap's pixels
  RectF place;                              // client pixels
  // False for a picture shown at most at its own size: it is never zoomed.
  bool enlargeable = false;
};

// One slide in a frame, drawn over what is under it with `opacity`.
struct FrameLayer {
  int slot = 0;  // 0 or 1: which of the window's two slides
  double opacity = 1;
  bool picture = false;
  RectF source;  // picture pixels drawn into `place`
  RectF place;
};

struct FramePlan {
  // Bottom first. No layer: the window shows its background colour.
  FrameLayer layers[2];
  int count = 0;
  // Whether the next frame differs from this one (a fade or a pan runs).
  bool moving = false;
};

enum class TransitionStyle { kNone, kCrossFade, kPanZoom };

// The fades and paths of one window. Each Begin makes a new slide the one
// shown; it fades in over the slide before it in `fadeMs`, and its picture
// pans and zooms along its path over `pathMs` when the style asks for it.
// Slides live in two slots, so at most two are alive: the one fading out
// and the one fading in.
class TTransitionPlayer {
 public:
  TTransitionPlayer(TransitionStyle style, double fadeMs) : style_(style), fade_ms_(fadeMs) {}

  TransitionStyle Style() const { return style_; }
  double FadeMs() const { return fade_ms_; }

  // The slot the next Begin fills: the window puts the new slide's pixels
  // there first. It never is the slot of the slide on screen.
  int NextSlot() const { return current_ < 0 ? 0 : 1 - current_; }
  // A new slide, in NextSlot(), from `nowMs` on. A Begin while an earlier
  // fade still runs finishes that fade at once: the slide that was coming
  // is the one that goes. The first slide of a window fades in over its
  // background colour. `random` chooses the pan-and-zoom path.
  void Begin(const SlideFacts& facts, double nowMs, double pathMs, TRandom& random);
  // Forgets every slide (the window's surface was lost): the next Begin is
  // a first one.
  void Reset();

  FramePlan Plan(double nowMs) const;
  // Whether a slot's slide still shows (an outgoing slide no longer does
  // once its fade has ended), so the window may free the other.
  bool SlotInUse(int slot, double nowMs) const;
  int CurrentSlot() const { return current_; }

 private:
  struct Slide {
    SlideFacts facts;
    PanZoomPath path;
    double startMs = 0;
    double pathMs = 0;
    bool moves = false;
  };
  FrameLayer LayerOf(int slot, double nowMs, double opacity) const;
  bool Fading(double nowMs) const;

  TransitionStyle style_;
  double fade_ms_;
  Slide slides_[2];
  int current_ = -1;   // slot of the slide shown (or fading in)
  int outgoing_ = -1;  // slot of the slide fading out, -1 when none
  double fade_start_ = 0;
};

// A bitmap's pixels as a drawing surface takes them: top-down rows of
// 32-bit blue, green, red and an unused byte, `Width()` pixels to a row.
// 24- and 32-bit bitmaps only (what the decoder and GDI give); false, and
// nothing in `out`, for any other.
bool TopDownBgrx(const tk::TBitmap& bitmap, std::vector<uint32_t>& out);

}  // namespace orv
