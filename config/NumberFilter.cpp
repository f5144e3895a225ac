#include "config/NumberFilter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace orv {

bool NumberKeyAccepted(uint32_t u) {
  if (u == 13) return false;
  if (u >= 1 && u <= 32) return true;
  return (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.';
}

float LimitValue(float v, float minValue, float maxValue) {
  if (v > maxValue) v = maxValue;
  if (!(v >= minValue)) v = minValue;
  return v;
}

bool ValueFromText(const std::string& text, double& value) {
  size_t i = 0;
  const size_t n = text.size();
  auto blank = [&](size_t k) { return k < n && (text[k] == ' ' || text[k] == '\t'); };
  auto digit = [&](size_t k) { return k < n && text[k] >= '0' && text[k] <= '9'; };
  while (blank(i)) ++i;
  const size_t start = i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  bool digits = false;
  while (digit(i)) ++i, digits = true;
  if (i < n && text[i] == '.') {
    ++i;
    while (digit(i)) ++i, digits = true;
  }
  if (!digits) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
  }
  const size_t end = i;
  while (blank(i)) ++i;
  if (i != n) return false;
  // The program never changes the C locale, so strtod's decimal point is
  // the period the pattern above accepted.
  const std::string number = text.substr(start, end - start);
  value = std::strtod(number.c_str(), nullptr);
  return std::isfinite(value);
}

namespace {

std::vector<std::string> Sections(const std::string& pattern) {
  std::vector<std::string> out(1);
  for (char c : pattern) {
    if (c == ';')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

struct PatternShape {
  int minIntDigits = 0;  // "0" before the point
  int minDecimals = 0;   // "0" after the point
  int maxDecimals = 0;   // "0" or "#" after the point
};

PatternShape ShapeOf(const std::string& section) {
  PatternShape s;
  bool afterPoint = false;
  for (char c : section) {
    if (c == '.') {
      afterPoint = true;
    } else if (c == '0' || c == '#') {
      if (afterPoint) {
        ++s.maxDecimals;
        if (c == '0') s.minDecimals = s.maxDecimals;
      } else if (c == '0') {
        ++s.minIntDigits;
      }
    }
  }
  return s;
}

// |value| rounded to the section's decimals, half away from zero, as
// integer digits and decimal digits.
void Digits(double magnitude, const PatternShape& s, std::string& intPart, std::string& decPart) {
  const double scale = std::pow(10.0, s.maxDecimals);
  const double scaled = std::floor(magnitude * scale + 0.5);
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.0f", scaled);
  std::string all = buf;
  while (static_cast<int>(all.size()) <= s.maxDecimals) all.insert(all.begin(), '0');
  intPart = all.substr(0, all.size() - static_cast<size_t>(s.maxDecimals));
  decPart = all.substr(all.size() - static_cast<size_t>(s.maxDecimals));
  while (static_cast<int>(decPart.size()) > s.minDecimals && decPart.back() == '0')
    decPart.pop_back();
  // Leading zeros only as many as the pattern asks for.
  size_t lead = 0;
  while (lead < intPart.size() && intPart[lead] == '0') ++lead;
  intPart.erase(0, lead);
  while (static_cast<int>(intPart.size()) < s.minIntDigits) intPart.insert(intPart.begin(), '0');
}

// Literal characters stay where they are; the number takes the place of
// the pattern's first digit or point.
std::string Render(const std::string& section, const std::string& intPart,
                   const std::string& decPart) {
  std::string out;
  bool numberDone = false;
  for (char c : section) {
    if (c != '0' && c != '#' && c != '.') {
      out += c;
    } else if (!numberDone) {
      out += intPart;
      if (!decPart.empty()) out += '.' + decPart;
      numberDone = true;
    }
  }
  return out;
}

bool IsZero(const std::string& intPart, const std::string& decPart) {
  for (char c : intPart + decPart)
    if (c != '0') return false;
  return true;
}

}  // namespace

std::string FormatFloat(const std::string& pattern, double value) {
  const std::vector<std::string> sections = Sections(pattern);
  const bool negative = value < 0;
  std::string section = sections[0];
  bool signFromSection = false;
  if (negative && sections.size() > 1 && !sections[1].empty()) {
    section = sections[1];
    signFromSection = true;
  }
  PatternShape shape = ShapeOf(section);
  std::string intPart, decPart;
  Digits(std::fabs(value), shape, intPart, decPart);
  if (IsZero(intPart, decPart) && sections.size() > 2 && !sections[2].empty()) {
    const std::string& zero = sections[2];
    const PatternShape zs = ShapeOf(zero);
    Digits(0, zs, intPart, decPart);
    return Render(zero, intPart, decPart);
  }
  std::string out = Render(section, intPart, decPart);
  if (negative && !signFromSection && !IsZero(intPart, decPart)) out.insert(out.begin(), '-');
  return out;
}

NumberEditModel::NumberEditModel() : filter_("+0.0######;-0.0######;0") { SetFloatValue(0); }

void NumberEditModel::SetFloatValue(float v) {
  value_ = LimitValue(v, min_, max_);
  AssignText(FormatFloat(filter_, value_));
}

void NumberEditModel::SetNumberFilter(const std::string& f) {
  filter_ = f;
  SetFloatValue(value_);
}

void NumberEditModel::SetMinFloatValue(float v) {
  min_ = v;
  SetFloatValue(value_);
}

void NumberEditModel::SetMaxFloatValue(float v) {
  max_ = v;
  SetFloatValue(value_);
}

void NumberEditModel::UpdateValueFromText() {
  double d = 0;
  if (!ValueFromText(text_, d)) return;
  value_ = LimitValue(static_cast<float>(d), min_, max_);
}

void NumberEditModel::AssignText(const std::string& text) {
  text_ = text;
  if (text_ == "0") return;
  UpdateValueFromText();
  // The formatted text of a limited value reads back as that value, so one
  // more assignment is the end of it.
  const std::string formatted = FormatFloat(filter_, value_);
  if (formatted == text_) return;
  text_ = formatted;
  if (text_ != "0") UpdateValueFromText();
}

void NumberEditModel::Change(const std::string& text) {
  text_ = text;
  UpdateValueFromText();
}

void NumberEditModel::DoExit() {
  UpdateValueFromText();
  AssignText(FormatFloat(filter_, value_));
}

}  // namespace orv
