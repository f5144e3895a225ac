// Files the Windows tests write: a fresh folder of their own, text files,
// solid-colour bitmaps and the test plug-ins' pictures.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/plugins/TestPlugin.h"
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

// An ORVTEST1 picture (tests/plugins/TestPlugin.h) whose bytes are all
// `level`, handed back by the test plug-in as `mode` says.
inline std::string FlatOrvPicture(uint32_t w, uint32_t h, uint32_t mode, char level = '\x40') {
  std::string v(ORV_TEST_MAGIC, 8);
  for (uint32_t x : {w, h, mode})
    for (int i = 0; i < 4; ++i) v += static_cast<char>(x >> (8 * i));
  v.append(size_t(w) * h * 3, level);
  return v;
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
