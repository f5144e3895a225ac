// The small live sample of the slideshow screen on the page "表示設定１":
// background colour or stretched background picture, the margin left free
// around the picture area (outlined with an inverting pen) and the caption
// font's face name in that font, at its real size.
//
// The sample is a child window (WindowBorderPanel) of a dialog page. Its
// windowless controls are drawn bottom to top: BGImage, Shape1, the four
// spacers, ScreenFontLabel. Rectangles are in the panel's client pixels.
#pragma once

#include <windows.h>

#include "slideshow/ShadoLbl.h"
#include "toolkit/Forms.h"

namespace orv {

// The picture stretched over the whole control, aspect ratio not kept.
class TStretchImage : public tk::TControl {
 public:
  using TControl::TControl;
  tk::TBitmap& Picture() { return picture_; }
  void Paint(tk::TCanvas& canvas) override;

 private:
  tk::TBitmap picture_;
};

// A transparent rectangle whose one-pixel outline inverts what is below,
// so it shows over any colour or picture.
class TInvertShape : public tk::TControl {
 public:
  using TControl::TControl;
  void Paint(tk::TCanvas& canvas) override;
};

class TLayoutSample : public tk::TForm {
 public:
  // Client size at 96 DPI; the real panel is this scaled by the DPI.
  static constexpr int kWidth96 = 233, kHeight96 = 209;

  // A child of `parent` at (x, y) with the client size for `dpi`.
  TLayoutSample(HWND parent, int x, int y, int dpi);
  ~TLayoutSample() override;

  // The margin percentage; outside 1..100 nothing changes.
  void SetSampleBorder(int margin);

  TStretchImage BGImage;
  TInvertShape Shape1;
  tk::TControl TopBevel;
  tk::TControl BottomBevel;
  tk::TControl RightBevel;
  tk::TControl LeftBevel;
  TShadowLabel ScreenFontLabel;

 protected:
  const char* ClassName() const override { return "TLayoutSample"; }
  void CreateParams(tk::TCreateParams& params) override;

 private:
  HWND parent_;
  int x_, y_, width_, height_;
};

}  // namespace orv
