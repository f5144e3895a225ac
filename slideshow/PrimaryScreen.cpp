#include "slideshow/PrimaryScreen.h"

#include <imm.h>

#include <algorithm>
#include <ctime>

#include "search/PlugInListWin32.h"
#include "slideshow/CaptionText.h"
#include "slideshow/LayoutMath.h"
#include "slideshow/MonitorsWin32.h"

namespace orv {

namespace {
constexpr UINT kExtensionListResource = 12;
constexpr char kDefaultExtensions[] = ".bmp,.jpg,.jpeg,.png";
constexpr int kDesignWidth = 413, kDesignHeight = 144;
constexpr UINT kImcCloseStatusWindow = 0x21;
// Declared by the SDK headers only for newer targets than the module's.
constexpr UINT kWmDpiChanged = 0x02E0;
// The window timer that looks at the decoder while a request is out: often
// enough that an answer is taken within a frame or two, and only then.
constexpr UINT_PTR kDecoderPollTimer = 0x4F52;
constexpr UINT kDecoderPollMs = 10;
// A picture shown at its own size is decoded no larger than this: beyond
// it a screen shows a small part of it anyway.
constexpr int kLargestOwnSizeBox = 8192;

// Runs a layout or drawing step whose failure must not stop the cycle; an
// allocation failure of the standard library is such a failure too.
template <typename F>
void Quietly(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
  }
}
}  // namespace

TPrimaryWindow::TPrimaryWindow(HWND parentHandle, SettingsFactory settingsFactory)
    : parent_handle_(parentHandle), settings_factory_(std::move(settingsFactory)), rng_(random_) {
  Init();
}

TPrimaryWindow::TPrimaryWindow(TPrimaryWindow& lead, const MonitorInfo& monitor, int slot,
                               bool pictures)
    : parent_handle_(nullptr),
      lead_(&lead),
      monitor_(monitor),
      slot_(slot),
      pictures_(pictures),
      rng_(lead.random_) {
  Init();
}

void TPrimaryWindow::Init() {
  SetColor(tk::clMenu);
  Font.Name = "ＭＳ Ｐゴシック";
  Font.Size = 9;

  PrimaryBGImage.SetFillParent(true);
  PrimaryBGImage.Center = true;
  PrimaryBGImage.Hide();
  tk::TShape* shapes[] = {&TopShape, &LeftShape, &BottomShape, &RightShape};
  const tk::TAlign aligns[] = {tk::alTop, tk::alLeft, tk::alBottom, tk::alRight};
  for (int i = 0; i < 4; ++i) {
    shapes[i]->SetBounds(0, 0, 20, 20);
    shapes[i]->SetAlign(aligns[i]);
    shapes[i]->BrushClear = true;
    shapes[i]->PenClear = true;
  }
  PicturePaintBoxEx.Hide();
  TextLabel.Hide();
  TextLabel.SetCaption("Orvanelle");
  TextLabel.SetTransparent(true);
  TextLabel.SetShowAccelChar(false);
  TextLabel.Shadow().SetShadowVisible(false);
  TextLabel.Highlight().SetShadowVisible(false);
  TextLabel.SetEllipsis(elNone);

  DrawIntervalTimer.ChangeEnabled(false);
  DrawIntervalTimer.ChangeInterval(DisplayCycle::kStartInterval);
  DrawIntervalTimer.OnTimer = [this](TMMTimer* sender) { DrawIntervalTimerTimer(sender); };

  auto click = [this](tk::TControl*) { FormClick(); };
  auto move = [this](tk::TControl*, int, int) {
    // No position (a locked desktop, for one) is no movement.
    POINT p = {};
    if (GetCursorPos(&p)) FormMouseMove(p.x, p.y);
  };
  OnClick = click;
  OnMouseMove = move;
  // A click in the margin ends the show like a click anywhere else.
  for (tk::TControl* c :
       std::initializer_list<tk::TControl*>{&PrimaryBGImage, &TopShape, &LeftShape, &BottomShape,
                                            &RightShape, &PicturePaintBoxEx, &TextLabel}) {
    c->OnClick = click;
    c->OnMouseMove = move;
  }
}

TPrimaryWindow::~TPrimaryWindow() { DestroyForm(); }

const tk::TStringList& TPrimaryWindow::FileList() const {
  static const tk::TStringList empty;
  const TPrimaryWindow& lead = Lead();
  return lead.settings_ ? lead.settings_->FileList : empty;
}

void TPrimaryWindow::CreateParams(tk::TCreateParams& params) {
  tk::TForm::CreateParams(params);
  params.Caption = tk::Application.Title;
  params.Width = kDesignWidth;
  params.Height = kDesignHeight;
  if (parent_handle_) {
    params.WndParent = parent_handle_;
    params.Style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  } else {
    params.ExStyle |= WS_EX_TOPMOST;
    // Owned by the primary window: no task-bar button of their own, and
    // they go with it. Made right on their monitor: a window moved there
    // from another monitor of another DPI would be told of a DPI change.
    if (lead_) {
      params.WndParent = lead_->Handle();
      params.X = monitor_.rect.left;
      params.Y = monitor_.rect.top;
      params.Width = monitor_.rect.Width();
      params.Height = monitor_.rect.Height();
    }
  }
}

void TPrimaryWindow::FormCreate() {
  ExitArmed = false;
  if (lead_) {
    // Another monitor's window: the lead has loaded the settings.
    if (const TApplicationIniFile* s = Lead().settings_.get()) SetColor(s->BGColor);
    if (HWND ime = ImmGetDefaultIMEWnd(Handle()))
      SendMessageA(ime, WM_IME_CONTROL, kImcCloseStatusWindow, 0);
    PlaceOnMonitor();
    SetFormStyle(tk::fsStayOnTop);
    KeyDownExit = MouseMoveExit = MouseClickExit = false;
    // Only windows with pictures take turns; one that shows the background
    // only puts it up at once.
    const int interval = Lead().settings_ && pictures_ ? Lead().settings_->Interval : 0;
    DrawIntervalTimer.ChangeInterval(FirstTickDelay(slot_,
                                                    static_cast<int>(Lead().others_.size()) + 1,
                                                    interval, DisplayCycle::kStartInterval));
    DrawIntervalTimer.ChangeEnabled(true);
    return;
  }
  SetTop(0);
  SetLeft(0);
  settings_ = settings_factory_();
  try {
    // The show writes no list: in a folder the user may not write, a
    // missing list must not turn into an error box before every show.
    settings_->Load(TApplicationIniFile::MissingLists::Leave);
  } catch (const tk::Exception& e) {
    // Shown like any uncaught error; the show goes on with what was read.
    tk::Application.ShowException(e);
  }
  SetColor(settings_->BGColor);

  std::vector<MonitorInfo> monitors;
  if (!Preview()) {
    if (HWND ime = ImmGetDefaultIMEWnd(Handle()))
      SendMessageA(ime, WM_IME_CONTROL, kImcCloseStatusWindow, 0);
    ShowCursor(FALSE);
    monitors = OrderPrimaryFirst(ListMonitors());
    if (monitors.empty()) {
      MonitorInfo m;
      m.rect = IntRect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      m.primary = true;
      monitors.push_back(m);
    }
    monitor_ = monitors.front();
    PlaceOnMonitor();
    SetFormStyle(tk::fsStayOnTop);
    SetForegroundWindow(Handle());
    SetFocus(Handle());
  } else {
    TopShape.SetHeight(0);
    BottomShape.SetHeight(0);
    LeftShape.SetWidth(0);
    RightShape.SetWidth(0);
    settings_->Font.Size = 8;
    RECT r = {};
    GetWindowRect(parent_handle_, &r);
    SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);
  }
  KeyDownExit = MouseMoveExit = MouseClickExit = false;
  DrawIntervalTimer.ChangeEnabled(true);
  if (monitors.size() > 1) CreateMonitorWindows(monitors);
}

void TPrimaryWindow::PlaceOnMonitor() {
  const IntRect& r = monitor_.rect;
  SetWindowPos(Handle(), HWND_TOPMOST, r.left, r.top, r.Width(), r.Height(),
               SWP_SHOWWINDOW | (lead_ ? SWP_NOACTIVATE : 0));
  SetBounds(r.left, r.top, r.Width(), r.Height());
}

void TPrimaryWindow::CreateMonitorWindows(const std::vector<MonitorInfo>& monitors) {
  const bool all = settings_ && settings_->AllMonitors;
  // Shapes only matter among the monitors that show pictures.
  std::vector<IntRect> showing;
  for (size_t i = 0; i < monitors.size(); ++i)
    if (i == 0 || all) showing.push_back(monitors[i].rect);
  const std::vector<ShapeWish> wishes = WishesFor(showing);
  wish_ = wishes.front();
  if (router_) router_->SetMonitorCount(static_cast<int>(showing.size()));
  // Every window exists before any of them starts its first tick, so the
  // stagger is computed over the whole set.
  for (size_t i = 1; i < monitors.size(); ++i) {
    others_.push_back(
        std::make_unique<TPrimaryWindow>(*this, monitors[i], static_cast<int>(i), all));
    if (all) others_.back()->wish_ = wishes[i];
  }
  for (auto& w : others_) {
    // A monitor whose window cannot be made is left out, not the show.
    try {
      w->CreateForm();
    } catch (const std::exception& e) {
      tk::Application.HandleException(e);
    }
  }
  // The cursor and the keyboard stay with the primary window.
  SetForegroundWindow(Handle());
  SetFocus(Handle());
}

void TPrimaryWindow::MonitorsChanged() {
  if (Preview() || lead_) return;
  std::vector<MonitorInfo> monitors = OrderPrimaryFirst(ListMonitors());
  if (monitors.empty()) return;
  // The other windows go whatever changed: one may stand on a monitor that
  // is gone. They are made anew for the monitors there are now.
  others_.clear();
  monitor_ = monitors.front();
  PlaceOnMonitor();
  if (show_started_) {
    Quietly([&] {
      ApplyMargin();
      ApplyCaptionFont();
      LoadBackground();
      if (picture_bitmap_) {
        ArrangeForPicture();
        if (PicturePaintBoxEx.Visible()) layout_.Show(true);
      }
      // What was on screen was of the old size (WM_SIZE has resized the
      // surface): the window starts over from what it shows now.
      if (player_) {
        player_->Reset();
        BeginSlide();
      }
    });
  }
  Invalidate();
  CreateMonitorWindows(monitors);
}

void TPrimaryWindow::DpiChanged(int dpi) {
  if (dpi <= 0 || dpi == monitor_.dpi) return;
  monitor_.dpi = dpi;
  if (show_started_) Quietly([&] { ApplyCaptionFont(); });
}

void TPrimaryWindow::FormDestroy() {
  // No frame is drawn while what it draws is released.
  pacer_.reset();
  frames_.reset();
  player_.reset();
  // Whatever the decoder is doing ends with its job, not waited for.
  SetPolling(false);
  decoder_.reset();
  // The other monitors' windows first: their ticks use what the lead owns.
  others_.clear();
  // No tick may run while what it uses is released.
  DrawIntervalTimer.ChangeEnabled(false);
  DrawIntervalTimer.OnTimer = nullptr;
  layout_.SetPicture(nullptr);
  layout_.SetPictureBox(nullptr);
  picture_bitmap_.reset();
  next_bitmap_.reset();
  router_.reset();
  text_rows_.Clear();
  settings_.reset();
}

void TPrimaryWindow::FormPaint() {
  ImmAssociateContext(Handle(), nullptr);
  if (Preview()) return;
  SetWindowPos(Handle(), HWND_TOPMOST, monitor_.rect.left, monitor_.rect.top, Width(), Height(),
               SWP_SHOWWINDOW | SWP_NOACTIVATE);
  SetFormStyle(tk::fsStayOnTop);
}

bool TPrimaryWindow::FormClose() {
  if (lead_) {
    // Closing one monitor's window closes the show.
    PostMessageA(lead_->Handle(), WM_CLOSE, 0, 0);
    return false;
  }
  if (!Preview()) {
    ShowCursor(TRUE);
    if (settings_) {
      settings_->PreviousRowNumber = text_row_index_;
      // The show never shows a message; an unwritable settings file only
      // means the next run starts its captions at the first row.
      Quietly([&] { settings_->SaveRowNumber(); });
    }
  }
  return true;
}

void TPrimaryWindow::EndShow() {
  // No decode is waited for: each decoder ends with its job, at once.
  TPrimaryWindow& lead = Lead();
  for (auto& w : lead.others_) w->decoder_.reset();
  lead.decoder_.reset();
  tk::Application.Terminate();
}

void TPrimaryWindow::FormKeyDown(WORD) {
  const TPrimaryWindow& lead = Lead();
  if (lead.ExitArmed && lead.KeyDownExit) EndShow();
}

void TPrimaryWindow::FormMouseMove(int screenX, int screenY) {
  TPrimaryWindow& lead = Lead();
  if (!lead.ExitArmed || !lead.MouseMoveExit) return;
  if (!lead.armed_cursor_known_) {
    lead.armed_cursor_ = POINT{screenX, screenY};
    lead.armed_cursor_known_ = true;
    return;
  }
  if (screenX == lead.armed_cursor_.x && screenY == lead.armed_cursor_.y) return;
  EndShow();
}

void TPrimaryWindow::FormClick() {
  const TPrimaryWindow& lead = Lead();
  if (lead.ExitArmed && lead.MouseClickExit) EndShow();
}

LRESULT TPrimaryWindow::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SYSCOMMAND:
      // No further screen saver over the running one.
      if ((wParam & 0xFFF0) == SC_SCREENSAVE) return 0;
      break;
    case WM_SHOWWINDOW: {
      LRESULT r = tk::TForm::WndProc(msg, wParam, lParam);
      if (tk::Application.Handle()) ShowWindow(tk::Application.Handle(), SW_HIDE);
      return r;
    }
    case WM_SETCURSOR:
      if (!Preview() && LOWORD(lParam) == HTCLIENT) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    case WM_DISPLAYCHANGE:
      // A monitor came, went or changed its size. Every top-level window
      // hears it: the lead rebuilds the set once, after the change has
      // settled, not inside the message of a window it may destroy.
      if (!Preview()) {
        if (HWND lead = Lead().Handle()) {
          MSG pending;
          if (!PeekMessageA(&pending, lead, kMonitorsChangedMessage, kMonitorsChangedMessage,
                            PM_NOREMOVE))
            PostMessageA(lead, kMonitorsChangedMessage, 0, 0);
        }
      }
      break;
    case kWmDpiChanged:
      // This monitor's scale changed: the window keeps covering the monitor
      // (not the rectangle the system suggests for a window that scales),
      // and its caption font is sized again.
      if (!Preview()) {
        DpiChanged(HIWORD(wParam));
        return 0;
      }
      break;
    case kMonitorsChangedMessage:
      MonitorsChanged();
      return 0;
    case kFrameMessage:
      Quietly([&] { DrawFrames(); });
      return 0;
    case WM_PAINT:
      // Direct2D owns the surface: what GDI would paint is only ever seen
      // through a slide.
      if (frames_) {
        PAINTSTRUCT ps;
        BeginPaint(Handle(), &ps);
        EndPaint(Handle(), &ps);
        Quietly([&] { DrawFrame(); });
        FormPaint();
        return 0;
      }
      break;
    case WM_SIZE:
      if (frames_) frames_->Resize(LOWORD(lParam), HIWORD(lParam));
      break;
    case WM_TIMER:
      if (wParam == kDecoderPollTimer) {
        // A tick must never end in an exception through the system.
        Quietly([&] { PumpDecoder(); });
        return 0;
      }
      break;
    default:
      break;
  }
  return tk::TForm::WndProc(msg, wParam, lParam);
}

void TPrimaryWindow::DrawIntervalTimerTimer(TMMTimer*) {
  DrawIntervalTimer.ChangeEnabled(false);
  const CycleState before = static_cast<CycleState>(DrawIntervalTimer.Tag);
  cycle_.SetState(before);
  CycleTiming timing;
  if (const TApplicationIniFile* s = Lead().settings_.get()) {
    timing.Interval = s->Interval;
    timing.BlankScreenInterval = s->BlankScreenInterval;
  }
  // A step that fails still leaves the timer running, so the next tick
  // tries again instead of freezing the show on the current picture.
  uint32_t next = DrawIntervalTimer.Interval();
  Quietly([&] { next = cycle_.Step(timing, DrawIntervalTimer.Interval()); });
  // A staggered first tick delays the start only, not the step after it.
  if (before == CycleState::Start) next = DisplayCycle::kStartInterval;
  // Steps that follow at once (the end of a picture, the load of the next)
  // make one change: the slide is taken where the cycle waits, and the
  // wait lasts at least the fade, so one fade ends before the next begins.
  if (player_ && scene_changed_ && next > 0) {
    scene_changed_ = false;
    Quietly([&] { BeginSlide(); });
    next = std::max<uint32_t>(next, static_cast<uint32_t>(player_->FadeMs()));
  }
  DrawIntervalTimer.Tag = static_cast<int>(cycle_.State());
  DrawIntervalTimer.ChangeInterval(next);
  DrawIntervalTimer.ChangeEnabled(true);

  if (Preview() && cycle_.State() == CycleState::Blank) {
    DrawIntervalTimer.ChangeEnabled(false);
    if (BackgroundEnabled()) PrimaryBGImage.Show();
    TextLabel.SetLayout(tk::tlCenter);
    TextLabel.SetAlignment(tk::taCenter);
    TextLabel.SetAlign(tk::alClient);
    TextLabel.Show();
  } else if (!pictures_ && cycle_.State() == CycleState::Blank) {
    // A monitor without pictures shows what the primary shows between
    // them, for good.
    DrawIntervalTimer.ChangeEnabled(false);
    if (BackgroundEnabled()) PrimaryBGImage.Show();
  }
}

// The part of the first tick that belongs to the whole show, done once by
// the lead whichever window ticks first.
void TPrimaryWindow::PrepareShow() {
  if (prepared_ || !settings_) return;
  prepared_ = true;
  TApplicationIniFile& s = *settings_;
  // First, before anything that can fail: a top-most window with a hidden
  // cursor that no key ends would leave the user locked out.
  if (!Preview()) {
    KeyDownExit = true;
    MouseMoveExit = s.MouseMove;
    MouseClickExit = s.MouseClick;
  }
  if (s.ShowTextKind == stkTextRows) {
    try {
      LoadCaptionRows(s.SelectTextFileName, text_rows_);
    } catch (const std::exception&) {
      text_rows_.Clear();
    }
  }
  text_row_index_ = 0;
  if (!Preview())
    text_row_index_ =
        ResumeRow(s.ShowTextKind, s.AlwaysFirstRowCheck, s.PreviousRowNumber, text_rows_.Count());
  if (s.FileList.Count() == 0) return;
  if (!seeded_) random_.Seed(static_cast<uint32_t>(std::time(nullptr)));
  MakeDecoderSetup();
  if (s.RandamDisplay) {
    const int count = s.FileList.Count();
    for (int i = 0; i < count; ++i) s.FileList.Exchange(i, random_.Next() % count);
  }
  int showing = 1;
  if (s.AllMonitors) showing += static_cast<int>(others_.size());
  router_ = std::make_unique<PictureRouter>(s.FileList.Count(), showing);
}

void TPrimaryWindow::ApplyMargin() {
  const Margin m = PlanMonitor(MonitorInfo{IntRect{0, 0, ClientWidth(), ClientHeight()}},
                               Lead().settings_->WindowBorder)
                       .margin;
  TopShape.SetHeight(m.top);
  BottomShape.SetHeight(m.bottom);
  LeftShape.SetWidth(m.left);
  RightShape.SetWidth(m.right);
}

void TPrimaryWindow::ApplyCaptionFont() {
  tk::TFont font = Lead().settings_->Font;
  // Points become pixels of this window's own monitor.
  if (!Preview()) font.PixelsPerInch = UsableDpi(monitor_.dpi);
  TextLabel.SetFont(font);
}

void TPrimaryWindow::StartShow() {
  TPrimaryWindow& lead = Lead();
  if (!lead.settings_) return;
  lead.PrepareShow();
  TApplicationIniFile& s = *lead.settings_;
  if (!Preview()) ApplyMargin();
  ApplyCaptionFont();
  if (s.FileList.Count() == 0) return;

  if (pictures_) {
    layout_.SetPictureBox(&PicturePaintBoxEx);
    layout_.SetCaptionLabel(&TextLabel);
    layout_.SetShrink(s.StretchDraw);
  }
  TextLabel.SetLayout(s.TextLayout == 1   ? tk::tlCenter
                      : s.TextLayout == 2 ? tk::tlBottom
                                          : tk::tlTop);
  TextLabel.SetAlignment(s.TextAlign == 1   ? tk::taCenter
                         : s.TextAlign == 2 ? tk::taRightJustify
                                            : tk::taLeftJustify);
  TextLabel.SetWordWrap(s.TextWrap);
  TextLabel.SetEllipsis(s.TextWrap ? elNone : elEnd);
  show_started_ = true;
  StartFrames();
  // Asks the decoder for the background, and for the first picture while
  // the cycle's first blank runs.
  LoadBackground();
}

void TPrimaryWindow::MakeDecoderSetup() {
  TApplicationIniFile& s = *settings_;
  decoder_setup_.extensions = tk::LoadResString(kExtensionListResource, kDefaultExtensions);
  decoder_setup_.pluginFiles.clear();
  // The plug-ins are loaded in the decoder, never here: the listing only
  // reads the folder.
  Quietly([&] {
    const tk::TStringList list =
        PlugInLoadList(s.PluginFolder, [&s](size_t flag) { return s.ExtendEnabled(flag); });
    for (const std::string& f : list.Items()) decoder_setup_.pluginFiles.push_back(f);
  });
}

void TPrimaryWindow::LoadBackground() {
  background_wanted_ = true;
  PumpDecoder();
}

void TPrimaryWindow::PutBackground(std::unique_ptr<DecodedDib> dib, const DecodeAnswer& answer) {
  tk::TBitmap b1;
  AdoptDecoded(b1, std::move(dib), answer);
  tk::TBitmap b2;
  Quietly([&] {
    if (b1.Empty() || ClientWidth() <= 0 || ClientHeight() <= 0) return;
    b2.Allocate(tk::TPixelFormat::pf24bit, ClientWidth(), ClientHeight());
    tk::TBitmapCanvas canvas(b2);
    canvas.Canvas().SetCopyMode(SRCCOPY);
    canvas.Canvas().StretchDraw(RECT{0, 0, ClientWidth(), ClientHeight()}, b1);
  });
  PrimaryBGImage.Picture().Swap(b2);
  PrimaryBGImage.PictureChanged();
}

void TPrimaryWindow::SetPolling(bool on) {
  if (on == polling_ || !Handle()) return;
  polling_ = on && SetTimer(Handle(), kDecoderPollTimer, kDecoderPollMs, nullptr) != 0;
  if (!on) KillTimer(Handle(), kDecoderPollTimer);
}

void TPrimaryWindow::PumpDecoder() {
  // A few rounds at most: an answer that is there at once (a missing file,
  // a shape already told) leads straight to the next request.
  for (int round = 0; round < 8; ++round) {
    if (asked_ != Asked::kNothing) {
      if (!decoder_) {
        TakeAnswer(nullptr, nullptr);
      } else {
        DecodeAnswer a;
        std::unique_ptr<DecodedDib> dib;
        const TDecoderClient::Result r = decoder_->Check(a, dib);
        if (r == TDecoderClient::Result::kPending) {
          SetPolling(true);
          return;
        }
        TakeAnswer(r == TDecoderClient::Result::kAnswered ? &a : nullptr, std::move(dib));
      }
    }
    if (!AskNext()) break;
  }
  SetPolling(asked_ != Asked::kNothing);
}

bool TPrimaryWindow::AskNext() {
  const TApplicationIniFile* s = Lead().settings_.get();
  if (!s || !show_started_) return false;
  // The next picture first: the background is not seen before it is.
  if (!Preview() && pictures_ && next_index_ < 0 && s->FileList.Count() > 0 && Lead().router_)
    return AskPicture();
  if (background_wanted_) {
    background_wanted_ = false;
    if (s->BGImagePath.empty() || ClientWidth() <= 0 || ClientHeight() <= 0) {
      PutBackground(nullptr, DecodeAnswer());
      return false;
    }
    return Ask(DecodeMessage::kDecode, -1, s->BGImagePath, ClientWidth(), ClientHeight());
  }
  return false;
}

// The next entry of this window: chosen by the router (whose probe asks
// the decoder for the shapes it does not know yet, one at a time),
// measured when it is shown at its own size, then decoded into its box.
bool TPrimaryWindow::AskPicture() {
  TPrimaryWindow& lead = Lead();
  const TApplicationIniFile& s = *lead.settings_;
  const int count = s.FileList.Count();
  if (chosen_index_ < 0) {
    int wanted = -1;
    const PictureRouter::Probe probe = [&](int index) {
      if (index == measured_index_)
        return measured_ok_ ? ShapeOf(measured_size_.width, measured_size_.height)
                            : PictureShape::Undecodable;
      wanted = index;
      return PictureShape::Pending;
    };
    const int taken = lead.router_->Take(slot_, wish_, probe);
    if (taken == PictureRouter::kPending && wanted >= 0 && wanted < count)
      return Ask(DecodeMessage::kMeasure, wanted, s.FileList[wanted], 0, 0);
    chosen_index_ = taken >= 0 && taken < count ? taken : 0;
  }
  const std::string& path = s.FileList[chosen_index_];
  int width = ClientWidth() - LeftShape.Width() - RightShape.Width();
  int height = ClientHeight() - TopShape.Height() - BottomShape.Height();
  if (s.StretchDraw && player_ && player_->Style() == TransitionStyle::kPanZoom) {
    // The deepest zoom shows 1/1.15 of the picture across the place: a
    // bitmap that much larger keeps it as sharp as the rest of the path.
    width = static_cast<int>(width * kPanZoomMaxZoom);
    height = static_cast<int>(height * kPanZoomMaxZoom);
  }
  if (!s.StretchDraw) {
    // Shown at its own size: the box is the picture's own.
    if (measured_index_ != chosen_index_)
      return Ask(DecodeMessage::kMeasure, chosen_index_, path, 0, 0);
    width = measured_ok_ ? std::min(measured_size_.width, kLargestOwnSizeBox) : 0;
    height = measured_ok_ ? std::min(measured_size_.height, kLargestOwnSizeBox) : 0;
  }
  if (width <= 0 || height <= 0) {
    // Nothing to decode into: the entry counts as not decoded.
    next_bitmap_ = std::make_unique<tk::TBitmap>();
    next_size_ = PictureSize{};
    next_index_ = chosen_index_;
    chosen_index_ = -1;
    return false;
  }
  return Ask(DecodeMessage::kDecode, chosen_index_, path, width, height);
}

bool TPrimaryWindow::Ask(DecodeMessage kind, int index, const std::string& path, int width,
                         int height) {
  if (!decoder_)
    decoder_ = std::make_unique<TDecoderClient>(DecoderModulePath(), Lead().decoder_setup_);
  if (kind == DecodeMessage::kMeasure)
    asked_ = index == chosen_index_ ? Asked::kOwnSize : Asked::kShape;
  else
    asked_ = index < 0 ? Asked::kBackground : Asked::kPicture;
  asked_index_ = index;
  // The file's size only sets the decoder's time bound: the saver opens
  // no picture file.
  uint64_t bytes = 0;
  WIN32_FILE_ATTRIBUTE_DATA facts = {};
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &facts))
    bytes = (uint64_t(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  // No decoder could take it: as if it had not decoded.
  if (!decoder_->Ask(kind, path, width, height, kDecodeSkipMissingFile, bytes))
    TakeAnswer(nullptr, nullptr);
  return true;
}

// `answer` null: the decoder died, ran over its time or could not be
// started; the request counts as not decoded.
void TPrimaryWindow::TakeAnswer(const DecodeAnswer* answer, std::unique_ptr<DecodedDib> dib) {
  const bool decoded = answer && answer->status == DecodeStatus::kDecoded;
  const Asked asked = asked_;
  asked_ = Asked::kNothing;
  switch (asked) {
    case Asked::kNothing:
      break;
    case Asked::kShape:
    case Asked::kOwnSize:
      measured_index_ = asked_index_;
      measured_ok_ = decoded && answer->ownWidth > 0 && answer->ownHeight > 0;
      measured_size_ =
          measured_ok_ ? PictureSize{answer->ownWidth, answer->ownHeight} : PictureSize{};
      break;
    case Asked::kPicture: {
      auto bitmap = std::make_unique<tk::TBitmap>();
      PictureSize own;
      if (decoded && dib) {
        AdoptDecoded(*bitmap, std::move(dib), *answer);
        own = PictureSize{answer->ownWidth, answer->ownHeight};
      }
      next_bitmap_ = std::move(bitmap);
      next_size_ = own;
      next_index_ = asked_index_;
      chosen_index_ = -1;
      break;
    }
    case Asked::kBackground:
      PutBackground(decoded ? std::move(dib) : nullptr, decoded ? *answer : DecodeAnswer());
      break;
  }
}

bool TPrimaryWindow::NextPicture() {
  TPrimaryWindow& lead = Lead();
  TApplicationIniFile& s = *lead.settings_;
  PumpDecoder();
  if (next_index_ < 0) return false;
  // The layout must never hold the bitmap about to be freed.
  layout_.SetPicture(nullptr);
  picture_bitmap_ = std::move(next_bitmap_);
  if (!picture_bitmap_) picture_bitmap_ = std::make_unique<tk::TBitmap>();
  picture_size_ = next_size_;
  const int index = next_index_ < s.FileList.Count() ? next_index_ : 0;
  next_index_ = -1;
  if (lead.router_) lead.router_->Shown(slot_);
  shown_index_ = index;
  ++pictures_loaded_;
  ++lead.all_loaded_;
  NextCaption(s.ShowTextKind, s.FileList[index], lead.text_rows_, lead.text_row_index_,
              caption_text_);
  lead.picture_index_ = index + 1 < s.FileList.Count() ? index + 1 : 0;
  // While this picture is up, the decoder works on the next.
  PumpDecoder();
  if (lead.OnPictureLoaded) lead.OnPictureLoaded(this);
  return true;
}

void TPrimaryWindow::ArrangeForPicture() {
  TApplicationIniFile& s = *Lead().settings_;
  const int top = TopShape.Height(), left = LeftShape.Width();
  const int width = ClientWidth() - LeftShape.Width() - RightShape.Width();
  const int height = ClientHeight() - TopShape.Height() - BottomShape.Height();
  int kind;
  if (s.ShowTextKind == stkNone) {
    kind = lkPictureOnly;
  } else if (s.TextArrangement == 0) {
    kind = lkCaptionLeft;
  } else if (s.TextArrangement == 2) {
    kind = lkCaptionRight;
  } else if (s.TextArrangement == 3) {
    kind = lkCaptionBelow;
  } else {
    const bool change = rng_.Next() % 100 < 30;
    if (!change && side_chosen_) return;
    kind = TextLabel.Align() == tk::alRight ? lkCaptionLeft : lkCaptionRight;
    side_chosen_ = true;
  }
  layout_.Arrange(kind, top, left, width, height);
}

void TPrimaryWindow::HideLayout() {
  scene_changed_ = true;
  Quietly([&] { layout_.Show(false); });
  if (OnPictureShown) OnPictureShown(this, false);
}

void TPrimaryWindow::ShowLayout() {
  scene_changed_ = true;
  Quietly([&] { layout_.Show(true); });
  if (OnPictureShown) OnPictureShown(this, true);
}

void TPrimaryWindow::SetBackgroundVisible(bool visible) {
  scene_changed_ = true;
  PrimaryBGImage.SetVisible(visible);
}

bool TPrimaryWindow::BackgroundEnabled() const {
  const TApplicationIniFile* s = Lead().settings_.get();
  return s && s->UseBGImageCheck;
}

bool TPrimaryWindow::LoadNextPicture() {
  const TApplicationIniFile* s = Lead().settings_.get();
  // An empty list leaves the blank background up; input still ends the show.
  if (!s || !show_started_ || !pictures_ || s->FileList.Count() == 0) return true;
  bool taken = true;
  Quietly([&] {
    taken = NextPicture();
    if (!taken) return;
    layout_.SetPicture(picture_bitmap_.get(), picture_size_.width, picture_size_.height);
    layout_.SetText(caption_text_);
    ArrangeForPicture();
  });
  return taken;
}

bool TPrimaryWindow::NextPictureReady() {
  const TApplicationIniFile* s = Lead().settings_.get();
  if (!s || !show_started_ || !pictures_ || s->FileList.Count() == 0) return true;
  Quietly([&] { PumpDecoder(); });
  return next_index_ >= 0;
}

void TPrimaryWindow::StartFrames() {
  const TPrimaryWindow& lead = Lead();
  const TApplicationIniFile& s = *lead.settings_;
  if (Preview() || !pictures_ || s.Transition == kTransitionNone || player_) return;
  frames_ = TFrameRenderer::ForWindow(Handle(), lead.OnFrameDrawn != nullptr);
  if (!frames_) return;  // the show as it always was
  player_ = std::make_unique<TTransitionPlayer>(s.Transition == kTransitionPanZoom
                                                    ? TransitionStyle::kPanZoom
                                                    : TransitionStyle::kCrossFade,
                                                s.TransitionTime);
  Invalidate();
}

// The window as GDI would paint it now becomes the next slide: its scene
// (background, margin, caption) and, for pan and zoom, the picture on its
// own, drawn into its place frame by frame.
void TPrimaryWindow::BeginSlide() {
  if (!frames_ || !player_) return;
  const int w = ClientWidth(), h = ClientHeight();
  if (w <= 0 || h <= 0) return;
  const IntRect& r = layout_.PictureRect();
  const bool separate = player_->Style() == TransitionStyle::kPanZoom &&
                        PicturePaintBoxEx.Visible() && picture_bitmap_ &&
                        !picture_bitmap_->Empty() && r.Width() > 0 && r.Height() > 0;
  SlideFacts facts;
  tk::TBitmap scene;
  scene.Allocate(tk::TPixelFormat::pf32bit, w, h);
  if (separate) PicturePaintBoxEx.SetVisible(false);
  {
    tk::TBitmapCanvas canvas(scene);
    tk::TForm::WndProc(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Canvas().Handle()),
                       PRF_CLIENT);
  }
  if (separate) {
    PicturePaintBoxEx.SetVisible(true);
    facts.picture = true;
    facts.pictureWidth = picture_bitmap_->Width();
    facts.pictureHeight = picture_bitmap_->Height();
    const double x = PicturePaintBoxEx.Left(), y = PicturePaintBoxEx.Top();
    facts.place = RectF{x + r.left, y + r.top, x + r.right, y + r.bottom};
    // Only a picture the layout had to shrink has pixels to zoom into.
    facts.enlargeable = picture_size_.width > r.Width() && picture_size_.height > r.Height();
  }
  const int slot = player_->NextSlot();
  frames_->SetSlide(slot, scene, facts.picture ? picture_bitmap_.get() : nullptr);
  const TApplicationIniFile& s = *Lead().settings_;
  // The path spans the picture's whole time up, both fades included.
  const double pathMs = SecondsToDelay(s.Interval, 1000) + 2 * player_->FadeMs();
  player_->Begin(facts, FrameClockMs(), pathMs, rng_);
  frames_moving_ = true;
  KeepFramesMoving(true);
}

void TPrimaryWindow::DrawFrame() {
  if (!frames_ || !player_) return;
  const double now = FrameClockMs();
  const FramePlan plan = player_->Plan(now);
  const COLORREF background = tk::ColorToRGB(Color());
  if (!frames_->Draw(plan, background)) {
    // The card's surface was lost with every slide on it: start over from
    // what the window shows now.
    player_->Reset();
    BeginSlide();
    return;
  }
  frames_moving_ = plan.moving;
  for (int slot = 0; slot < 2; ++slot)
    if (!player_->SlotInUse(slot, now)) frames_->DropSlide(slot);
  TPrimaryWindow& lead = Lead();
  std::vector<uint32_t> pixels;
  int mw = 0, mh = 0;
  if (lead.OnFrameDrawn && frames_->ReadMirror(pixels, mw, mh))
    lead.OnFrameDrawn(this, pixels, mw, mh, now);
}

void TPrimaryWindow::DrawFrames() {
  TPrimaryWindow& lead = Lead();
  bool moving = false;
  auto draw = [&moving](TPrimaryWindow& w) {
    if (!w.player_ || !w.frames_moving_) return;
    w.DrawFrame();
    moving = moving || w.frames_moving_;
  };
  draw(lead);
  for (auto& w : lead.others_) draw(*w);
  lead.KeepFramesMoving(moving);
  if (lead.pacer_) lead.pacer_->Taken();
}

void TPrimaryWindow::KeepFramesMoving(bool moving) {
  TPrimaryWindow& lead = Lead();
  if (moving && !lead.pacer_ && lead.Handle())
    lead.pacer_ = std::make_unique<TFramePacer>(lead.Handle(), kFrameMessage);
  if (lead.pacer_) lead.pacer_->SetRunning(moving);
}

void TPrimaryWindow::ArmExit() {
  TPrimaryWindow& lead = Lead();
  if (lead.ExitArmed) return;
  // Keys and clicks end the show from now on even when there is no pointer
  // position yet; the first position read then becomes the reference.
  lead.armed_cursor_known_ = GetCursorPos(&lead.armed_cursor_) != FALSE;
  lead.ExitArmed = true;
}

}  // namespace orv
