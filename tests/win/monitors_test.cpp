// The show on a desktop of several monitors, in this process. The monitor
// list comes from the test (Wine gives every monitor one DPI and cannot
// unplug one): a landscape primary and a portrait monitor beside it, both
// inside the X screen so their windows really draw.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "settings/ApplicationIniFile.h"
#include "slideshow/MonitorsWin32.h"
#include "slideshow/PrimaryScreen.h"
#include "tests/plugins/TestPlugin.h"
#include "tests/win/show_window_test.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Canvas.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFileWin32.h"
#include "toolkit/Win32Handles.h"

namespace orv {
namespace {

const IntRect kPrimary{0, 0, 640, 480};
const IntRect kPortrait{640, 0, 1024, 768};

using orvtest::WriteFile;
using orvtest::WriteSolidBmp;

RECT ScreenRect(HWND w) {
  RECT r = {};
  GetWindowRect(w, &r);
  return r;
}

class MonitorsTest : public orvtest::ShowWindowTest {
 protected:
  MonitorsTest() : ShowWindowTest("monitors_test", 4242) {}

  void SetUp() override {
    ShowWindowTest::SetUp();
    SetMonitors({{kPrimary, 96, true}, {kPortrait, 96, false}});
  }
  void TearDown() override {
    ShowWindowTest::TearDown();
    SetMonitorSource(nullptr);
  }
  void SetMonitors(std::vector<MonitorInfo> monitors) {
    monitors_ = std::move(monitors);
    SetMonitorSource([this] { return monitors_; });
  }

  // Four landscape and two portrait pictures, the portrait ones in the
  // middle of the list.
  std::vector<std::string> MixedPictures() {
    std::vector<std::string> files;
    const int sizes[][2] = {{400, 300}, {500, 250}, {300, 900}, {640, 480}, {200, 260}, {900, 600}};
    for (int i = 0; i < 6; ++i) {
      files.push_back(dir_ + "m" + std::to_string(i) + ".bmp");
      WriteSolidBmp(files.back(), sizes[i][0], sizes[i][1], RGB(40 * i, 200, 100));
    }
    return files;
  }

  std::vector<MonitorInfo> monitors_;
};

TEST_F(MonitorsTest, EveryMonitorGetsATopMostWindowOwnedByThePrimaryWithItsOwnMargin) {
  WriteSettings("[Screen]\r\nWindowBorder=10\r\nInterval=4\r\nBlankScreenInterval=0\r\n",
                MixedPictures());
  TPrimaryWindow& w = Start();
  ASSERT_EQ(w.MonitorWindowCount(), 1u);
  TPrimaryWindow& other = w.MonitorWindow(0);
  const RECT p = ScreenRect(w.Handle()), o = ScreenRect(other.Handle());
  EXPECT_EQ(p.left, kPrimary.left);
  EXPECT_EQ(p.right, kPrimary.right);
  EXPECT_EQ(p.bottom, kPrimary.bottom);
  EXPECT_EQ(o.left, kPortrait.left);
  EXPECT_EQ(o.top, kPortrait.top);
  EXPECT_EQ(o.right, kPortrait.right);
  EXPECT_EQ(o.bottom, kPortrait.bottom);
  EXPECT_EQ(GetWindow(other.Handle(), GW_OWNER), w.Handle());
  EXPECT_TRUE(GetWindowLongA(other.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(IsWindowVisible(other.Handle()));
  // Its first tick waits half the interval: the monitors change in turn.
  EXPECT_EQ(other.DrawIntervalTimer.Interval(), 100u + 2000u);
  ASSERT_TRUE(PumpUntil([&] { return other.PicturesLoaded() >= 1; }, 30000));
  EXPECT_EQ(other.TopShape.Height(), static_cast<int>(768 * 0.05));
  EXPECT_EQ(other.LeftShape.Width(), static_cast<int>(384 * 0.05));
  EXPECT_EQ(w.TopShape.Height(), static_cast<int>(480 * 0.05));
  EXPECT_EQ(w.LeftShape.Width(), static_cast<int>(640 * 0.05));
}

TEST_F(MonitorsTest, PicturesGoToTheMonitorOfTheirShapeAndNeverShowTwice) {
  WriteSettings(
      "[Screen]\r\nRandamDisplay=0\r\nInterval=0\r\nBlankScreenInterval=0\r\nStretchDraw=1\r\n"
      "WindowBorder=0\r\n",
      MixedPictures());
  TPrimaryWindow& w = Start();
  ASSERT_EQ(w.MonitorWindowCount(), 1u);
  TPrimaryWindow& other = w.MonitorWindow(0);
  std::vector<int> onPrimary, onPortrait;
  bool sameAtOnce = false;
  int lastOnPortrait = -1;
  IntRect tallDrawn;
  w.OnPictureLoaded = [&](TPrimaryWindow* sender) {
    (sender == &w ? onPrimary : onPortrait).push_back(sender->ShownIndex());
    if (w.ShownIndex() == other.ShownIndex()) sameAtOnce = true;
    if (sender == &other) {
      // The picture before this one was shown and has its rectangle.
      if (lastOnPortrait == 2) tallDrawn = other.Layout().PictureRect();
      lastOnPortrait = other.ShownIndex();
    }
  };
  ASSERT_TRUE(PumpUntil([&] { return onPrimary.size() >= 6 && onPortrait.size() >= 4; }, 60000));
  EXPECT_EQ(std::set<int>(onPrimary.begin(), onPrimary.end()), (std::set<int>{0, 1, 3, 5}));
  EXPECT_EQ(std::set<int>(onPortrait.begin(), onPortrait.end()), (std::set<int>{2, 4}));
  EXPECT_FALSE(sameAtOnce);
  // The 300 x 900 portrait is fitted to its own monitor's 384 x 768 box.
  EXPECT_GE(tallDrawn.Height(), 767);
  EXPECT_LE(tallDrawn.Height(), 768);
  EXPECT_NEAR(tallDrawn.Width(), 768 * 300 / 900, 1);
}

std::string TestPluginDir() {
  std::string dir = ORV_TEST_PLUGIN_DIR;
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  for (char& c : dir)
    if (c == '/') c = '\\';
  return dir;
}

void WriteOrvPicture(const std::string& path, uint32_t w, uint32_t h, OrvTestMode mode) {
  std::string v = orvtest::FlatOrvPicture(w, h, static_cast<uint32_t>(mode), '\x60');
  WriteFile(path, v);
}

// Pictures a plug-in reads are routed by the size it reads from their
// header: a tall one whose data are broken goes to the portrait monitor,
// which passes over it as over any picture that does not decode, and the
// show goes on. The plug-in runs in the windows' decoders, never in the
// saver.
TEST_F(MonitorsTest, PlugInPicturesAreRoutedByTheirHeaderAndABrokenOneIsPassedOver) {
  const std::string plugins = dir_ + "spi";
  CreateDirectoryA(plugins.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA((TestPluginDir() + "\\orvtest.spi").c_str(),
                        (plugins + "\\orvtest.spi").c_str(), FALSE));
  std::vector<std::string> files = {dir_ + "wide0.bmp", dir_ + "broken_tall1.orv",
                                    dir_ + "wide2.bmp", dir_ + "tall3.orv",
                                    dir_ + "wide4.bmp", dir_ + "wide5.orv"};
  WriteSolidBmp(files[0], 400, 300, RGB(200, 0, 0));
  WriteOrvPicture(files[1], 30, 90, kModeDataBroken);
  WriteSolidBmp(files[2], 500, 250, RGB(0, 200, 0));
  WriteOrvPicture(files[3], 40, 100, kModeBottomUp);
  WriteSolidBmp(files[4], 640, 480, RGB(0, 0, 200));
  WriteOrvPicture(files[5], 90, 40, kModeBottomUp);
  WriteSettings("[Search]\r\nPluginFolder=" + plugins +
                    "\r\n[Screen]\r\nRandamDisplay=0\r\nInterval=0\r\nBlankScreenInterval=0\r\n",
                files);
  TPrimaryWindow& w = Start();
  ASSERT_EQ(w.MonitorWindowCount(), 1u);
  TPrimaryWindow& other = w.MonitorWindow(0);
  std::set<int> onPrimary, onPortrait;
  int brokenShownEmpty = 0, brokenShownFull = 0;
  w.OnPictureLoaded = [&](TPrimaryWindow* sender) {
    const int index = sender->ShownIndex();
    (sender == &w ? onPrimary : onPortrait).insert(index);
    if (index == 1) ++(sender->PictureBitmap()->Empty() ? brokenShownEmpty : brokenShownFull);
  };
  ASSERT_TRUE(
      PumpUntil([&] { return other.PicturesLoaded() >= 6 && w.PicturesLoaded() >= 8; }, 60000));
  EXPECT_EQ(onPortrait, (std::set<int>{1, 3}));
  EXPECT_EQ(onPrimary, (std::set<int>{0, 2, 4, 5}));
  EXPECT_GE(brokenShownEmpty, 2);
  EXPECT_EQ(brokenShownFull, 0);
  EXPECT_FALSE(tk::Application.Terminated());

  // The plug-in reads headers and pictures in the decoders, never here.
  EXPECT_EQ(GetModuleHandleA((plugins + "\\orvtest.spi").c_str()), nullptr);
}

TEST_F(MonitorsTest, CaptionRowsAdvanceInOneSequenceAcrossMonitors) {
  WriteFile(dir_ + "rows.txt", "A\r\nB\r\nC\r\nD\r\nE\r\nF\r\nG\r\n");
  WriteSettings(
      "[Screen]\r\nRandamDisplay=0\r\nInterval=0\r\nBlankScreenInterval=0\r\n"
      "ShowTextKind=3\r\nAlwaysFirstRowCheck=1\r\nSelectTextFileName=" +
          dir_ + "rows.txt\r\n",
      MixedPictures());
  TPrimaryWindow& w = Start();
  std::string captions;
  std::set<TPrimaryWindow*> senders;
  w.OnPictureLoaded = [&](TPrimaryWindow* sender) {
    captions += sender->CaptionText();
    senders.insert(sender);
  };
  ASSERT_TRUE(PumpUntil([&] { return captions.size() >= 9; }, 60000));
  EXPECT_EQ(captions.substr(0, 9), "ABCDEFGAB");
  EXPECT_EQ(senders.size(), 2u);
}

TEST_F(MonitorsTest, AKeyOnAnyMonitorEndsTheShowOnceArmedAndEveryWindowGoes) {
  WriteSettings("[Screen]\r\nInterval=1\r\nBlankScreenInterval=1\r\n[Event]\r\nMouseClick=1\r\n",
                MixedPictures());
  TPrimaryWindow& w = Start();
  TPrimaryWindow& other = w.MonitorWindow(0);
  const HWND otherHandle = other.Handle();
  SendMessageA(otherHandle, WM_KEYDOWN, 'A', 0);
  EXPECT_FALSE(tk::Application.Terminated()) << "a key before arming ended the show";
  ASSERT_TRUE(PumpUntil([&] { return w.ExitArmed; }, 30000));
  SendMessageA(otherHandle, WM_KEYDOWN, 'A', 0);
  EXPECT_TRUE(tk::Application.Terminated());
  tk::Application.ClearTerminated();
  SendMessageA(otherHandle, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  SendMessageA(otherHandle, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  EXPECT_TRUE(tk::Application.Terminated());
  window_.reset();
  EXPECT_FALSE(IsWindow(otherHandle));
}

// With a cross-fade chosen each monitor fades on its own: both windows
// draw frames in which their two pictures are mixed.
TEST_F(MonitorsTest, EveryMonitorFadesBetweenItsOwnPictures) {
  const std::vector<std::pair<std::string, COLORREF>> pictures = {
      {"wide_red.bmp", RGB(255, 0, 0)},  {"tall_green.bmp", RGB(0, 255, 0)},
      {"wide_blue.bmp", RGB(0, 0, 255)}, {"tall_blue.bmp", RGB(0, 0, 255)}};
  std::vector<std::string> files;
  for (const auto& p : pictures) {
    files.push_back(dir_ + p.first);
    const bool wide = p.first[0] == 'w';
    WriteSolidBmp(files.back(), wide ? 1280 : 768, wide ? 960 : 1024, p.second);
  }
  WriteSettings(
      "[Screen]\r\nRandamDisplay=0\r\nInterval=1\r\nBlankScreenInterval=0\r\nWindowBorder=0\r\n"
      "ShowTextKind=0\r\nBGColor=clBlack\r\nAllMonitors=1\r\nTransition=1\r\n"
      "TransitionTime=2000\r\n",
      files);
  TPrimaryWindow& w = Start();
  std::map<TPrimaryWindow*, int> mixed;
  w.OnFrameDrawn = [&mixed](TPrimaryWindow* sender, const std::vector<uint32_t>& px, int width,
                            int height, double) {
    const uint32_t c = px[size_t(height / 2) * size_t(width) + size_t(width / 2)];
    const int r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
    // Red into blue on the wide monitor, green into blue on the tall one.
    if (b > 20 && (r > 20 || g > 20)) ++mixed[sender];
  };
  ASSERT_EQ(w.MonitorWindowCount(), 1u);
  TPrimaryWindow& tall = w.MonitorWindow(0);
  ASSERT_TRUE(PumpUntil([&] { return w.PicturesLoaded() >= 1 && tall.PicturesLoaded() >= 1; },
                        60000));
  if (!w.DrawsFrames()) GTEST_SKIP() << "Direct2D cannot be had here";
  EXPECT_TRUE(tall.DrawsFrames());
  EXPECT_TRUE(PumpUntil([&] { return mixed[&w] >= 2 && mixed[&tall] >= 2; }, 90000))
      << "wide " << mixed[&w] << ", tall " << mixed[&tall];
}

TEST_F(MonitorsTest, WithoutAllMonitorsTheOthersShowTheBackgroundOnly) {
  const std::string bg = dir_ + "bg.bmp";
  WriteSolidBmp(bg, 64, 64, RGB(250, 250, 0));
  for (const char* useBg : {"0", "1"}) {
    WriteSettings(
        "[Screen]\r\nAllMonitors=0\r\nInterval=0\r\nBlankScreenInterval=0\r\n"
        "BGColor=clTeal\r\nUseBGImageCheck=" +
            std::string(useBg) + "\r\nBGImagePath=" + bg + "\r\n",
        MixedPictures());
    TPrimaryWindow& w = Start();
    TPrimaryWindow& other = w.MonitorWindow(0);
    EXPECT_FALSE(other.ShowsPictures());
    ASSERT_TRUE(PumpUntil([&] { return w.PicturesLoaded() >= 8; }, 60000));
    EXPECT_EQ(other.PicturesLoaded(), 0);
    EXPECT_FALSE(other.PicturePaintBoxEx.Visible());
    InvalidateRect(other.Handle(), nullptr, TRUE);
    UpdateWindow(other.Handle());
    tk::WindowDc dc(other.Handle());
    const COLORREF expected = std::string(useBg) == "1" ? RGB(250, 250, 0) : RGB(0, 0x80, 0x80);
    EXPECT_EQ(GetPixel(dc.Get(), 100, 300), expected) << "background picture " << useBg;
    window_.reset();
    tk::Application.ClearTerminated();
  }
}

TEST_F(MonitorsTest, EachWindowSizesItsCaptionFontWithItsOwnMonitorsDpi) {
  SetMonitors({{kPrimary, 96, true}, {kPortrait, 144, false}});
  WriteSettings(
      "[Screen]\r\nInterval=0\r\nBlankScreenInterval=0\r\nShowTextKind=1\r\n"
      "[Font]\r\nName=Tahoma\r\nSize=20\r\n",
      MixedPictures());
  TPrimaryWindow& w = Start();
  TPrimaryWindow& other = w.MonitorWindow(0);
  ASSERT_TRUE(
      PumpUntil([&] { return other.PicturesLoaded() >= 1 && w.PicturesLoaded() >= 1; }, 30000));
  EXPECT_EQ(w.TextLabel.Font().PixelsPerInch, 96);
  EXPECT_EQ(other.TextLabel.Font().PixelsPerInch, 144);
  EXPECT_EQ(other.TextLabel.Font().Size, 20);
  auto lineHeight = [](const tk::TFont& font) {
    tk::WindowDc dc(nullptr);
    tk::ScopedGdiObject f(tk::CreateFontHandle(font, dc.Get()));
    tk::SelectGuard select(dc.Get(), f.Get());
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc.Get(), &tm);
    return static_cast<int>(tm.tmHeight);
  };
  const int at96 = lineHeight(w.TextLabel.Font()), at144 = lineHeight(other.TextLabel.Font());
  EXPECT_NEAR(at144 * 2, at96 * 3, 6) << at96 << " px at 96 DPI, " << at144 << " at 144";

  // The primary's scale set to 120 %: its caption follows, it keeps its
  // place and no window is made anew.
  const HWND otherHandle = other.Handle();
  RECT suggested = {10, 10, 400, 300};
  SendMessageA(w.Handle(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(120, 120),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(w.TextLabel.Font().PixelsPerInch, 120);
  EXPECT_EQ(other.TextLabel.Font().PixelsPerInch, 144);
  const RECT p = ScreenRect(w.Handle());
  EXPECT_EQ(p.left, kPrimary.left);
  EXPECT_EQ(p.right, kPrimary.right);
  PumpUntil([] { return false; }, 300);
  ASSERT_EQ(w.MonitorWindowCount(), 1u);
  EXPECT_EQ(w.MonitorWindow(0).Handle(), otherHandle);
}

TEST_F(MonitorsTest, AChangedMonitorSetGetsNewWindowsAndNoneIsLeftOnAGoneMonitor) {
  WriteSettings("[Screen]\r\nInterval=0\r\nBlankScreenInterval=0\r\nWindowBorder=10\r\n",
                MixedPictures());
  TPrimaryWindow& w = Start();
  ASSERT_TRUE(PumpUntil([&] { return w.AllPicturesLoaded() >= 4; }, 30000));
  const HWND gone = w.MonitorWindow(0).Handle();

  // The portrait monitor unplugged, the primary's resolution changed.
  SetMonitors({{IntRect{0, 0, 800, 600}, 96, true}});
  SendMessageA(w.Handle(), WM_DISPLAYCHANGE, 32, MAKELPARAM(800, 600));
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(gone); }, 10000));
  EXPECT_EQ(w.MonitorWindowCount(), 0u);
  EXPECT_EQ(w.ClientWidth(), 800);
  EXPECT_EQ(w.ClientHeight(), 600);
  EXPECT_EQ(w.TopShape.Height(), 30);
  EXPECT_EQ(w.LeftShape.Width(), 40);

  // Two monitors again, one of them left of and above the primary.
  SetMonitors({{IntRect{0, 0, 640, 480}, 96, true}, {IntRect{-300, -200, 0, 400}, 96, false}});
  PostMessageA(w.Handle(), WM_DISPLAYCHANGE, 32, MAKELPARAM(640, 480));
  ASSERT_TRUE(PumpUntil([&] { return w.MonitorWindowCount() == 1; }, 10000));
  const RECT o = ScreenRect(w.MonitorWindow(0).Handle());
  EXPECT_EQ(o.left, -300);
  EXPECT_EQ(o.top, -200);
  EXPECT_EQ(o.right, 0);
  EXPECT_EQ(o.bottom, 400);
  // The show goes on on both.
  const int before = w.AllPicturesLoaded();
  ASSERT_TRUE(PumpUntil([&] { return w.MonitorWindow(0).PicturesLoaded() >= 2; }, 30000));
  EXPECT_GT(w.AllPicturesLoaded(), before);
  EXPECT_FALSE(tk::Application.Terminated());
}

TEST_F(MonitorsTest, AThousandPicturesOnTwoMonitorsLeakNeitherMemoryNorGdiObjects) {
  std::vector<std::string> files = MixedPictures();
  files.push_back(dir_ + "broken.bmp");
  WriteFile(files.back(), "BMgarbage");
  WriteSettings(
      "[Screen]\r\nInterval=0\r\nBlankScreenInterval=0\r\nWindowBorder=5\r\nShowTextKind=1\r\n"
      "TextArrangement=1\r\nStretchDraw=1\r\n",
      files);
  TPrimaryWindow& w = Start();
  // Give or take each window's picture (the largest, 900 x 900 x 3 bytes
  // at most), its scaled copy and a probed one.
  ExpectAThousandPicturesLeakNothing([&] { return w.AllPicturesLoaded(); },
                                     2 * 3 * 900 * 900 * 3 + 256 * 1024, 4, [&] {
                                       return " on two monitors (" +
                                              std::to_string(w.PicturesLoaded()) + " + " +
                                              std::to_string(w.MonitorWindow(0).PicturesLoaded()) +
                                              ")";
                                     });
  EXPECT_GT(w.MonitorWindow(0).PicturesLoaded(), 300);
}

}  // namespace
}  // namespace orv
