#include "config/CooldlgRules.h"

namespace orv {

uint32_t BrowseFlags(TSelectFolderOptions options) {
  static const uint32_t kFlags[] = {0x1000, 0x2000, 0x4000, 0x0002, 0x0010, 0x0008, 0x0001};
  uint32_t flags = 0;
  for (unsigned i = 0; i < sizeof kFlags / sizeof kFlags[0]; ++i)
    if (options & (1u << i)) flags |= kFlags[i];
  return flags;
}

void DialogPosition(const IntRect& monitor, int width, int height, int& x, int& y) {
  x = monitor.left + (monitor.Width() - width) / 2;
  y = monitor.top + (monitor.Height() - height) / 3;
  // A dialog larger than its monitor (a grown picker at a high DPI on a
  // small screen) keeps its title bar on the screen, so it can still be
  // moved and closed; it then overhangs to the right and bottom only.
  if (x < monitor.left) x = monitor.left;
  if (y < monitor.top) y = monitor.top;
}

bool ResizeChild(IntRect& r, int cx, int cy, int dw, int dh) {
  bool changed = false;
  if (r.left < cx && cx < r.right) {
    r.right += dw;
    changed = true;
  } else if (r.left >= cx) {
    r.left += dw;
    r.right += dw;
    changed = true;
  }
  if (r.top < cy && cy < r.bottom) {
    r.bottom += dh;
    changed = true;
  } else if (r.top >= cy) {
    r.top += dh;
    r.bottom += dh;
    changed = true;
  }
  return changed;
}

}  // namespace orv
