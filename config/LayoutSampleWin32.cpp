#include "config/LayoutSampleWin32.h"

#include "config/ConfigValues.h"

namespace orv {

void TStretchImage::Paint(tk::TCanvas& canvas) {
  if (picture_.Empty()) return;
  canvas.StretchDraw(ClientRect(), picture_);
}

void TInvertShape::Paint(tk::TCanvas& canvas) {
  const HDC dc = canvas.Handle();
  const int oldRop = SetROP2(dc, R2_NOT);
  const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
  Rectangle(dc, 0, 0, width_, height_);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  SetROP2(dc, oldRop);
}

TLayoutSample::TLayoutSample(HWND parent, int x, int y, int dpi)
    : BGImage(this),
      Shape1(this),
      TopBevel(this),
      BottomBevel(this),
      RightBevel(this),
      LeftBevel(this),
      ScreenFontLabel(this),
      parent_(parent),
      x_(x),
      y_(y),
      width_(MulDiv(kWidth96, dpi, 96)),
      height_(MulDiv(kHeight96, dpi, 96)) {
  SetColor(cl3DDkShadow);
  BGImage.SetFillParent(true);
  BGImage.SetVisible(false);
  // Thicknesses as designed, until a margin in range is set.
  TopBevel.SetBounds(0, 0, 0, MulDiv(33, dpi, 96));
  BottomBevel.SetBounds(0, 0, 0, MulDiv(50, dpi, 96));
  RightBevel.SetBounds(0, 0, MulDiv(50, dpi, 96), 0);
  LeftBevel.SetBounds(0, 0, MulDiv(50, dpi, 96), 0);
  TopBevel.SetAlign(tk::alTop);
  BottomBevel.SetAlign(tk::alBottom);
  RightBevel.SetAlign(tk::alRight);
  LeftBevel.SetAlign(tk::alLeft);
  Shape1.SetAlign(tk::alClient);
  ScreenFontLabel.SetAlign(tk::alClient);
  ScreenFontLabel.SetTransparent(true);
  ScreenFontLabel.SetAlignment(tk::taCenter);
  ScreenFontLabel.SetLayout(tk::tlCenter);
  ScreenFontLabel.SetShowAccelChar(false);
  ScreenFontLabel.SetEllipsis(elNone);
  ScreenFontLabel.SetGradation(false);
  ScreenFontLabel.SetTextGradation(tgNone);
  ScreenFontLabel.Shadow().SetShadowVisible(false);
  ScreenFontLabel.Highlight().SetShadowVisible(false);
}

TLayoutSample::~TLayoutSample() { DestroyForm(); }

void TLayoutSample::CreateParams(tk::TCreateParams& params) {
  tk::TForm::CreateParams(params);
  params.Style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  params.WndParent = parent_;
  params.X = x_;
  params.Y = y_;
  params.Width = width_;
  params.Height = height_;
}

void TLayoutSample::SetSampleBorder(int margin) {
  SampleBorder b{};
  if (!SampleBorderFor(margin, ClientWidth(), ClientHeight(), b)) return;
  TopBevel.SetHeight(b.topBottom);
  BottomBevel.SetHeight(b.topBottom);
  LeftBevel.SetWidth(b.leftRight);
  RightBevel.SetWidth(b.leftRight);
  Realign();
  Invalidate();
}

}  // namespace orv
