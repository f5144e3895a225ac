// What the tests of the screen-saver window in this process share: a
// folder with the settings and the picture list, the window made from
// them, and a message loop run until something holds.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/ApplicationIniFile.h"
#include "slideshow/PrimaryScreen.h"
#include "tests/win/test_files.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFileWin32.h"

namespace orvtest {

class ShowWindowTest : public ::testing::Test {
 protected:
  explicit ShowWindowTest(const char* folder, uint32_t seed) : folder_(folder), seed_(seed) {}

  void SetUp() override {
    dir_ = MakeTempFolder(folder_);
    tk::Application.Title = "Orvanelle";
    tk::Application.Initialize();
    tk::Application.ClearTerminated();
  }
  void TearDown() override {
    window_.reset();
    tk::Application.MainForm = nullptr;
    tk::Application.ClearTerminated();
  }

  void WriteSettings(const std::string& ini, const std::vector<std::string>& files) {
    WriteFile(dir_ + "Orvanelle.ini", ini);
    std::string list;
    for (const auto& f : files) list += f + "\r\n";
    WriteFile(dir_ + "OrvanelleFileList.dat", list);
  }

  orv::TPrimaryWindow& Start(HWND parent = nullptr) {
    const std::string dir = dir_;
    window_ = std::make_unique<orv::TPrimaryWindow>(parent, [dir] {
      return std::make_unique<orv::TApplicationIniFile>(
          std::make_unique<tk::TIniFile>(dir + "Orvanelle.ini"), "OrvanelleDirList.dat",
          "OrvanelleFileList.dat");
    });
    window_->SeedRandom(seed_);
    tk::Application.MainForm = window_.get();
    window_->CreateForm();
    return *window_;
  }

  // Runs the message loop until `done` holds or the time is up.
  bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > timeoutMs) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      tk::Application.ProcessMessages();
    }
    return true;
  }

  std::string dir_;
  std::unique_ptr<orv::TPrimaryWindow> window_;

 private:
  const char* folder_;
  uint32_t seed_;
};

}  // namespace orvtest
