#include "slideshow/CaptionText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace orv {
namespace {

tk::TStringList Rows(std::initializer_list<const char*> rows) {
  tk::TStringList list;
  for (const char* r : rows) list.Add(r);
  return list;
}

TEST(CaptionText, FileNameWithAndWithoutExtension) {
  EXPECT_EQ(CaptionFileName("C:\\pics\\photo.final.jpg"), "photo.final.jpg");
  EXPECT_EQ(CaptionFileNameWithoutExt("C:\\pics\\photo.final.jpg"), "photo.final");
  EXPECT_EQ(CaptionFileNameWithoutExt("C:\\a.b\\noext"), "noext");
  EXPECT_EQ(CaptionFileNameWithoutExt("C:\\pics\\.bmp"), "");
  EXPECT_EQ(CaptionFileName("D:photo.jpg"), "photo.jpg");
  EXPECT_EQ(CaptionFileNameWithoutExt("a.tar.gz"), "a.tar");
}

TEST(CaptionText, DoubleByteNamesAreNotSplitAtTrailBackslash) {
  // "表" is 0x95 0x5C in Shift-JIS: its trail byte is a backslash.
  const std::string name = "\x95\x5C.jpg";
  EXPECT_EQ(CaptionFileName("C:\\pics\\" + name), name);
  EXPECT_EQ(CaptionFileNameWithoutExt("C:\\pics\\" + name), "\x95\x5C");
}

TEST(CaptionText, RowsAreUsedInTurnAndWrap) {
  const tk::TStringList rows = Rows({"A", "B", "C"});
  int index = 0;
  std::string caption;
  std::string seen;
  for (int i = 0; i < 5; ++i) {
    NextCaption(stkTextRows, "x.jpg", rows, index, caption);
    seen += caption;
  }
  EXPECT_EQ(seen, "ABCAB");
}

TEST(CaptionText, KindsThatLeaveTheCaptionStillStepTheRow) {
  const tk::TStringList rows = Rows({"A", "B"});
  int index = 0;
  std::string caption = "kept";
  NextCaption(stkNone, "x.jpg", rows, index, caption);
  EXPECT_EQ(caption, "kept");
  EXPECT_EQ(index, 1);
  NextCaption(42, "x.jpg", rows, index, caption);
  EXPECT_EQ(caption, "kept");
  EXPECT_EQ(index, 0);
  tk::TStringList none;
  NextCaption(stkTextRows, "x.jpg", none, index, caption);
  EXPECT_EQ(caption, "kept");
  EXPECT_EQ(index, 0);
  NextCaption(stkFileNameNoExt, "C:\\x\\pic.png", rows, index, caption);
  EXPECT_EQ(caption, "pic");
}

// Only the head of a caption file is read: the rows within the bound are
// shown, a row the bound cuts and everything after it are not.
TEST(CaptionText, OnlyTheHeadOfAHugeCaptionFileIsRead) {
  const std::string path = testing::TempDir() + "orv_captions.txt";
  struct Case {
    std::string text;
    size_t bound;
    std::vector<std::string> rows;
  } cases[] = {
      {"one\r\ntwo\r\nthree\r\n", 100, {"one", "two", "three"}},
      {"one\r\ntwo\r\nthree\r\n", 10, {"one", "two"}},     // "three" cut
      {"one\r\ntwo\r\nthree\r\n", 8, {"one"}},             // cut inside "two"
      {"one\r\ntwo\r\nthree\r\n", 4, {"one"}},             // cut between CR and LF
      {"onlyonerowthatislong", 5, {}},                        // no whole row at all
      {"one\ntwo", 8, {"one", "two"}},                       // exactly the whole file
      {std::string(3 << 20, 'x') + "\n", size_t(1) << 20, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bound);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(c.text.data(), 1, c.text.size(), f);
    std::fclose(f);
    tk::TStringList rows;
    rows.Add("stale");
    ASSERT_TRUE(LoadCaptionRows(path, rows, c.bound));
    EXPECT_EQ(rows.Items(), c.rows);
  }
  std::remove(path.c_str());
  tk::TStringList rows;
  rows.Add("stale");
  EXPECT_FALSE(LoadCaptionRows(path, rows));
  EXPECT_EQ(rows.Count(), 0);
}

TEST(CaptionText, ResumeRule) {
  EXPECT_EQ(ResumeRow(stkTextRows, false, 1, 3), 1);
  EXPECT_EQ(ResumeRow(stkTextRows, false, 2, 3), 0);  // the last row starts over
  EXPECT_EQ(ResumeRow(stkTextRows, false, 7, 3), 0);
  EXPECT_EQ(ResumeRow(stkTextRows, false, -4, 3), 0);
  EXPECT_EQ(ResumeRow(stkTextRows, true, 1, 3), 0);
  EXPECT_EQ(ResumeRow(stkFileName, false, 1, 3), 0);
  EXPECT_EQ(ResumeRow(stkTextRows, false, 0, 0), 0);
}

TEST(CaptionText, LineEndsOfTheTextFile) {
  tk::TStringList rows;
  rows.SetText("A\r\nB\n\nC\r");
  ASSERT_EQ(rows.Count(), 4);
  EXPECT_EQ(rows[2], "");
  EXPECT_EQ(rows[3], "C");
}

}  // namespace
}  // namespace orv
