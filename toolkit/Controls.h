// Windowless controls that live inside a form: bounds, visibility,
// alignment and a paint method. The form paints them in creation order
// (z-order) through one off-screen bitmap and routes mouse input to the
// topmost visible one under the cursor.
//
// Coordinates: Left/Top/Width/Height are in the parent form's client
// coordinates; Paint receives a canvas whose origin is the control's
// top-left corner and whose clip is the control's bounds.
// Ownership: controls are members of their form class; a control registers
// with its form on construction and leaves it on destruction.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "toolkit/Bitmap.h"
#include "toolkit/Canvas.h"
#include "toolkit/Graphics.h"

namespace tk {

class TForm;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

using TNotifyEvent = std::function<void(class TControl* sender)>;
using TMouseMoveEvent = std::function<void(class TControl* sender, int x, int y)>;

class TControl {
 public:
  explicit TControl(TForm* parent);
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  TForm* Parent() const { return parent_; }
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  RECT BoundsRect() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }
  RECT ClientRect() const { return RECT{0, 0, width_, height_}; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  TAlign Align() const { return align_; }
  void SetAlign(TAlign a);
  // Follows the parent's whole client area without taking part in the
  // alignment (anchored to all four sides).
  void SetFillParent(bool v);
  bool FillParent() const { return fill_parent_; }

  void Invalidate();
  virtual void Paint(TCanvas& canvas);

  TNotifyEvent OnClick;
  TMouseMoveEvent OnMouseMove;

  // Called by the form: only while visible.
  virtual void Click();
  virtual void MouseMove(int x, int y);

 protected:
  TForm* parent_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  bool fill_parent_ = false;
  TAlign align_ = alNone;

  friend class TForm;
};

// Shows a bitmap, centred or at the top-left corner.
class TImage : public TControl {
 public:
  using TControl::TControl;
  TBitmap& Picture() { return picture_; }
  void PictureChanged() { Invalidate(); }
  bool Center = false;
  void Paint(TCanvas& canvas) override;

 private:
  TBitmap picture_;
};

// A rectangle with brush and pen; both clear draws nothing.
class TShape : public TControl {
 public:
  using TControl::TControl;
  TColor BrushColor = clWhite;
  bool BrushClear = false;
  TColor PenColor = clBlack;
  bool PenClear = false;
  void Paint(TCanvas& canvas) override;
};

// A surface whose drawing comes from its OnPaint event.
class TPaintBox : public TControl {
 public:
  using TControl::TControl;
  std::function<void(TPaintBox* sender, TCanvas& canvas)> OnPaint;
  void Paint(TCanvas& canvas) override;
};

// The toolkit's label: caption, font, colour, alignment, layout, word wrap,
// accelerator prefix, transparency.
class TCustomLabel : public TControl {
 public:
  explicit TCustomLabel(TForm* parent);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& s);
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& f);
  TColor Color() const { return color_; }
  void SetColor(TColor c);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout l);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool v);
  bool ShowAccelChar() const { return show_accel_char_; }
  void SetShowAccelChar(bool v);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v);

  // Height of one line of `text` in the label's font.
  int TextHeight(const std::string& text) const;
  void Paint(TCanvas& canvas) override;

 protected:
  std::string caption_;
  TFont font_;
  TColor color_ = clBtnFace;
  TAlignment alignment_ = taLeftJustify;
  TTextLayout layout_ = tlTop;
  bool word_wrap_ = false;
  bool show_accel_char_ = true;
  bool transparent_ = false;
};

}  // namespace tk
