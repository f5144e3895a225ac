// GDI palette helpers over the codec's colour tables.
#pragma once

#include <windows.h>

#include "imaging/Sfunc.h"
#include "toolkit/Graphics.h"

namespace orv {

// GDI palette helpers. The caller owns the palette CreatePaletteHandle
// returns (DeleteObject).
HPALETTE CreatePaletteHandle(const TGLDPalRGB* table, int count);
// Up to 256 entries into `table` (reserved 0); the count, 0 or less when
// the palette has none.
int GetPaletteColorTable(HPALETTE palette, TGLDPalRGB* table);
// Colour value of entry `index`, or -1 when it cannot be read.
tk::TColor GetPaletteColor(HPALETTE palette, int index);
// Nearest of the first 256 entries, or -1 without entries.
int GetNearestPaletteIndex(HPALETTE palette, tk::TColor color);
tk::TColor GetNearestPaletteColor(HPALETTE palette, tk::TColor color);

}  // namespace orv
