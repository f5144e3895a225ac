// Files the Windows tests write: a fresh folder of their own, text files
// and solid-colour bitmaps.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "toolkit/Bitmap.h"

namespace orvtest {

// A new folder under the temporary folder, named after `what`, the process
// and a count; the path ends with a backslash.
inline std::string MakeTempFolder(const std::string& what) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  static int counter = 0;
  std::string dir = std::string(base) + "orv_" + what + "_" +
                    std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) + "\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

inline void WriteFile(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// A solid-colour 24-bit BMP.
inline void WriteSolidBmp(const std::string& path, int w, int h, COLORREF color) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      row[3 * x] = GetBValue(color);
      row[3 * x + 1] = GetGValue(color);
      row[3 * x + 2] = GetRValue(color);
    }
  }
  b.SaveToFile(path);
}

}  // namespace orvtest
