#include "toolkit/Colors.h"

#include <gtest/gtest.h>

#include <set>

#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"

TEST(Colors, TableHasFortyTwoDistinctNamesThatRoundTrip) {
  size_t count = 0;
  const tk::TIdentMapEntry* table = tk::ColorIdents(count);
  ASSERT_EQ(count, 42u);
  std::set<std::string> names;
  std::set<tk::TColor> values;
  for (size_t i = 0; i < count; ++i) {
    names.insert(tk::AsciiLower(table[i].Name));
    values.insert(table[i].Value);
    EXPECT_EQ(tk::ColorToString(table[i].Value), table[i].Name);
    EXPECT_EQ(tk::StringToColor(table[i].Name), table[i].Value);
    EXPECT_EQ(tk::StringToColor(tk::AsciiUpper(table[i].Name)), table[i].Value);
  }
  EXPECT_EQ(names.size(), 42u);
  EXPECT_EQ(values.size(), 42u);
}

TEST(Colors, NamesAndValuesOfTheTable) {
  // Spot checks at the ends of each run of the table.
  const std::pair<const char*, tk::TColor> cases[] = {
      {"clMaroon", 0x000080},       {"clNavy", 0x800000},       {"clSilver", 0xC0C0C0},
      {"clAqua", 0xFFFF00},         {"clNone", 0x1FFFFFFF},     {"clScrollBar", 0x80000000},
      {"clWindowText", 0x80000008}, {"clGrayText", 0x80000011}, {"clInfoBk", 0x80000018}};
  for (const auto& c : cases) {
    tk::TColor v = 1;
    EXPECT_TRUE(tk::IdentToColor(c.first, v) && v == c.second) << c.first;
  }
  tk::TColor v = 0;
  EXPECT_FALSE(tk::IdentToColor("clDkGray", v));
  std::string name;
  EXPECT_FALSE(tk::ColorToIdent(0x80000019, name));
}

TEST(Colors, TextForms) {
  EXPECT_EQ(tk::ColorToString(0x00FF8040), "$00FF8040");
  EXPECT_EQ(tk::ColorToString(0x0000FE), "$000000FE");
  EXPECT_EQ(tk::ColorToString(0x80000019), "$80000019");
  EXPECT_EQ(tk::ColorToString(0x01000005), "$01000005");
  EXPECT_EQ(tk::StringToColor("clred"), tk::clRed);
  EXPECT_EQ(tk::StringToColor("$00FF0000"), tk::clBlue);
  EXPECT_EQ(tk::StringToColor("255"), tk::clRed);
  EXPECT_EQ(tk::StringToColor("0x00FF8040"), 0x00FF8040u);
  EXPECT_EQ(tk::StringToColor("$80000019"), 0x80000019u);
  EXPECT_EQ(tk::StringToColor("-1"), 0xFFFFFFFFu);
  for (tk::TColor c : {0x00FF8040u, 0x12345678u, 0xFFFFFFFFu, 0x80000030u})
    EXPECT_EQ(tk::StringToColor(tk::ColorToString(c)), c);
}

TEST(Colors, AnUnknownTextIsAConversionError) {
  for (const char* text : {"clreddish", "red", "", "$GG", "cl Red"}) {
    try {
      tk::StringToColor(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const tk::EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + text + "' は整数ではありません");
    }
  }
}
