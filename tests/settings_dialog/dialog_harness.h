// Drives the real settings dialog in this process: settings files in a
// temporary folder, the dialog as the application's main form, input as
// the controls' own messages through the message loop, and a watcher that
// answers the dialog boxes (message boxes, the folder browser) the dialog
// opens on its own thread.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/ConfigDlg.h"
#include "config/ConfigDlgRes.h"
#include "decoder/DecoderClientWin32.h"
#include "toolkit/IniFileWin32.h"
#include "toolkit/Win32Handles.h"

namespace dlgtest {

inline std::string NewTempFolder(const char* tag) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  // Process ids repeat between runs under Wine: a folder left by an
  // earlier run is never reused.
  static int n = 0;
  for (;;) {
    std::string dir = std::string(base) + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
                      std::to_string(++n);
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir + "\\";
    if (GetLastError() != ERROR_ALREADY_EXISTS) return dir + "\\";
  }
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  tk::ScopedFileHandle h(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(static_cast<bool>(h)) << path;
  DWORD n = 0;
  WriteFile(h.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

// The file's bytes, or "<missing>".
inline std::string ReadBytes(const std::string& path) {
  tk::ScopedFileHandle h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  if (!h) return "<missing>";
  std::string s(GetFileSize(h.Get(), nullptr), '\0');
  DWORD n = 0;
  if (!s.empty()) ReadFile(h.Get(), &s[0], static_cast<DWORD>(s.size()), &n, nullptr);
  s.resize(n);
  return s;
}

inline std::string Lines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

inline std::string WindowText(HWND w) {
  char text[1024] = {};
  GetWindowTextA(w, text, sizeof text);
  return text;
}

inline bool WaitUntil(const std::function<bool()>& done, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    tk::Application.ProcessMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(10);
  }
}

// Answers every dialog box (#32770) of this process with its default push
// button once it has been up for `settleMs`, and keeps the texts of its
// static controls, one string per box.
class DialogBoxWatcher {
 public:
  explicit DialogBoxWatcher(int settleMs = 300) : settle_ms_(settleMs) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~DialogBoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  // Called on the watcher's thread with each box before it is answered;
  // may answer it itself and return true.
  std::function<bool(HWND box)> OnBox;

 private:
  static BOOL CALLBACK CollectStatic(HWND w, LPARAM lp) {
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && IsWindowVisible(w)) {
      auto* s = reinterpret_cast<std::string*>(lp);
      const std::string t = WindowText(w);
      if (!t.empty()) *s += (s->empty() ? "" : "|") + t;
    }
    return TRUE;
  }
  struct Found {
    DWORD pid;
    HWND box;
  };
  static BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
    auto* f = reinterpret_cast<Found*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (pid == f->pid && IsWindowVisible(w) && lstrcmpA(cls, "#32770") == 0) {
      f->box = w;
      return FALSE;
    }
    return TRUE;
  }
  void Loop() {
    HWND seen = nullptr;
    auto since = std::chrono::steady_clock::now();
    while (!stop_) {
      Found f = {GetCurrentProcessId(), nullptr};
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&f));
      if (f.box != seen) {
        seen = f.box;
        since = std::chrono::steady_clock::now();
      } else if (f.box && std::chrono::steady_clock::now() - since >
                              std::chrono::milliseconds(settle_ms_)) {
        std::string text;
        EnumChildWindows(f.box, CollectStatic, reinterpret_cast<LPARAM>(&text));
        {
          std::lock_guard<std::mutex> lock(mutex_);
          texts_.push_back(text);
        }
        if (!(OnBox && OnBox(f.box))) PostMessageA(f.box, WM_COMMAND, IDOK, 0);
        // Wait for it to go before looking again.
        for (int i = 0; i < 500 && IsWindow(f.box) && IsWindowVisible(f.box) && !stop_; ++i)
          Sleep(10);
        seen = nullptr;
      }
      Sleep(20);
    }
  }

  int settle_ms_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

class DialogTest : public testing::Test {
 protected:
  void SetUp() override {
    tk::Application.Initialize();
    tk::Application.ClearTerminated();
    dir_ = NewTempFolder("orv_dialog");
    // The dialog's search starts its decoder from the module, not from
    // this test program.
    std::string module = ORV_SCR_PATH;
    for (char& c : module)
      if (c == '/') c = '\\';
    orv::UseDecoderModule(module);
  }
  void TearDown() override { CloseDialog(); }

  std::string IniPath() const { return dir_ + "Orvanelle.ini"; }
  std::string DirListPath() const { return dir_ + "OrvanelleDirList.dat"; }
  std::string FileListPath() const { return dir_ + "OrvanelleFileList.dat"; }

  void WriteSettings(const std::string& ini, const std::vector<std::string>& dirs,
                     const std::vector<std::string>& files) {
    WriteBytes(IniPath(), ini);
    WriteBytes(DirListPath(), Lines(dirs));
    WriteBytes(FileListPath(), Lines(files));
  }
  // The three files as one text, for byte-for-byte comparisons.
  std::string Files() const {
    return ReadBytes(IniPath()) + "\n--\n" + ReadBytes(DirListPath()) + "\n--\n" +
           ReadBytes(FileListPath());
  }

  // `owner`: the window named by "/c:<handle>", or null.
  orv::TConfigDlg& Open(HWND owner = nullptr) {
    const std::string dir = dir_;
    dlg_ = std::make_unique<orv::TConfigDlg>(
        [dir] {
          return std::make_unique<orv::TApplicationIniFile>(
              std::make_unique<tk::TIniFile>(dir + "Orvanelle.ini"), "OrvanelleDirList.dat",
              "OrvanelleFileList.dat");
        },
        owner);
    tk::Application.MainForm = dlg_.get();
    dlg_->CreateForm();
    Pump(50);
    return *dlg_;
  }
  void CloseDialog() {
    if (!dlg_) return;
    tk::Application.MainForm = nullptr;
    dlg_.reset();
    tk::Application.ClearTerminated();
  }
  // True once OK or Cancel ended the dialog's message loop.
  bool Ended() const { return tk::Application.Terminated(); }

  void Pump(int ms) {
    WaitUntil([] { return false; }, ms);
  }
  HWND Item(int id) const {
    Find f = {id, nullptr};
    EnumChildWindows(dlg_->Handle(), FindId, reinterpret_cast<LPARAM>(&f));
    return f.found;
  }
  // A click as the button sends it itself.
  void Click(int id) {
    HWND b = Item(id);
    ASSERT_NE(b, nullptr) << id;
    SendMessageA(b, BM_CLICK, 0, 0);
    Pump(20);
  }
  // A key pressed on the focused control, through the message loop.
  void Key(WORD vk) {
    HWND focus = GetFocus();
    PostMessageA(focus, WM_KEYDOWN, vk, 1);
    PostMessageA(focus, WM_KEYUP, vk, 0xC0000001);
    Pump(50);
  }

  std::string dir_;
  std::unique_ptr<orv::TConfigDlg> dlg_;

 private:
  struct Find {
    int id;
    HWND found;
  };
  static BOOL CALLBACK FindId(HWND w, LPARAM lp) {
    auto* f = reinterpret_cast<Find*>(lp);
    if (GetDlgCtrlID(w) != f->id) return TRUE;
    f->found = w;
    return FALSE;
  }
};

}  // namespace dlgtest
