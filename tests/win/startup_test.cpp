// The module's first steps: each mode's DPI awareness is in force before
// its thread makes a window. Windows documents that a window keeps the
// awareness it was made with and that the process's awareness cannot be
// changed once a window exists; Wine forgives both, so the order is watched
// here through a hook on window creation.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/StartUpWin32.h"

namespace {

using orv::RunMode;
using orv::ThreadDpi;

// Windows created so far on this thread, and the thread's awareness when
// the first of them was made (-1: not known).
thread_local int t_windows = 0;
thread_local int t_first_awareness = -1;

int ThreadAwareness() {
  using GetContextProc = HANDLE(WINAPI*)();
  using AwarenessProc = int(WINAPI*)(HANDLE);
  HMODULE user32 = GetModuleHandleA("user32.dll");
  auto getContext = reinterpret_cast<GetContextProc>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
  auto awareness = reinterpret_cast<AwarenessProc>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
  if (!getContext || !awareness) return -1;
  return awareness(getContext());
}

LRESULT CALLBACK CountCreation(int code, WPARAM w, LPARAM l) {
  if (code == HCBT_CREATEWND && t_windows++ == 0) t_first_awareness = ThreadAwareness();
  return CallNextHookEx(nullptr, code, w, l);
}

struct StartUpRecord {
  std::vector<std::pair<ThreadDpi, int>> dpiCalls;  // what was asked, windows made before
  int firstAwareness = -1;
  bool applicationWindow = false;
};

// Runs the module's start-up for `mode` on a fresh thread, as WinMain does
// on its own, with a hook that sees every window the thread makes.
StartUpRecord StartUpOnAFreshThread(RunMode mode, bool recordDpiCalls) {
  StartUpRecord r;
  std::thread([&] {
    HHOOK hook = SetWindowsHookExA(WH_CBT, CountCreation, nullptr, GetCurrentThreadId());
    if (recordDpiCalls)
      orv::UseThreadDpiSetter([&](ThreadDpi dpi) { r.dpiCalls.emplace_back(dpi, t_windows); });
    tk::TApplication app;
    orv::StartUp(mode, app, "OrvanelleStartUpTest");
    r.applicationWindow = app.Handle() != nullptr;
    r.firstAwareness = t_first_awareness;
    app.Finalize();
    orv::UseThreadDpiSetter(nullptr);
    if (hook) UnhookWindowsHookEx(hook);
  }).join();
  return r;
}

TEST(StartUp, EachModeAsksForItsAwarenessBeforeTheFirstWindow) {
  struct Case {
    RunMode mode;
    ThreadDpi dpi;
  } const cases[] = {
      {RunMode::Configure, ThreadDpi::SystemAware},
      {RunMode::Preview, ThreadDpi::Unaware},
      {RunMode::Run, ThreadDpi::ProcessDefault},
      {RunMode::Password, ThreadDpi::ProcessDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    const StartUpRecord r = StartUpOnAFreshThread(c.mode, true);
    ASSERT_EQ(r.dpiCalls.size(), 1u);
    EXPECT_EQ(r.dpiCalls[0].first, c.dpi);
    EXPECT_EQ(r.dpiCalls[0].second, 0) << "a window existed before the awareness was set";
    EXPECT_TRUE(r.applicationWindow);
  }
}

// Without the seam: the first window of the dialog's thread is made system
// aware, that of the preview unaware, whatever the process default is.
TEST(StartUp, TheFirstWindowIsMadeWithTheModesAwarenessInForce) {
  if (ThreadAwareness() < 0) GTEST_SKIP() << "no thread DPI contexts on this system";
  EXPECT_EQ(StartUpOnAFreshThread(RunMode::Configure, false).firstAwareness,
            1 /* DPI_AWARENESS_SYSTEM_AWARE */);
  EXPECT_EQ(StartUpOnAFreshThread(RunMode::Preview, false).firstAwareness,
            0 /* DPI_AWARENESS_UNAWARE */);
}

}  // namespace
