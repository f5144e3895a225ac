// Portable graphic values: colours and the font description.
#pragma once

#include <cstdint>
#include <string>

namespace tk {

// 0x00BBGGRR; 0x80000000 + n is system colour n; a top byte of 0x01 marks a
// palette index in the low byte.
using TColor = uint32_t;

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF,
                 clNone = 0x1FFFFFFF;
constexpr TColor clSystemColor = 0x80000000;
constexpr TColor clMenu = clSystemColor + 4, clWindow = clSystemColor + 5,
                 clWindowText = clSystemColor + 8, clBtnFace = clSystemColor + 15,
                 clBtnShadow = clSystemColor + 16, clBtnHighlight = clSystemColor + 20;

inline uint8_t RedOf(TColor c) { return static_cast<uint8_t>(c); }
inline uint8_t GreenOf(TColor c) { return static_cast<uint8_t>(c >> 8); }
inline uint8_t BlueOf(TColor c) { return static_cast<uint8_t>(c >> 16); }
inline TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
  return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// What a font is, not a GDI handle: the Win32 side makes the HFONT.
struct TFont {
  std::string Name = "ＭＳ Ｐゴシック";
  uint8_t CharSet = 128;  // SHIFTJIS_CHARSET
  int Size = 9;           // points
  TColor Color = clWindowText;
  uint8_t Style = 0;  // TFontStyle bits
  // DPI the size in points is turned into pixels with; 0 takes the device
  // context's. A window on a monitor of its own DPI sets it; nothing stores
  // it, but it changes what is drawn, so it takes part in comparisons.
  int PixelsPerInch = 0;

  bool operator==(const TFont& o) const {
    return Name == o.Name && CharSet == o.CharSet && Size == o.Size && Color == o.Color &&
           Style == o.Style && PixelsPerInch == o.PixelsPerInch;
  }
  bool operator!=(const TFont& o) const { return !(*this == o); }
};

}  // namespace tk
