#include "toolkit/Canvas.h"

#include <vector>

#include "toolkit/DibInfo.h"

namespace tk {

COLORREF ColorToRGB(TColor color) {
  if (color & 0x80000000u) return GetSysColor(static_cast<int>(color & 0xFF));
  if (color == clNone) return RGB(0, 0, 0);
  return static_cast<COLORREF>(color);
}

HFONT CreateFontHandle(const TFont& font, HDC dc) {
  LOGFONTA lf = {};
  int dpi = font.PixelsPerInch > 0 ? font.PixelsPerInch : dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dpi <= 0) dpi = 96;
  lf.lfHeight = -MulDiv(font.Size, dpi, 72);
  lf.lfWeight = (font.Style & fsBold) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = (font.Style & fsItalic) ? 1 : 0;
  lf.lfUnderline = (font.Style & fsUnderline) ? 1 : 0;
  lf.lfStrikeOut = (font.Style & fsStrikeOut) ? 1 : 0;
  lf.lfCharSet = font.CharSet;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH;
  lstrcpynA(lf.lfFaceName, font.Name.c_str(), LF_FACESIZE);
  return CreateFontIndirectA(&lf);
}

TCanvas::TCanvas(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}

TCanvas::~TCanvas() {
  // RestoreDC puts back the objects selected before us, so ours can go.
  RestoreDC(dc_, saved_);
}

void TCanvas::SetFont(const TFont& font) {
  if (font_valid_ && font == font_) return;
  font_ = font;
  font_valid_ = true;
  SelectFont();
}

void TCanvas::SetFontColor(TColor color) {
  font_.Color = color;
  SetTextColor(dc_, ColorToRGB(color));
}

void TCanvas::SelectFont() {
  ScopedGdiObject handle(CreateFontHandle(font_, dc_));
  if (handle) SelectObject(dc_, handle.Get());
  font_handle_ = std::move(handle);
  SetTextColor(dc_, ColorToRGB(font_.Color));
}

void TCanvas::SetBrushColor(TColor color) {
  brush_color_ = color;
  brush_clear_ = false;
  SelectBrush();
}

void TCanvas::SetBrushClear(bool clear) {
  brush_clear_ = clear;
  SelectBrush();
}

void TCanvas::SelectBrush() {
  if (brush_clear_) {
    SelectObject(dc_, GetStockObject(NULL_BRUSH));
    brush_handle_.Reset();
    SetBkMode(dc_, TRANSPARENT);
    return;
  }
  ScopedGdiObject brush(CreateSolidBrush(ColorToRGB(brush_color_)));
  if (brush) SelectObject(dc_, brush.Get());
  brush_handle_ = std::move(brush);
  SetBkMode(dc_, OPAQUE);
  SetBkColor(dc_, ColorToRGB(brush_color_));
}

void TCanvas::SetPenColor(TColor color) {
  pen_color_ = color;
  pen_clear_ = false;
  ScopedGdiObject pen(CreatePen(PS_SOLID, 1, ColorToRGB(color)));
  if (pen) SelectObject(dc_, pen.Get());
  pen_handle_ = std::move(pen);
}

void TCanvas::SetPenClear(bool clear) {
  pen_clear_ = clear;
  if (clear) {
    SelectObject(dc_, GetStockObject(NULL_PEN));
    pen_handle_.Reset();
  } else {
    SetPenColor(pen_color_);
  }
}

void TCanvas::FillRect(const RECT& r) {
  if (brush_clear_) return;
  ScopedGdiObject brush(CreateSolidBrush(ColorToRGB(brush_color_)));
  ::FillRect(dc_, &r, static_cast<HBRUSH>(brush.Get()));
}

void TCanvas::FrameRect(const RECT& r) {
  if (pen_clear_) return;
  ScopedGdiObject brush(CreateSolidBrush(ColorToRGB(pen_color_)));
  ::FrameRect(dc_, &r, static_cast<HBRUSH>(brush.Get()));
}

int TCanvas::TextHeight(const std::string& text) {
  SIZE size = {};
  GetTextExtentPoint32A(dc_, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cy;
}

int TCanvas::TextWidth(const std::string& text) {
  SIZE size = {};
  GetTextExtentPoint32A(dc_, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

int TCanvas::DrawTextRect(const std::string& text, RECT& r, UINT format) {
  // DrawText may write the shortened text back when asked for ellipsis
  // with DT_MODIFYSTRING; we never ask, but give it a private copy anyway.
  std::vector<char> buf(text.begin(), text.end());
  buf.resize(text.size() + 8, '\0');
  return ::DrawTextA(dc_, buf.data(), static_cast<int>(text.size()), &r, format);
}

void TCanvas::StretchDraw(const RECT& r, const TBitmap& bitmap) {
  if (bitmap.Empty()) return;
  bitmap.Flush();
  DibInfo info;
  FillDibInfo(info, bitmap.Width(), bitmap.Height(), bitmap.PixelFormat(), bitmap.Palette());
  const int w = r.right - r.left, h = r.bottom - r.top;
  const bool shrinking = w < bitmap.Width() || h < bitmap.Height();
  int oldMode = SetStretchBltMode(dc_, shrinking ? HALFTONE : COLORONCOLOR);
  POINT oldOrg;
  SetBrushOrgEx(dc_, 0, 0, &oldOrg);
  StretchDIBits(dc_, r.left, r.top, w, h, 0, 0, bitmap.Width(), bitmap.Height(), bitmap.Bits(),
                info.Get(), DIB_RGB_COLORS, copy_mode_);
  SetBrushOrgEx(dc_, oldOrg.x, oldOrg.y, nullptr);
  SetStretchBltMode(dc_, oldMode);
}

void TCanvas::Draw(int x, int y, const TBitmap& bitmap) {
  RECT r = {x, y, x + bitmap.Width(), y + bitmap.Height()};
  StretchDraw(r, bitmap);
}

void TCanvas::CopyRect(const RECT& dest, TCanvas& source, const RECT& sourceRect) {
  int oldMode = SetStretchBltMode(dc_, COLORONCOLOR);
  StretchBlt(dc_, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top,
             source.Handle(), sourceRect.left, sourceRect.top, sourceRect.right - sourceRect.left,
             sourceRect.bottom - sourceRect.top, copy_mode_);
  SetStretchBltMode(dc_, oldMode);
}

TBitmapCanvas::TBitmapCanvas(TBitmap& bitmap) : dc_(CreateCompatibleDC(nullptr)) {
  if (dc_ && bitmap.Handle()) old_ = SelectObject(dc_.Get(), static_cast<HBITMAP>(bitmap.Handle()));
  canvas_ = std::make_unique<TCanvas>(dc_.Get());
}

TBitmapCanvas::~TBitmapCanvas() {
  canvas_.reset();
  GdiFlush();
  if (old_) SelectObject(dc_.Get(), old_);
}

}  // namespace tk
