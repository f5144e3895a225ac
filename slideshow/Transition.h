// Geometry and timing of the change from one picture to the next: how far a
// cross-fade has come, and the slow pan and zoom a picture may make while it
// is up. Plain values, no drawing: the window that draws asks these for
// each frame. Window-free so it can be tested natively.
#pragma once

#include "slideshow/Random.h"

namespace orv {

// A rectangle in double precision. Whose coordinates it holds is said where
// it is used.
struct RectF {
  double left = 0, top = 0, right = 0, bottom = 0;
  double Width() const { return right - left; }
  double Height() const { return bottom - top; }
};

// The weight of the incoming picture `elapsedMs` into a fade of `fadeMs`:
// 0 at the start (and before it), 1 at the end and after it, rising without
// a step and starting and ending slowly (smoothstep), so the fade neither
// jumps in nor stops short. A fade of no length (fadeMs <= 0) is already
// over: 1.
double FadeWeight(double elapsedMs, double fadeMs);

// The deepest zoom of a path: the picture drawn 115 % of its place's size,
// cut to the place.
constexpr double kPanZoomMaxZoom = 1.15;

// One picture's pan and zoom: the part of the picture drawn into its place,
// from `from` at the path's start to `to` at its end. Both in the picture's
// own pixel coordinates (0 .. width, 0 .. height, y downwards), sub-pixel.
struct PanZoomPath {
  RectF from;
  RectF to;
};

// Chooses a path for a picture of pictureWidth x pictureHeight pixels whose
// whole bitmap the layout draws into `place` (any coordinates; only its
// shape counts). One end of the path is zoomed in by 10 to 15 % toward a
// random point of the picture, the other shows it whole or nearly so
// (100 to 105 %, centred); which end comes first is random, so the picture
// zooms in or out. Every part drawn has the place's shape, so nothing is
// stretched, and lies inside the picture, so nothing outside it shows.
//
// `enlargeable` false: the picture is shown at most at its own size, and a
// zoom would enlarge it past its pixels; the path is then the whole picture
// from start to end, and the picture is only faded. So is a picture or a
// place with no area. Uses `random` only for a path that moves.
PanZoomPath MakePanZoomPath(const RectF& place, int pictureWidth, int pictureHeight,
                            bool enlargeable, TRandom& random);

// The part of the picture drawn into the place at `t` of the path (0 its
// start, 1 its end; outside that the nearer end). It moves linearly, at one
// speed, so a path that outlasts a fade keeps drifting without a jolt.
RectF SourceAt(const PanZoomPath& path, double t);

}  // namespace orv
