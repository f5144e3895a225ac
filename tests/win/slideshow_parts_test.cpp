// The slideshow's own components: the multimedia timer, the picture
// surface's repaint rectangle and the shadow label's painting.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "slideshow/MMTimer.h"
#include "slideshow/Pboxex.h"
#include "slideshow/ShadoLbl.h"
#include "toolkit/Canvas.h"
#include "toolkit/Forms.h"
#include "tests/win/test_form.h"

namespace orv {
namespace {

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < ms) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
}

TEST(MMTimer, IntervalAndResolutionAreClampedToTheSystemRange) {
  TMMTimer t;
  t.ChangeEnabled(false);
  t.ChangeInterval(0);
  EXPECT_EQ(t.Interval(), t.GetMinPeriod());
  t.ChangeInterval(0xFFFFFFFFu);
  EXPECT_EQ(t.Interval(), t.GetMaxPeriod());
  t.ChangeInterval(100);
  t.ChangeResolution(500);
  EXPECT_EQ(t.Resolution(), 100u);
}

TEST(MMTimer, PeriodBegunWithTheIntervalIsEndedWithIt) {
  TMMTimer t;
  t.ChangeEnabled(false);
  t.ChangeInterval(2000);
  t.ChangeEnabled(true);
  EXPECT_TRUE(t.Running());
  EXPECT_EQ(t.BegunPeriod(), 2000u);
  t.ChangeEnabled(true);  // same value: no restart
  EXPECT_EQ(t.BegunPeriod(), 2000u);
  t.ChangeEnabled(false);
  EXPECT_FALSE(t.Running());
}

TEST(MMTimer, TicksArriveOnTheCreatingThreadAndStopWhenDisabled) {
  TMMTimer t;
  t.ChangeEnabled(false);
  t.ChangeInterval(10);
  int ticks = 0;
  bool otherThread = false;
  const DWORD self = GetCurrentThreadId();
  t.OnTimer = [&](TMMTimer* sender) {
    EXPECT_EQ(sender, &t);
    if (GetCurrentThreadId() != self) otherThread = true;
    ++ticks;
  };
  t.ChangeEnabled(true);
  Pump(400);
  t.ChangeEnabled(false);
  EXPECT_GT(ticks, 3);
  EXPECT_FALSE(otherThread);
  const int stopped = ticks;
  Pump(200);
  EXPECT_EQ(ticks, stopped);  // nothing queued before the stop gets through
}

TEST(MMTimer, HandlerThatRestartsTheTimerNeverOverlaps) {
  TMMTimer t;
  t.ChangeEnabled(false);
  t.ChangeInterval(1);
  int depth = 0, maxDepth = 0, ticks = 0;
  t.OnTimer = [&](TMMTimer* sender) {
    ++depth;
    maxDepth = depth > maxDepth ? depth : maxDepth;
    sender->ChangeEnabled(false);
    Sleep(5);  // longer than the period: ticks pile up meanwhile
    ++ticks;
    sender->ChangeInterval(ticks % 2 ? 0 : 3);
    sender->ChangeEnabled(true);
    --depth;
  };
  t.ChangeEnabled(true);
  Pump(300);
  t.ChangeEnabled(false);
  EXPECT_GT(ticks, 5);
  EXPECT_EQ(maxDepth, 1);
}

// An error out of a tick handler is handed to the application's handler at
// the timer window, as at a form's, and the timer keeps ticking.
TEST(MMTimer, ErrorsOutOfTheHandlerReachTheApplicationAndTicksGoOn) {
  std::vector<std::string> caught;
  tk::Application.OnException = [&](const std::exception& e) { caught.push_back(e.what()); };
  {
    TMMTimer t;
    t.ChangeEnabled(false);
    t.ChangeInterval(10);
    int ticks = 0;
    t.OnTimer = [&](TMMTimer*) {
      ++ticks;
      if (ticks == 1) throw std::length_error("too long");
      if (ticks == 2) throw std::bad_alloc();
    };
    t.ChangeEnabled(true);
    Pump(300);
    t.ChangeEnabled(false);
    EXPECT_GT(ticks, 3);
  }
  tk::Application.OnException = nullptr;
  ASSERT_EQ(caught.size(), 2u);
  EXPECT_EQ(caught[0], "too long");
}

using orvtest::TestForm;

TEST(PaintBoxEx, RepaintRectangleIsOrderedClampedAndOffset) {
  tk::Application.Initialize();
  TestForm form;
  TPaintBoxEx box(&form);
  EXPECT_EQ(box.Width(), 105);
  EXPECT_FALSE(box.ClearMode());
  box.SetBounds(100, 100, 40, 40);
  const RECT r = box.RepaintRect(50, 60, 10, 20);
  EXPECT_EQ(r.left, 110);
  EXPECT_EQ(r.top, 120);
  EXPECT_EQ(r.right, 139);
  EXPECT_EQ(r.bottom, 139);
  EXPECT_EQ(box.GetPalette(), nullptr);
}

// Paints a label into a 24-bit bitmap over a known background and returns it.
class LabelPainter {
 public:
  LabelPainter(int w, int h) {
    tk::Application.Initialize();
    form_.CreateForm();
    label_ = std::make_unique<TShadowLabel>(&form_);
    label_->SetBounds(0, 0, w, h);
    bitmap_.Allocate(tk::TPixelFormat::pf24bit, w, h);
  }
  TShadowLabel& Label() { return *label_; }
  const tk::TBitmap& Paint(COLORREF background) {
    tk::TBitmapCanvas c(bitmap_);
    c.Canvas().SetBrushColor(background);
    c.Canvas().FillRect(RECT{0, 0, bitmap_.Width(), bitmap_.Height()});
    label_->Paint(c.Canvas());
    return bitmap_;
  }
  static COLORREF At(const tk::TBitmap& b, int x, int y) {
    b.Flush();
    const uint8_t* p = b.ScanLine(y) + 3 * x;
    return RGB(p[2], p[1], p[0]);
  }
  // Rows and columns holding any pixel of `color`.
  static RECT Extent(const tk::TBitmap& b, COLORREF color) {
    RECT r = {b.Width(), b.Height(), -1, -1};
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x)
        if (At(b, x, y) == color) {
          r.left = std::min<LONG>(r.left, x);
          r.top = std::min<LONG>(r.top, y);
          r.right = std::max<LONG>(r.right, x);
          r.bottom = std::max<LONG>(r.bottom, y);
        }
    return r;
  }

 private:
  TestForm form_;
  std::unique_ptr<TShadowLabel> label_;
  tk::TBitmap bitmap_;
};

TEST(ShadowLabel, DefaultsAndFormatFlags) {
  LabelPainter p(100, 40);
  TShadowLabel& l = p.Label();
  EXPECT_TRUE(l.Shadow().Visible());
  EXPECT_EQ(l.Shadow().Color(), tk::clSilver);
  EXPECT_EQ(l.Highlight().Color(), tk::clWhite);
  EXPECT_EQ(l.Highlight().OffsetLeft(), -1);
  EXPECT_EQ(l.FormatFlags(), static_cast<UINT>(DT_LEFT | DT_EXPANDTABS));
  l.SetAlignment(tk::taRightJustify);
  l.SetWordWrap(true);
  l.SetShowAccelChar(false);
  l.SetEllipsis(elPath);
  EXPECT_EQ(l.FormatFlags(), static_cast<UINT>(DT_RIGHT | DT_EXPANDTABS | DT_WORDBREAK |
                                               DT_NOPREFIX | DT_PATH_ELLIPSIS));
}

TEST(ShadowLabel, TransparentLabelPaintsNoBackgroundEvenWithGradation) {
  LabelPainter p(120, 40);
  TShadowLabel& l = p.Label();
  l.SetTransparent(true);
  l.SetGradation(true);
  l.SetCaption("");
  const auto& b = p.Paint(RGB(10, 20, 30));
  for (int y = 0; y < 40; y += 7)
    for (int x = 0; x < 120; x += 11) EXPECT_EQ(LabelPainter::At(b, x, y), RGB(10, 20, 30));
}

TEST(ShadowLabel, OpaqueGradationRunsFromGradationColourToColour) {
  LabelPainter p(101, 30);
  TShadowLabel& l = p.Label();
  l.SetCaption(" ");
  l.SetGradation(true);
  l.SetGradationColor(RGB(0, 0, 0));
  l.SetColor(RGB(200, 100, 0));
  const auto& b = p.Paint(RGB(1, 1, 1));
  EXPECT_EQ(LabelPainter::At(b, 0, 15), RGB(0, 0, 0));
  EXPECT_EQ(LabelPainter::At(b, 100, 15), RGB(200, 100, 0));
  EXPECT_EQ(LabelPainter::At(b, 50, 15), RGB(100, 50, 0));
}

// White text of `size` points on a transparent label without highlight.
TShadowLabel& WhiteText(LabelPainter& p, int size, const char* caption) {
  TShadowLabel& l = p.Label();
  tk::TFont f;
  f.Size = size;
  f.Color = RGB(255, 255, 255);
  l.SetFont(f);
  l.SetTransparent(true);
  l.SetCaption(caption);
  l.Highlight().SetShadowVisible(false);
  return l;
}

TEST(ShadowLabel, ShadowSitsUnderTheTextAtItsOffset) {
  LabelPainter p(200, 60);
  TShadowLabel& l = WhiteText(p, 20, "WWW");
  l.Shadow().SetShadowColor(RGB(255, 0, 0));
  l.Shadow().SetShadowLeft(4);
  l.Shadow().SetShadowTop(3);
  const auto& b = p.Paint(RGB(0, 0, 0));
  const RECT text = LabelPainter::Extent(b, RGB(255, 255, 255));
  const RECT shadow = LabelPainter::Extent(b, RGB(255, 0, 0));
  ASSERT_GE(text.right, 0);
  ASSERT_GE(shadow.right, 0);
  EXPECT_EQ(shadow.right - text.right, 4);
  EXPECT_EQ(shadow.bottom - text.bottom, 3);
}

TEST(ShadowLabel, CentredLayoutMovesTheTextByHalfTheFreeHeight) {
  LabelPainter top(200, 100), centre(200, 100);
  for (LabelPainter* p : {&top, &centre}) WhiteText(*p, 14, "Hg").Shadow().SetShadowVisible(false);
  centre.Label().SetLayout(tk::tlCenter);
  const int h = top.Label().TextHeight("Hg");
  const RECT a = LabelPainter::Extent(top.Paint(0), RGB(255, 255, 255));
  const RECT b = LabelPainter::Extent(centre.Paint(0), RGB(255, 255, 255));
  ASSERT_GE(a.bottom, 0);
  EXPECT_EQ(b.top - a.top, (100 - h) / 2);
}

TEST(ShadowLabel, DisabledLabelUsesButtonShadowForTextAndGreyForShadow) {
  LabelPainter p(200, 60);
  TShadowLabel& l = WhiteText(p, 20, "MMM");
  l.Shadow().SetShadowColor(RGB(255, 0, 0));
  l.Shadow().SetShadowLeft(5);
  l.SetEnabled(false);
  const auto& b = p.Paint(RGB(0, 0, 1));
  EXPECT_LT(LabelPainter::Extent(b, RGB(255, 0, 0)).right, 0);  // not its own colour
  EXPECT_LT(LabelPainter::Extent(b, RGB(255, 255, 255)).right, 0);
  EXPECT_GE(LabelPainter::Extent(b, GetSysColor(COLOR_BTNSHADOW)).right, 0);
}

TEST(ShadowLabel, TwoColourGradationColoursFirstAndLastCharacter) {
  LabelPainter p(200, 60);
  TShadowLabel& l = p.Label();
  tk::TFont f;
  f.Size = 24;
  f.Color = RGB(0, 255, 0);
  l.SetFont(f);
  l.SetTransparent(true);
  l.Shadow().SetShadowVisible(false);
  l.Highlight().SetShadowVisible(false);
  l.SetCaption("MM");
  l.SetTextGradation(tg2Colors);
  l.SetTextGradationColor(RGB(0, 0, 255));
  const auto& b = p.Paint(RGB(0, 0, 0));
  const RECT green = LabelPainter::Extent(b, RGB(0, 255, 0));
  const RECT blue = LabelPainter::Extent(b, RGB(0, 0, 255));
  ASSERT_GE(green.right, 0);
  ASSERT_GE(blue.right, 0);
  EXPECT_LT(green.right, blue.left + 2);  // first character left of the second
}

}  // namespace
}  // namespace orv
