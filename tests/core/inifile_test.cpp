#include "toolkit/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "toolkit/Convert.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"
#include "tests/core/failing_save.h"

namespace fs = std::filesystem;

namespace {

class TempFolder {
 public:
  TempFolder() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("orv-ini-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string Slurp(const std::string& path) {
  std::string s;
  EXPECT_TRUE(tk::ReadWholeFile(path, s)) << path;
  return s;
}

void Spit(const std::string& path, const std::string& data) {
  ASSERT_TRUE(tk::ReplaceFileContents(path, data)) << path;
}

}  // namespace

TEST(StrToInt, AcceptsTheNumberForms) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"0", 0},
      {"42", 42},
      {"-42", -42},
      {"+7", 7},
      {"   12", 12},
      {"007", 7},
      {"$1F", 31},
      {"$1f", 31},
      {"0x400", 1024},
      {"0X400", 1024},
      {"x10", 16},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"$7FFFFFFF", INT32_MAX},
      {"$FFFFFFFF", -1},
      {"$80000008", INT32_MIN + 8},
      {"$000000001", 1},
  };
  for (const Case& c : cases) {
    int32_t v = 12345;
    EXPECT_TRUE(tk::TryStrToInt(c.text, v)) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(tk::StrToInt(c.text), c.value) << c.text;
  }
}

TEST(StrToInt, RejectsJunkAndOverflowWithTheConversionMessage) {
  const char* bad[] = {"",    " ",          "-",           "$",          "0x",          "yes",
                       "12 ", "1.5",        "12a",         "\t5",        "--1",         "+-1",
                       "$1G", "2147483648", "-2147483649", "$100000000", "99999999999", "1e3"};
  for (const char* text : bad) {
    int32_t v = 77;
    EXPECT_FALSE(tk::TryStrToInt(text, v)) << '"' << text << '"';
    EXPECT_EQ(v, 77) << text;
    EXPECT_EQ(tk::StrToIntDef(text, -9), -9) << text;
    try {
      tk::StrToInt(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const tk::EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(text) + "' は整数ではありません");
    }
  }
  int32_t v = 0;
  EXPECT_FALSE(tk::TryStrToInt(std::string("1\0"
                                           "2",
                                           3),
                               v));
}

TEST(PortableIniFile, MissingFileSectionOrKeyGiveTheDefault) {
  TempFolder dir;
  tk::TPortableIniFile missing(dir.File("none.ini"));
  EXPECT_EQ(missing.ReadString("Search", "PluginFolder", "dflt"), "dflt");
  EXPECT_EQ(missing.ReadInteger("Search", "CheckSize", 10240), 10240);
  EXPECT_FALSE(fs::exists(dir.File("none.ini")));

  Spit(dir.File("a.ini"), "[Screen]\r\nInterval=9\r\nEmpty=\r\n");
  tk::TPortableIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("Font", "Interval", "d"), "d");
  EXPECT_EQ(ini.ReadString("Screen", "Missing", "d"), "d");
  // Present but empty is a value, not a missing key.
  EXPECT_EQ(ini.ReadString("Screen", "Empty", "d"), "");
  EXPECT_EQ(ini.ReadInteger("Screen", "Empty", 3), 3);
}

TEST(PortableIniFile, ReadsThePrivateProfileWay) {
  TempFolder dir;
  Spit(dir.File("a.ini"),
       "Loose=1\n"
       "; a comment=ignored\n"
       "[sCreen]\n"
       "  Interval = 12  \n"
       "interval=99\n"
       "Quoted=\"  spaced  \"\n"
       "Single='x'\n"
       "Half=\"open\n"
       "Eq=a=b\r"
       ";Commented=1\n"
       "[ Font ]\r\n"
       "Name=ＭＳ ゴシック\r\n"
       "[Screen]\n"
       "Later=1\n");
  tk::TPortableIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("SCREEN", "INTERVAL", ""), "12");  // first key, case ignored
  EXPECT_EQ(ini.ReadString("Screen", "Quoted", ""), "  spaced  ");
  EXPECT_EQ(ini.ReadString("Screen", "Single", ""), "x");
  EXPECT_EQ(ini.ReadString("Screen", "Half", ""), "\"open");
  EXPECT_EQ(ini.ReadString("Screen", "Eq", ""), "a=b");
  EXPECT_EQ(ini.ReadString("Screen", "Commented", "d"), "d");
  EXPECT_EQ(ini.ReadString("Screen", "; a comment", "d"), "d");
  EXPECT_EQ(ini.ReadString("Font", "name", ""), "ＭＳ ゴシック");
  // Only the first section of a name is looked at; keys before any section
  // belong to none.
  EXPECT_EQ(ini.ReadString("Screen", "Later", "d"), "d");
  EXPECT_EQ(ini.ReadString("", "Loose", "d"), "d");
}

TEST(PortableIniFile, ValuesComeBackThroughA2048ByteBuffer) {
  TempFolder dir;
  const std::string longValue(3000, 'a');
  // 2046 single bytes and a double-byte character: the last one would
  // straddle the limit and is dropped whole.
  const std::string straddle = std::string(2046, 'b') + "あ";
  Spit(dir.File("a.ini"), "[S]\nlong=" + longValue + "\nkanji=" + straddle + "\n");
  tk::TPortableIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("S", "long", ""), std::string(2047, 'a'));
  EXPECT_EQ(ini.ReadString("S", "kanji", ""), std::string(2046, 'b'));
  EXPECT_EQ(ini.ReadString("S", "none", longValue).size(), 2047u);
}

TEST(PortableIniFile, WritingKeepsEveryOtherLine) {
  TempFolder dir;
  const std::string path = dir.File("a.ini");
  Spit(path, "; head\n[Screen]\nInterval = 5\n  ; note\nBGColor=clBlack\n\n[Font]\nSize=9");
  tk::TPortableIniFile ini(path);

  ini.WriteInteger("screen", "INTERVAL", 30);  // replaced where it stands
  EXPECT_EQ(Slurp(path),
            "; head\n[Screen]\nInterval =30\n  ; note\nBGColor=clBlack\n\n[Font]\nSize=9");

  ini.WriteString("Screen", "TextWrap", "1");  // after the section's last line
  EXPECT_EQ(Slurp(path),
            "; head\n[Screen]\nInterval =30\n  ; note\nBGColor=clBlack\nTextWrap=1\r\n\n[Font]\n"
            "Size=9");

  ini.WriteBool("Font", "Bold", true);  // the last line had no line end
  ini.WriteString("Event", "MouseMove", "0");
  EXPECT_EQ(Slurp(path),
            "; head\n[Screen]\nInterval =30\n  ; note\nBGColor=clBlack\nTextWrap=1\r\n\n[Font]\n"
            "Size=9\r\nBold=1\r\n[Event]\r\nMouseMove=0\r\n");
  EXPECT_EQ(ini.ReadInteger("Screen", "Interval", 0), 30);
  EXPECT_TRUE(ini.ReadBool("Font", "Bold", false));
}

TEST(PortableIniFile, WritingCreatesTheFileAndRoundTripsShiftJis) {
  TempFolder dir;
  const std::string path = dir.File("新規.ini");
  tk::TPortableIniFile ini(path);
  const std::string value = "C:\\写真\\ソース表示\\";  // trail bytes equal to '\\'
  ini.WriteString("Search", "PluginFolder", value);
  ini.WriteInteger("Search", "CheckSize", -5);
  EXPECT_EQ(Slurp(path), "[Search]\r\nPluginFolder=" + value + "\r\nCheckSize=-5\r\n");
  EXPECT_EQ(ini.ReadString("Search", "PluginFolder", ""), value);
  EXPECT_EQ(ini.ReadInteger("Search", "CheckSize", 0), -5);

  // A line break in a value would start a new line of the file.
  ini.WriteString("Search", "PluginFolder", "C:\\a\r\n[Evil]\r\nx=1");
  EXPECT_EQ(ini.ReadString("Search", "PluginFolder", ""), "C:\\a");
  EXPECT_EQ(ini.ReadString("Evil", "x", "none"), "none");
}

TEST(PortableIniFile, AFailedWriteReportsTheFileAndKeepsIt) {
  TempFolder dir;
  const std::string path = dir.File("a.ini");
  Spit(path, "[S]\nk=old\n");
  tk::TPortableIniFile ini(path);
  const orvtest::FailingSave blocked(path);
  try {
    ini.WriteString("S", "k", "new");
    ADD_FAILURE() << "write did not fail";
  } catch (const tk::EIniFileException& e) {
    EXPECT_EQ(e.Message(), path + " に書き込めません");
  }
  EXPECT_EQ(Slurp(path), "[S]\nk=old\n");

  // A folder where the file should be, and a folder that does not exist.
  fs::create_directory(dir.File("dir.ini"));
  tk::TPortableIniFile onFolder(dir.File("dir.ini"));
  EXPECT_EQ(onFolder.ReadString("S", "k", "d"), "d");
  EXPECT_THROW(onFolder.WriteString("S", "k", "v"), tk::EIniFileException);
  tk::TPortableIniFile nowhere(dir.File("no\\such/folder.ini"));
  EXPECT_THROW(nowhere.WriteInteger("S", "k", 1), tk::EIniFileException);
}
