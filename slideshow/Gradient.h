// Colour arithmetic of the caption label: background gradients and the
// per-character text gradation, free of GDI so it can be tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/Bitmap.h"

namespace orv {

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// Colour at fraction t of the way from `from` to `to`, each channel
// truncated toward zero.
Rgb Blend(const Rgb& from, const Rgb& to, double t);

// Fills a 24-bit bitmap with a gradient from c1 to c2, top to bottom when
// vertical, else left to right. One column (or row) is computed and
// replicated. Other pixel formats and empty bitmaps are left alone.
void GradBitmapRgb(tk::TBitmap& bitmap, const Rgb& c1, const Rgb& c2, bool vertical);

// Characters of a text: bytes that are not the trail byte of a double-byte
// character.
int CountChars(const std::string& text);

// One drawn piece of gradient text: a whole character (one or two bytes).
struct TextPiece {
  size_t offset = 0;
  size_t length = 0;
  Rgb color;
};
// Pieces of `text` coloured from `start` to `end`; a single character gets
// `start`.
std::vector<TextPiece> GradientPieces(const std::string& text, const Rgb& start, const Rgb& end);

// Byte length of the first part of a three-colour gradation: half the
// bytes, moved one on when it would split a double-byte character.
size_t ThreeColorSplit(const std::string& text);
// The second part of a three-colour gradation is one character.
bool IsSingleChar(const std::string& part);

}  // namespace orv
