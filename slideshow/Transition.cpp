#include "slideshow/Transition.h"

#include <algorithm>
#include <cmath>

namespace orv {

namespace {

// 0 .. 1 inclusive, from the top bits of the generator (its low bits repeat
// after a few draws).
double Uniform(TRandom& random) { return random.Next() / 2147483647.0; }

// Exact at both ends, never outside [a, b] and monotone in s, so a path
// between two parts inside the picture stays inside it at every t.
double Between(double a, double b, double s) {
  if (s >= 1) return b;
  const double v = a + (b - a) * s;
  return std::min(std::max(v, std::min(a, b)), std::max(a, b));
}

RectF WholePicture(int width, int height) {
  return RectF{0, 0, static_cast<double>(std::max(width, 0)),
               static_cast<double>(std::max(height, 0))};
}

}  // namespace

double FadeWeight(double elapsedMs, double fadeMs) {
  if (!(fadeMs > 0)) return 1;
  const double x = elapsedMs / fadeMs;
  if (!(x > 0)) return 0;
  if (x >= 1) return 1;
  return x * x * (3 - 2 * x);
}

PanZoomPath MakePanZoomPath(const RectF& place, int pictureWidth, int pictureHeight,
                            bool enlargeable, TRandom& random) {
  const RectF whole = WholePicture(pictureWidth, pictureHeight);
  const double aspect = place.Width() / place.Height();
  if (!enlargeable || pictureWidth <= 0 || pictureHeight <= 0 || !(place.Width() > 0) ||
      !(place.Height() > 0) || !std::isfinite(aspect))
    return PanZoomPath{whole, whole};

  const double w = whole.right, h = whole.bottom;
  // The largest part of the place's shape that the picture holds: the whole
  // picture, or a sliver less where the layout rounded the place.
  double baseW = w, baseH = w / aspect;
  if (baseH > h) {
    baseH = h;
    baseW = std::min(w, h * aspect);
  }
  // The part at zoom z whose top left corner is at (u, v) of the room the
  // picture leaves it, so any u, v in 0 .. 1 keeps it inside.
  auto part = [&](double z, double u, double v) {
    const double pw = baseW / z, ph = baseH / z;
    RectF r;
    r.left = u * (w - pw);
    r.top = v * (h - ph);
    r.right = std::min(w, r.left + pw);
    r.bottom = std::min(h, r.top + ph);
    return r;
  };

  const double wideZoom = 1 + 0.05 * Uniform(random);
  const double closeZoom = kPanZoomMaxZoom - 0.05 * Uniform(random);
  const double u = Uniform(random), v = Uniform(random);
  const RectF wide = part(wideZoom, 0.5, 0.5);
  const RectF close = part(closeZoom, u, v);
  if (Uniform(random) < 0.5) return PanZoomPath{wide, close};  // zooms in
  return PanZoomPath{close, wide};                             // zooms out
}

RectF SourceAt(const PanZoomPath& path, double t) {
  const double s = t > 0 ? std::min(t, 1.0) : 0.0;  // NaN: the start
  return RectF{Between(path.from.left, path.to.left, s), Between(path.from.top, path.to.top, s),
               Between(path.from.right, path.to.right, s),
               Between(path.from.bottom, path.to.bottom, s)};
}

}  // namespace orv
