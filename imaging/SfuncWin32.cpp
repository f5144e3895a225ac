// The palette helpers that need GDI palette handles.
#include <vector>

#include "imaging/SfuncWin32.h"

namespace orv {

HPALETTE CreatePaletteHandle(const TGLDPalRGB* table, int count) {
  if (count < 0) count = 0;
  if (count > 256) count = 256;
  // LOGPALETTE declares one entry; the rest follow it in the same block.
  std::vector<uint8_t> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * 256);
  LOGPALETTE* logPalette = reinterpret_cast<LOGPALETTE*>(block.data());
  logPalette->palVersion = 0x300;
  logPalette->palNumEntries = static_cast<WORD>(count);
  for (int i = 0; i < count; ++i) {
    PALETTEENTRY& e = logPalette->palPalEntry[i];
    e.peRed = table[i].Red;
    e.peGreen = table[i].Green;
    e.peBlue = table[i].Blue;
    e.peFlags = 0;
  }
  return CreatePalette(logPalette);
}

namespace {
int ReadEntries(HPALETTE palette, PALETTEENTRY* entries) {
  if (!palette) return 0;
  const UINT count = GetPaletteEntries(palette, 0, 256, entries);
  return static_cast<int>(count);
}
}  // namespace

int GetPaletteColorTable(HPALETTE palette, TGLDPalRGB* table) {
  PALETTEENTRY entries[256];
  const int count = ReadEntries(palette, entries);
  for (int i = 0; i < count; ++i) {
    table[i].Red = entries[i].peRed;
    table[i].Green = entries[i].peGreen;
    table[i].Blue = entries[i].peBlue;
    table[i].Reserved = 0;
  }
  return count;
}

tk::TColor GetPaletteColor(HPALETTE palette, int index) {
  PALETTEENTRY entry;
  if (!palette || index < 0 || GetPaletteEntries(palette, static_cast<UINT>(index), 1, &entry) != 1)
    return static_cast<tk::TColor>(-1);
  return tk::RGBColor(entry.peRed, entry.peGreen, entry.peBlue);
}

int GetNearestPaletteIndex(HPALETTE palette, tk::TColor color) {
  PALETTEENTRY entries[256];
  const int count = ReadEntries(palette, entries);
  if (count <= 0) return -1;
  return GetNearestPaletteEntryIndex(reinterpret_cast<const TGLDPaletteEntry*>(entries), color,
                                     count);
}

tk::TColor GetNearestPaletteColor(HPALETTE palette, tk::TColor color) {
  const int index = GetNearestPaletteIndex(palette, color);
  if (index < 0) return static_cast<tk::TColor>(-1);
  return GetPaletteColor(palette, index);
}

}  // namespace orv
