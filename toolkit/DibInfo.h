// The BITMAPINFO of a bitmap's pixels as GDI needs it: header, the 5-6-5
// masks of 16-bit pixels (plain 16-bit DIBs are 5-5-5) or the colour table.
// Windows build only; the DIB-section store and the canvas share it.
#pragma once

#include <windows.h>

#include <vector>

#include "toolkit/Bitmap.h"

namespace tk {

struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
  BITMAPINFO* Get() { return reinterpret_cast<BITMAPINFO*>(this); }
};

void FillDibInfo(DibInfo& info, int width, int height, TPixelFormat pf,
                 const std::vector<TPalEntry>& palette);

}  // namespace tk
