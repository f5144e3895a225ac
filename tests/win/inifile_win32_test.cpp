#include "settings/ApplicationIniFileWin32.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"
#include "toolkit/IniFileWin32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kDirList[] = "OrvanelleDirList.dat";
const char kFileList[] = "OrvanelleFileList.dat";

// A fresh folder with a Japanese name, so every path handed to the
// private-profile functions carries double-byte characters.
class PrivateProfile : public ::testing::Test {
 protected:
  PrivateProfile() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "設定ソ表" + std::to_string(GetCurrentProcessId()) + "_" +
              std::to_string(GetTickCount()) + "\\";
    EXPECT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
  }
  ~PrivateProfile() override { RemoveTree(folder_); }

  static void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(dir + name + "\\");
        } else {
          SetFileAttributesA((dir + name).c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA((dir + name).c_str());
        }
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }

  std::string IniPath() const { return folder_ + "Orvanelle.ini"; }
  std::unique_ptr<orv::TApplicationIniFile> Make() const {
    return std::make_unique<orv::TApplicationIniFile>(std::make_unique<tk::TIniFile>(IniPath()),
                                                      kDirList, kFileList);
  }
  static std::string Read(const std::string& path) {
    std::string s;
    EXPECT_TRUE(tk::ReadWholeFile(path, s)) << path;
    return s;
  }
  static void Write(const std::string& path, const std::string& data) {
    ASSERT_TRUE(tk::ReplaceFileContents(path, data)) << path;
  }

  std::string folder_;
};

}  // namespace

TEST_F(PrivateProfile, TypedReadsOverTheSystemFunctions) {
  Write(IniPath(),
        "[Search]\r\nCheckSize=0x400\r\nsubfolder=yes\r\nWidth=$20\r\n"
        "[Screen]\r\nLong=" +
            std::string(3000, 'q') + "\r\n");
  tk::TIniFile ini(IniPath());
  EXPECT_EQ(ini.ReadInteger("search", "CHECKSIZE", 0), 1024);
  EXPECT_EQ(ini.ReadInteger("Search", "Width", 0), 32);
  EXPECT_TRUE(ini.ReadBool("Search", "SubFolder", true));
  EXPECT_FALSE(ini.ReadBool("Search", "SubFolder", false));
  EXPECT_EQ(ini.ReadString("Search", "Missing", "d"), "d");
  EXPECT_EQ(ini.ReadString("Nothing", "Missing", "d"), "d");
  EXPECT_EQ(ini.ReadString("Screen", "Long", ""), std::string(2047, 'q'));
  tk::TIniFile none(folder_ + "none.ini");
  EXPECT_EQ(none.ReadInteger("Search", "CheckSize", 10240), 10240);
}

TEST_F(PrivateProfile, SaveAndLoadKeepJapaneseTextAndEveryField) {
  // Under another code page the bytes would be converted, not kept.
  ASSERT_EQ(GetACP(), 932u) << "run under a Japanese locale (LC_ALL=ja_JP.UTF-8)";
  auto s = Make();
  s->Load();
  EXPECT_TRUE(s->SubFolder);
  EXPECT_EQ(s->CheckSize, 10240);
  EXPECT_EQ(Read(folder_ + kDirList), "");
  EXPECT_EQ(GetFileAttributesA(IniPath().c_str()), INVALID_FILE_ATTRIBUTES);

  s->DirList.Add("C:\\写真\\ソース");
  s->FileList.Add("C:\\写真\\ソース\\表紙.jpg");
  s->PluginFolder = "C:\\プラグイン\\";
  s->SelectTextFileName = "C:\\台詞集.txt";
  s->BGImagePath = "C:\\背景.bmp";
  s->Font.Name = "ＭＳ 明朝";
  s->Font.Style = tk::fsBold | tk::fsUnderline;
  s->Font.Color = 0x00FF8040;
  s->BGColor = tk::clRed;
  s->MaxIndex = 3;
  s->Extend = {false, true, false};
  s->Interval = -3;
  s->StretchDraw = false;
  s->Save();

  auto t = Make();
  t->Load();
  EXPECT_EQ(t->DirList.Items(), s->DirList.Items());
  EXPECT_EQ(t->FileList.Items(), s->FileList.Items());
  EXPECT_EQ(t->PluginFolder, s->PluginFolder);
  EXPECT_EQ(t->SelectTextFileName, s->SelectTextFileName);
  EXPECT_EQ(t->BGImagePath, s->BGImagePath);
  EXPECT_EQ(t->Font, s->Font);
  EXPECT_EQ(t->BGColor, tk::clRed);
  EXPECT_EQ(t->Extend, s->Extend);
  EXPECT_EQ(t->Interval, -3);
  EXPECT_FALSE(t->StretchDraw);

  // The file itself holds Shift-JIS text.
  EXPECT_NE(Read(IniPath()).find("PluginFolder=C:\\プラグイン\\\r\n"), std::string::npos);
  tk::TIniFile raw(IniPath());
  EXPECT_EQ(raw.ReadString("Screen", "BGColor", ""), "clRed");
  EXPECT_EQ(raw.ReadString("Font", "Color", ""), "$00FF8040");
  EXPECT_EQ(raw.ReadString("Font", "Italic", ""), "0");
  EXPECT_EQ(raw.ReadString("Font", "Underline", ""), "1");
}

TEST_F(PrivateProfile, SaveRowNumberChangesOnlyThatLine) {
  const std::string before =
      "[Search]\r\nPluginFolder=C:\\プラグイン\\\r\n[Screen]\r\nInterval=9\r\n"
      "PreviousRowNumber=3\r\nWindowBorder=4\r\n[Event]\r\nMouseMove=0\r\n";
  Write(IniPath(), before);
  auto s = Make();
  s->Load();
  EXPECT_EQ(s->PreviousRowNumber, 3);
  EXPECT_EQ(s->PluginFolder, "C:\\プラグイン\\");
  s->PreviousRowNumber = 41;
  s->Interval = 1;
  s->SaveRowNumber();
  std::string expected = before;
  expected.replace(expected.find("PreviousRowNumber=3"), 19, "PreviousRowNumber=41");
  EXPECT_EQ(Read(IniPath()), expected);
}

TEST_F(PrivateProfile, AnUnwritableSettingsFileIsReported) {
  auto s = Make();
  s->Load();
  // A folder where the settings file should be cannot be written as one.
  ASSERT_TRUE(CreateDirectoryA(IniPath().c_str(), nullptr));
  s->DirList.Add("C:\\一");
  try {
    s->Save();
    ADD_FAILURE() << "Save did not fail";
  } catch (const tk::EIniFileException& e) {
    EXPECT_EQ(e.Message(), IniPath() + " に書き込めません");
  }
  EXPECT_EQ(Read(folder_ + kDirList), "C:\\一\r\n");
  EXPECT_THROW(s->SaveRowNumber(), tk::EIniFileException);
}

TEST_F(PrivateProfile, AListFileThatIsThereButCannotBeReadIsNotReplaced) {
  const std::string list = folder_ + kFileList;
  Write(list, "C:\\keep.jpg\r\n");
  Write(IniPath(), "[Search]\r\nCheckSize=7\r\n");
  HANDLE lock = CreateFileA(list.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  auto s = Make();
  try {
    s->Load();
    ADD_FAILURE() << "Load read a locked list";
  } catch (const tk::EFOpenError& e) {
    EXPECT_EQ(e.Message(), "ファイル " + list + " を開けません");
  }
  CloseHandle(lock);
  EXPECT_EQ(Read(list), "C:\\keep.jpg\r\n");
  EXPECT_EQ(s->CheckSize, 10240);  // no key was read: the default, not 7
}

TEST_F(PrivateProfile, TheProgramSettingsLiveBesideTheModule) {
  char module[MAX_PATH];
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  const std::string folder = tk::ExtractFilePath(module);
  auto s = orv::CreateApplicationIniFile("Orvanelle");
  EXPECT_EQ(s->FileName(), folder + "Orvanelle.ini");
  // The test program has no string table: the names fall back.
  EXPECT_EQ(s->DirListFileName(), folder + kDirList);
  EXPECT_EQ(s->FileListFileName(), folder + kFileList);
}
