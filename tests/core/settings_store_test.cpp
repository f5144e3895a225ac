#include "settings/ApplicationIniFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"
#include "tests/core/failing_save.h"

namespace fs = std::filesystem;

namespace {

const char kDirList[] = "OrvanelleDirList.dat";
const char kFileList[] = "OrvanelleFileList.dat";

class SettingsStore : public ::testing::Test {
 protected:
  SettingsStore() {
    std::random_device rd;
    folder_ =
        fs::temp_directory_path() / ("orv-set-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(folder_);
  }
  ~SettingsStore() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  std::string IniPath() const { return Path("Orvanelle.ini"); }

  std::unique_ptr<orv::TApplicationIniFile> Make(const std::string& iniPath = "") const {
    return std::make_unique<orv::TApplicationIniFile>(
        std::make_unique<tk::TPortableIniFile>(iniPath.empty() ? IniPath() : iniPath), kDirList,
        kFileList);
  }
  std::unique_ptr<orv::TApplicationIniFile> LoadFrom(const std::string& ini) const {
    Write(IniPath(), ini);
    auto s = Make();
    s->Load();
    return s;
  }

  static void Write(const std::string& path, const std::string& data) {
    ASSERT_TRUE(tk::ReplaceFileContents(path, data)) << path;
  }
  static std::string Read(const std::string& path) {
    std::string s;
    EXPECT_TRUE(tk::ReadWholeFile(path, s)) << path;
    return s;
  }
  std::string Value(const std::string& section, const std::string& key) const {
    return tk::TPortableIniFile(IniPath()).ReadString(section, key, "<missing>");
  }

  fs::path folder_;
};

// Names of the key lines of an INI text, in file order.
std::vector<std::string> KeyOrder(const std::string& text) {
  tk::TStringList lines;
  lines.SetText(text);
  std::vector<std::string> keys;
  for (const std::string& line : lines.Items()) {
    if (line.empty()) continue;
    keys.push_back(line[0] == '[' ? line : line.substr(0, line.find('=')));
  }
  return keys;
}

}  // namespace

TEST_F(SettingsStore, ConstructionOnlyInitialises) {
  auto s = Make(Path("missing/Orvanelle.ini"));
  EXPECT_EQ(s->FileName(), Path("missing/Orvanelle.ini"));
  EXPECT_EQ(s->DirListFileName(), Path("missing/") + kDirList);
  EXPECT_EQ(s->FileListFileName(), Path("missing/") + kFileList);
  EXPECT_TRUE(s->DirList.Empty());
  EXPECT_FALSE(s->SubFolder);
  EXPECT_FALSE(s->MouseMove);
  EXPECT_EQ(s->CheckSize, 0);
  EXPECT_EQ(s->Interval, 0);
  EXPECT_EQ(s->BGColor, tk::clBlack);
  EXPECT_EQ(s->Font, tk::TFont());
  EXPECT_EQ(s->Font.Color, tk::clWindowText);
  EXPECT_TRUE(s->ExtendEnabled(0));
  EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(SettingsStore, FirstStartGivesDefaultsAndEmptyListFiles) {
  auto s = Make();
  s->Load();
  EXPECT_TRUE(s->SubFolder);
  EXPECT_FALSE(s->ReportError);
  EXPECT_FALSE(s->UseSusiePlugin);
  EXPECT_EQ(s->CheckSize, 10240);
  EXPECT_EQ(s->CheckWidth, 50);
  EXPECT_EQ(s->CheckHeight, 50);
  EXPECT_EQ(s->MaxIndex, 0);
  EXPECT_TRUE(s->Extend.empty());
  EXPECT_TRUE(s->RandamDisplay);
  EXPECT_TRUE(s->StretchDraw);
  EXPECT_EQ(s->BGColor, tk::clBlack);
  EXPECT_EQ(s->Interval, 5);
  EXPECT_EQ(s->BlankScreenInterval, 2);
  EXPECT_EQ(s->WindowBorder, 0);
  EXPECT_FALSE(s->AlwaysFirstRowCheck);
  EXPECT_TRUE(s->AllMonitors);
  EXPECT_EQ(s->Transition, orv::kTransitionNone);
  EXPECT_EQ(s->TransitionTime, 1000);
  EXPECT_FALSE(s->TextWrap);
  EXPECT_TRUE(s->MouseClick);
  EXPECT_TRUE(s->MouseMove);
  EXPECT_EQ(s->Font, tk::TFont());
  EXPECT_EQ(Read(Path(kDirList)), "");
  EXPECT_EQ(Read(Path(kFileList)), "");
  EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(SettingsStore, ListFilesReadAnyLineEndAndWriteCrLf) {
  Write(Path(kDirList), "C:\\a\nC:\\b\n\nC:\\表示\n");
  Write(Path(kFileList), "x.jpg\ry.png\r\nz.bmp");
  auto s = Make();
  s->Load();
  ASSERT_EQ(s->DirList.Count(), 4);
  EXPECT_EQ(s->DirList[2], "");
  EXPECT_EQ(s->DirList[3], "C:\\表示");
  ASSERT_EQ(s->FileList.Count(), 3);
  EXPECT_EQ(s->FileList[2], "z.bmp");

  s->Save();
  EXPECT_EQ(Read(Path(kDirList)), "C:\\a\r\nC:\\b\r\n\r\nC:\\表示\r\n");
  EXPECT_EQ(Read(Path(kFileList)), "x.jpg\r\ny.png\r\nz.bmp\r\n");
}

TEST_F(SettingsStore, ExtendFlagsFollowMaxIndex) {
  auto s = LoadFrom("[Extend]\nMaxIndex=2\nExtend0=0\nExtend1=1\nExtend2=0\nExtend5=0\n");
  EXPECT_EQ(s->MaxIndex, 2);
  EXPECT_EQ(s->Extend, std::vector<bool>({false, true}));
  EXPECT_TRUE(s->ExtendEnabled(2));  // beyond the count: enabled

  s = LoadFrom("[Extend]\nMaxIndex=3\nExtend1=0\n");
  EXPECT_EQ(s->Extend, std::vector<bool>({true, false, true}));

  for (const char* broken : {"-4", "$FFFFFFFF", "junk"}) {
    s = LoadFrom(std::string("[Extend]\nMaxIndex=") + broken + "\nExtend0=0\n");
    EXPECT_EQ(s->MaxIndex, 0) << broken;
    EXPECT_TRUE(s->Extend.empty()) << broken;
  }
}

TEST_F(SettingsStore, OldExtendKeysBeyondTheCountStayButAreNotRead) {
  auto s = LoadFrom("[Extend]\nMaxIndex=4\nExtend3=0\n");
  s->MaxIndex = 2;
  s->Extend = {false};  // shorter than MaxIndex: the missing flag is enabled
  s->Save();
  EXPECT_EQ(Value("Extend", "Extend0"), "0");
  EXPECT_EQ(Value("Extend", "Extend1"), "1");
  EXPECT_EQ(Value("Extend", "Extend3"), "0");
  s->Load();
  EXPECT_EQ(s->Extend, std::vector<bool>({false, true}));
}

TEST_F(SettingsStore, ValueEncodingsOnLoadAndSave) {
  auto s = LoadFrom(
      "[Search]\nSubFolder=yes\nCheckSize=0x400\nCheckWidth=$20\nCheckHeight= 7\n"
      "[Screen]\nBGColor=clred\nStretchDraw=7\nAlwaysFirstRowCheck=-1\n"
      "BlankScreenInterval=-3\nInterval=-3\nRandamDisplay=0\n"
      "[Font]\nColor=255\nCharSet=$180\nSize=-12\n");
  EXPECT_TRUE(s->SubFolder);
  EXPECT_EQ(s->CheckSize, 1024);
  EXPECT_EQ(s->CheckWidth, 32);
  EXPECT_EQ(s->CheckHeight, 7);
  EXPECT_EQ(s->BGColor, tk::clRed);
  EXPECT_TRUE(s->StretchDraw);
  EXPECT_TRUE(s->AlwaysFirstRowCheck);
  EXPECT_EQ(s->BlankScreenInterval, 0);
  EXPECT_EQ(s->Interval, -3);
  EXPECT_FALSE(s->RandamDisplay);
  EXPECT_EQ(s->Font.Color, tk::clRed);
  EXPECT_EQ(s->Font.CharSet, 0x80);
  EXPECT_EQ(s->Font.Size, -12);

  s->Save();
  EXPECT_EQ(Value("Screen", "BGColor"), "clRed");
  EXPECT_EQ(Value("Font", "Color"), "clRed");
  EXPECT_EQ(Value("Screen", "StretchDraw"), "1");
  EXPECT_EQ(Value("Screen", "AlwaysFirstRowCheck"), "1");
  EXPECT_EQ(Value("Search", "SubFolder"), "1");
  EXPECT_EQ(Value("Search", "CheckSize"), "1024");
  EXPECT_EQ(Value("Screen", "Interval"), "-3");
  EXPECT_EQ(Value("Font", "CharSet"), "128");

  s = LoadFrom("[Screen]\nBGColor=$00FF0000\n");
  EXPECT_EQ(s->BGColor, tk::clBlue);
  s->BGColor = 0x00FF8040;
  s->Save();
  EXPECT_EQ(Value("Screen", "BGColor"), "$00FF8040");
}

TEST_F(SettingsStore, AllMonitorsIsOnUnlessStoredAsZero) {
  struct Case {
    const char* ini;
    bool expected;
    const char* written;
  };
  const Case cases[] = {
      {"", true, "1"},
      {"[Screen]\nAllMonitors=0\n", false, "0"},
      {"[Screen]\nAllMonitors=1\n", true, "1"},
      {"[Screen]\nAllMonitors=5\n", true, "1"},
      {"[Screen]\nAllMonitors=no\n", true, "1"},  // not a number: the default
      {"[screen]\nallmonitors=0\n", false, "0"},
  };
  for (const Case& c : cases) {
    auto s = LoadFrom(c.ini);
    EXPECT_EQ(s->AllMonitors, c.expected) << c.ini;
    s->Save();
    EXPECT_EQ(Value("Screen", "AllMonitors"), c.written) << c.ini;
  }
}

// Settings files from before transitions have neither key: their show
// stays as it was. What is stored outside the limits reads as the nearest
// sound value and is written back so.
TEST_F(SettingsStore, TransitionKeysReadWithinTheirLimits) {
  struct Case {
    const char* ini;
    int32_t transition;
    int32_t time;
  };
  const Case cases[] = {
      {"", 0, 1000},
      {"[Screen]\nInterval=9\n", 0, 1000},
      {"[Screen]\nTransition=1\nTransitionTime=750\n", 1, 750},
      {"[Screen]\nTransition=2\nTransitionTime=200\n", 2, 200},
      {"[Screen]\nTransition=0\nTransitionTime=5000\n", 0, 5000},
      {"[screen]\ntransition=2\ntransitiontime=0x400\n", 2, 1024},
      // Outside the limits.
      {"[Screen]\nTransition=3\nTransitionTime=199\n", 0, 200},
      {"[Screen]\nTransition=-1\nTransitionTime=5001\n", 0, 5000},
      {"[Screen]\nTransition=2147483647\nTransitionTime=-2147483648\n", 0, 200},
      {"[Screen]\nTransition=$FFFFFFFF\nTransitionTime=2147483647\n", 0, 5000},
      // Not numbers: the defaults.
      {"[Screen]\nTransition=fade\nTransitionTime=1s\n", 0, 1000},
      {"[Screen]\nTransition=\nTransitionTime=\n", 0, 1000},
      {"[Screen]\nTransition=1.5\nTransitionTime=99999999999\n", 0, 1000},
      {"[Screen]\nTransition=2\n[Font]\nTransitionTime=300\n", 2, 1000},  // wrong section
  };
  for (const Case& c : cases) {
    auto s = LoadFrom(c.ini);
    EXPECT_EQ(s->Transition, c.transition) << c.ini;
    EXPECT_EQ(s->TransitionTime, c.time) << c.ini;
    s->Save();
    EXPECT_EQ(Value("Screen", "Transition"), std::to_string(c.transition)) << c.ini;
    EXPECT_EQ(Value("Screen", "TransitionTime"), std::to_string(c.time)) << c.ini;
  }
}

// Writing the two keys into a file of the user's own changes those lines
// and nothing else the user had, in the file or in the show.
TEST_F(SettingsStore, TransitionKeysRoundTripAndLeaveTheOtherKeysAlone) {
  auto s = LoadFrom(
      "[Screen]\nInterval=12\nTransition=1\nTransitionTime=400\nWindowBorder=20\n"
      "[Font]\nName=Arial\n[Event]\nMouseMove=0\n");
  s->Transition = orv::kTransitionPanZoom;
  s->TransitionTime = 2500;
  s->Save();
  auto t = Make();
  t->Load();
  EXPECT_EQ(t->Transition, orv::kTransitionPanZoom);
  EXPECT_EQ(t->TransitionTime, 2500);
  EXPECT_EQ(t->Interval, 12);
  EXPECT_EQ(t->WindowBorder, 20);
  EXPECT_EQ(t->Font.Name, "Arial");
  EXPECT_FALSE(t->MouseMove);
  EXPECT_TRUE(t->MouseClick);
  // Each key once, where it stood.
  const std::vector<std::string> keys = KeyOrder(Read(IniPath()));
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "Transition"), 1);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "TransitionTime"), 1);
  const auto interval = std::find(keys.begin(), keys.end(), "Interval");
  ASSERT_NE(interval, keys.end());
  EXPECT_EQ(*(interval + 1), "Transition");
  EXPECT_EQ(*(interval + 2), "TransitionTime");
}

TEST_F(SettingsStore, FontStylesAreWrittenOneByOneAndOnlyAdded) {
  auto s = Make();
  s->Load();
  s->Font.Name = "ＭＳ 明朝";
  s->Font.Style = tk::fsBold | tk::fsUnderline;
  s->Save();
  EXPECT_EQ(Value("Font", "Bold"), "1");
  EXPECT_EQ(Value("Font", "Italic"), "0");
  EXPECT_EQ(Value("Font", "Underline"), "1");
  EXPECT_EQ(Value("Font", "StrikeOut"), "0");

  auto t = Make();
  t->Load();
  EXPECT_EQ(t->Font.Name, "ＭＳ 明朝");
  EXPECT_EQ(t->Font.Style, tk::fsBold | tk::fsUnderline);

  // A style already set is not taken away by a key that reads false.
  auto u = Make();
  u->Font.Style = tk::fsItalic;
  u->Load();
  EXPECT_EQ(u->Font.Style, tk::fsBold | tk::fsUnderline | tk::fsItalic);

  // An empty face name leaves the font's name as it is.
  auto v = LoadFrom("[Font]\nName=\n");
  EXPECT_EQ(v->Font.Name, tk::TFont().Name);
}

TEST_F(SettingsStore, SaveWritesEveryKeyInOrderAndLoadGetsThemBack) {
  auto s = Make();
  s->Load();
  s->DirList.Add("D:\\写真");
  s->FileList.Add("D:\\写真\\ソ.png");
  s->SubFolder = false;
  s->ReportError = s->UseSusiePlugin = true;
  s->PluginFolder = "D:\\spi\\";
  s->CheckSize = 1;
  s->CheckWidth = 2;
  s->CheckHeight = 3;
  s->MaxIndex = 4;
  s->Extend = {true, false, true, false};
  s->RandamDisplay = s->StretchDraw = false;
  s->ShowTextKind = 3;
  s->SelectTextFileName = "D:\\台詞.txt";
  s->BGColor = tk::clBtnFace;
  s->UseBGImageCheck = true;
  s->BGImagePath = "D:\\bg.bmp";
  s->TextArrangement = 2;
  s->TextAlign = 1;
  s->TextLayout = 2;
  s->TextWrap = true;
  s->Interval = 11;
  s->BlankScreenInterval = 4;
  s->WindowBorder = 15;
  s->PreviousRowNumber = 77;
  s->AlwaysFirstRowCheck = true;
  s->AllMonitors = false;
  s->Transition = orv::kTransitionCrossFade;
  s->TransitionTime = 3000;
  s->Font.Size = 14;
  s->Font.CharSet = 0;
  s->Font.Color = 0x123456;
  s->Font.Style = tk::fsItalic | tk::fsStrikeOut;
  s->MouseClick = false;
  s->MouseMove = false;
  s->Save();

  const std::vector<std::string> order = {"[Search]",
                                          "SubFolder",
                                          "ReportError",
                                          "UseSusiePlugin",
                                          "PluginFolder",
                                          "CheckSize",
                                          "CheckWidth",
                                          "CheckHeight",
                                          "[Extend]",
                                          "MaxIndex",
                                          "Extend0",
                                          "Extend1",
                                          "Extend2",
                                          "Extend3",
                                          "[Screen]",
                                          "RandamDisplay",
                                          "StretchDraw",
                                          "BGColor",
                                          "UseBGImageCheck",
                                          "BGImagePath",
                                          "ShowTextKind",
                                          "SelectTextFileName",
                                          "TextArrangement",
                                          "TextAlign",
                                          "TextLayout",
                                          "TextWrap",
                                          "Interval",
                                          "BlankScreenInterval",
                                          "WindowBorder",
                                          "PreviousRowNumber",
                                          "AlwaysFirstRowCheck",
                                          "AllMonitors",
                                          "Transition",
                                          "TransitionTime",
                                          "[Font]",
                                          "Name",
                                          "CharSet",
                                          "Size",
                                          "Color",
                                          "Bold",
                                          "Italic",
                                          "Underline",
                                          "StrikeOut",
                                          "[Event]",
                                          "MouseClick",
                                          "MouseMove"};
  EXPECT_EQ(KeyOrder(Read(IniPath())), order);

  auto t = Make();
  t->Load();
  EXPECT_EQ(t->DirList.Items(), s->DirList.Items());
  EXPECT_EQ(t->FileList.Items(), s->FileList.Items());
  EXPECT_EQ(t->SubFolder, s->SubFolder);
  EXPECT_EQ(t->ReportError, s->ReportError);
  EXPECT_EQ(t->UseSusiePlugin, s->UseSusiePlugin);
  EXPECT_EQ(t->PluginFolder, s->PluginFolder);
  EXPECT_EQ(t->CheckSize, 1);
  EXPECT_EQ(t->CheckWidth, 2);
  EXPECT_EQ(t->CheckHeight, 3);
  EXPECT_EQ(t->MaxIndex, 4);
  EXPECT_EQ(t->Extend, s->Extend);
  EXPECT_EQ(t->RandamDisplay, s->RandamDisplay);
  EXPECT_EQ(t->StretchDraw, s->StretchDraw);
  EXPECT_EQ(t->ShowTextKind, 3);
  EXPECT_EQ(t->SelectTextFileName, s->SelectTextFileName);
  EXPECT_EQ(t->BGColor, tk::clBtnFace);
  EXPECT_EQ(t->UseBGImageCheck, s->UseBGImageCheck);
  EXPECT_EQ(t->BGImagePath, s->BGImagePath);
  EXPECT_EQ(t->TextArrangement, 2);
  EXPECT_EQ(t->TextAlign, 1);
  EXPECT_EQ(t->TextLayout, 2);
  EXPECT_EQ(t->TextWrap, s->TextWrap);
  EXPECT_EQ(t->Interval, 11);
  EXPECT_EQ(t->BlankScreenInterval, 4);
  EXPECT_EQ(t->WindowBorder, 15);
  EXPECT_EQ(t->PreviousRowNumber, 77);
  EXPECT_EQ(t->AlwaysFirstRowCheck, s->AlwaysFirstRowCheck);
  EXPECT_FALSE(t->AllMonitors);
  EXPECT_EQ(t->Transition, orv::kTransitionCrossFade);
  EXPECT_EQ(t->TransitionTime, 3000);
  EXPECT_EQ(t->Font, s->Font);
  EXPECT_EQ(t->MouseClick, s->MouseClick);
  EXPECT_EQ(t->MouseMove, s->MouseMove);
}

TEST_F(SettingsStore, SaveRowNumberChangesOnlyThatLine) {
  const std::string before =
      "; mine\r\n[Screen]\r\nInterval=9\r\nPreviousRowNumber=3\r\n\r\n[Event]\r\nMouseMove=0\r\n";
  auto s = LoadFrom(before);
  EXPECT_EQ(s->PreviousRowNumber, 3);
  s->PreviousRowNumber = 120;
  s->Interval = 1;
  s->SaveRowNumber();
  std::string expected = before;
  expected.replace(expected.find("=3"), 2, "=120");
  EXPECT_EQ(Read(IniPath()), expected);
}

TEST_F(SettingsStore, BadColourTextStopsLoadAfterTheFieldsBeforeIt) {
  Write(Path(kDirList), "C:\\x\r\n");
  auto s = Make();
  Write(IniPath(),
        "[Search]\nCheckSize=7\n[Extend]\nMaxIndex=1\n"
        "[Screen]\nRandamDisplay=0\nBGColor=clPink\nInterval=30\n[Event]\nMouseClick=0\n");
  try {
    s->Load();
    ADD_FAILURE() << "Load accepted clPink";
  } catch (const tk::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'clPink' は整数ではありません");
  }
  EXPECT_EQ(s->DirList.Count(), 1);
  EXPECT_EQ(s->CheckSize, 7);
  EXPECT_TRUE(s->SubFolder);
  EXPECT_EQ(s->MaxIndex, 1);
  EXPECT_FALSE(s->RandamDisplay);
  EXPECT_TRUE(s->StretchDraw);
  // After the error: the defaults of missing keys, not the values of
  // construction (0 s pictures, mouse exits off).
  EXPECT_EQ(s->Interval, 5);
  EXPECT_EQ(s->BlankScreenInterval, 2);
  EXPECT_TRUE(s->MouseClick);
  EXPECT_TRUE(s->MouseMove);
  EXPECT_EQ(s->BGColor, tk::clBlack);

  // The limits hold for what was read before the error.
  Write(IniPath(),
        "[Screen]\nBlankScreenInterval=-4\nTransition=7\nTransitionTime=60000\n"
        "[Font]\nColor=clPink\n");
  EXPECT_THROW(s->Load(), tk::EConvertError);
  EXPECT_EQ(s->BlankScreenInterval, 0);
  EXPECT_EQ(s->Transition, orv::kTransitionNone);
  EXPECT_EQ(s->TransitionTime, orv::kTransitionTimeMax);

  auto t = LoadFrom("[Screen]\nBGColor=clWhite\n");
  Write(IniPath(), "[Screen]\nInterval=8\n[Font]\nName=Arial\nSize=20\nColor=0x\nBold=1\n");
  EXPECT_THROW(t->Load(), tk::EConvertError);
  EXPECT_EQ(t->Interval, 8);
  EXPECT_EQ(t->Font.Name, "Arial");
  EXPECT_EQ(t->Font.Size, 20);
  EXPECT_EQ(t->Font.Style, 0);
  EXPECT_EQ(t->BGColor, tk::clWhite);  // the default is the current colour
}

// A module in a folder the user may not write (System32, Program Files):
// the dialog's Load cannot create the missing lists, and that is no error;
// every key is still read, so the dialog opens with the user's settings.
TEST_F(SettingsStore, ListsThatCannotBeCreatedAreEmptyAndEveryKeyIsStillRead) {
  Write(IniPath(), "[Screen]\nInterval=9\n[Event]\nMouseMove=0\n");
  fs::create_directory(Path(kFileList));  // nothing can take its place
  const orvtest::FailingSave blocked(Path(kDirList));
  auto s = Make();
  s->Load();
  EXPECT_TRUE(s->DirList.Empty());
  EXPECT_TRUE(s->FileList.Empty());
  EXPECT_EQ(s->Interval, 9);
  EXPECT_FALSE(s->MouseMove);
  EXPECT_FALSE(fs::exists(Path(kDirList)));
}

// The show and the preview read what is there and write nothing, also
// where the folder would take the files: a missing list is an empty one.
TEST_F(SettingsStore, TheShowsLoadWritesNothing) {
  Write(IniPath(), "[Screen]\nInterval=7\n");
  Write(Path(kDirList), "C:\\d\r\n");
  auto s = Make();
  s->Load(orv::TApplicationIniFile::MissingLists::Leave);
  EXPECT_EQ(s->Interval, 7);
  EXPECT_EQ(s->DirList.Count(), 1);
  EXPECT_TRUE(s->FileList.Empty());
  EXPECT_FALSE(fs::exists(Path(kFileList)));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder_))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Orvanelle.ini", kDirList}));
}

TEST_F(SettingsStore, FailedListWriteKeepsTheOldListAndWritesNoKey) {
  Write(Path(kDirList), "C:\\keep\r\n");
  Write(Path(kFileList), "C:\\keep.jpg\r\n");
  Write(IniPath(), "[Screen]\r\nInterval=9\r\n");
  auto s = Make();
  s->Load();
  s->FileList.Clear();
  s->FileList.Add("C:\\new.jpg");
  s->DirList.Add("C:\\more");
  s->Interval = 1;
  const orvtest::FailingSave blocked(Path(kFileList));
  try {
    s->Save();
    ADD_FAILURE() << "Save did not fail";
  } catch (const tk::EFCreateError& e) {
    EXPECT_EQ(e.Message(), "ファイル " + Path(kFileList) + " を作成できません");
  }
  EXPECT_EQ(Read(Path(kFileList)), "C:\\keep.jpg\r\n");
  EXPECT_EQ(Read(Path(kDirList)), "C:\\keep\r\nC:\\more\r\n");  // written before
  EXPECT_EQ(Read(IniPath()), "[Screen]\r\nInterval=9\r\n");
}

TEST_F(SettingsStore, UnwritableSettingsFileStopsSaveWithItsPath) {
  Write(IniPath(), "[Search]\r\nCheckSize=5\r\n");
  auto s = Make();
  s->Load();
  s->DirList.Add("C:\\d");
  const orvtest::FailingSave blocked(IniPath());
  try {
    s->Save();
    ADD_FAILURE() << "Save did not fail";
  } catch (const tk::EIniFileException& e) {
    EXPECT_EQ(e.Message(), IniPath() + " に書き込めません");
  }
  EXPECT_EQ(Read(Path(kDirList)), "C:\\d\r\n");
  EXPECT_EQ(Read(IniPath()), "[Search]\r\nCheckSize=5\r\n");
  EXPECT_THROW(s->SaveRowNumber(), tk::EIniFileException);
}

TEST_F(SettingsStore, AHugeMaxIndexIsBounded) {
  auto s = LoadFrom("[Extend]\nMaxIndex=2000000000\nExtend1=0\n");
  EXPECT_EQ(s->MaxIndex, orv::TApplicationIniFile::kMaxExtendCount);
  ASSERT_EQ(s->Extend.size(), size_t(orv::TApplicationIniFile::kMaxExtendCount));
  EXPECT_FALSE(s->Extend[1]);
  EXPECT_TRUE(s->Extend.back());
}
