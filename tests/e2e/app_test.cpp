// The screen-saver module as Windows starts it: run, preview, password and
// settings modes, one instance at a time, and what the show puts on screen.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "imaging/JpegImage.h"
#include "tests/core/jpeg_test_encoder.h"
#include "toolkit/Bitmap.h"

namespace {

constexpr DWORD kStartTimeoutMs = 90000;  // Wine under emulation starts slowly

std::string TempFolder() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  static int n = 0;
  std::string dir = std::string(base) + "orv_app_test_" + std::to_string(GetCurrentProcessId()) +
                    "_" + std::to_string(++n) + "\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

void WriteText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

void WriteSolidBmp(const std::string& path, int w, int h, COLORREF c) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = b.ScanLine(y) + 3 * x;
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  b.SaveToFile(path);
}

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

// A 32-bit copy of the whole screen.
struct Screen {
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
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
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    GdiFlush();
    std::memcpy(px.data(), bits, px.size() * 4);
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
  }
  // Pixels in the rectangle within `tol` of the colour.
  int Count(const RECT& r, COLORREF c, int tol = 40) const {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        const uint32_t p = px[static_cast<size_t>(y) * w + x];
        const int b = p & 0xFF, g = (p >> 8) & 0xFF, rr = (p >> 16) & 0xFF;
        if (std::abs(rr - GetRValue(c)) <= tol && std::abs(g - GetGValue(c)) <= tol &&
            std::abs(b - GetBValue(c)) <= tol)
          ++n;
      }
    return n;
  }
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempFolder();
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
    WriteText(dir_ + "Orvanelle.ini", ini);
    std::string list;
    for (const auto& f : files) list += f + "\r\n";
    WriteText(dir_ + "OrvanelleFileList.dat", list);
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

#ifdef ORV_PLUGIN_DIR
// Phone photos through our own plug-ins: a HEIC and an AVIF picture of the
// picture list (tests/photo/make-photo-samples.sh) are shown in turn. The
// slideshow loads the plug-ins of PluginFolder whatever UseSusiePlugin says.
TEST_F(AppTest, RunModeShowsHeicAndAvifPhotosThroughOurPlugins) {
  std::string plugins = ORV_PLUGIN_DIR, samples = ORV_PHOTO_SAMPLES;
  for (std::string* p : {&plugins, &samples}) {
    for (char& c : *p) {
      if (c == '/') c = '\\';
    }
  }
  Settings("[Search]\r\nPluginFolder=" + plugins +
               "\r\n[Screen]\r\nRandamDisplay=0\r\nInterval=2\r\nBlankScreenInterval=0\r\n"
               "WindowBorder=10\r\nShowTextKind=0\r\nBGColor=clNavy\r\n[Event]\r\nMouseMove=0\r\n",
           {samples + "\\show-red.heic", samples + "\\show-green.avif"});
  Process p;
  Launch(p, "/s");
  HWND w = WaitWindow(p, "TPrimaryWindow");
  ASSERT_NE(w, nullptr) << "no slideshow window";
  Screen s;
  const RECT all = {0, 0, s.w, s.h};
  bool red = false, green = false;
  WaitFor(
      [&] {
        s.Grab();
        // The 640 x 480 photo, shrunk at most to the screen's margin.
        const int least = std::min(640 * 480, (s.w * 9 / 10) * (s.h * 9 / 10)) / 2;
        red = red || s.Count(all, RGB(230, 20, 20), 12) > least;
        green = green || s.Count(all, RGB(20, 230, 20), 12) > least;
        return red && green;
      },
      120000);
  EXPECT_TRUE(red) << "the HEIC photo was never shown";
  EXPECT_TRUE(green) << "the AVIF photo was never shown";
  PostMessageA(w, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(p.WaitExit(30000), 0);
}
#endif

TEST_F(AppTest, ASecondStartEndsAtOnceWithExitCodeOne) {
  Settings("[Screen]\r\nBlankScreenInterval=0\r\n", {});
  Process first;
  Launch(first, "/s");
  HWND w = WaitWindow(first, "TPrimaryWindow");
  ASSERT_NE(w, nullptr);
  for (const char* args : {"/s", "/c", "/p 1"}) {
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
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "OrvPreviewParent";
  RegisterClassA(&wc);
  HWND host = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 40, 40, 320, 240,
                              nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(host, nullptr);
  Process p;
  Launch(p, "/p " + std::to_string(reinterpret_cast<uintptr_t>(host)));
  HWND child = nullptr;
  ASSERT_TRUE(
      WaitFor([&] { return (child = FindWindowExA(host, nullptr, "TPrimaryWindow", nullptr)); },
              kStartTimeoutMs));
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

// A key pressed while a big picture decodes ends the show at once, not when
// the decode is through. Measured against the same key over a small
// picture and against the decode alone, in the same run; the figures go to
// the test report.
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
    WriteText(big, std::string(file.begin(), file.end()));
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
    WriteText(small, std::string(file.begin(), file.end()));
  }
  double keyToExitMs[2] = {};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i == 0 ? "big" : "small");
    Settings("[Screen]\r\nInterval=30\r\nBlankScreenInterval=1\r\n", {i == 0 ? big : small});
    Process p;
    Launch(p, "/s");
    HWND w = WaitWindow(p, "TPrimaryWindow");
    ASSERT_NE(w, nullptr);
    if (i == 0) {
      // The decode is under way once the bitmap and libjpeg's buffers for
      // the scans are there (about twice 324 MB).
      QueryPerformanceCounter(&t0);
      const bool decoding =
          WaitFor([&] { return PrivateBytesOf(p.pi.hProcess) > (SIZE_T(400) << 20); }, 20000);
      QueryPerformanceCounter(&t1);
      ASSERT_TRUE(decoding) << "the decode never began";
      std::printf("decode seen under way %.0f ms after the window appeared\n", ms(t0, t1));
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
  }
  RecordProperty("decode_ms", std::to_string(int(decodeMs)));
  RecordProperty("key_to_exit_ms_while_decoding", std::to_string(int(keyToExitMs[0])));
  RecordProperty("key_to_exit_ms_small_picture", std::to_string(int(keyToExitMs[1])));
  std::printf("key to exit: %.0f ms while a %dx%d progressive JPEG decodes (the decode alone "
              "takes %.0f ms), %.0f ms over a small picture\n",
              keyToExitMs[0], bw, bh, decodeMs, keyToExitMs[1]);
}

}  // namespace
