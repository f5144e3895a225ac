// Entry of the screen-saver module: one instance at a time, the mode from
// the first argument, one window, the message loop.
#include <windows.h>

#include <memory>
#include <optional>

#include "app/RunMode.h"
#include "app/StartUpWin32.h"
#include "config/ConfigDlg.h"
#include "decoder/DecoderProcessWin32.h"
#include "settings/ApplicationIniFileWin32.h"
#include "slideshow/PrimaryScreen.h"
#include "toolkit/CommandLine.h"
#include "toolkit/Convert.h"
#include "toolkit/Forms.h"
#include "toolkit/Win32Handles.h"

// Module state other parts look at.
HWND ParentHandle = nullptr;
orv::TPrimaryWindow* PrimaryWindow = nullptr;
orv::TConfigDlg* ConfigDlg = nullptr;

namespace {

constexpr char kMutexName[] = "MyOrvanelle";
constexpr char kTitle[] = "Orvanelle";
constexpr UINT kAppNameResource = 1;

std::unique_ptr<orv::TApplicationIniFile> MakeSettings() {
  return orv::CreateApplicationIniFile(tk::Application.Title);
}

std::string UpperAnsi(std::string s) {
  if (!s.empty()) CharUpperBuffA(&s[0], static_cast<DWORD>(s.size()));
  return s;
}

// The mutex that keeps a second instance out, released and closed on every
// way out of WinMain, an exception's included.
class InstanceMutex {
 public:
  explicit InstanceMutex(const char* name)
      : handle_(CreateMutexA(nullptr, TRUE, name)), first_(GetLastError() == 0) {}
  ~InstanceMutex() {
    if (First()) ReleaseMutex(handle_.Get());
  }
  InstanceMutex(const InstanceMutex&) = delete;
  InstanceMutex& operator=(const InstanceMutex&) = delete;
  bool First() const { return handle_ && first_; }

 private:
  tk::ScopedKernelHandle handle_;
  bool first_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string commandLine = GetCommandLineA();
  // A decoder process of a saver or settings dialog: before the run mode,
  // no mutex, no window.
  if (orv::IsDecoderSwitch(tk::ParamStr(commandLine, 1))) return orv::RunDecoderProcess(commandLine);
  const orv::RunMode mode = orv::ModeFromArgument(UpperAnsi(tk::ParamStr(commandLine, 1)));

  // The Screen Saver Settings page keeps its preview running while the user
  // presses Settings or Preview; a preview that held the mutex would make
  // both buttons seem dead. The preview writes nothing and shows no
  // picture, so it takes no part in keeping instances apart.
  std::optional<InstanceMutex> mutex;
  if (orv::TakesInstanceMutex(mode)) {
    mutex.emplace(kMutexName);
    if (!mutex->First()) return 1;
  }

  // Before anything makes a window: DPI awareness set later fails, and a
  // show that is not aware has every photo stretched by the system.
  orv::StartUp(mode, tk::Application, kTitle);

  if (mode == orv::RunMode::Preview) {
    ShowWindow(tk::Application.Handle(), SW_HIDE);
    int32_t handle = 0;
    // A missing or malformed handle, or one that names no window, ends the
    // preview quietly: the display page simply shows nothing.
    if (!tk::TryStrToInt(tk::ParamStr(commandLine, 2), handle) ||
        !IsWindow(reinterpret_cast<HWND>(static_cast<intptr_t>(handle)))) {
      tk::Application.Finalize();
      return 0;
    }
    ParentHandle = reinterpret_cast<HWND>(static_cast<intptr_t>(handle));
    ShowWindow(ParentHandle, SW_SHOW);
  }

  if (mode == orv::RunMode::Password) {
    tk::Application.ShowMessageBox("Password not supported", tk::LoadResString(kAppNameResource),
                                   0);
    return 0;
  }

  std::unique_ptr<tk::TForm> form;
  if (mode == orv::RunMode::Configure) {
    uint32_t owner = 0;
    HWND requestedOwner = nullptr;
    if (orv::OwnerFromArgument(tk::ParamStr(commandLine, 1), owner))
      // Handles are 32-bit values, sign-extended where pointers are wider.
      requestedOwner = reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(owner)));
    auto dlg = std::make_unique<orv::TConfigDlg>(MakeSettings, requestedOwner);
    ConfigDlg = dlg.get();
    form = std::move(dlg);
  } else {
    auto window = std::make_unique<orv::TPrimaryWindow>(ParentHandle, MakeSettings);
    PrimaryWindow = window.get();
    form = std::move(window);
  }
  tk::RunMainForm(*form, [mode] {
    if (mode != orv::RunMode::Preview) return;
    RECT r = {};
    GetWindowRect(ParentHandle, &r);
    PrimaryWindow->SetBounds(0, 0, r.right - r.left, r.bottom - r.top);
    PrimaryWindow->KeyDownExit = false;
    PrimaryWindow->MouseMoveExit = false;
    PrimaryWindow->MouseClickExit = false;
  });
  PrimaryWindow = nullptr;
  ConfigDlg = nullptr;
  form.reset();
  tk::Application.Finalize();
  return 0;
}
