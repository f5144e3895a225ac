#include "slideshow/LayoutMath.h"

#include <cfloat>

// Pixel positions truncate products of single-precision scales; they come
// out the same on every build only where intermediates are not kept in
// wider registers (x87). The 32-bit build is compiled for SSE2.
static_assert(FLT_EVAL_METHOD == 0, "build with SSE2 floating point (-msse2 -mfpmath=sse)");

namespace orv {

Margin ComputeMargin(int windowBorder, int clientWidth, int clientHeight) {
  Margin m;
  if (windowBorder >= 1 && windowBorder <= 100) {
    const double factor = windowBorder * 0.01 * 0.5;
    m.top = m.bottom = static_cast<int>(clientHeight * factor);
    m.left = m.right = static_cast<int>(clientWidth * factor);
  }
  return m;
}

SideSplit SplitSideBySide(int width) {
  SideSplit s;
  const int free = width - kCaptionGap;
  if (free > 0) {
    s.picture = static_cast<int>(free * 0.6);
    s.caption = static_cast<int>(free * 0.4);
  }
  return s;
}

StackSplit SplitStacked(int height, int lineHeight) {
  StackSplit s;
  const int unit = (height - kCaptionGap) / 100;
  s.picture = unit * 80;
  s.caption = unit * 20;
  if (lineHeight > s.caption) {
    s.picture -= lineHeight - s.caption;
    if (s.picture < 0) s.picture = 0;
    s.caption = lineHeight;
  }
  s.captionOffset = s.picture + kCaptionGap;
  return s;
}

IntRect FitRect(const IntRect& r, int W, int H) {
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  float s = 1.0f;
  if (w > W && h > H) {
    const float sx = static_cast<float>(W) / static_cast<float>(w);
    const float sy = static_cast<float>(H) / static_cast<float>(h);
    s = sx < sy ? sx : sy;
  } else if (w > W) {
    s = static_cast<float>(W) / static_cast<float>(w);
  } else if (h > H) {
    s = static_cast<float>(H) / static_cast<float>(h);
  }
  if (s > 1.0f) s = 1.0f;
  // The scale is single precision but the product is not: 1600 x (541/1600
  // as a float) must truncate to 540, not round up to 541 in float.
  auto scale = [s](int v) {
    return static_cast<int>(static_cast<double>(v) * static_cast<double>(s));
  };
  return IntRect{scale(r.left), scale(r.top), scale(r.right), scale(r.bottom)};
}

IntRect PlaceRect(const IntRect& r, const IntRect& b, TRandom& random) {
  IntRect out = r;
  const int pw = r.Width(), bw = b.Width();
  if (pw < bw) {
    const int x = random.Next() % (bw - pw);
    out.left = x;
    out.right = x + pw;
  }
  const int ph = r.Height(), bh = b.Height();
  if (ph < bh) {
    const int y = random.Next() % (bh - ph);
    out.top = y;
    out.bottom = y + ph;
  }
  return out;
}

}  // namespace orv
