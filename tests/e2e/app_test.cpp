// The screen-saver module as Windows starts it: run, preview, password and
// settings modes, one instance at a time, and what the show puts on screen.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "bench/synthetic_photo.h"
#include "imaging/JpegImage.h"
#include "tests/core/jpeg_test_encoder.h"
#ifdef ORV_PLUGIN_DIR
#include "tests/photo/heif_builder.h"
#endif
#include "tests/plugins/TestPlugin.h"
#include "tests/win/test_files.h"
#include "toolkit/Bitmap.h"

namespace {

constexpr DWORD kStartTimeoutMs = 90000;  // Wine under emulation starts slowly

using orvtest::WriteSolidBmp;

struct Process {
  PROCESS_INFORMATION pi = {};
  bool started = false;
  ~Process() {
    if (!started) return;
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  // Exit code, or -1 when the process is still running after `ms`.
  long WaitExit(DWORD ms) {
    if (WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return static_cast<long>(code);
  }
};

struct FindData {
  DWORD pid;
  const char* cls;
  HWND found;
};

BOOL CALLBACK FindTopLevel(HWND wnd, LPARAM lp) {
  auto* d = reinterpret_cast<FindData*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  char cls[64] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  if (pid == d->pid && std::string(cls) == d->cls && IsWindowVisible(wnd)) {
    d->found = wnd;
    return FALSE;
  }
  return TRUE;
}

HWND TopLevelOf(DWORD pid, const char* cls) {
  FindData d{pid, cls, nullptr};
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&d));
  return d.found;
}

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(50);
  }
  return true;
}

// A 32-bit copy of the screen; x and y are virtual-screen coordinates
// (negative left of or above the primary, which starts at 0, 0).
struct Screen {
  // The primary monitor; with `everyMonitor` the whole virtual screen.
  explicit Screen(bool everyMonitor = false)
      : x(everyMonitor ? GetSystemMetrics(SM_XVIRTUALSCREEN) : 0),
        y(everyMonitor ? GetSystemMetrics(SM_YVIRTUALSCREEN) : 0),
        w(GetSystemMetrics(everyMonitor ? SM_CXVIRTUALSCREEN : SM_CXSCREEN)),
        h(GetSystemMetrics(everyMonitor ? SM_CYVIRTUALSCREEN : SM_CYSCREEN)) {}
  int x, y, w, h;
  std::vector<uint32_t> px;
  void Grab() {
    px.assign(static_cast<size_t>(w) * h, 0);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, x, y, SRCCOPY);
    GdiFlush();
    std::memcpy(px.data(), bits, px.size() * 4);
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
  }
  static bool Near(uint32_t p, COLORREF c, int tol) {
    const int b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
    return std::abs(r - GetRValue(c)) <= tol && std::abs(g - GetGValue(c)) <= tol &&
           std::abs(b - GetBValue(c)) <= tol;
  }
  // Pixels of the colour inside r (virtual-screen coordinates), and the
  // height of the rows that hold any.
  int Count(const RECT& r, COLORREF c, int tol = 40, int* rows = nullptr) const {
    int n = 0, top = -1, bottom = -1;
    for (int yy = r.top; yy < r.bottom; ++yy)
      for (int xx = r.left; xx < r.right; ++xx) {
        if (Near(px[static_cast<size_t>(yy - y) * w + (xx - x)], c, tol)) {
          ++n;
          if (top < 0) top = yy;
          bottom = yy;
        }
      }
    if (rows) *rows = top < 0 ? 0 : bottom - top + 1;
    return n;
  }
  // Leaves the picture for a person to look at, when asked to.
  void Save(const std::string& name) const {
    const char* dir = std::getenv("ORV_SHOTS_DIR");
    if (!dir || !*dir) return;
    tk::TBitmap b;
    b.Allocate(tk::TPixelFormat::pf24bit, w, h);
    for (int yy = 0; yy < h; ++yy)
      for (int xx = 0; xx < w; ++xx) {
        const uint32_t p = px[static_cast<size_t>(yy) * w + xx];
        uint8_t* d = b.ScanLine(yy) + 3 * xx;
        d[0] = p & 0xFF;
        d[1] = (p >> 8) & 0xFF;
        d[2] = (p >> 16) & 0xFF;
      }
    b.SaveToFile(std::string(dir) + "\\" + name + ".bmp");
  }
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orvtest::MakeTempFolder("app_test");
    scr_ = dir_ + "Orvanelle.scr";
    ASSERT_TRUE(CopyFileA(ORV_SCR_PATH, scr_.c_str(), FALSE)) << ORV_SCR_PATH;
  }
  void Launch(Process& p, const std::string& args) {
    std::string cmd = "\"" + scr_ + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir_.c_str(),
                               &si, &p.pi));
    p.started = true;
  }
  void Settings(const std::string& ini, const std::vector<std::string>& files) {
    orvtest::WriteFile(dir_ + "Orvanelle.ini", ini);
    std::string list;
    for (const auto& f : files) list += f + "\r\n";
    orvtest::WriteFile(dir_ + "OrvanelleFileList.dat", list);
  }
  // A window of this process for a preview to draw in, as the display page
  // gives one.
  static HWND PreviewHost(int x, int y, int w, int h) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OrvPreviewParent";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr,
                           nullptr, wc.hInstance, nullptr);
  }
  // Starts a preview in `host`; its window, or null when none came.
  HWND StartPreview(Process& p, HWND host) {
    Launch(p, "/p " + std::to_string(reinterpret_cast<uintptr_t>(host)));
    HWND child = nullptr;
    WaitFor([&] { return (child = FindWindowExA(host, nullptr, "TPrimaryWindow", nullptr)); },
            kStartTimeoutMs);
    return child;
  }
  HWND WaitWindow(Process& p, const char* cls) {
    HWND w = nullptr;
    WaitFor(
        [&] { return (w = TopLevelOf(p.pi.dwProcessId, cls)) != nullptr || p.WaitExit(0) != -1; },
        kStartTimeoutMs);
    return w;
  }
  std::string dir_, scr_;
};

TEST_F(AppTest, RunModeShowsThePicturesWithMarginAndCaptionUntilAKey) {
  const std::string big = dir_ + "big.bmp", small = dir_ + "small.bmp", wide = dir_ + "wide.bmp";
  WriteSolidBmp(big, 1600, 1200, RGB(230, 20, 20));  // larger than the screen
  WriteSolidBmp(small, 300, 200, RGB(20, 230, 20));  // smaller
  WriteSolidBmp(wide, 2400, 600, RGB(20, 20, 230));
  Settings(
      "[Screen]\r\nRandamDisplay=0\r\nInterval=2\r\nBlankScreenInterval=0\r\nWindowBorder=10\r\n"
      "ShowTextKind=1\r\nTextArrangement=3\r\nBGColor=clNavy\r\n[Font]\r\nColor=clWhite\r\n"
      "Size=18\r\n[Event]\r\nMouseMove=0\r\n",
      {big, small, wide});
  Process p;
  Launch(p, "/s");
  HWND w = WaitWindow(p, "TPrimaryWindow");
  ASSERT_NE(w, nullptr) << "no slideshow window";

  Screen s;
  const int mx = static_cast<int>(s.w * 0.05), my = static_cast<int>(s.h * 0.05);
  const RECT area = {mx, my, s.w - mx, s.h - my};
  const RECT margin = {0, 0, s.w, my};
  const int unit = (area.bottom - area.top - 20) / 100;
  const RECT picture = {area.left, area.top, area.right, area.top + unit * 80};
  const RECT caption = {area.left, area.top + unit * 80 + 20, area.right, area.bottom};
  bool seen[3] = {}, captionSeen = false, marginOk = true;
  const COLORREF colors[3] = {RGB(230, 20, 20), RGB(20, 230, 20), RGB(20, 20, 230)};
  WaitFor(
      [&] {
        s.Grab();
        bool showing = false;
        for (int i = 0; i < 3; ++i)
          if (s.Count(picture, colors[i]) > 5000) seen[i] = showing = true;
        if (s.Count(caption, RGB(255, 255, 255), 10) > 20) captionSeen = true;
        // While a picture is up, the margin shows nothing but the background.
        if (showing && s.Count(margin, RGB(0, 0, 0x80), 8) < margin.right * margin.bottom)
          marginOk = false;
        return seen[0] && seen[1] && seen[2] && captionSeen;
      },
      120000);
  EXPECT_TRUE(seen[0]) << "large picture never shown";
  EXPECT_TRUE(seen[1]) << "small picture never shown";
  EXPECT_TRUE(seen[2]) << "wide picture never shown";
  EXPECT_TRUE(captionSeen) << "no caption below the picture";
  EXPECT_TRUE(marginOk) << "the margin was not the background colour";
  PostMessageA(w, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(p.WaitExit(30000), 0);
}

struct MonitorRects {
  std::vector<RECT> rects;
  RECT primary = {};
};

BOOL CALLBACK AddMonitorRect(HMONITOR monitor, HDC, LPRECT, LPARAM lp) {
  auto* m = reinterpret_cast<MonitorRects*>(lp);
  MONITORINFO mi = {};
  mi.cbSize = sizeof mi;
  GetMonitorInfoA(monitor, &mi);
  m->rects.push_back(mi.rcMonitor);
  if (mi.dwFlags & MONITORINFOF_PRIMARY) m->primary = mi.rcMonitor;
  return TRUE;
}

BOOL CALLBACK CollectWindow(HWND wnd, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(wnd);
  return TRUE;
}

// A bright window under everything over the whole virtual screen: whatever
// the saver fails to cover shows it.
HWND StandInDesktop() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = CreateSolidBrush(RGB(255, 0, 255));
  wc.lpszClassName = "OrvStandInDesktop";
  RegisterClassA(&wc);
  Screen v(true);
  HWND w = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, v.x, v.y, v.w, v.h,
                           nullptr, nullptr, wc.hInstance, nullptr);
  UpdateWindow(w);
  return w;
}

// The desktop of scripts/wine-two-monitors.sh: a 1024 x 768 primary and a
// 600 x 800 portrait monitor left of it. Elsewhere these cases skip.
class TwoMonitorsTest : public AppTest {
 protected:
  void SetUp() override {
    if (!std::getenv("ORV_TWO_MONITORS")) GTEST_SKIP() << "needs scripts/wine-two-monitors.sh";
    AppTest::SetUp();
    EnumDisplayMonitors(nullptr, nullptr, AddMonitorRect, reinterpret_cast<LPARAM>(&monitors_));
    ASSERT_EQ(monitors_.rects.size(), 2u) << "Wine does not see two monitors";
    for (const RECT& r : monitors_.rects)
      if (r.left != monitors_.primary.left) portrait_ = r;
    ASSERT_EQ(monitors_.primary.left, 0);
    ASSERT_EQ(monitors_.primary.right - monitors_.primary.left, 1024);
    ASSERT_EQ(portrait_.left, -600);
    ASSERT_EQ(portrait_.bottom - portrait_.top, 800);
    desktop_ = StandInDesktop();
  }
  void TearDown() override {
    if (desktop_) DestroyWindow(desktop_);
  }
  // Three landscape pictures in shades of red, two portrait ones in shades
  // of green, larger than either monitor.
  std::vector<std::string> Pictures() {
    std::vector<std::string> files;
    const int red[] = {230, 200, 170}, green[] = {230, 190};
    for (int i = 0; i < 3; ++i) {
      files.push_back(dir_ + "land" + std::to_string(i) + ".bmp");
      WriteSolidBmp(files.back(), 1600, 1200, RGB(red[i], 20, 20));
      if (i < 2) {
        files.push_back(dir_ + "tall" + std::to_string(i) + ".bmp");
        WriteSolidBmp(files.back(), 1200, 1600, RGB(20, green[i], 20));
      }
    }
    return files;
  }
  MonitorRects monitors_;
  RECT portrait_ = {};
  HWND desktop_ = nullptr;
};

TEST_F(TwoMonitorsTest, EveryMonitorIsCoveredAndShowsPicturesOfItsShapeUntilAKey) {
  Settings(
      "[Screen]\r\nRandamDisplay=0\r\nInterval=1\r\nBlankScreenInterval=1\r\nWindowBorder=0\r\n"
      "StretchDraw=1\r\nShowTextKind=0\r\nBGColor=clNavy\r\n[Event]\r\nMouseMove=0\r\n",
      Pictures());
  Process p;
  Launch(p, "/s");
  HWND w = WaitWindow(p, "TPrimaryWindow");
  ASSERT_NE(w, nullptr) << "no slideshow window";

  const RECT& primary = monitors_.primary;
  Screen s(true);
  bool redOnPrimary = false, greenOnPortrait = false, fittedTall = false, saved = false;
  int uncovered = 0, greenOnPrimary = 0, redOnPortrait = 0, grabs = 0;
  const COLORREF reds[] = {RGB(230, 20, 20), RGB(200, 20, 20), RGB(170, 20, 20)};
  const COLORREF greens[] = {RGB(20, 230, 20), RGB(20, 190, 20)};
  WaitFor(
      [&] {
        s.Grab();
        ++grabs;
        // Once both windows are up, nothing of the desktop may show.
        const bool covered =
            s.Count(RECT{s.x, s.y, s.x + s.w, s.y + s.h}, RGB(255, 0, 255), 10) == 0;
        if (!covered && grabs > 20) ++uncovered;
        bool redNow = false, greenNow = false;
        for (COLORREF c : reds) {
          if (s.Count(primary, c, 12) > 10000) redOnPrimary = redNow = true;
          redOnPortrait += s.Count(portrait_, c, 12) > 1000;
        }
        for (COLORREF c : greens) {
          int rows = 0;
          if (s.Count(portrait_, c, 12, &rows) > 10000) {
            greenOnPortrait = greenNow = true;
            // 1200 x 1600 fitted to 600 x 800: the full height, 600 wide.
            if (rows >= 799) fittedTall = true;
          }
          greenOnPrimary += s.Count(primary, c, 12) > 1000;
        }
        if (redNow && greenNow && !saved) saved = (s.Save("two-monitors"), true);
        return redOnPrimary && greenOnPortrait && fittedTall && grabs > 40;
      },
      120000);
  EXPECT_TRUE(redOnPrimary) << "no landscape picture on the primary monitor";
  EXPECT_TRUE(greenOnPortrait) << "no portrait picture on the portrait monitor";
  EXPECT_TRUE(fittedTall) << "the portrait picture was not fitted to its monitor";
  EXPECT_EQ(greenOnPrimary, 0) << "a portrait picture on the landscape monitor";
  EXPECT_EQ(redOnPortrait, 0) << "a landscape picture on the portrait monitor";
  EXPECT_EQ(uncovered, 0) << "part of the desktop showed through";

  // A key on the portrait monitor's window ends the show; every window goes.
  // The process has one saver window per monitor; the primary one owns the
  // other, whichever of them the search above found first.
  std::vector<HWND> windows, saver;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  for (HWND h : windows) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (pid == p.pi.dwProcessId && std::string(cls) == "TPrimaryWindow") saver.push_back(h);
  }
  ASSERT_EQ(saver.size(), 2u) << "not one window per monitor";
  if (GetWindow(saver[0], GW_OWNER) == saver[1]) std::swap(saver[0], saver[1]);
  w = saver[0];
  HWND other = saver[1];
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(r.left, primary.left);
  EXPECT_EQ(r.right, primary.right);
  EXPECT_EQ(r.bottom - r.top, 768);
  ASSERT_NE(other, nullptr) << "no window on the other monitor";
  EXPECT_EQ(GetWindow(other, GW_OWNER), w);
  RECT o;
  GetWindowRect(other, &o);
  EXPECT_EQ(o.left, portrait_.left);
  EXPECT_EQ(o.right, portrait_.right);
  EXPECT_EQ(o.bottom - o.top, 800);
  PostMessageA(other, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(p.WaitExit(30000), 0);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(IsWindow(other));
}

TEST_F(TwoMonitorsTest, WithoutAllMonitorsTheOtherMonitorShowsTheBackgroundOnly) {
  Settings(
      "[Screen]\r\nAllMonitors=0\r\nRandamDisplay=0\r\nInterval=1\r\nBlankScreenInterval=1\r\n"
      "WindowBorder=0\r\nStretchDraw=1\r\nBGColor=clNavy\r\n[Event]\r\nMouseMove=0\r\n",
      Pictures());
  Process p;
  Launch(p, "/s");
  HWND w = WaitWindow(p, "TPrimaryWindow");
  ASSERT_NE(w, nullptr);
  Screen s(true);
  const RECT& primary = monitors_.primary;
  const int area = (portrait_.right - portrait_.left) * (portrait_.bottom - portrait_.top);
  int pictures = 0, grabs = 0, notBackground = 0;
  WaitFor(
      [&] {
        s.Grab();
        if (++grabs < 20) return false;  // until both windows are up
        if (s.Count(primary, RGB(230, 20, 20), 12) + s.Count(primary, RGB(20, 230, 20), 12) +
                s.Count(primary, RGB(200, 20, 20), 12) + s.Count(primary, RGB(20, 190, 20), 12) >
            10000) {
          if (++pictures == 3) s.Save("all-monitors-0");
        }
        if (s.Count(portrait_, RGB(0, 0, 0x80), 8) != area) {
          ++notBackground;
          s.Save("all-monitors-0-not-background");
        }
        return pictures >= 6;
      },
      120000);
  EXPECT_GE(pictures, 6) << "the primary showed no pictures";
  EXPECT_EQ(notBackground, 0) << "the other monitor showed more than the background";
  PostMessageA(w, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(p.WaitExit(30000), 0);
}

// A tall picture whose header the plug-in reads but whose data it cannot
// decode goes to the portrait monitor by its header. Its turn there passes
// with the background alone, and the show goes on on both monitors.
TEST_F(TwoMonitorsTest, APictureWithAValidHeaderAndBrokenDataIsPassedOverAndTheShowGoesOn) {
  std::string plugins = ORV_TEST_PLUGIN_DIR;
  if (!plugins.empty() && plugins[0] == '/') plugins = "Z:" + plugins;
  for (char& c : plugins)
    if (c == '/') c = '\\';
  const std::string own = dir_ + "spi";
  CreateDirectoryA(own.c_str(), nullptr);
  ASSERT_TRUE(
      CopyFileA((plugins + "\\orvtest.spi").c_str(), (own + "\\orvtest.spi").c_str(), FALSE));
  std::vector<std::string> files = Pictures();
  const std::string broken = dir_ + "broken_tall.orv";
  {
    std::string v = orvtest::FlatOrvPicture(300u, 900u, static_cast<uint32_t>(kModeDataBroken));
    orvtest::WriteFile(broken, v);
  }
  files.insert(files.begin() + 2, broken);
  Settings("[Search]\r\nPluginFolder=" + own +
               "\r\n[Screen]\r\nRandamDisplay=0\r\nInterval=1\r\nBlankScreenInterval=0\r\n"
               "WindowBorder=0\r\nStretchDraw=1\r\nShowTextKind=0\r\nBGColor=clNavy\r\n"
               "[Event]\r\nMouseMove=0\r\n",
           files);
  Process p;
  Launch(p, "/s");
  HWND w = WaitWindow(p, "TPrimaryWindow");
  ASSERT_NE(w, nullptr) << "no slideshow window";

  Screen s(true);
  const int area = (portrait_.right - portrait_.left) * (portrait_.bottom - portrait_.top);
  const COLORREF greens[] = {RGB(20, 230, 20), RGB(20, 190, 20)};
  const COLORREF reds[] = {RGB(230, 20, 20), RGB(200, 20, 20), RGB(170, 20, 20)};
  // The longest time the portrait monitor showed its background alone
  // between two portrait pictures, and the pictures seen after it.
  DWORD longestEmpty = 0, emptySince = 0;
  bool greenSeen = false, greenAfterEmpty = false, redAfterEmpty = false;
  WaitFor(
      [&] {
        s.Grab();
        const DWORD now = GetTickCount();
        bool green = false, red = false;
        for (COLORREF c : greens) green = green || s.Count(portrait_, c, 12) > 10000;
        for (COLORREF c : reds) red = red || s.Count(monitors_.primary, c, 12) > 10000;
        const bool empty = s.Count(portrait_, RGB(0, 0, 0x80), 8) == area;
        if (greenSeen && empty) {
          if (!emptySince) emptySince = now;
          longestEmpty = std::max(longestEmpty, now - emptySince);
        } else {
          emptySince = 0;
        }
        if (longestEmpty >= 600) {
          greenAfterEmpty = greenAfterEmpty || green;
          redAfterEmpty = redAfterEmpty || red;
        }
        greenSeen = greenSeen || green;
        return greenAfterEmpty && redAfterEmpty;
      },
      120000);
  EXPECT_GE(longestEmpty, 600u) << "the broken picture never had its turn on the portrait monitor";
  EXPECT_TRUE(greenAfterEmpty) << "no portrait picture after the broken one";
  EXPECT_TRUE(redAfterEmpty) << "the primary stopped showing pictures";
  EXPECT_EQ(p.WaitExit(0), -1) << "the show ended by itself";
  PostMessageA(w, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(p.WaitExit(30000), 0);
}

#ifdef ORV_PLUGIN_DIR
// What a show over photos of the samples did: whether the red and the
// green photo (640 x 480 each) were on screen, its peak working set and
// how it ended after a key.
struct PhotoShow {
  bool red = false, green = false;
  size_t peak = 0;
  int exit = -1;
};

std::string WindowsPath(std::string p) {
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

class PhotoShowTest : public AppTest {
 protected:
  const std::string plugins_ = WindowsPath(ORV_PLUGIN_DIR);
  const std::string samples_ = WindowsPath(ORV_PHOTO_SAMPLES);

  // Shows `list` through our plug-ins until both photos were seen (two
  // minutes at most), then presses a key.
  PhotoShow Show(const std::vector<std::string>& list) {
    Settings("[Search]\r\nPluginFolder=" + plugins_ +
                 "\r\n[Screen]\r\nRandamDisplay=0\r\nInterval=2\r\nBlankScreenInterval=0\r\n"
                 "WindowBorder=10\r\nShowTextKind=0\r\nBGColor=clNavy\r\n[Event]\r\nMouseMove=0\r\n",
             list);
    PhotoShow r;
    Process p;
    Launch(p, "/s");
    HWND w = WaitWindow(p, "TPrimaryWindow");
    EXPECT_NE(w, nullptr) << "no slideshow window";
    if (!w) return r;
    Screen s;
    const RECT all = {0, 0, s.w, s.h};
    WaitFor(
        [&] {
          s.Grab();
          // The 640 x 480 photo, shrunk at most to the screen's margin.
          const int least = std::min(640 * 480, (s.w * 9 / 10) * (s.h * 9 / 10)) / 2;
          r.red = r.red || s.Count(all, RGB(230, 20, 20), 12) > least;
          r.green = r.green || s.Count(all, RGB(20, 230, 20), 12) > least;
          return r.red && r.green;
        },
        120000);
    PROCESS_MEMORY_COUNTERS m = {};
    GetProcessMemoryInfo(p.pi.hProcess, &m, sizeof m);
    r.peak = m.PeakWorkingSetSize;
    PostMessageA(w, WM_KEYDOWN, VK_SPACE, 0);
    r.exit = p.WaitExit(30000);
    return r;
  }
};

// Phone photos through our own plug-ins: a HEIC and an AVIF picture of the
// picture list (tests/photo/make-photo-samples.sh) are shown in turn. The
// slideshow loads the plug-ins of PluginFolder whatever UseSusiePlugin says.
TEST_F(PhotoShowTest, RunModeShowsHeicAndAvifPhotosThroughOurPlugins) {
  const PhotoShow r = Show({samples_ + "\\show-red.heic", samples_ + "\\show-green.avif"});
  EXPECT_TRUE(r.red) << "the HEIC photo was never shown";
  EXPECT_TRUE(r.green) << "the AVIF photo was never shown";
  EXPECT_EQ(r.exit, 0);
}

// Hostile HEIF files among the photos: an identity item that derives from
// itself (it once made libheif recurse until the stack ran out) and grids
// of a few kilobytes that paint 8192 x 8192 while declaring 64 x 64. The
// show passes over them, shows the photos between, and a key still ends it.
TEST_F(PhotoShowTest, RunModePassesOverHostileHeifFilesAndShowsThePhotos) {
  std::vector<std::string> list;
  auto write = [&](const char* name, const orvtest::Bytes& bytes) {
    orvtest::WriteFile(dir_ + name, std::string(bytes.begin(), bytes.end()));
    list.push_back(dir_ + name);
  };
  write("self.heic", orvtest::SelfDerivedIdentity());
  for (const char* tile : {"tile512.heic", "tile512.avif"}) {
    std::ifstream in(samples_ + "\\" + tile, std::ios::binary);
    const orvtest::Bytes bytes((std::istreambuf_iterator<char>(in)), {});
    orvtest::LiftedPicture lifted;
    ASSERT_TRUE(orvtest::LiftPrimary(bytes, lifted)) << tile;
    write(lifted.type == "av01" ? "bomb.avif" : "bomb.heic", orvtest::GridBomb(lifted, 64, 8192));
    if (list.size() == 2) list.push_back(samples_ + "\\show-red.heic");
  }
  list.push_back(samples_ + "\\show-green.avif");
  const PhotoShow r = Show(list);
  EXPECT_TRUE(r.red) << "the HEIC photo after the hostile files was never shown";
  EXPECT_TRUE(r.green) << "the AVIF photo after the hostile files was never shown";
  // A bomb's canvas alone would be 192 MB.
  EXPECT_LT(r.peak, size_t(150) << 20);
  EXPECT_EQ(r.exit, 0);
}
#endif

// Windows takes the process's DPI awareness from the manifest before the
// module's first instruction: the show is per-monitor aware (v2) where
// Windows has it and system aware before, with no call that could come too
// late. Read from the module as shipped.
TEST_F(AppTest, TheManifestDeclaresTheAwarenessBeforeAnyCodeRuns) {
  HMODULE m = LoadLibraryExA(scr_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(m, nullptr);
  HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24) /* RT_MANIFEST */);
  ASSERT_NE(r, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(m, r)));
  const std::string manifest(data, SizeofResource(m, r));
  FreeLibrary(m);
  EXPECT_NE(manifest.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                          "WindowsSettings\">PerMonitorV2, System</dpiAwareness>"),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/"
                          "WindowsSettings\">true</dpiAware>"),
            std::string::npos)
      << manifest;
}

TEST_F(AppTest, ASecondStartEndsAtOnceWithExitCodeOne) {
  Settings("[Screen]\r\nBlankScreenInterval=0\r\n", {});
  Process first;
  Launch(first, "/s");
  HWND w = WaitWindow(first, "TPrimaryWindow");
  ASSERT_NE(w, nullptr);
  for (const char* args : {"/s", "/c"}) {
    Process second;
    Launch(second, args);
    EXPECT_EQ(second.WaitExit(kStartTimeoutMs), 1) << args;
  }
  // The empty list still ends on a key press once armed.
  WaitFor([] { return false; }, 1500);
  PostMessageA(w, WM_KEYDOWN, 'X', 0);
  EXPECT_EQ(first.WaitExit(30000), 0);
}

BOOL CALLBACK CollectText(HWND wnd, LPARAM lp) {
  char text[256] = {};
  GetWindowTextA(wnd, text, sizeof text);
  reinterpret_cast<std::string*>(lp)->append(text).append("|");
  return TRUE;
}

TEST_F(AppTest, PasswordRequestOnlySaysItIsNotSupported) {
  Process p;
  Launch(p, "/a");
  HWND box = WaitWindow(p, "#32770");
  ASSERT_NE(box, nullptr);
  char caption[64] = {};
  GetWindowTextA(box, caption, sizeof caption);
  EXPECT_EQ(std::string(caption), "Orvanelle");
  std::string texts;
  EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts));
  EXPECT_NE(texts.find("Password not supported"), std::string::npos) << texts;
  EXPECT_EQ(TopLevelOf(p.pi.dwProcessId, "TPrimaryWindow"), nullptr);
  EXPECT_EQ(TopLevelOf(p.pi.dwProcessId, "TConfigDlg"), nullptr);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(p.WaitExit(30000), 0);
}

TEST_F(AppTest, PreviewFillsTheGivenWindowAndIgnoresInput) {
  Settings("[Screen]\r\nBGColor=clMaroon\r\n", {});
  HWND host = PreviewHost(40, 40, 320, 240);
  ASSERT_NE(host, nullptr);
  Process p;
  HWND child = StartPreview(p, host);
  ASSERT_NE(child, nullptr);
  RECT r;
  ASSERT_TRUE(WaitFor(
      [&] {
        GetWindowRect(child, &r);
        return r.right - r.left == 320 && r.bottom - r.top == 240;
      },
      30000));
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.top, 40);
  PostMessageA(child, WM_KEYDOWN, 'K', 0);
  PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  PostMessageA(child, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(p.WaitExit(3000), -1) << "input ended the preview";
  DestroyWindow(host);
  EXPECT_EQ(p.WaitExit(30000), 0);
}

// The Screen Saver Settings page keeps its preview running while the user
// presses Settings or Preview: both must start, one after the other, while
// the preview goes on drawing.
TEST_F(AppTest, ARunningPreviewLetsTheSettingsDialogAndTheShowStart) {
  Settings("[Screen]\r\nBlankScreenInterval=0\r\n", {});
  HWND host = PreviewHost(0, 0, 160, 120);
  ASSERT_NE(host, nullptr);
  Process preview;
  ASSERT_NE(StartPreview(preview, host), nullptr);

  Process dialog;
  Launch(dialog, "/c");
  HWND dlg = WaitWindow(dialog, "TConfigDlg");
  ASSERT_NE(dlg, nullptr) << "the settings dialog did not open beside the preview, exit code "
                          << dialog.WaitExit(0);
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(dialog.WaitExit(30000), 0);

  Process show;
  Launch(show, "/s");
  HWND w = WaitWindow(show, "TPrimaryWindow");
  ASSERT_NE(w, nullptr) << "the show did not start beside the preview, exit code "
                        << show.WaitExit(0);
  WaitFor([] { return false; }, 1500);
  PostMessageA(w, WM_KEYDOWN, 'X', 0);
  EXPECT_EQ(show.WaitExit(30000), 0);

  EXPECT_EQ(preview.WaitExit(0), -1) << "the preview ended";
  DestroyWindow(host);
  EXPECT_EQ(preview.WaitExit(30000), 0);
}

TEST_F(AppTest, PreviewWithoutAUsableHandleEndsQuietly) {
  for (const char* args : {"/p", "/p abc", "/p 0"}) {
    Process p;
    Launch(p, args);
    EXPECT_EQ(p.WaitExit(kStartTimeoutMs), 0) << args;
  }
}

TEST_F(AppTest, SettingsModeOpensTheDialogAndCancelLeavesTheFilesAlone) {
  Settings("[Screen]\r\nInterval=7\r\n", {"C:\\a.jpg"});
  for (const char* args : {"", "/c:1234"}) {
    Process p;
    Launch(p, args);
    HWND dlg = WaitWindow(p, "TConfigDlg");
    ASSERT_NE(dlg, nullptr) << args;
    char caption[64] = {};
    GetWindowTextA(dlg, caption, sizeof caption);
    EXPECT_EQ(std::string(caption), "設定");
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(p.WaitExit(30000), 0);
  }
  char value[16] = {};
  GetPrivateProfileStringA("Screen", "Interval", "", value, sizeof value,
                           (dir_ + "Orvanelle.ini").c_str());
  EXPECT_EQ(std::string(value), "7");
}

// Private bytes of another process; 0 when they cannot be read.
SIZE_T PrivateBytesOf(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX pmc = {};
  pmc.cb = sizeof pmc;
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc))
    return 0;
  return pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
}

// The saver's decoder: the process it started, found among its children.
DWORD DecoderOf(DWORD saver) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 e = {};
  e.dwSize = sizeof e;
  DWORD found = 0;
  for (BOOL more = Process32First(snap, &e); more && !found; more = Process32Next(snap, &e))
    if (e.th32ParentProcessID == saver && e.th32ProcessID != saver) found = e.th32ProcessID;
  CloseHandle(snap);
  return found;
}

// A key pressed while a big picture decodes ends the show at once, not when
// the decode is through: the saver ends its decoder with the job. Measured
// against the same key over a small picture and against the decode alone,
// in the same run; the figures go to the test report.
TEST_F(AppTest, AKeyWhileABigPictureDecodesEndsTheShowAtOnce) {
  jpegtest::Options progressive;
  progressive.progressive = true;
  const int bw = 12000, bh = 9000;
  const std::string big = dir_ + "big.jpg", small = dir_ + "small.jpg";
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  auto ms = [&f](const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
    return 1000.0 * double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
  };
  double decodeMs = 0;
  {
    const std::vector<uint8_t> file =
        jpegtest::Encode(bw, bh, jpegtest::Texture(bw, bh, 3), progressive);
    orvtest::WriteFile(big, std::string(file.begin(), file.end()));
    orv::TJPEGImage jpeg;
    jpeg.LoadFromMemory(file.data(), file.size());
    tk::TBitmap bmp;
    QueryPerformanceCounter(&t0);
    jpeg.AssignTo(bmp);
    QueryPerformanceCounter(&t1);
    decodeMs = ms(t0, t1);
  }
  {
    const std::vector<uint8_t> file = jpegtest::Encode(200, 150, jpegtest::Texture(200, 150, 3));
    orvtest::WriteFile(small, std::string(file.begin(), file.end()));
  }
  double keyToExitMs[2] = {};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i == 0 ? "big" : "small");
    Settings("[Screen]\r\nInterval=30\r\nBlankScreenInterval=1\r\n", {i == 0 ? big : small});
    Process p;
    Launch(p, "/s");
    HWND w = WaitWindow(p, "TPrimaryWindow");
    ASSERT_NE(w, nullptr);
    HANDLE decoder = nullptr;
    if (i == 0) {
      // The decode is under way in the decoder once libjpeg's buffers for
      // the scans are there (a coefficient buffer of about 324 MB).
      QueryPerformanceCounter(&t0);
      const bool decoding = WaitFor(
          [&] {
            if (!decoder)
              if (const DWORD id = DecoderOf(p.pi.dwProcessId))
                decoder = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id);
            return decoder && PrivateBytesOf(decoder) > (SIZE_T(300) << 20);
          },
          20000);
      QueryPerformanceCounter(&t1);
      ASSERT_TRUE(decoding) << "the decode never began";
      std::printf("decode seen under way %.0f ms after the window appeared\n", ms(t0, t1));
      // The saver holds none of it.
      EXPECT_LT(PrivateBytesOf(p.pi.hProcess), SIZE_T(150) << 20);
    } else {
      WaitFor([] { return false; }, 1500);
    }
    SetForegroundWindow(w);
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = VK_SPACE;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    QueryPerformanceCounter(&t0);
    ASSERT_EQ(SendInput(2, in, sizeof(INPUT)), 2u);
    EXPECT_EQ(p.WaitExit(60000), 0);
    QueryPerformanceCounter(&t1);
    keyToExitMs[i] = ms(t0, t1);
    if (decoder) {
      EXPECT_EQ(WaitForSingleObject(decoder, 2000), WAIT_OBJECT_0) << "the decoder outlived it";
      CloseHandle(decoder);
    }
  }
  EXPECT_LT(std::abs(keyToExitMs[0] - keyToExitMs[1]), 300.0)
      << "a busy decoder delayed the exit";
  RecordProperty("decode_ms", std::to_string(int(decodeMs)));
  RecordProperty("key_to_exit_ms_while_decoding", std::to_string(int(keyToExitMs[0])));
  RecordProperty("key_to_exit_ms_small_picture", std::to_string(int(keyToExitMs[1])));
  std::printf(
      "key to exit: %.0f ms while a %dx%d progressive JPEG decodes (the decode alone "
      "takes %.0f ms), %.0f ms over a small picture\n",
      keyToExitMs[0], bw, bh, decodeMs, keyToExitMs[1]);
}

// How much later the first picture of a 96 MP photo reaches the screen than
// that of a 1 MP one, in the same run: the time from the start until most
// of the screen's middle is no longer the background colour. The figures
// go to the test report.
TEST_F(AppTest, TheFirstPictureOfABigPhotoComesAboutAsSoonAsThatOfASmallOne) {
  struct Size {
    int w, h;
  } sizes[] = {{1224, 816}, {12000, 8000}};
  double shownMs[2] = {}, peakMiB[2] = {};
  for (int i = 0; i < 2; ++i) {
    const Size sz = sizes[i];
    const std::string path = dir_ + "photo" + std::to_string(i) + ".jpg";
    {
      const std::vector<uint8_t> file =
          benchphoto::EncodeQuality90(benchphoto::SyntheticPhoto(sz.w, sz.h), sz.w, sz.h);
      orvtest::WriteFile(path, std::string(file.begin(), file.end()));
    }
    Settings(
        "[Screen]\r\nInterval=30\r\nBlankScreenInterval=0\r\nStretchDraw=1\r\n"
        "WindowBorder=10\r\nShowTextKind=0\r\nBGColor=clFuchsia\r\n",
        {path});
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    Process p;
    QueryPerformanceCounter(&t0);
    Launch(p, "/s");
    Screen s;
    const RECT middle = {s.w / 3, s.h / 3, 2 * s.w / 3, 2 * s.h / 3};
    const int area = (middle.right - middle.left) * (middle.bottom - middle.top);
    // First the window with its background, then the picture over it.
    const bool up = WaitFor(
        [&] {
          s.Grab();
          return s.Count(middle, RGB(255, 0, 255), 24) > area * 3 / 4;
        },
        kStartTimeoutMs);
    ASSERT_TRUE(up) << "the show's background never came up";
    const bool shown = WaitFor(
        [&] {
          s.Grab();
          return s.Count(middle, RGB(255, 0, 255), 24) < area / 4;
        },
        120000);
    QueryPerformanceCounter(&t1);
    ASSERT_TRUE(shown) << sz.w << "x" << sz.h << " never reached the screen";
    shownMs[i] = 1000.0 * double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
    // The process's peak private memory so far: the decode, the shown copy
    // and the next file read ahead (here the same file again).
    WaitFor([] { return false; }, 500);
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(p.pi.hProcess, &pmc, sizeof pmc))
      peakMiB[i] = double(pmc.PeakPagefileUsage) / (1 << 20);
    HWND w = TopLevelOf(p.pi.dwProcessId, "TPrimaryWindow");
    if (w) PostMessageA(w, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(p.WaitExit(30000), 0);
    DeleteFileA(path.c_str());
  }
  RecordProperty("first_picture_ms_1mp", std::to_string(int(shownMs[0])));
  RecordProperty("first_picture_ms_96mp", std::to_string(int(shownMs[1])));
  RecordProperty("peak_private_mib_1mp", std::to_string(int(peakMiB[0])));
  RecordProperty("peak_private_mib_96mp", std::to_string(int(peakMiB[1])));
  std::printf("first picture on screen: %.0f ms for 1 MP, %.0f ms for 96 MP: %+.0f ms; peak "
              "private memory %.0f MiB and %.0f MiB\n",
              shownMs[0], shownMs[1], shownMs[1] - shownMs[0], peakMiB[0], peakMiB[1]);
}

}  // namespace
