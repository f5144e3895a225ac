// Colour names and colour text: the forms in which colours are stored in
// the settings file.
#pragma once

#include <string>

#include "toolkit/Graphics.h"

namespace tk {

struct TIdentMapEntry {
  TColor Value;
  const char* Name;
};

// The 42 named colours: 16 fixed ones, clNone and the 25 system colours.
const TIdentMapEntry* ColorIdents(size_t& count);

// Name to value, without regard to ASCII case; false when not a name.
bool IdentToColor(const std::string& ident, TColor& color);
// Value to name; false when the value has no name.
bool ColorToIdent(TColor color, std::string& ident);

// The name if there is one, else "$" and 8 upper-case hexadecimal digits.
std::string ColorToString(TColor color);
// A name, else an integer as StrToInt reads it. Throws EConvertError
// ("'%s' は整数ではありません") when the text is neither.
TColor StringToColor(const std::string& text);

}  // namespace tk
