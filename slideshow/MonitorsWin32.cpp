#include "slideshow/MonitorsWin32.h"

#include <windows.h>

#include <utility>

#include "toolkit/Win32Handles.h"

namespace orv {

namespace {

MonitorSource& Source() {
  static MonitorSource source;
  return source;
}

// GetDpiForMonitor lives in shcore.dll from Windows 8.1 on; the module also
// runs where it does not exist.
int MonitorDpi(HMONITOR monitor, int systemDpi) {
  using GetDpiProc = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static GetDpiProc getDpi = [] {
    HMODULE shcore = LoadLibraryA("shcore.dll");  // stays loaded on purpose
    return shcore ? reinterpret_cast<GetDpiProc>(
                        reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
                  : nullptr;
  }();
  UINT x = 0, y = 0;
  // MDT_EFFECTIVE_DPI
  if (getDpi && SUCCEEDED(getDpi(monitor, 0, &x, &y)) && y > 0) return static_cast<int>(y);
  return systemDpi;
}

struct Enumeration {
  std::vector<MonitorInfo> monitors;
  int systemDpi;
};

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  auto* e = reinterpret_cast<Enumeration*>(data);
  MONITORINFO mi = {};
  mi.cbSize = sizeof mi;
  if (!GetMonitorInfoA(monitor, &mi)) return TRUE;
  MonitorInfo m;
  m.rect = IntRect{mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right, mi.rcMonitor.bottom};
  m.primary = (mi.dwFlags & MONITORINFOF_PRIMARY) != 0;
  m.dpi = MonitorDpi(monitor, e->systemDpi);
  e->monitors.push_back(m);
  return TRUE;
}

}  // namespace

std::vector<MonitorInfo> SystemMonitors() {
  Enumeration e;
  {
    tk::WindowDc screen(nullptr);
    e.systemDpi = UsableDpi(GetDeviceCaps(screen.Get(), LOGPIXELSY));
  }
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&e));
  if (e.monitors.empty()) {
    // No answer at all (a session without a desktop): the primary screen.
    MonitorInfo m;
    m.rect = IntRect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    m.dpi = e.systemDpi;
    m.primary = true;
    e.monitors.push_back(m);
  }
  return e.monitors;
}

std::vector<MonitorInfo> ListMonitors() {
  const MonitorSource& source = Source();
  return source ? source() : SystemMonitors();
}

void SetMonitorSource(MonitorSource source) { Source() = std::move(source); }

}  // namespace orv
