// What the tests of the screen-saver window in this process share: a
// folder with the settings and the picture list, the window made from
// them, and a message loop run until something holds.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/ApplicationIniFile.h"
#include "slideshow/PrimaryScreen.h"
#include "tests/win/test_files.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFileWin32.h"
#include "toolkit/Win32Handles.h"

namespace orvtest {

class ShowWindowTest : public ::testing::Test {
 protected:
  explicit ShowWindowTest(const char* folder, uint32_t seed) : folder_(folder), seed_(seed) {}

  void SetUp() override {
    dir_ = MakeTempFolder(folder_);
    // The show's decoder is the module itself, not this test program.
    std::string module = ORV_SCR_PATH;
    for (char& c : module)
      if (c == '/') c = '\\';
    orv::UseDecoderModule(module);
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

  // Runs the show until `loaded()` reaches 1000 pictures and checks that
  // the process then holds no more memory than after 50, give or take
  // `slackBytes`, nor more GDI objects, give or take `slackObjects`.
  // `progress()` says how far the show is, printed with the figures every
  // 100 pictures.
  void ExpectAThousandPicturesLeakNothing(const std::function<int()>& loaded, SIZE_T slackBytes,
                                          long slackObjects,
                                          const std::function<std::string()>& progress) {
    ASSERT_TRUE(PumpUntil([&] { return loaded() >= 50; }, 300000));
    const SIZE_T memoryAt50 = PrivateBytes();
    const long gdiAt50 = tk::LiveGdiObjects();
    const DWORD guiAt50 = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int n = 100; n <= 1000; n += 100) {
      ASSERT_TRUE(PumpUntil([&] { return loaded() >= n; }, 1800000));
      std::printf("after %d pictures%s: %lu bytes, %ld GDI objects\n", n, progress().c_str(),
                  static_cast<unsigned long>(PrivateBytes()), tk::LiveGdiObjects());
    }
    const SIZE_T memoryAt1000 = PrivateBytes();
    const long gdiAt1000 = tk::LiveGdiObjects();
    const DWORD guiAt1000 = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    RecordProperty("memory_at_50", static_cast<int>(memoryAt50));
    RecordProperty("memory_at_1000", static_cast<int>(memoryAt1000));
    RecordProperty("gdi_at_50", static_cast<int>(gdiAt50));
    RecordProperty("gdi_at_1000", static_cast<int>(gdiAt1000));
    EXPECT_LE(memoryAt1000, memoryAt50 + slackBytes);
    EXPECT_LE(gdiAt1000, gdiAt50 + slackObjects);
    if (guiAt50 != 0) {
      EXPECT_LE(guiAt1000, guiAt50 + DWORD(slackObjects));
    }
  }

  std::string dir_;
  std::unique_ptr<orv::TPrimaryWindow> window_;

  static SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                         sizeof pmc);
    return pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
  }

 private:
  const char* folder_;
  uint32_t seed_;
};

}  // namespace orvtest
