// Entry of the screen-saver module: one instance at a time, the mode from
// the first argument, one window, the message loop.
#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/RunMode.h"
#include "config/ConfigDlg.h"
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

// Pictures must be drawn at the screen's real resolution and the settings
// dialog's text kept sharp, not stretched by the system's scaling. Run mode
// is per-monitor aware (version 2, Windows 10 1703 and later): every saver
// window lays out in its own monitor's pixels and hears WM_DPICHANGED.
// Older systems, whose per-monitor awareness (version 1) leaves a window's
// frame unscaled, get system awareness instead. The settings dialog stays
// system aware: it is laid out once for the system DPI, and Windows scales
// it as a whole on a monitor of another DPI. The module also runs on
// Windows 7, so every call is looked up.
void DeclareDpiAware(bool perMonitor) {
  if (HMODULE user32 = GetModuleHandleA("user32.dll")) {
    using SetContextProc = BOOL(WINAPI*)(HANDLE);
    if (auto setContext = reinterpret_cast<SetContextProc>(
            reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
      // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 or _SYSTEM_AWARE.
      if (setContext(reinterpret_cast<HANDLE>(perMonitor ? -4 : -2))) return;
    }
  }
  if (HMODULE shcore = LoadLibraryA("shcore.dll")) {
    using SetAwarenessProc = HRESULT(WINAPI*)(int);
    auto setAwareness = reinterpret_cast<SetAwarenessProc>(
        reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
    // PROCESS_SYSTEM_DPI_AWARE; the library stays loaded on purpose.
    if (setAwareness && SUCCEEDED(setAwareness(1))) return;
  }
  if (HMODULE user32 = GetModuleHandleA("user32.dll")) {
    using SetAwareProc = BOOL(WINAPI*)();
    if (auto setAware = reinterpret_cast<SetAwareProc>(
            reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware"))))
      setAware();
  }
}

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
  const InstanceMutex mutex(kMutexName);
  if (!mutex.First()) return 1;

  // The manifest asks for version 6 of the common controls; its window
  // classes (message boxes' static text among them) exist only once the
  // library is initialised.
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);

  const std::string commandLine = GetCommandLineA();
  const orv::RunMode mode = orv::ModeFromArgument(UpperAnsi(tk::ParamStr(commandLine, 1)));

  tk::Application.Title = kTitle;
  tk::Application.Initialize();

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

  if (mode == orv::RunMode::Run || mode == orv::RunMode::Configure)
    DeclareDpiAware(mode == orv::RunMode::Run);

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
