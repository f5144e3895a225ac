#include "slideshow/ShadoLbl.h"

#include "toolkit/Forms.h"

namespace orv {

using tk::TColor;

void TShadow::Changed() {
  if (OnChange) OnChange(this);
}

void TShadow::SetShadowVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Changed();
}

void TShadow::SetShadowColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  Changed();
}

void TShadow::SetShadowLeft(int v) {
  if (v == offset_left_) return;
  offset_left_ = v;
  Changed();
}

void TShadow::SetShadowTop(int v) {
  if (v == offset_top_) return;
  offset_top_ = v;
  Changed();
}

void TShadow::Assign(const TShadow& source) {
  visible_ = source.visible_;
  color_ = source.color_;
  offset_left_ = source.offset_left_;
  offset_top_ = source.offset_top_;
  Changed();
}

void GetRGB(TColor color, uint8_t& r, uint8_t& g, uint8_t& b) {
  const COLORREF c = tk::ColorToRGB(color);
  r = GetRValue(c);
  g = GetGValue(c);
  b = GetBValue(c);
}

Rgb ColorToRgbValue(TColor color) {
  uint8_t r, g, b;
  GetRGB(color, r, g, b);
  return Rgb{r, g, b};
}

void GradBitmap(tk::TBitmap& bitmap, TColor c1, TColor c2, bool vertical) {
  GradBitmapRgb(bitmap, ColorToRgbValue(c1), ColorToRgbValue(c2), vertical);
}

void GradRect(tk::TCanvas& canvas, const RECT& rect, TColor c1, TColor c2, bool vertical) {
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return;
  tk::TBitmap band;
  if (vertical)
    band.Allocate(tk::TPixelFormat::pf24bit, 1, h);
  else
    band.Allocate(tk::TPixelFormat::pf24bit, w, h / 20 + 1);
  GradBitmap(band, c1, c2, vertical);
  canvas.SetCopyMode(SRCCOPY);
  canvas.StretchDraw(rect, band);
}

TShadowLabel::TShadowLabel(tk::TForm* parent) : tk::TCustomLabel(parent) {
  highlight_.SetShadowColor(tk::clWhite);
  highlight_.SetShadowLeft(-1);
  highlight_.SetShadowTop(-1);
  auto changed = [this](TShadow*) { Invalidate(); };
  highlight_.OnChange = changed;
  shadow_.OnChange = changed;
}

void TShadowLabel::SetEllipsis(TEllipsis v) {
  if (v == ellipsis_) return;
  ellipsis_ = v;
  Invalidate();
}

void TShadowLabel::SetGradateVert(bool v) {
  if (v == gradate_vert_) return;
  gradate_vert_ = v;
  Invalidate();
}

void TShadowLabel::SetGradation(bool v) {
  if (v == gradation_) return;
  gradation_ = v;
  Invalidate();
}

void TShadowLabel::SetGradationColor(TColor c) {
  if (c == gradation_color_) return;
  gradation_color_ = c;
  Invalidate();
}

void TShadowLabel::SetHighlight(const TShadow* source) {
  if (!source) return;
  highlight_.Assign(*source);
  Invalidate();
}

void TShadowLabel::SetShadow(const TShadow* source) {
  if (!source) return;
  shadow_.Assign(*source);
  Invalidate();
}

void TShadowLabel::SetTextGradation(TTextGradation v) {
  if (v == text_gradation_) return;
  text_gradation_ = v;
  Invalidate();
}

void TShadowLabel::SetTextGradationColor(TColor c) {
  if (c == text_gradation_color_) return;
  text_gradation_color_ = c;
  if (text_gradation_ != tgNone) Invalidate();
}

void TShadowLabel::SetTextMidColor(TColor c) {
  if (c == text_mid_color_) return;
  text_mid_color_ = c;
  if (text_gradation_ == tg3Colors) Invalidate();
}

UINT TShadowLabel::FormatFlags() const {
  UINT flags = alignment_ == tk::taCenter         ? DT_CENTER
               : alignment_ == tk::taRightJustify ? DT_RIGHT
                                                  : DT_LEFT;
  flags |= DT_EXPANDTABS;
  if (word_wrap_) flags |= DT_WORDBREAK;
  if (!show_accel_char_) flags |= DT_NOPREFIX;
  if (ellipsis_ == elEnd) flags |= DT_END_ELLIPSIS;
  if (ellipsis_ == elPath) flags |= DT_PATH_ELLIPSIS;
  return flags;
}

void TShadowLabel::DrawGradientText(tk::TCanvas& canvas, RECT& r, UINT flags, TColor start,
                                    TColor end, const std::string& text) {
  const auto pieces = GradientPieces(text, ColorToRgbValue(start), ColorToRgbValue(end));
  if (pieces.size() == 1) {
    canvas.SetFontColor(start);
    canvas.DrawTextRect(text, r, flags);
    r.left += canvas.TextWidth(text);
    return;
  }
  TEXTMETRICA tm = {};
  GetTextMetricsA(canvas.Handle(), &tm);
  for (const TextPiece& p : pieces) {
    canvas.SetFontColor(RGB(p.color.r, p.color.g, p.color.b));
    const std::string piece = text.substr(p.offset, p.length);
    r.right = r.left + canvas.TextWidth(piece) - tm.tmOverhang;
    canvas.DrawTextRect(piece, r, flags);
    r.left = r.right;
  }
}

void TShadowLabel::Paint(tk::TCanvas& target) {
  std::string text = caption_;
  if (text.empty() || (show_accel_char_ && text == "&")) text += ' ';
  const UINT flags = FormatFlags();

  // Off-screen painting only for an opaque label: a transparent one must
  // show what lies beneath it.
  const bool offscreen = Flickerless && !transparent_;
  tk::TBitmap buffer;
  std::unique_ptr<tk::TBitmapCanvas> bufferCanvas;
  tk::TCanvas* canvas = &target;
  if (offscreen && width_ > 0 && height_ > 0) {
    buffer.Allocate(tk::TPixelFormat::pf24bit, width_, height_);
    bufferCanvas = std::make_unique<tk::TBitmapCanvas>(buffer);
    canvas = &bufferCanvas->Canvas();
  }

  RECT r = ClientRect();
  if (!transparent_) {
    if (!gradation_) {
      canvas->SetBrushColor(color_);
      canvas->FillRect(r);
    } else if (bufferCanvas) {
      buffer.Flush();
      GradBitmap(buffer, gradation_color_, color_, gradate_vert_);
    } else {
      GradRect(*canvas, r, gradation_color_, color_, gradate_vert_);
    }
  }
  canvas->SetFont(font_);
  canvas->SetBrushClear(true);

  RECT calc = r;
  canvas->DrawTextRect(text, calc, flags | DT_CALCRECT);
  const int h = calc.bottom - calc.top;
  r = ClientRect();
  if (layout_ == tk::tlCenter) OffsetRect(&r, 0, (height_ - h) / 2);
  if (layout_ == tk::tlBottom) OffsetRect(&r, 0, height_ - h);

  RECT shadowRect = r, highlightRect = r;
  OffsetRect(&shadowRect, shadow_.OffsetLeft(), shadow_.OffsetTop());
  OffsetRect(&highlightRect, highlight_.OffsetLeft(), highlight_.OffsetTop());

  TColor shadowColor = shadow_.Color(), highlightColor = highlight_.Color(),
         textColor = font_.Color;
  if (!enabled_) {
    shadowColor = tk::clGray;
    highlightColor = tk::clBtnHighlight;
    textColor = tk::clBtnShadow;
  }
  // The shadow lies under the highlight, both under the text.
  if (shadow_.Visible()) {
    canvas->SetFontColor(shadowColor);
    canvas->DrawTextRect(text, shadowRect, flags);
  }
  if (highlight_.Visible()) {
    canvas->SetFontColor(highlightColor);
    canvas->DrawTextRect(text, highlightRect, flags);
  }

  const int chars = CountChars(text);
  if (text_gradation_ != tgNone && chars > 1) {
    const LONG left = r.left;
    if (text_gradation_ == tg2Colors || chars == 2) {
      DrawGradientText(*canvas, r, flags, textColor, text_gradation_color_, text);
    } else {
      const size_t n = ThreeColorSplit(text);
      DrawGradientText(*canvas, r, flags, textColor, text_mid_color_, text.substr(0, n));
      const std::string rest = text.substr(n);
      if (IsSingleChar(rest))
        DrawGradientText(*canvas, r, flags, text_gradation_color_, text_gradation_color_, rest);
      else
        DrawGradientText(*canvas, r, flags, text_mid_color_, text_gradation_color_, rest);
    }
    r.left = left;
  } else {
    canvas->SetFontColor(textColor);
    canvas->DrawTextRect(text, r, flags);
  }

  if (bufferCanvas) {
    RECT all = ClientRect();
    target.SetCopyMode(SRCCOPY);
    target.CopyRect(all, *canvas, all);
  }
}

}  // namespace orv
