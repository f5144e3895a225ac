#include "toolkit/Colors.h"

#include <cstdio>

#include "toolkit/Convert.h"
#include "toolkit/FileUtil.h"

namespace tk {

namespace {
constexpr TIdentMapEntry kColors[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clNone, "clNone"},
    {clSystemColor + 0, "clScrollBar"},
    {clSystemColor + 1, "clBackground"},
    {clSystemColor + 2, "clActiveCaption"},
    {clSystemColor + 3, "clInactiveCaption"},
    {clSystemColor + 4, "clMenu"},
    {clSystemColor + 5, "clWindow"},
    {clSystemColor + 6, "clWindowFrame"},
    {clSystemColor + 7, "clMenuText"},
    {clSystemColor + 8, "clWindowText"},
    {clSystemColor + 9, "clCaptionText"},
    {clSystemColor + 10, "clActiveBorder"},
    {clSystemColor + 11, "clInactiveBorder"},
    {clSystemColor + 12, "clAppWorkSpace"},
    {clSystemColor + 13, "clHighlight"},
    {clSystemColor + 14, "clHighlightText"},
    {clSystemColor + 15, "clBtnFace"},
    {clSystemColor + 16, "clBtnShadow"},
    {clSystemColor + 17, "clGrayText"},
    {clSystemColor + 18, "clBtnText"},
    {clSystemColor + 19, "clInactiveCaptionText"},
    {clSystemColor + 20, "clBtnHighlight"},
    {clSystemColor + 21, "cl3DDkShadow"},
    {clSystemColor + 22, "cl3DLight"},
    {clSystemColor + 23, "clInfoText"},
    {clSystemColor + 24, "clInfoBk"},
};
}  // namespace

const TIdentMapEntry* ColorIdents(size_t& count) {
  count = sizeof kColors / sizeof kColors[0];
  return kColors;
}

bool IdentToColor(const std::string& ident, TColor& color) {
  const std::string wanted = AsciiLower(ident);
  for (const TIdentMapEntry& e : kColors) {
    if (AsciiLower(e.Name) == wanted) {
      color = e.Value;
      return true;
    }
  }
  return false;
}

bool ColorToIdent(TColor color, std::string& ident) {
  for (const TIdentMapEntry& e : kColors) {
    if (e.Value == color) {
      ident = e.Name;
      return true;
    }
  }
  return false;
}

std::string ColorToString(TColor color) {
  std::string name;
  if (ColorToIdent(color, name)) return name;
  char buf[16];
  std::snprintf(buf, sizeof buf, "$%08X", static_cast<unsigned>(color));
  return buf;
}

TColor StringToColor(const std::string& text) {
  TColor color = 0;
  if (IdentToColor(text, color)) return color;
  return static_cast<TColor>(StrToInt(text));
}

}  // namespace tk
