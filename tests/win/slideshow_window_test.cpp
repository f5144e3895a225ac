// The screen-saver window in this process: the display cycle over real
// files, captions, exit rules, preview mode, and a long run that must not
// leak memory or GDI objects.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <mutex>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/ApplicationIniFile.h"
#include "tests/core/jpeg_test_encoder.h"
#include "tests/plugins/TestPlugin.h"
#include "tests/win/show_window_test.h"
#include "slideshow/LayoutMath.h"
#include "slideshow/PrimaryScreen.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFileWin32.h"
#include "toolkit/Win32Handles.h"

namespace orv {
namespace {

using orvtest::WriteFile;
using orvtest::WriteSolidBmp;

class SlideshowWindowTest : public orvtest::ShowWindowTest {
 protected:
  SlideshowWindowTest() : ShowWindowTest("window_test", 12345) {}

  void SendKey() { SendMessageA(window_->Handle(), WM_KEYDOWN, 'A', 0); }
};

TEST_F(SlideshowWindowTest, ShowsPicturesInListOrderWithCaptionsAndMargin) {
  const std::string a = dir_ + "red.bmp", b = dir_ + "green.bmp", c = dir_ + "blue.bmp";
  WriteSolidBmp(a, 300, 200, RGB(255, 0, 0));
  WriteSolidBmp(b, 2000, 1500, RGB(0, 255, 0));
  WriteSolidBmp(c, 64, 64, RGB(0, 0, 255));
  WriteSettings(
      "[Screen]\r\nRandamDisplay=0\r\nInterval=0\r\nBlankScreenInterval=0\r\nWindowBorder=10\r\n"
      "ShowTextKind=2\r\nTextArrangement=2\r\nBGColor=clNavy\r\n",
      {a, b, c});
  TPrimaryWindow& w = Start();
  EXPECT_EQ(w.ClientWidth(), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(w.ClientHeight(), GetSystemMetrics(SM_CYSCREEN));

  std::vector<std::string> captions;
  std::vector<int> widths;
  w.OnPictureLoaded = [&](TPrimaryWindow* sender) {
    captions.push_back(sender->CaptionText());
    widths.push_back(sender->PictureBitmap()->Width());
  };
  ASSERT_TRUE(PumpUntil([&] { return w.PicturesLoaded() >= 4; }, 60000));
  captions.resize(4);
  widths.resize(4);
  EXPECT_EQ(captions, (std::vector<std::string>{"red", "green", "blue", "red"}));
  // A 10 % border on each axis: 5 % per side.
  const int sw = w.ClientWidth(), sh = w.ClientHeight();
  // The large one comes from its decoder shrunk into the area inside the
  // margin, the others at their own size.
  const int areaWidth = sw - 2 * static_cast<int>(sw * 0.05);
  const int areaHeight = sh - 2 * static_cast<int>(sh * 0.05);
  EXPECT_EQ(widths, (std::vector<int>{300, FitRect(IntRect{0, 0, 2000, 1500}, areaWidth, areaHeight).Width(), 64, 300}));
  EXPECT_EQ(w.TopShape.Height(), static_cast<int>(sh * 0.05));
  EXPECT_EQ(w.LeftShape.Width(), static_cast<int>(sw * 0.05));
  // Caption on the right of the picture, 0.6 / 0.4 of the area less the gap.
  const int area = sw - 2 * static_cast<int>(sw * 0.05);
  EXPECT_EQ(w.PicturePaintBoxEx.Width(), static_cast<int>((area - 20) * 0.6));
  EXPECT_EQ(w.PicturePaintBoxEx.Left(), w.LeftShape.Width());
  EXPECT_EQ(w.TextLabel.Left() + w.TextLabel.Width(), sw - w.RightShape.Width());
  EXPECT_TRUE(w.ExitArmed);
  EXPECT_EQ(w.Color(), tk::clNavy);
}

TEST_F(SlideshowWindowTest, TheDrawnPictureSurvivesRepaints) {
  const std::string a = dir_ + "big.bmp";
  WriteSolidBmp(a, 1600, 1200, RGB(255, 0, 0));
  WriteSettings(
      "[Screen]\r\nInterval=30\r\nBlankScreenInterval=0\r\nWindowBorder=0\r\nShowTextKind=0\r\n"
      "BGColor=clBlack\r\n",
      {a});
  TPrimaryWindow& w = Start();
  ASSERT_TRUE(PumpUntil([&] { return w.State() == CycleState::End; }, 60000));
  // Let the show step's own repaints happen, then force another.
  PumpUntil([] { return false; }, 300);
  InvalidateRect(w.Handle(), nullptr, TRUE);
  UpdateWindow(w.Handle());
  const IntRect r = w.Layout().PictureRect();
  // Shrunk to the screen, never enlarged, aspect kept.
  EXPECT_LE(r.Width(), w.ClientWidth());
  EXPECT_LE(r.Height(), w.ClientHeight());
  EXPECT_NEAR(r.Width() * 1200.0 / r.Height(), 1600.0, 8.0);
  tk::WindowDc dc(w.Handle());
  const int cx = w.PicturePaintBoxEx.Left() + (r.left + r.right) / 2;
  const int cy = w.PicturePaintBoxEx.Top() + (r.top + r.bottom) / 2;
  EXPECT_EQ(GetPixel(dc.Get(), cx, cy), RGB(255, 0, 0));
}

// A phone photo stored lying on its side (left half red, right half blue)
// whose Exif Orientation 6 says to turn it a quarter clockwise: the layout
// fits the upright 1200 x 1600 picture, and red is at the top.
TEST_F(SlideshowWindowTest, APhotoTurnedByItsExifOrientationIsFittedUpright) {
  const int w = 1600, h = 1200;
  std::vector<uint8_t> px;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px.insert(px.end(), {uint8_t(x < w / 2 ? 255 : 0), 0, uint8_t(x < w / 2 ? 0 : 255)});
  const std::vector<uint8_t> jpeg =
      jpegtest::WithApp1(jpegtest::Encode(w, h, px), jpegtest::ExifOrientationBody(6, true));
  const std::string photo = dir_ + "phone.jpg";
  WriteFile(photo, std::string(jpeg.begin(), jpeg.end()));
  WriteSettings(
      "[Screen]\r\nInterval=30\r\nBlankScreenInterval=0\r\nWindowBorder=0\r\nShowTextKind=0\r\n"
      "StretchDraw=1\r\nBGColor=clBlack\r\n",
      {photo});
  TPrimaryWindow& win = Start();
  int loadedWidth = 0, loadedHeight = 0;
  win.OnPictureLoaded = [&](TPrimaryWindow* sender) {
    loadedWidth = sender->PictureBitmap()->Width();
    loadedHeight = sender->PictureBitmap()->Height();
  };
  ASSERT_TRUE(PumpUntil([&] { return win.State() == CycleState::End; }, 60000));
  PumpUntil([] { return false; }, 300);
  // Fitted into the box by its upright height: taller than wide.
  const IntRect r = win.Layout().PictureRect();
  const int boxH = win.PicturePaintBoxEx.Height();
  // Decoded upright at exactly the size of its place (no caption takes a
  // share), so it is drawn without another stretch.
  EXPECT_EQ(loadedWidth, r.Width());
  EXPECT_EQ(loadedHeight, r.Height());
  EXPECT_LT(loadedHeight, 1600);
  EXPECT_LE(r.Height(), boxH);
  EXPECT_GE(r.Height(), boxH - 1);
  EXPECT_NEAR(r.Width(), boxH * 1200 / 1600, 1);
  InvalidateRect(win.Handle(), nullptr, TRUE);
  UpdateWindow(win.Handle());
  tk::WindowDc dc(win.Handle());
  const int cx = win.PicturePaintBoxEx.Left() + (r.left + r.right) / 2;
  const COLORREF top = GetPixel(dc.Get(), cx, win.PicturePaintBoxEx.Top() + r.top + r.Height() / 4);
  const COLORREF bottom =
      GetPixel(dc.Get(), cx, win.PicturePaintBoxEx.Top() + r.top + r.Height() * 3 / 4);
  EXPECT_GT(GetRValue(top), 200);
  EXPECT_LT(GetBValue(top), 60);
  EXPECT_LT(GetRValue(bottom), 60);
  EXPECT_GT(GetBValue(bottom), 200);
}

TEST_F(SlideshowWindowTest, UndecodableEntriesArePassedOverSilently) {
  const std::string good = dir_ + "good.bmp";
  WriteSolidBmp(good, 40, 30, RGB(1, 2, 3));
  WriteFile(dir_ + "broken.bmp", "BM this is not a bitmap");
  WriteFile(dir_ + "cut.jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));
  WriteSettings(
      "[Screen]\r\nRandamDisplay=0\r\nInterval=0\r\nBlankScreenInterval=0\r\n",
      {dir_ + "broken.bmp", dir_ + "missing.png", dir_ + "cut.jpg", dir_ + "unknown.xyz", good});
  TPrimaryWindow& w = Start();
  std::vector<bool> empty;
  w.OnPictureLoaded = [&](TPrimaryWindow* sender) {
    empty.push_back(sender->PictureBitmap()->Empty());
  };
  ASSERT_TRUE(PumpUntil([&] { return w.PicturesLoaded() >= 6; }, 60000));
  empty.resize(6);
  EXPECT_EQ(empty, (std::vector<bool>{true, true, true, true, false, true}));
  EXPECT_FALSE(tk::Application.Terminated());
}

TEST_F(SlideshowWindowTest, InputEndsTheShowOnlyOnceArmedAndAsConfigured) {
  WriteSolidBmp(dir_ + "a.bmp", 10, 10, RGB(9, 9, 9));
  WriteSettings(
      "[Screen]\r\nInterval=5\r\nBlankScreenInterval=2\r\n[Event]\r\nMouseMove=0\r\n"
      "MouseClick=0\r\n",
      {dir_ + "a.bmp"});
  TPrimaryWindow& w = Start();
  // Before the first blank step nothing ends the show.
  SendKey();
  EXPECT_FALSE(tk::Application.Terminated());
  ASSERT_TRUE(PumpUntil([&] { return w.ExitArmed; }, 30000));
  EXPECT_TRUE(w.KeyDownExit);
  EXPECT_FALSE(w.MouseMoveExit);
  EXPECT_FALSE(w.MouseClickExit);
  SendMessageA(w.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  SendMessageA(w.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageA(w.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_FALSE(tk::Application.Terminated());
  SendKey();
  EXPECT_TRUE(tk::Application.Terminated());
}

TEST_F(SlideshowWindowTest, OnlyARealPointerMoveEndsTheShowWhenConfigured) {
  WriteSolidBmp(dir_ + "a.bmp", 10, 10, RGB(9, 9, 9));
  WriteSettings("[Screen]\r\nBlankScreenInterval=0\r\n[Event]\r\nMouseMove=1\r\n",
                {dir_ + "a.bmp"});
  ASSERT_TRUE(SetCursorPos(100, 100));
  TPrimaryWindow& w = Start();
  ASSERT_TRUE(PumpUntil([&] { return w.ExitArmed; }, 30000));
  EXPECT_TRUE(w.MouseMoveExit);
  // The system sends mouse moves when windows appear or the pointer is
  // merely re-reported: the pointer has not moved, the show goes on.
  SendMessageA(w.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(100, 100));
  SendMessageA(w.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(7, 7));
  EXPECT_FALSE(tk::Application.Terminated());
  ASSERT_TRUE(SetCursorPos(140, 120));
  SendMessageA(w.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(140, 120));
  EXPECT_TRUE(tk::Application.Terminated());
}

// Errors of the standard library inside a step (here thrown by the
// picture-loaded hook) pass over that picture like an undecodable one.
TEST_F(SlideshowWindowTest, AStepThatFailsLeavesTheShowRunning) {
  WriteSolidBmp(dir_ + "a.bmp", 10, 10, RGB(9, 9, 9));
  WriteSolidBmp(dir_ + "b.bmp", 12, 10, RGB(9, 9, 9));
  WriteSettings("[Screen]\r\nRandamDisplay=0\r\nInterval=0\r\nBlankScreenInterval=0\r\n",
                {dir_ + "a.bmp", dir_ + "b.bmp"});
  TPrimaryWindow& w = Start();
  int calls = 0;
  w.OnPictureLoaded = [&](TPrimaryWindow*) {
    ++calls;
    if (calls == 1) throw std::length_error("basic_string::_M_create");
    if (calls == 2) throw std::bad_alloc();
  };
  ASSERT_TRUE(PumpUntil([&] { return calls >= 4; }, 60000));
  EXPECT_FALSE(tk::Application.Terminated());
  EXPECT_TRUE(w.DrawIntervalTimer.Enabled() || w.DrawIntervalTimer.Running());
}

TEST_F(SlideshowWindowTest, ClickEndsTheShowWhenConfigured) {
  WriteSolidBmp(dir_ + "a.bmp", 10, 10, RGB(9, 9, 9));
  WriteSettings("[Screen]\r\nBlankScreenInterval=0\r\n[Event]\r\nMouseClick=1\r\n",
                {dir_ + "a.bmp"});
  TPrimaryWindow& w = Start();
  ASSERT_TRUE(PumpUntil([&] { return w.ExitArmed; }, 30000));
  // In the margin or over the picture: a click is a click.
  SendMessageA(w.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageA(w.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_TRUE(tk::Application.Terminated());
}

TEST_F(SlideshowWindowTest, EmptyListKeepsTheBackgroundAndStillEndsOnInput) {
  WriteSettings("[Screen]\r\nBlankScreenInterval=0\r\nBGColor=clTeal\r\n", {});
  TPrimaryWindow& w = Start();
  ASSERT_TRUE(PumpUntil([&] { return w.ExitArmed; }, 30000));
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(w.PicturesLoaded(), 0);
  EXPECT_FALSE(w.PicturePaintBoxEx.Visible());
  tk::WindowDc dc(w.Handle());
  EXPECT_EQ(GetPixel(dc.Get(), 10, 10), RGB(0, 0x80, 0x80));
  SendKey();
  EXPECT_TRUE(tk::Application.Terminated());
}

TEST_F(SlideshowWindowTest, CloseStoresTheNextCaptionRow) {
  WriteSolidBmp(dir_ + "a.bmp", 10, 10, RGB(9, 9, 9));
  WriteFile(dir_ + "rows.txt", "A\r\nB\r\nC\r\n");
  WriteSettings(
      "[Screen]\r\nInterval=0\r\nBlankScreenInterval=0\r\nShowTextKind=3\r\n"
      "SelectTextFileName=" +
          dir_ + "rows.txt\r\nPreviousRowNumber=1\r\n",
      {dir_ + "a.bmp"});
  TPrimaryWindow& w = Start();
  ASSERT_TRUE(PumpUntil([&] { return w.PicturesLoaded() >= 1; }, 30000));
  EXPECT_EQ(w.CaptionText(), "B");  // resumed at the stored row
  const int next = w.TextRowIndex();
  SendMessageA(w.Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(tk::Application.Terminated());
  char value[32] = {};
  GetPrivateProfileStringA("Screen", "PreviousRowNumber", "", value, sizeof value,
                           (dir_ + "Orvanelle.ini").c_str());
  EXPECT_EQ(std::string(value), std::to_string(next));
}

TEST_F(SlideshowWindowTest, PreviewShowsOnlyTheNameAndIgnoresInput) {
  WriteSolidBmp(dir_ + "a.bmp", 10, 10, RGB(9, 9, 9));
  WriteSettings("[Screen]\r\nBlankScreenInterval=0\r\n[Font]\r\nSize=20\r\n", {dir_ + "a.bmp"});
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "OrvPreviewHost";
  RegisterClassA(&wc);
  HWND host = CreateWindowExA(0, "OrvPreviewHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                              200, 150, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(host, nullptr);
  TPrimaryWindow& w = Start(host);
  EXPECT_EQ(GetParent(w.Handle()), host);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w.Handle(), GWL_STYLE)) & 0xFFFF0000u, 0x56000000u);
  RECT hostRect;
  GetWindowRect(host, &hostRect);
  EXPECT_EQ(w.Width(), hostRect.right - hostRect.left);
  EXPECT_EQ(w.Height(), hostRect.bottom - hostRect.top);
  ASSERT_TRUE(PumpUntil([&] { return w.TextLabel.Visible(); }, 30000));
  PumpUntil([] { return false; }, 500);
  EXPECT_FALSE(w.DrawIntervalTimer.Enabled());
  EXPECT_EQ(w.PicturesLoaded(), 0);
  EXPECT_EQ(w.TextLabel.Caption(), "Orvanelle");
  EXPECT_EQ(w.TextLabel.Align(), tk::alClient);
  EXPECT_EQ(w.TextLabel.Font().Size, 8);
  EXPECT_EQ(w.TopShape.Height(), 0);
  SendKey();
  SendMessageA(w.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(50, 50));
  EXPECT_FALSE(tk::Application.Terminated());
  // The display page closing takes the preview with it.
  DestroyWindow(host);
  EXPECT_TRUE(tk::Application.Terminated());
}

// A picture only the test plug-in reads, under a name libjpeg rejects.
void WritePluginPicture(const std::string& path, int w, int h) {
  std::string v = orvtest::FlatOrvPicture(uint32_t(w), uint32_t(h), kModeBottomUp, '\x55');
  WriteFile(path, v);
}

std::string TestPluginDir() {
  std::string dir = ORV_TEST_PLUGIN_DIR;
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  for (char& c : dir)
    if (c == '/') c = '\\';
  return dir;
}

TEST_F(SlideshowWindowTest, PluginsOfThePluginFolderLoadByTheirFileTypeFlags) {
  // A plug-in folder of its own, so the flag numbering is known: one file,
  // flag 3.
  const std::string plugins = dir_ + "spi";
  CreateDirectoryA(plugins.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA((TestPluginDir() + "\\orvtest.spi").c_str(),
                        (plugins + "\\orvtest.spi").c_str(), FALSE));
  const std::string picture = dir_ + "only_a_plugin_reads_this.jpg";
  WritePluginPicture(picture, 33, 21);
  for (const char* flag : {"1", "0"}) {
    WriteSettings("[Search]\r\nPluginFolder=" + plugins + "\r\n[Extend]\r\nMaxIndex=4\r\nExtend3=" +
                      flag + "\r\n[Screen]\r\nInterval=0\r\nBlankScreenInterval=0\r\n",
                  {picture});
    TPrimaryWindow& w = Start();
    ASSERT_TRUE(PumpUntil([&] { return w.PicturesLoaded() >= 1; }, 30000));
    if (std::string(flag) == "1") {
      EXPECT_EQ(w.DecoderSetup().pluginFiles,
                (std::vector<std::string>{plugins + "\\orvtest.spi"}));
      ASSERT_FALSE(w.PictureBitmap()->Empty());
      EXPECT_EQ(w.PictureBitmap()->Width(), 33);
      EXPECT_EQ(w.PictureBitmap()->Height(), 21);
    } else {
      EXPECT_TRUE(w.DecoderSetup().pluginFiles.empty());
      EXPECT_TRUE(w.PictureBitmap()->Empty());
    }
    window_.reset();
    tk::Application.ClearTerminated();
  }
}

// Plug-ins that fault while the show asks them (in IsSupported, in
// GetPicture) cost the show those pictures, nothing more: they fault in
// the decoder, which is replaced, and never run in the saver.
TEST_F(SlideshowWindowTest, APlugInThatFaultsCostsOnlyItsPictures) {
  const std::string plugins = dir_ + "spi";
  CreateDirectoryA(plugins.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA((TestPluginDir() + "\\faulty\\orvfaultcheck.spi").c_str(),
                        (plugins + "\\orvfaultcheck.spi").c_str(), FALSE));
  const std::string trigger = dir_ + "faults_in_issupported.orv";
  WriteFile(trigger, "FAULT");
  const std::string divides = dir_ + "faults_in_getpicture.orv";
  {
    std::string v = orvtest::FlatOrvPicture(8u, 8u, uint32_t(kModeFaultDivide));
    WriteFile(divides, v);
  }
  const std::string good = dir_ + "good.bmp";
  WriteSolidBmp(good, 40, 30, RGB(0, 200, 0));
  WriteSettings("[Search]\r\nPluginFolder=" + plugins +
                    "\r\n[Screen]\r\nRandamDisplay=0\r\nInterval=0\r\nBlankScreenInterval=0\r\n",
                {trigger, good, divides, good});
  std::vector<bool> decoded;
  TPrimaryWindow& w = Start();
  w.OnPictureLoaded = [&](TPrimaryWindow* s) { decoded.push_back(!s->PictureBitmap()->Empty()); };
  ASSERT_TRUE(PumpUntil([&] { return w.PicturesLoaded() >= 5; }, 60000));
  EXPECT_EQ(GetModuleHandleA("orvfaultcheck.spi"), nullptr) << "a plug-in ran in the saver";
  ASSERT_GE(decoded.size(), 5u);
  EXPECT_EQ(std::vector<bool>(decoded.begin(), decoded.begin() + 5),
            (std::vector<bool>{false, true, false, true, false}));
  EXPECT_FALSE(tk::Application.Terminated());
  SendKey();
  EXPECT_TRUE(tk::Application.Terminated());
}

// A picture whose decoder never answers: the test plug-in sleeps a minute
// over it. To the saver this is what a read that never completes is (a
// share that stopped answering): our readers ask a file's size before they
// read, so nothing Wine offers stalls them, and the decoder is the one
// place where either can happen.
std::string WriteStalledPicture(const std::string& dir) {
  const std::string path = dir + "stalls.orv";
  std::string v = orvtest::FlatOrvPicture(16u, 16u, uint32_t(kModeSlow));
  WriteFile(path, v);
  return path;
}

std::string TestPluginFolder(const std::string& dir) {
  const std::string plugins = dir + "spi";
  CreateDirectoryA(plugins.c_str(), nullptr);
  CopyFileA((TestPluginDir() + "\\orvtest.spi").c_str(), (plugins + "\\orvtest.spi").c_str(),
            FALSE);
  return plugins;
}

// The show over a picture whose decoder never answers: the picture before
// it stays up while the decoder works, the decoder is given up at its time
// bound, and the show goes on with the picture after it.
TEST_F(SlideshowWindowTest, APictureWhoseDecoderNeverAnswersCostsOnlyItsTurn) {
  const std::string stalled = WriteStalledPicture(dir_);
  const std::string before = dir_ + "before.bmp", after = dir_ + "after.bmp";
  WriteSolidBmp(before, 60, 40, RGB(200, 0, 0));
  WriteSolidBmp(after, 60, 40, RGB(0, 200, 0));
  WriteSettings("[Search]\r\nPluginFolder=" + TestPluginFolder(dir_) +
                    "\r\n[Screen]\r\nRandamDisplay=0\r\nInterval=1\r\nBlankScreenInterval=0\r\n",
                {before, stalled, after});
  struct Loaded {
    int index;
    bool empty;
    DWORD at;
  };
  std::vector<Loaded> loaded;
  TPrimaryWindow& w = Start();
  w.OnPictureLoaded = [&](TPrimaryWindow* s) {
    loaded.push_back({s->ShownIndex(), s->PictureBitmap()->Empty(), GetTickCount()});
  };
  bool stayedUp = true, looked = false;
  ASSERT_TRUE(PumpUntil(
      [&] {
        // While the decoder works on the next, the first picture is up.
        if (loaded.size() == 1 && GetTickCount() - loaded[0].at > 2000) {
          looked = true;
          stayedUp = stayedUp && w.PicturePaintBoxEx.Visible() && w.State() == CycleState::End;
        }
        return loaded.size() >= 3;
      },
      60000));
  EXPECT_TRUE(looked);
  EXPECT_TRUE(stayedUp) << "the picture before the stalled one was taken down";
  EXPECT_EQ(loaded[0].index, 0);
  EXPECT_FALSE(loaded[0].empty);
  EXPECT_EQ(loaded[1].index, 1);
  EXPECT_TRUE(loaded[1].empty) << "the stalled file counts as not decoded";
  EXPECT_EQ(loaded[2].index, 2);
  EXPECT_FALSE(loaded[2].empty) << "the picture after the stalled one";
  // Its decoder's bound, not more (the picture before is up for a second).
  const DWORD waited = loaded[1].at - loaded[0].at;
  EXPECT_GE(waited, DecodeTimeBoundMs(1000));
  EXPECT_LT(waited, DecodeTimeBoundMs(1000) + 4000);
  EXPECT_FALSE(tk::Application.Terminated());
}

// A key while the decoder is busy ends the show at once: the saver ends
// the decoder with its job and waits for nothing.
TEST_F(SlideshowWindowTest, AKeyWhileTheDecoderIsBusyEndsTheShowAndTheDecoderAtOnce) {
  const std::string stalled = WriteStalledPicture(dir_);
  const std::string before = dir_ + "before.bmp";
  WriteSolidBmp(before, 60, 40, RGB(200, 0, 0));
  WriteSettings("[Search]\r\nPluginFolder=" + TestPluginFolder(dir_) +
                    "\r\n[Screen]\r\nRandamDisplay=0\r\nInterval=1\r\nBlankScreenInterval=0\r\n",
                {before, stalled});
  TPrimaryWindow& w = Start();
  ASSERT_TRUE(PumpUntil([&] { return w.PicturesLoaded() == 1 && w.Decoder(); }, 30000));
  // Long enough that the decoder is inside the plug-in.
  PumpUntil([] { return false; }, 1500);
  ASSERT_EQ(w.NextReadyIndex(), -1);
  const DWORD pid = w.Decoder()->DecoderProcessId();
  ASSERT_NE(pid, 0u);
  HANDLE decoder = OpenProcess(SYNCHRONIZE, FALSE, pid);
  ASSERT_NE(decoder, nullptr);
  const DWORD start = GetTickCount();
  SendKey();
  EXPECT_TRUE(tk::Application.Terminated());
  EXPECT_LT(GetTickCount() - start, 300u);
  EXPECT_EQ(WaitForSingleObject(decoder, 2000), WAIT_OBJECT_0) << "the decoder outlived the show";
  CloseHandle(decoder);
}

// Plug-ins that misbehave in every way a process can: each costs its own
// picture at most, the pictures between them are shown, the saver never
// holds what the decoder took, and a key still ends the show. One that
// provokes and catches its own fault has its picture shown.
TEST_F(SlideshowWindowTest, MisbehavingPlugInsCostTheirPicturesAndNothingElse) {
  const std::string plugins = TestPluginFolder(dir_);
  struct Case {
    const char* name;
    uint32_t mode;
    int shown;  // 1 shown, 0 not, -1 either (what the system enforces)
  };
  const Case cases[] = {
      {"overflows its stack", kModeStackOverflow, 0},
      {"faults on a thread of its own", kModeThreadFault, 0},
      {"calls abort()", kModeAbort, 0},
      {"takes a minute", kModeSlow, 0},
      // Windows ends the decoder at the job's 1 GiB; Wine lets it finish.
      {"takes 1.5 GB", kModeMemoryHog, -1},
      {"catches its own access violation", kModeCatchesOwnFault, 1},
  };
  std::vector<std::string> files;
  const std::string good = dir_ + "good.bmp";
  WriteSolidBmp(good, 40, 30, RGB(0, 200, 0));
  for (const Case& c : cases) {
    const std::string path = dir_ + "mode" + std::to_string(c.mode) + ".orv";
    std::string v = orvtest::FlatOrvPicture(24u, 16u, c.mode, '\x70');
    WriteFile(path, v);
    files.push_back(path);
    files.push_back(good);
  }
  WriteSettings("[Search]\r\nPluginFolder=" + plugins +
                    "\r\n[Screen]\r\nRandamDisplay=0\r\nInterval=0\r\nBlankScreenInterval=0\r\n",
                files);
  std::vector<bool> decoded;
  SIZE_T mostPrivate = 0;
  TPrimaryWindow& w = Start();
  w.OnPictureLoaded = [&](TPrimaryWindow* s) {
    decoded.push_back(!s->PictureBitmap()->Empty());
    mostPrivate = std::max(mostPrivate, PrivateBytes());
  };
  ASSERT_TRUE(PumpUntil([&] { return decoded.size() >= files.size(); }, 120000));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    if (cases[i].shown >= 0) EXPECT_EQ(decoded[2 * i], cases[i].shown == 1);
    EXPECT_TRUE(decoded[2 * i + 1]) << "the picture after it";
  }
  EXPECT_LT(mostPrivate, SIZE_T(300) << 20) << "the saver holds what a decoder took";
  EXPECT_EQ(GetModuleHandleA("orvtest.spi"), nullptr) << "a plug-in ran in the saver";
  EXPECT_FALSE(tk::Application.Terminated());
  SendKey();
  EXPECT_TRUE(tk::Application.Terminated());
}

TEST_F(SlideshowWindowTest, AThousandPicturesLeakNeitherMemoryNorGdiObjects) {
  std::vector<std::string> files;
  const COLORREF colors[] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200), RGB(200, 200, 0)};
  for (int i = 0; i < 4; ++i) {
    files.push_back(dir_ + "p" + std::to_string(i) + ".bmp");
    WriteSolidBmp(files.back(), 320 + 100 * i, 240 + 50 * i, colors[i]);
  }
  files.push_back(dir_ + "broken.bmp");
  WriteFile(files.back(), "BMgarbage");
  WriteSettings(
      "[Screen]\r\nInterval=0\r\nBlankScreenInterval=0\r\nWindowBorder=5\r\nShowTextKind=1\r\n"
      "TextArrangement=1\r\nStretchDraw=1\r\n",
      files);
  TPrimaryWindow& w = Start();
  // Give or take one picture's bitmap (the largest, 620 x 390 x 3) and its
  // scaled copy.
  ExpectAThousandPicturesLeakNothing([&] { return w.PicturesLoaded(); },
                                     2 * 620 * 390 * 3 + 256 * 1024, 2,
                                     [] { return std::string(); });
}

}  // namespace
}  // namespace orv
