// The show's transitions in this process, drawn by Direct2D: every frame a
// window draws is drawn once more into memory and sampled here, since what
// Direct2D puts on screen is not what GDI reads back under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "slideshow/PrimaryScreen.h"
#include "tests/win/show_window_test.h"
#include "toolkit/Bitmap.h"

namespace orv {
namespace {

struct Rgb {
  int r, g, b;
};

Rgb At(const std::vector<uint32_t>& pixels, int width, int x, int y) {
  const uint32_t p = pixels[size_t(y) * size_t(width) + size_t(x)];
  return Rgb{int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
}

// A picture of soft vertical bands, red to blue and back every 128
// pixels, so any sideways move of the picture changes the colour at a
// point, and no move makes it jump.
void WriteBandsBmp(const std::string& path, int w, int h) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const int phase = x % 128;
      const int t = (phase < 64 ? phase : 127 - phase) * 255 / 63;
      row[3 * x] = uint8_t(t);
      row[3 * x + 1] = 0;
      row[3 * x + 2] = uint8_t(255 - t);
    }
  }
  b.SaveToFile(path);
}

struct Frame {
  double ms;
  Rgb centre;
  Rgb margin;
};

class TransitionWindowTest : public orvtest::ShowWindowTest {
 protected:
  TransitionWindowTest() : ShowWindowTest("transition_test", 4242) {}

  // Starts the show and records every frame the lead window draws.
  TPrimaryWindow& StartRecording() {
    TPrimaryWindow& w = Start();
    w.OnFrameDrawn = [this](TPrimaryWindow*, const std::vector<uint32_t>& px, int width, int height,
                            double ms) {
      frames_.push_back(Frame{ms, At(px, width, width / 2, height / 2), At(px, width, 2, 2)});
    };
    return w;
  }

  // Two flat pictures that fill the screen, red then blue, cross-faded in
  // `fadeMs`; returns once both were taken from the decoder.
  TPrimaryWindow& StartRedIntoBlue(int fadeMs) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    const std::string red = dir_ + "red.bmp", blue = dir_ + "blue.bmp";
    orvtest::WriteSolidBmp(red, sw, sh, RGB(255, 0, 0));
    orvtest::WriteSolidBmp(blue, sw, sh, RGB(0, 0, 255));
    WriteSettings(
        "[Screen]\r\nRandamDisplay=0\r\nInterval=1\r\nBlankScreenInterval=0\r\nWindowBorder=0\r\n"
        "ShowTextKind=0\r\nBGColor=clBlack\r\nTransition=1\r\nTransitionTime=" +
            std::to_string(fadeMs) + "\r\n",
        {red, blue});
    TPrimaryWindow& w = StartRecording();
    EXPECT_TRUE(PumpUntil([&] { return w.PicturesLoaded() >= 2; }, 60000));
    return w;
  }

  std::vector<Frame> frames_;
};

// A cross-fade between two flat pictures that fill the screen passes
// through mixed colours, one way only, and never through black: there is
// no blank step between the pictures.
TEST_F(TransitionWindowTest, ACrossFadeMixesThePicturesOneWayWithoutABlackFrame) {
  TPrimaryWindow& w = StartRedIntoBlue(3000);
  if (!w.DrawsFrames()) GTEST_SKIP() << "Direct2D cannot be had here";
  // On until the second picture has fully come.
  ASSERT_TRUE(PumpUntil(
      [&] { return !frames_.empty() && frames_.back().centre.b == 255 && frames_.back().centre.r == 0; },
      60000));
  // From the last frame that is all red to the first that is all blue.
  size_t from = 0;
  for (size_t i = 0; i < frames_.size(); ++i)
    if (frames_[i].centre.r == 255 && frames_[i].centre.b == 0) from = i;
  ASSERT_GT(from, 0u) << "the first picture was never fully up";
  int mixed = 0;
  for (size_t i = from + 1; i < frames_.size(); ++i) {
    const Rgb& c = frames_[i].centre;
    const Rgb& p = frames_[i - 1].centre;
    SCOPED_TRACE(testing::Message() << "frame " << i << " at " << frames_[i].ms << " ms: " << c.r
                                    << "," << c.g << "," << c.b);
    EXPECT_LE(c.r, p.r);
    EXPECT_GE(c.b, p.b);
    // Half of each, never the background between them.
    EXPECT_GE(c.r + c.b, 240);
    EXPECT_EQ(c.g, 0);
    if (c.r > 20 && c.b > 20) ++mixed;
  }
  EXPECT_GE(mixed, 2) << "too few frames between the pictures to call it a fade";
}

// While it is up, a picture larger than its place pans and zooms: the
// colour at a point changes from frame to frame in small steps, and the
// margin around the picture's place never shows any of it.
TEST_F(TransitionWindowTest, PanAndZoomMovesThePictureSmoothlyInsideItsPlace) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  const std::string photo = dir_ + "bands.bmp";
  WriteBandsBmp(photo, sw * 2, sh * 2);
  WriteSettings(
      "[Screen]\r\nInterval=8\r\nBlankScreenInterval=0\r\nWindowBorder=10\r\nShowTextKind=0\r\n"
      "StretchDraw=1\r\nBGColor=clBlack\r\nTransition=2\r\nTransitionTime=200\r\n",
      {photo});
  TPrimaryWindow& w = StartRecording();
  ASSERT_TRUE(PumpUntil([&] { return w.State() == CycleState::End; }, 60000));
  if (!w.DrawsFrames()) GTEST_SKIP() << "Direct2D cannot be had here";
  // Past the fade in: the picture alone moves.
  const size_t first = frames_.size();
  ASSERT_TRUE(PumpUntil([&] { return frames_.size() >= first + 20; }, 60000));
  int changed = 0;
  for (size_t i = first + 1; i < frames_.size(); ++i) {
    const Rgb& c = frames_[i].centre;
    const Rgb& p = frames_[i - 1].centre;
    SCOPED_TRACE(testing::Message() << "frame " << i << " at " << frames_[i].ms << " ms");
    // The margin is the background, whatever the path does.
    EXPECT_EQ(frames_[i].margin.r + frames_[i].margin.g + frames_[i].margin.b, 0);
    const int step = std::abs(c.r - p.r) + std::abs(c.g - p.g) + std::abs(c.b - p.b);
    // Over 8 s the path moves a few per cent of the picture: a frame,
    // even one of Wine's slow ones, moves it by a pixel or two.
    EXPECT_LE(step, 40);
    if (step > 0) ++changed;
  }
  EXPECT_GE(changed, 5) << "the picture stood still";
  const Rgb& a = frames_[first].centre;
  const Rgb& z = frames_.back().centre;
  EXPECT_GE(std::abs(a.r - z.r) + std::abs(a.b - z.b), 10) << "the picture hardly moved";
}

// Without the keys the show is the show of before: no frames of its own,
// and the picture is where GDI painted it.
TEST_F(TransitionWindowTest, WithoutTheKeysTheShowPaintsAsBefore) {
  const std::string red = dir_ + "red.bmp";
  orvtest::WriteSolidBmp(red, 1600, 1200, RGB(255, 0, 0));
  WriteSettings(
      "[Screen]\r\nInterval=30\r\nBlankScreenInterval=0\r\nWindowBorder=0\r\nShowTextKind=0\r\n"
      "BGColor=clBlack\r\n",
      {red});
  TPrimaryWindow& w = StartRecording();
  ASSERT_TRUE(PumpUntil([&] { return w.State() == CycleState::End; }, 60000));
  PumpUntil([] { return false; }, 300);
  EXPECT_FALSE(w.DrawsFrames());
  EXPECT_TRUE(frames_.empty());
  const IntRect r = w.Layout().PictureRect();
  tk::WindowDc dc(w.Handle());
  EXPECT_EQ(GetPixel(dc.Get(), w.PicturePaintBoxEx.Left() + (r.left + r.right) / 2,
                     w.PicturePaintBoxEx.Top() + (r.top + r.bottom) / 2),
            RGB(255, 0, 0));
}

// A key in the middle of a fade ends the show at once, although frames
// are drawn one after the other.
TEST_F(TransitionWindowTest, AKeyDuringAFadeEndsTheShowAtOnce) {
  TPrimaryWindow& w = StartRedIntoBlue(5000);
  if (!w.DrawsFrames()) GTEST_SKIP() << "Direct2D cannot be had here";
  // Well inside the second fade.
  ASSERT_TRUE(PumpUntil(
      [&] { return !frames_.empty() && frames_.back().centre.r < 200 && frames_.back().centre.b > 55; },
      60000));
  // As the keyboard gives it: through the input queue, behind whatever
  // frame messages are posted.
  ASSERT_EQ(GetForegroundWindow(), w.Handle());
  INPUT key[2] = {};
  key[0].type = key[1].type = INPUT_KEYBOARD;
  key[0].ki.wVk = key[1].ki.wVk = 'A';
  key[1].ki.dwFlags = KEYEVENTF_KEYUP;
  const double pressed = FrameClockMs();
  ASSERT_EQ(SendInput(2, key, sizeof(INPUT)), 2u);
  ASSERT_TRUE(PumpUntil([] { return tk::Application.Terminated(); }, 5000));
  EXPECT_LT(FrameClockMs() - pressed, 300);
}

}  // namespace
}  // namespace orv
