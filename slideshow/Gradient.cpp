#include "slideshow/Gradient.h"

#include <cstring>

#include "toolkit/FileUtil.h"

namespace orv {

Rgb Blend(const Rgb& from, const Rgb& to, double t) {
  return Rgb{static_cast<int>((to.r - from.r) * t + from.r),
             static_cast<int>((to.g - from.g) * t + from.g),
             static_cast<int>((to.b - from.b) * t + from.b)};
}

namespace {
void PutPixel(uint8_t* p, const Rgb& c) {
  p[0] = static_cast<uint8_t>(c.b);
  p[1] = static_cast<uint8_t>(c.g);
  p[2] = static_cast<uint8_t>(c.r);
}
}  // namespace

void GradBitmapRgb(tk::TBitmap& bitmap, const Rgb& c1, const Rgb& c2, bool vertical) {
  const int w = bitmap.Width(), h = bitmap.Height();
  if (w < 1 || h < 1 || bitmap.BitCount() != 24) return;
  bitmap.Flush();
  if (vertical) {
    for (int y = 0; y < h; ++y) {
      const double t = h > 1 ? static_cast<double>(y) / (h - 1) : 0.0;
      const Rgb c = Blend(c1, c2, t);
      uint8_t* row = bitmap.ScanLine(y);
      for (int x = 0; x < w; ++x) PutPixel(row + 3 * x, c);
    }
    return;
  }
  uint8_t* first = bitmap.ScanLine(0);
  for (int x = 0; x < w; ++x) {
    const double t = w > 1 ? static_cast<double>(x) / (w - 1) : 0.0;
    PutPixel(first + 3 * x, Blend(c1, c2, t));
  }
  for (int y = 1; y < h; ++y) std::memcpy(bitmap.ScanLine(y), first, static_cast<size_t>(w) * 3);
}

int CountChars(const std::string& text) {
  int n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    ++n;
    if (tk::IsSjisLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ++i;
  }
  return n;
}

std::vector<TextPiece> GradientPieces(const std::string& text, const Rgb& start, const Rgb& end) {
  std::vector<TextPiece> pieces;
  const int n = CountChars(text);
  if (n == 0) return pieces;
  if (n == 1) {
    pieces.push_back(TextPiece{0, text.size(), start});
    return pieces;
  }
  int k = 0;
  for (size_t j = 0; j < text.size(); ++k) {
    const double t = static_cast<double>(k) / (n - 1);
    const bool dbcs =
        tk::IsSjisLeadByte(static_cast<unsigned char>(text[j])) && j + 1 < text.size();
    const size_t len = dbcs ? 2 : 1;
    pieces.push_back(TextPiece{j, len, Blend(start, end, t)});
    j += len;
  }
  return pieces;
}

size_t ThreeColorSplit(const std::string& text) {
  size_t n = text.size() / 2;
  // Is byte n (1-based) a lead byte? Walk from the start: only a walk knows
  // whether a byte is a lead or a trail byte.
  for (size_t i = 0; i < text.size(); ++i) {
    const bool lead =
        tk::IsSjisLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
    if (i + 1 == n) return lead ? n + 1 : n;
    if (lead) {
      ++i;
      if (i + 1 == n) return n;  // byte n is a trail byte
    }
  }
  return n;
}

bool IsSingleChar(const std::string& part) {
  return part.size() == 1 ||
         (part.size() == 2 && tk::IsSjisLeadByte(static_cast<unsigned char>(part[0])));
}

}  // namespace orv
