// The picture surface: a paint box that is opaque by default (invalidating
// it does not erase what lies beneath) with a rectangle-repaint helper.
#pragma once

#include <windows.h>

#include "toolkit/Controls.h"

namespace orv {

class TPaintBoxEx : public tk::TPaintBox {
 public:
  explicit TPaintBoxEx(tk::TForm* parent);
  bool ClearMode() const { return clear_mode_; }
  void SetClearFlag(bool value);
  // Repaints X1,Y1..X2,Y2 of the box (box coordinates, any corner order)
  // at once; the parent erases beneath only in clear mode.
  void RectRepaint(int x1, int y1, int x2, int y2);
  // The parent-relative rectangle RectRepaint invalidates.
  RECT RepaintRect(int x1, int y1, int x2, int y2) const;
  HPALETTE GetPalette() const { return nullptr; }

 private:
  bool clear_mode_ = false;
};

}  // namespace orv
