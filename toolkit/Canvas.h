// Drawing surface over an HDC: font, brush, pen and the few drawing calls
// the program needs. The canvas does not own the DC; it restores every
// object it selected when it is destroyed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "toolkit/Bitmap.h"
#include "toolkit/Graphics.h"
#include "toolkit/Win32Handles.h"

namespace tk {

// Resolves system colours (0x80000000 + n) to RGB; palette-index colours
// pass through as GDI understands them; clNone becomes black.
COLORREF ColorToRGB(TColor color);

// A GDI font made from a font description at the DC's vertical resolution.
HFONT CreateFontHandle(const TFont& font, HDC dc);

class TCanvas {
 public:
  explicit TCanvas(HDC dc);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  HDC Handle() const { return dc_; }

  void SetFont(const TFont& font);
  const TFont& Font() const { return font_; }
  // Changes only the colour used for text (no new font handle).
  void SetFontColor(TColor color);

  void SetBrushColor(TColor color);
  void SetBrushClear(bool clear);  // clear brush: text and shapes draw no background
  bool BrushClear() const { return brush_clear_; }
  void SetPenColor(TColor color);
  void SetPenClear(bool clear);
  void SetCopyMode(DWORD rop) { copy_mode_ = rop; }

  void FillRect(const RECT& r);
  void FrameRect(const RECT& r);
  int TextHeight(const std::string& text);
  int TextWidth(const std::string& text);
  // DrawTextA with the current font, text colour and brush mode.
  int DrawTextRect(const std::string& text, RECT& r, UINT format);
  // Stretches the bitmap into r; shrinking uses halftone smoothing.
  void StretchDraw(const RECT& r, const TBitmap& bitmap);
  void Draw(int x, int y, const TBitmap& bitmap);
  // Copies a rectangle of another canvas with the copy mode.
  void CopyRect(const RECT& dest, TCanvas& source, const RECT& sourceRect);

 private:
  void SelectFont();
  void SelectBrush();

  HDC dc_;
  int saved_;
  TFont font_;
  bool font_valid_ = false;
  ScopedGdiObject font_handle_;
  TColor brush_color_ = clWhite;
  bool brush_clear_ = false;
  ScopedGdiObject brush_handle_;
  TColor pen_color_ = clBlack;
  bool pen_clear_ = false;
  ScopedGdiObject pen_handle_;
  DWORD copy_mode_ = SRCCOPY;
};

// A memory DC with a bitmap's DIB section selected, for drawing into it.
class TBitmapCanvas {
 public:
  explicit TBitmapCanvas(TBitmap& bitmap);
  ~TBitmapCanvas();
  TCanvas& Canvas() { return *canvas_; }

 private:
  ScopedMemoryDc dc_;
  HGDIOBJ old_ = nullptr;
  std::unique_ptr<TCanvas> canvas_;
};

}  // namespace tk
