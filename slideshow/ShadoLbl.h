// The program's label: caption with optional drop shadow and highlight
// copies, background gradient, per-character text gradation and ellipsis,
// painted through an off-screen bitmap when opaque.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "slideshow/Gradient.h"
#include "toolkit/Canvas.h"
#include "toolkit/Controls.h"

namespace orv {

// Settings of one shadow or highlight copy.
class TShadow {
 public:
  bool Visible() const { return visible_; }
  tk::TColor Color() const { return color_; }
  int OffsetLeft() const { return offset_left_; }
  int OffsetTop() const { return offset_top_; }
  void SetShadowVisible(bool v);
  void SetShadowColor(tk::TColor c);
  void SetShadowLeft(int v);
  void SetShadowTop(int v);
  // Copies the four values and raises OnChange once.
  void Assign(const TShadow& source);
  std::function<void(TShadow* sender)> OnChange;

 private:
  void Changed();
  bool visible_ = true;
  tk::TColor color_ = tk::clSilver;
  int offset_left_ = 1;
  int offset_top_ = 1;
};

enum TEllipsis { elNone, elEnd, elPath };
enum TTextGradation { tgNone, tg2Colors, tg3Colors };

// Red, green and blue bytes of a colour, system colours resolved.
void GetRGB(tk::TColor color, uint8_t& r, uint8_t& g, uint8_t& b);
Rgb ColorToRgbValue(tk::TColor color);
// Fills a 24-bit bitmap with a gradient from c1 to c2.
void GradBitmap(tk::TBitmap& bitmap, tk::TColor c1, tk::TColor c2, bool vertical);
// Paints such a gradient into a rectangle of a canvas through a small band
// bitmap stretched over it.
void GradRect(tk::TCanvas& canvas, const RECT& rect, tk::TColor c1, tk::TColor c2, bool vertical);

class TShadowLabel : public tk::TCustomLabel {
 public:
  explicit TShadowLabel(tk::TForm* parent);

  TEllipsis Ellipsis() const { return ellipsis_; }
  void SetEllipsis(TEllipsis v);
  bool Flickerless = true;
  bool GradateVert() const { return gradate_vert_; }
  void SetGradateVert(bool v);
  bool Gradation() const { return gradation_; }
  void SetGradation(bool v);
  tk::TColor GradationColor() const { return gradation_color_; }
  void SetGradationColor(tk::TColor c);
  TShadow& Highlight() { return highlight_; }
  TShadow& Shadow() { return shadow_; }
  void SetHighlight(const TShadow* source);
  void SetShadow(const TShadow* source);
  TTextGradation TextGradation() const { return text_gradation_; }
  void SetTextGradation(TTextGradation v);
  tk::TColor TextGradationColor() const { return text_gradation_color_; }
  void SetTextGradationColor(tk::TColor c);
  tk::TColor TextMidColor() const { return text_mid_color_; }
  void SetTextMidColor(tk::TColor c);

  // The DrawTextA format flags the label's settings give.
  UINT FormatFlags() const;
  void Paint(tk::TCanvas& canvas) override;

 private:
  void DrawGradientText(tk::TCanvas& canvas, RECT& r, UINT flags, tk::TColor start, tk::TColor end,
                        const std::string& text);

  TEllipsis ellipsis_ = elNone;
  bool gradate_vert_ = false;
  bool gradation_ = false;
  tk::TColor gradation_color_ = tk::clBlue;
  TShadow highlight_;
  TShadow shadow_;
  TTextGradation text_gradation_ = tgNone;
  tk::TColor text_gradation_color_ = tk::clMaroon;
  tk::TColor text_mid_color_ = tk::clNavy;
};

}  // namespace orv
