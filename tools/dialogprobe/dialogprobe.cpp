// Looks at the settings dialog from outside, as a user or a test harness
// would, through its windows only.
//   dialogprobe open <folder> [runs]  start <folder>\Orvanelle.scr /c <runs>
//                                      times (default 5); print the time from
//                                      process start until the dialog is
//                                      visible and answers a message, in ms,
//                                      each run and the median; close it
//                                      with Cancel each time
//   dialogprobe rect <control id>      screen rectangle of a visible control
//                                      of the open dialog
//   dialogprobe windows                the visible windows owned by the open
//                                      dialog (the pickers), with class,
//                                      title and screen rectangle, and the
//                                      rectangle of the dialog's monitor
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kDialogClass[] = "TConfigDlg";

HWND VisibleDialog() {
  HWND w = FindWindowA(kDialogClass, nullptr);
  return w && IsWindowVisible(w) ? w : nullptr;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

// One run; a negative result is a failure.
double TimeOneOpen(const std::string& folder) {
  if (FindWindowA(kDialogClass, nullptr)) {
    std::fprintf(stderr, "dialogprobe: a settings dialog is already open\n");
    return -1;
  }
  std::string cmd = "\"" + folder + "\\Orvanelle.scr\" /c";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                      &pi)) {
    std::fprintf(stderr, "dialogprobe: cannot start %s (%lu)\n", cmd.c_str(), GetLastError());
    return -1;
  }
  HWND dlg = nullptr;
  double result = -1;
  for (;;) {
    if ((dlg = VisibleDialog()) != nullptr) {
      DWORD_PTR answer = 0;
      // The dialog answers once its creation has finished and its thread
      // takes messages again.
      if (SendMessageTimeoutA(dlg, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &answer)) {
        QueryPerformanceCounter(&end);
        result = Seconds(start, end);
      }
      break;
    }
    if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) {
      std::fprintf(stderr, "dialogprobe: the module ended before its dialog opened\n");
      break;
    }
    QueryPerformanceCounter(&end);
    if (Seconds(start, end) > 60) {
      std::fprintf(stderr, "dialogprobe: no dialog after 60 s\n");
      break;
    }
  }
  if (dlg) PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "dialogprobe: the dialog did not close on Cancel\n");
    TerminateProcess(pi.hProcess, 1);
    result = -1;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

int Open(const std::string& folder, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double t = TimeOneOpen(folder);
    if (t < 0) return 1;
    std::printf("run %d: %.0f ms\n", i + 1, t * 1000);
    std::fflush(stdout);
    times.push_back(t);
  }
  std::sort(times.begin(), times.end());
  std::printf("median of %d: %.0f ms\n", runs, times[times.size() / 2] * 1000);
  return 0;
}

struct Find {
  int id;
  HWND found;
};

BOOL CALLBACK FindControl(HWND w, LPARAM lp) {
  auto* f = reinterpret_cast<Find*>(lp);
  if (GetDlgCtrlID(w) == f->id && IsWindowVisible(w)) {
    f->found = w;
    return FALSE;
  }
  return TRUE;
}

int Rect(int id) {
  HWND dlg = VisibleDialog();
  if (!dlg) return 2;
  Find f = {id, nullptr};
  EnumChildWindows(dlg, FindControl, reinterpret_cast<LPARAM>(&f));
  if (!f.found) return 3;
  RECT r;
  GetWindowRect(f.found, &r);
  std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
  return 0;
}

BOOL CALLBACK PrintOwned(HWND w, LPARAM lp) {
  if (GetWindow(w, GW_OWNER) != reinterpret_cast<HWND>(lp) || !IsWindowVisible(w)) return TRUE;
  char cls[128] = {}, title[256] = {};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, title, sizeof title);
  RECT r;
  GetWindowRect(w, &r);
  std::printf("window %ld %ld %ld %ld %s %s\n", r.left, r.top, r.right, r.bottom, cls, title);
  return TRUE;
}

int Windows() {
  HWND dlg = VisibleDialog();
  if (!dlg) return 2;
  MONITORINFO mi = {};
  mi.cbSize = sizeof mi;
  GetMonitorInfoA(MonitorFromWindow(dlg, MONITOR_DEFAULTTOPRIMARY), &mi);
  std::printf("monitor %ld %ld %ld %ld\n", mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right,
              mi.rcMonitor.bottom);
  RECT r;
  GetWindowRect(dlg, &r);
  std::printf("dialog %ld %ld %ld %ld enabled=%d\n", r.left, r.top, r.right, r.bottom,
              IsWindowEnabled(dlg) ? 1 : 0);
  EnumWindows(PrintOwned, reinterpret_cast<LPARAM>(dlg));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "open" && argc >= 3) return Open(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
  if (cmd == "rect" && argc == 3) return Rect(std::atoi(argv[2]));
  if (cmd == "windows" && argc == 2) return Windows();
  std::fprintf(stderr, "usage: dialogprobe open <folder> [runs] | rect <id> | windows\n");
  return 2;
}
