#include "slideshow/Pboxex.h"

#include <utility>

#include "toolkit/Forms.h"

namespace orv {

TPaintBoxEx::TPaintBoxEx(tk::TForm* parent) : tk::TPaintBox(parent) {
  SetBounds(left_, top_, 105, 105);
}

// The form paints every control over its background in one back buffer, so
// an opaque box needs no style of its own: the mode only decides whether
// RectRepaint lets the parent erase.
void TPaintBoxEx::SetClearFlag(bool value) { clear_mode_ = value; }

RECT TPaintBoxEx::RepaintRect(int x1, int y1, int x2, int y2) const {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x1 < 0) x1 = 0;
  if (y1 < 0) y1 = 0;
  if (x2 > width_ - 1) x2 = width_ - 1;
  if (y2 > height_ - 1) y2 = height_ - 1;
  return RECT{x1 + left_, y1 + top_, x2 + left_, y2 + top_};
}

void TPaintBoxEx::RectRepaint(int x1, int y1, int x2, int y2) {
  if (!parent_ || !parent_->Handle()) return;
  RECT r = RepaintRect(x1, y1, x2, y2);
  parent_->InvalidateRect(r, clear_mode_);
  parent_->Update();
}

}  // namespace orv
