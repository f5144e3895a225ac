#include "toolkit/Convert.h"

#include "toolkit/Exceptions.h"

namespace tk {

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool TryStrToInt(const std::string& text, int32_t& value) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;  // no digits at all

  uint32_t magnitude = 0;
  if (hex) {
    for (; i < n; ++i) {
      int d = HexDigit(text[i]);
      if (d < 0) return false;
      // A ninth significant digit would not fit 32 bits.
      if (magnitude > 0x0FFFFFFFu) return false;
      magnitude = (magnitude << 4) | static_cast<uint32_t>(d);
    }
    // Hexadecimal text names the bit pattern: no range check on the sign.
    value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
    return true;
  }

  const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  for (; i < n; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    uint32_t d = static_cast<uint32_t>(c - '0');
    if (magnitude > (limit - d) / 10) return false;
    magnitude = magnitude * 10 + d;
  }
  value = negative ? static_cast<int32_t>(0u - magnitude) : static_cast<int32_t>(magnitude);
  return true;
}

int32_t StrToInt(const std::string& text) {
  int32_t v = 0;
  if (!TryStrToInt(text, v)) throw EConvertError(NotIntegerText(text));
  return v;
}

int32_t StrToIntDef(const std::string& text, int32_t def) {
  int32_t v = 0;
  return TryStrToInt(text, v) ? v : def;
}

std::string IntToStr(int32_t value) { return std::to_string(value); }

}  // namespace tk
