// String-to-integer conversion with the rules of the toolkit's number
// parser: optional leading spaces, an optional sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X". Nothing may follow
// the digits. Decimal values must fit a signed 32-bit integer; hexadecimal
// values may use all 32 bits ("$FFFFFFFF" is -1), so colours round-trip.
#pragma once

#include <cstdint>
#include <string>

namespace tk {

bool TryStrToInt(const std::string& text, int32_t& value);
// Throws EConvertError ("'%s' は整数ではありません") for an invalid text.
int32_t StrToInt(const std::string& text);
int32_t StrToIntDef(const std::string& text, int32_t def);
std::string IntToStr(int32_t value);

}  // namespace tk
