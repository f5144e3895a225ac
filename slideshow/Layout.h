// Places the picture box and the caption label inside the margin and draws
// the picture. The controls are the window's; the layout only points at
// them. The drawn picture is kept (scaled once) so every repaint of the box
// paints it again into the stored rectangle.
#pragma once

#include <string>

#include "slideshow/LayoutMath.h"
#include "slideshow/Pboxex.h"
#include "slideshow/Random.h"
#include "slideshow/ShadoLbl.h"
#include "toolkit/Bitmap.h"

namespace orv {

class IInternalLayouter {
 public:
  virtual ~IInternalLayouter() = default;
  virtual void Arrange(int kind, int top, int left, int width, int height) = 0;
  virtual void Show(bool visible) = 0;
};

class CLayout : public IInternalLayouter {
 public:
  explicit CLayout(TRandom& random) : random_(random) {}
  ~CLayout() override;

  void SetPictureBox(TPaintBoxEx* box);
  void SetCaptionLabel(TShadowLabel* label) { label_ = label; }
  void SetShrink(bool shrink) { shrink_ = shrink; }
  void SetText(const std::string& text) { text_ = text; }
  // Not owned; the window keeps it alive until the next SetPicture.
  void SetPicture(const tk::TBitmap* picture);
  // A picture decoded smaller than it is (`width` x `height`, its own
  // size): it is laid out at its own size, as any other, and the smaller
  // bitmap stretched into that place.
  void SetPicture(const tk::TBitmap* picture, int width, int height);

  void Arrange(int kind, int top, int left, int width, int height) override;
  void Show(bool visible) override;

  // Where the picture was last drawn, in box coordinates.
  const IntRect& PictureRect() const { return picture_rect_; }

 private:
  void PaintPicture(tk::TCanvas& canvas);

  TRandom& random_;
  TPaintBoxEx* box_ = nullptr;
  TShadowLabel* label_ = nullptr;
  bool shrink_ = false;
  IntRect picture_rect_;
  std::string text_;
  const tk::TBitmap* picture_ = nullptr;
  int picture_width_ = 0, picture_height_ = 0;
  // The picture at its drawn size when it had to be shrunk: smoothing a
  // large photo once, not on every repaint.
  tk::TBitmap scaled_;
  bool drawn_ = false;
};

}  // namespace orv
