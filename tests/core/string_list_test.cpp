#include "toolkit/StringList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"
#include "tests/core/failing_save.h"

namespace tk {
namespace {

std::vector<std::string> Items(const TStringList& l) { return l.Items(); }

TEST(CommaText, ExtensionListSplitsInOrder) {
  TStringList l;
  l.SetCommaText(".bmp,.jpg,.jpeg,.png");
  EXPECT_EQ(Items(l), (std::vector<std::string>{".bmp", ".jpg", ".jpeg", ".png"}));
}

TEST(CommaText, BlanksControlCharactersQuotesAndEmptyItems) {
  TStringList l;
  l.SetCommaText("  a b,,\"c, d\",\x01x");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"a", "b", "", "c, d", "x"}));
  l.SetCommaText("a,");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"a", ""}));
  l.SetCommaText("");
  EXPECT_EQ(l.Count(), 0);
  l.SetCommaText("\"say \"\"hi\"\"\"");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"say \"hi\""}));
}

TEST(CommaText, RoundTripsThroughGetCommaText) {
  TStringList l;
  l.Add("plain");
  l.Add("with space");
  l.Add("");
  l.Add("quote\"d");
  TStringList back;
  back.SetCommaText(l.GetCommaText());
  EXPECT_EQ(Items(back), Items(l));
}

TEST(ListText, AllLineEndsSplitTheSame) {
  const std::vector<std::string> expected = {"C:\\a.jpg", "", "C:\\b.png"};
  for (const char* text : {"C:\\a.jpg\r\n\r\nC:\\b.png\r\n", "C:\\a.jpg\n\nC:\\b.png\n",
                           "C:\\a.jpg\r\rC:\\b.png\r", "C:\\a.jpg\r\n\nC:\\b.png"}) {
    TStringList l;
    l.SetText(text);
    EXPECT_EQ(Items(l), expected) << text;
  }
}

TEST(ListText, NulEndsTheTextAndOutputEndsEveryEntry) {
  TStringList l;
  l.SetText(std::string("a\r\nb\0c\r\n", 8));
  EXPECT_EQ(Items(l), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(l.GetText(), "a\r\nb\r\n");
  l.SetText("\r\n");
  EXPECT_EQ(Items(l), (std::vector<std::string>{""}));
}

class ListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir();
    path_ = dir_ + "orv_list_test.dat";
    std::remove(path_.c_str());
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string dir_, path_;
};

TEST_F(ListFileTest, SaveThenLoadKeepsEntriesAndShiftJisBytes) {
  TStringList l;
  l.Add("C:\\写真\\表.jpg");
  l.Add("");
  l.Add("D:\\x.bmp");
  l.SaveToFile(path_);
  std::string raw;
  ASSERT_TRUE(ReadWholeFile(path_, raw));
  EXPECT_EQ(raw, l.GetText());
  TStringList back;
  back.LoadFromFile(path_);
  EXPECT_EQ(Items(back), Items(l));
}

TEST_F(ListFileTest, FailedSaveKeepsTheOldFile) {
  TStringList old;
  old.Add("keep me");
  old.SaveToFile(path_);
  const orvtest::FailingSave blocked(path_);
  TStringList replacement;
  replacement.Add("new");
  try {
    replacement.SaveToFile(path_);
    ADD_FAILURE() << "save into a blocked place succeeded";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), FileCreateErrorText(path_));
  }
  TStringList back;
  back.LoadFromFile(path_);
  EXPECT_EQ(Items(back), Items(old));
}

TEST_F(ListFileTest, MissingFileRaisesOpenError) {
  TStringList l;
  EXPECT_THROW(l.LoadFromFile(path_ + ".missing"), EFOpenError);
}

TEST(FileNames, ExtensionsAndNamesRespectDoubleByteCharacters) {
  EXPECT_EQ(ExtractFileExt("C:\\dir.x\\name"), "");
  EXPECT_EQ(ExtractFileExt("C:\\dir\\archive.png.BMP"), ".BMP");
  EXPECT_EQ(ExtractFileName("C:\\dir\\\x95\x5C.jpg"), "\x95\x5C.jpg");
  EXPECT_EQ(ExtractFilePath("C:\\dir\\a.jpg"), "C:\\dir\\");
  EXPECT_EQ(AsciiLower("A.JPG\x83\x41"), "a.jpg\x83\x41");  // trail byte 'A' kept
}

}  // namespace
}  // namespace tk
