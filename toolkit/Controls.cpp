#include "toolkit/Controls.h"

#include "toolkit/Forms.h"

namespace tk {

TControl::TControl(TForm* parent) : parent_(parent) {
  if (parent_) parent_->RegisterControl(this);
}

TControl::~TControl() {
  if (parent_) parent_->UnregisterControl(this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  Invalidate();
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Invalidate();
  if (parent_ && align_ != alNone) parent_->Realign();
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  if (!v) Invalidate();
  visible_ = v;
  if (parent_ && align_ != alNone) parent_->Realign();
  if (v) Invalidate();
}

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Invalidate();
}

void TControl::SetAlign(TAlign a) {
  if (a == align_) return;
  align_ = a;
  if (parent_) parent_->Realign();
}

void TControl::SetFillParent(bool v) {
  fill_parent_ = v;
  if (parent_) parent_->Realign();
}

void TControl::Invalidate() {
  if (parent_ && visible_ && width_ > 0 && height_ > 0)
    parent_->InvalidateRect(BoundsRect(), false);
}


void TControl::Paint(TCanvas&) {}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::MouseMove(int x, int y) {
  if (OnMouseMove) OnMouseMove(this, x, y);
}

void TImage::Paint(TCanvas& canvas) {
  if (picture_.Empty()) return;
  int x = 0, y = 0;
  if (Center) {
    x = (width_ - picture_.Width()) / 2;
    y = (height_ - picture_.Height()) / 2;
  }
  canvas.Draw(x, y, picture_);
}

void TShape::Paint(TCanvas& canvas) {
  RECT r = ClientRect();
  if (!BrushClear) {
    canvas.SetBrushColor(BrushColor);
    canvas.FillRect(r);
  }
  if (!PenClear) {
    canvas.SetPenColor(PenColor);
    canvas.FrameRect(r);
  }
}

void TPaintBox::Paint(TCanvas& canvas) {
  if (OnPaint) OnPaint(this, canvas);
}

TCustomLabel::TCustomLabel(TForm* parent) : TControl(parent) {
  if (parent) font_ = parent->Font;
}

void TCustomLabel::SetCaption(const std::string& s) {
  if (s == caption_) return;
  caption_ = s;
  Invalidate();
}

void TCustomLabel::SetFont(const TFont& f) {
  if (f == font_) return;
  font_ = f;
  Invalidate();
}

void TCustomLabel::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  Invalidate();
}

void TCustomLabel::SetAlignment(TAlignment a) {
  if (a == alignment_) return;
  alignment_ = a;
  Invalidate();
}

void TCustomLabel::SetLayout(TTextLayout l) {
  if (l == layout_) return;
  layout_ = l;
  Invalidate();
}

void TCustomLabel::SetWordWrap(bool v) {
  if (v == word_wrap_) return;
  word_wrap_ = v;
  Invalidate();
}

void TCustomLabel::SetShowAccelChar(bool v) {
  if (v == show_accel_char_) return;
  show_accel_char_ = v;
  Invalidate();
}

void TCustomLabel::SetTransparent(bool v) {
  if (v == transparent_) return;
  transparent_ = v;
  Invalidate();
}

int TCustomLabel::TextHeight(const std::string& text) const {
  WindowDc screen(nullptr);
  TCanvas canvas(screen.Get());
  canvas.SetFont(font_);
  return canvas.TextHeight(text);
}

void TCustomLabel::Paint(TCanvas& canvas) {
  RECT r = ClientRect();
  if (!transparent_) {
    canvas.SetBrushColor(color_);
    canvas.FillRect(r);
  }
  canvas.SetBrushClear(true);
  canvas.SetFont(font_);
  UINT flags = DT_EXPANDTABS;
  if (alignment_ == taCenter) flags |= DT_CENTER;
  if (alignment_ == taRightJustify) flags |= DT_RIGHT;
  if (word_wrap_) flags |= DT_WORDBREAK;
  if (!show_accel_char_) flags |= DT_NOPREFIX;
  canvas.DrawTextRect(caption_, r, flags);
}

}  // namespace tk
