#include "slideshow/Layout.h"

#include "toolkit/Canvas.h"

namespace orv {

CLayout::~CLayout() {
  if (box_) box_->OnPaint = nullptr;
}

void CLayout::SetPictureBox(TPaintBoxEx* box) {
  if (box_) box_->OnPaint = nullptr;
  box_ = box;
  if (box_) box_->OnPaint = [this](tk::TPaintBox*, tk::TCanvas& canvas) { PaintPicture(canvas); };
}

void CLayout::SetPicture(const tk::TBitmap* picture) {
  SetPicture(picture, picture ? picture->Width() : 0, picture ? picture->Height() : 0);
}

void CLayout::SetPicture(const tk::TBitmap* picture, int width, int height) {
  picture_ = picture;
  picture_width_ = width;
  picture_height_ = height;
  drawn_ = false;
  scaled_.Clear();
}

void CLayout::Arrange(int kind, int top, int left, int width, int height) {
  switch (kind) {
    case lkPictureOnly:
      if (box_) {
        box_->SetAlign(tk::alClient);
        box_->SetWidth(width);
        box_->SetHeight(height);
      }
      break;
    case lkCaptionBelow: {
      if (!box_ || !label_) break;
      box_->SetBounds(left, top, width, box_->Height());
      label_->SetBounds(left, label_->Top(), width, label_->Height());
      const StackSplit split = SplitStacked(height, label_->TextHeight(kCaptionSampleText));
      box_->SetHeight(split.picture);
      label_->SetHeight(split.caption);
      label_->SetTop(top + split.captionOffset);
      break;
    }
    case lkCaptionLeft:
    case lkCaptionRight: {
      if (!box_ || !label_) break;
      if (kind == lkCaptionLeft) {
        label_->SetAlign(tk::alLeft);
        box_->SetAlign(tk::alRight);
      } else {
        box_->SetAlign(tk::alLeft);
        label_->SetAlign(tk::alRight);
      }
      box_->SetHeight(height);
      label_->SetHeight(height);
      const SideSplit split = SplitSideBySide(width);
      box_->SetWidth(split.picture);
      label_->SetWidth(split.caption);
      break;
    }
    default:
      break;
  }
}

void CLayout::Show(bool visible) {
  if (!visible) {
    if (label_) label_->Hide();
    if (box_) box_->Hide();
    drawn_ = false;
    return;
  }
  if (label_) {
    label_->SetCaption(text_);
    label_->Show();
  }
  if (box_) box_->Show();
  if (!box_ || !picture_) return;

  // The picture's own size decides its place: a bitmap decoded smaller
  // only changes how many pixels are stretched into it.
  IntRect r{0, 0, picture_width_, picture_height_};
  if (shrink_) r = FitRect(r, box_->Width(), box_->Height());
  const IntRect b{0, 0, box_->Width(), box_->Height()};
  r = PlaceRect(r, b, random_);
  picture_rect_ = r;

  scaled_.Clear();
  if (!picture_->Empty() && (r.Width() < picture_->Width() || r.Height() < picture_->Height()) &&
      r.Width() > 0 && r.Height() > 0) {
    scaled_.Allocate(tk::TPixelFormat::pf24bit, r.Width(), r.Height());
    tk::TBitmapCanvas canvas(scaled_);
    canvas.Canvas().StretchDraw(RECT{0, 0, r.Width(), r.Height()}, *picture_);
  }
  drawn_ = true;
  box_->Invalidate();
}

void CLayout::PaintPicture(tk::TCanvas& canvas) {
  if (!drawn_ || !picture_ || picture_->Empty()) return;
  const RECT r{picture_rect_.left, picture_rect_.top, picture_rect_.right, picture_rect_.bottom};
  canvas.StretchDraw(r, scaled_.Empty() ? *picture_ : scaled_);
}

}  // namespace orv
