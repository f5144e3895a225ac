#include "slideshow/PrimaryScreen.h"

#include <imm.h>

#include <ctime>

#include "imaging/PictureLoader.h"
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

  decode_cancel_.Poll = [this] { return ExitInputPending(); };
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
  decode_cancel_.Raise();
  // The other monitors' windows first: their ticks use what the lead owns.
  others_.clear();
  // No tick may run while what it uses is released.
  DrawIntervalTimer.ChangeEnabled(false);
  DrawIntervalTimer.OnTimer = nullptr;
  layout_.SetPicture(nullptr);
  layout_.SetPictureBox(nullptr);
  picture_bitmap_.reset();
  probed_.reset();
  // A read still under way is dropped, not waited for.
  read_ahead_->Abandon();
  router_.reset();
  text_rows_.Clear();
  picture_extensions_.Clear();
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
  decode_cancel_.Raise();
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
  // Any decode still running, on whichever monitor's tick, stops at once.
  TPrimaryWindow& lead = Lead();
  lead.decode_cancel_.Raise();
  for (auto& w : lead.others_) w->decode_cancel_.Raise();
  tk::Application.Terminate();
}

bool TPrimaryWindow::ExitInputPending() const {
  const TPrimaryWindow& lead = Lead();
  if (!lead.ExitArmed) return false;
  // Only a look at what is queued: nothing is taken out or dispatched, so
  // no handler runs inside the decode. The queue is the thread's, so input
  // on any monitor's window shows here.
  const DWORD queued = HIWORD(GetQueueStatus(QS_KEY | QS_MOUSEBUTTON | QS_MOUSEMOVE));
  if (lead.KeyDownExit && (queued & QS_KEY)) return true;
  if (lead.MouseClickExit && (queued & QS_MOUSEBUTTON)) return true;
  if (lead.MouseMoveExit && (queued & QS_MOUSEMOVE) && lead.armed_cursor_known_) {
    POINT p = {};
    return GetCursorPos(&p) && (p.x != lead.armed_cursor_.x || p.y != lead.armed_cursor_.y);
  }
  return false;
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
  FillPictureExtensions(picture_extensions_,
                        tk::LoadResString(kExtensionListResource, kDefaultExtensions));
  if (!seeded_) random_.Seed(static_cast<uint32_t>(std::time(nullptr)));
  LoadPlugIns();
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
  LoadBackground();
  TextLabel.SetLayout(s.TextLayout == 1   ? tk::tlCenter
                      : s.TextLayout == 2 ? tk::tlBottom
                                          : tk::tlTop);
  TextLabel.SetAlignment(s.TextAlign == 1   ? tk::taCenter
                         : s.TextAlign == 2 ? tk::taRightJustify
                                            : tk::taLeftJustify);
  TextLabel.SetWordWrap(s.TextWrap);
  TextLabel.SetEllipsis(s.TextWrap ? elNone : elEnd);
  show_started_ = true;
}

void TPrimaryWindow::LoadPlugIns() {
  TApplicationIniFile& s = *settings_;
  Quietly([&] {
    const tk::TStringList list =
        PlugInLoadList(s.PluginFolder, [&s](size_t flag) { return s.ExtendEnabled(flag); });
    SpiLib321.LoadPlugInFromList(list);
  });
}

void TPrimaryWindow::LoadBackground() {
  TPrimaryWindow& lead = Lead();
  TApplicationIniFile& s = *lead.settings_;
  tk::TBitmap b1;
  LoadPicture(s.BGImagePath, b1, lead.picture_extensions_, &lead.SpiLib321,
              LoadPictureOptions{true, &decode_cancel_});
  tk::TBitmap b2;
  Quietly([&] {
    if (b1.Empty() || ClientWidth() <= 0 || ClientHeight() <= 0) return;
    b2.SetPalette(b1.Palette());
    b2.Allocate(b1.PixelFormat(), ClientWidth(), ClientHeight());
    tk::TBitmapCanvas canvas(b2);
    canvas.Canvas().SetCopyMode(SRCCOPY);
    canvas.Canvas().StretchDraw(RECT{0, 0, ClientWidth(), ClientHeight()}, b1);
  });
  PrimaryBGImage.Picture().Swap(b2);
  PrimaryBGImage.PictureChanged();
}

// Decodes entry `index` into `bitmap` the way this window shows it: from
// the bytes read ahead when they are of this file, and, when pictures are
// shrunk to fit, only as large as this window's area needs (a JPEG). The
// picture's own size comes back in `own`.
void TPrimaryWindow::DecodeEntry(int index, tk::TBitmap& bitmap, PictureSize& own) {
  TPrimaryWindow& lead = Lead();
  TApplicationIniFile& s = *lead.settings_;
  const std::string& path = s.FileList[index];
  LoadPictureOptions options{true, &decode_cancel_};
  if (s.StretchDraw) {
    const int boxWidth = ClientWidth() - LeftShape.Width() - RightShape.Width();
    const int boxHeight = ClientHeight() - TopShape.Height() - BottomShape.Height();
    options.fitWidth = boxWidth;
    options.fitHeight = boxHeight;
    // The layout's own fit: without a caption the bitmap is then exactly
    // the size of its place. A caption takes its share after the load, and
    // the layout shrinks the picture a little further, as it would anyway.
    options.fit = [boxWidth, boxHeight](int w, int h, int& fitWidth, int& fitHeight) {
      const IntRect r = FitRect(IntRect{0, 0, w, h}, boxWidth, boxHeight);
      fitWidth = r.Width();
      fitHeight = r.Height();
    };
  }
  std::vector<uint8_t> bytes;
  if (read_ahead_ && read_ahead_->Take(path, bytes)) options.bytes = &bytes;
  LoadPicture(path, bitmap, lead.picture_extensions_, &lead.SpiLib321, options, &own);
}

// Which entry of the list this window shows next: the next one in list
// order, or on a desktop of both shapes the next one of this monitor's
// shape. Probing a shape reads a plug-in's header where the plug-in can
// tell, and otherwise decodes the picture; the last one decoded is kept so
// the entry taken is not decoded twice. One sized by its header is decoded
// when it is taken, and passed over like any picture when that fails.
int TPrimaryWindow::TakeNextEntry() {
  TPrimaryWindow& lead = Lead();
  if (!lead.router_) return -1;
  const tk::TStringList& files = lead.settings_->FileList;
  auto probe = [&](int index) {
    return ProbeShape(files[index], lead.picture_extensions_, &lead.SpiLib321, [&] {
      probed_ = std::make_unique<tk::TBitmap>();
      probed_index_ = index;
      DecodeEntry(index, *probed_, probed_size_);
      return probed_size_;
    });
  };
  return lead.router_->Take(slot_, wish_, probe);
}

void TPrimaryWindow::NextPicture() {
  TPrimaryWindow& lead = Lead();
  TApplicationIniFile& s = *lead.settings_;
  // The layout must never hold the bitmap about to be freed.
  layout_.SetPicture(nullptr);
  picture_bitmap_.reset();
  probed_.reset();
  probed_index_ = -1;
  int index = TakeNextEntry();
  if (index < 0 || index >= s.FileList.Count()) index = 0;
  const std::string path = s.FileList[index];
  if (probed_ && probed_index_ == index) {
    picture_bitmap_ = std::move(probed_);
    picture_size_ = probed_size_;
  } else {
    picture_bitmap_ = std::make_unique<tk::TBitmap>();
    DecodeEntry(index, *picture_bitmap_, picture_size_);
  }
  probed_.reset();
  probed_index_ = -1;
  shown_index_ = index;
  ++pictures_loaded_;
  ++lead.all_loaded_;
  NextCaption(s.ShowTextKind, path, lead.text_rows_, lead.text_row_index_, caption_text_);
  lead.picture_index_ = index + 1 < s.FileList.Count() ? index + 1 : 0;
  // While this picture is up, the file this window will most likely show
  // next is read on a thread of its own.
  const int next = lead.router_ ? lead.router_->Peek(slot_, wish_) : -1;
  if (read_ahead_ && next >= 0 && next < s.FileList.Count()) read_ahead_->Start(s.FileList[next]);
  if (lead.OnPictureLoaded) lead.OnPictureLoaded(this);
}

void TPrimaryWindow::SetReadAheadReader(TReadAhead::Reader reader) {
  read_ahead_ = std::make_unique<TReadAhead>(TReadAhead::kDefaultMaxBytes, std::move(reader));
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
  Quietly([&] { layout_.Show(false); });
  if (OnPictureShown) OnPictureShown(this, false);
}

void TPrimaryWindow::ShowLayout() {
  Quietly([&] { layout_.Show(true); });
  if (OnPictureShown) OnPictureShown(this, true);
}

void TPrimaryWindow::SetBackgroundVisible(bool visible) { PrimaryBGImage.SetVisible(visible); }

bool TPrimaryWindow::BackgroundEnabled() const {
  const TApplicationIniFile* s = Lead().settings_.get();
  return s && s->UseBGImageCheck;
}

void TPrimaryWindow::LoadNextPicture() {
  const TApplicationIniFile* s = Lead().settings_.get();
  // An empty list leaves the blank background up; input still ends the show.
  if (!s || !show_started_ || !pictures_ || s->FileList.Count() == 0) return;
  Quietly([&] {
    NextPicture();
    layout_.SetPicture(picture_bitmap_.get(), picture_size_.width, picture_size_.height);
    layout_.SetText(caption_text_);
    ArrangeForPicture();
  });
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
