#include "app/StartUpWin32.h"

#include <windows.h>
#include <commctrl.h>

namespace orv {

namespace {

std::function<void(ThreadDpi)>& Setter() {
  static std::function<void(ThreadDpi)> setter;
  return setter;
}

void SetThreadContext(ThreadDpi dpi) {
  using SetContextProc = HANDLE(WINAPI*)(HANDLE);
  static const auto setContext = reinterpret_cast<SetContextProc>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
  if (!setContext) return;
  // DPI_AWARENESS_CONTEXT_SYSTEM_AWARE and _UNAWARE; looked up, so the
  // module still starts on Windows 7 and 8.1.
  setContext(reinterpret_cast<HANDLE>(dpi == ThreadDpi::SystemAware ? -2 : -1));
}

}  // namespace

ThreadDpi ThreadDpiFor(RunMode mode) {
  switch (mode) {
    case RunMode::Configure:
      return ThreadDpi::SystemAware;
    case RunMode::Preview:
      return ThreadDpi::Unaware;
    case RunMode::Run:
    case RunMode::Password:
      return ThreadDpi::ProcessDefault;
  }
  return ThreadDpi::ProcessDefault;
}

void UseThreadDpiSetter(std::function<void(ThreadDpi)> setter) { Setter() = std::move(setter); }

void EnterThreadDpi(ThreadDpi dpi) {
  if (Setter()) {
    Setter()(dpi);
    return;
  }
  if (dpi != ThreadDpi::ProcessDefault) SetThreadContext(dpi);
}

void StartUp(RunMode mode, tk::TApplication& app, const char* title) {
  EnterThreadDpi(ThreadDpiFor(mode));
  // The manifest asks for version 6 of the common controls; its window
  // classes (message boxes' static text among them) exist only once the
  // library is initialised.
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  app.Title = title;
  app.Initialize();
}

}  // namespace orv
