#include "slideshow/FramePlan.h"

#include <cmath>
#include <cstring>

namespace orv {

void TTransitionPlayer::Begin(const SlideFacts& facts, double nowMs, double pathMs,
                              TRandom& random) {
  const int slot = NextSlot();
  Slide& s = slides_[slot];
  s.facts = facts;
  s.startMs = nowMs;
  s.pathMs = pathMs > 0 && std::isfinite(pathMs) ? pathMs : 0;
  const RectF whole{0, 0, static_cast<double>(facts.pictureWidth),
                    static_cast<double>(facts.pictureHeight)};
  s.path = PanZoomPath{whole, whole};
  s.moves = false;
  if (style_ == TransitionStyle::kPanZoom && facts.picture) {
    s.path = MakePanZoomPath(facts.place, facts.pictureWidth, facts.pictureHeight,
                             facts.enlargeable, random);
    s.moves = s.pathMs > 0 && (s.path.from.left != s.path.to.left ||
                               s.path.from.top != s.path.to.top ||
                               s.path.from.right != s.path.to.right ||
                               s.path.from.bottom != s.path.to.bottom);
  }
  // Without a style there is nothing to fade: the slide is there at once.
  outgoing_ = style_ == TransitionStyle::kNone ? -1 : current_;
  current_ = slot;
  fade_start_ = nowMs;
}

void TTransitionPlayer::Reset() {
  current_ = outgoing_ = -1;
}

bool TTransitionPlayer::Fading(double nowMs) const {
  return current_ >= 0 && style_ != TransitionStyle::kNone && nowMs - fade_start_ < fade_ms_;
}

FrameLayer TTransitionPlayer::LayerOf(int slot, double nowMs, double opacity) const {
  const Slide& s = slides_[slot];
  FrameLayer l;
  l.slot = slot;
  l.opacity = opacity;
  l.picture = s.facts.picture;
  l.place = s.facts.place;
  const double t = s.pathMs > 0 ? (nowMs - s.startMs) / s.pathMs : 0;
  l.source = SourceAt(s.path, t);
  return l;
}

FramePlan TTransitionPlayer::Plan(double nowMs) const {
  FramePlan p;
  if (current_ < 0) return p;
  const bool fading = Fading(nowMs);
  if (fading && outgoing_ >= 0) p.layers[p.count++] = LayerOf(outgoing_, nowMs, 1);
  const double w = fading ? FadeWeight(nowMs - fade_start_, fade_ms_) : 1;
  p.layers[p.count++] = LayerOf(current_, nowMs, w);
  p.moving = fading;
  for (int i = 0; i < p.count; ++i) {
    const Slide& s = slides_[p.layers[i].slot];
    if (s.moves && nowMs - s.startMs < s.pathMs) p.moving = true;
  }
  return p;
}

bool TTransitionPlayer::SlotInUse(int slot, double nowMs) const {
  if (slot == current_) return true;
  return slot == outgoing_ && Fading(nowMs);
}

bool TopDownBgrx(const tk::TBitmap& bitmap, std::vector<uint32_t>& out) {
  out.clear();
  const int w = bitmap.Width(), h = bitmap.Height();
  const int bits = bitmap.BitCount();
  if (bitmap.Empty() || !bitmap.Bits() || (bits != 24 && bits != 32)) return false;
  out.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = bitmap.ScanLine(y);
    uint32_t* dst = out.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    if (bits == 32) {
      std::memcpy(dst, src, static_cast<size_t>(w) * 4);
      continue;
    }
    for (int x = 0; x < w; ++x, src += 3)
      dst[x] = uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16 | 0xFF000000u;
  }
  return true;
}

}  // namespace orv
