#include "slideshow/PrimaryScreen.h"

#include <imm.h>

#include <ctime>

#include "imaging/PictureLoader.h"
#include "search/PlugInListWin32.h"
#include "slideshow/CaptionText.h"

namespace orv {

namespace {
constexpr UINT kExtensionListResource = 12;
constexpr char kDefaultExtensions[] = ".bmp,.jpg,.jpeg,.png";
constexpr int kDesignWidth = 413, kDesignHeight = 144;
constexpr UINT kImcCloseStatusWindow = 0x21;

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
    : parent_handle_(parentHandle), settings_factory_(std::move(settingsFactory)) {
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
  return settings_ ? settings_->FileList : empty;
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
  }
}

void TPrimaryWindow::FormCreate() {
  ExitArmed = false;
  SetTop(0);
  SetLeft(0);
  settings_ = settings_factory_();
  try {
    settings_->Load();
  } catch (const tk::Exception& e) {
    // Shown like any uncaught error; the show goes on with what was read.
    tk::Application.ShowException(e);
  }
  SetColor(settings_->BGColor);

  if (!Preview()) {
    if (HWND ime = ImmGetDefaultIMEWnd(Handle()))
      SendMessageA(ime, WM_IME_CONTROL, kImcCloseStatusWindow, 0);
    ShowCursor(FALSE);
    SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, Width(), Height(), SWP_SHOWWINDOW);
    SetBounds(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
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
}

void TPrimaryWindow::FormDestroy() {
  decode_cancel_.Raise();
  // No tick may run while what it uses is released.
  DrawIntervalTimer.ChangeEnabled(false);
  DrawIntervalTimer.OnTimer = nullptr;
  layout_.SetPicture(nullptr);
  layout_.SetPictureBox(nullptr);
  picture_bitmap_.reset();
  text_rows_.Clear();
  picture_extensions_.Clear();
  settings_.reset();
}

void TPrimaryWindow::FormPaint() {
  ImmAssociateContext(Handle(), nullptr);
  if (Preview()) return;
  SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, Width(), Height(), SWP_SHOWWINDOW | SWP_NOACTIVATE);
  SetFormStyle(tk::fsStayOnTop);
}

bool TPrimaryWindow::FormClose() {
  decode_cancel_.Raise();
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
  decode_cancel_.Raise();
  tk::Application.Terminate();
}

bool TPrimaryWindow::ExitInputPending() const {
  if (!ExitArmed) return false;
  // Only a look at what is queued: nothing is taken out or dispatched, so
  // no handler runs inside the decode.
  const DWORD queued = HIWORD(GetQueueStatus(QS_KEY | QS_MOUSEBUTTON | QS_MOUSEMOVE));
  if (KeyDownExit && (queued & QS_KEY)) return true;
  if (MouseClickExit && (queued & QS_MOUSEBUTTON)) return true;
  if (MouseMoveExit && (queued & QS_MOUSEMOVE) && armed_cursor_known_) {
    POINT p = {};
    return GetCursorPos(&p) && (p.x != armed_cursor_.x || p.y != armed_cursor_.y);
  }
  return false;
}

void TPrimaryWindow::FormKeyDown(WORD) {
  if (ExitArmed && KeyDownExit) EndShow();
}

void TPrimaryWindow::FormMouseMove(int screenX, int screenY) {
  if (!ExitArmed || !MouseMoveExit) return;
  if (!armed_cursor_known_) {
    armed_cursor_ = POINT{screenX, screenY};
    armed_cursor_known_ = true;
    return;
  }
  if (screenX == armed_cursor_.x && screenY == armed_cursor_.y) return;
  EndShow();
}

void TPrimaryWindow::FormClick() {
  if (ExitArmed && MouseClickExit) EndShow();
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
    default:
      break;
  }
  return tk::TForm::WndProc(msg, wParam, lParam);
}

void TPrimaryWindow::DrawIntervalTimerTimer(TMMTimer*) {
  DrawIntervalTimer.ChangeEnabled(false);
  cycle_.SetState(static_cast<CycleState>(DrawIntervalTimer.Tag));
  CycleTiming timing;
  if (settings_) {
    timing.Interval = settings_->Interval;
    timing.BlankScreenInterval = settings_->BlankScreenInterval;
  }
  // A step that fails still leaves the timer running, so the next tick
  // tries again instead of freezing the show on the current picture.
  uint32_t next = DrawIntervalTimer.Interval();
  Quietly([&] { next = cycle_.Step(timing, DrawIntervalTimer.Interval()); });
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
  }
}

void TPrimaryWindow::StartShow() {
  if (!settings_) return;
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
  if (!Preview()) {
    const Margin m = ComputeMargin(s.WindowBorder, ClientWidth(), ClientHeight());
    TopShape.SetHeight(m.top);
    BottomShape.SetHeight(m.bottom);
    LeftShape.SetWidth(m.left);
    RightShape.SetWidth(m.right);
    text_row_index_ =
        ResumeRow(s.ShowTextKind, s.AlwaysFirstRowCheck, s.PreviousRowNumber, text_rows_.Count());
  }
  TextLabel.SetFont(s.Font);
  if (s.FileList.Count() == 0) return;

  layout_.SetPictureBox(&PicturePaintBoxEx);
  layout_.SetCaptionLabel(&TextLabel);
  layout_.SetShrink(s.StretchDraw);
  FillPictureExtensions(picture_extensions_,
                        tk::LoadResString(kExtensionListResource, kDefaultExtensions));
  if (!seeded_) random_.Seed(static_cast<uint32_t>(std::time(nullptr)));
  LoadPlugIns();
  LoadBackground();
  if (s.RandamDisplay) {
    const int count = s.FileList.Count();
    for (int i = 0; i < count; ++i) s.FileList.Exchange(i, random_.Next() % count);
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
  TApplicationIniFile& s = *settings_;
  tk::TBitmap b1;
  LoadPicture(s.BGImagePath, b1, picture_extensions_, &SpiLib321,
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

void TPrimaryWindow::NextPicture() {
  TApplicationIniFile& s = *settings_;
  // The layout must never hold the bitmap about to be freed.
  layout_.SetPicture(nullptr);
  picture_bitmap_ = std::make_unique<tk::TBitmap>();
  const std::string path = s.FileList[picture_index_];
  LoadPicture(path, *picture_bitmap_, picture_extensions_, &SpiLib321,
              LoadPictureOptions{true, &decode_cancel_});
  ++pictures_loaded_;
  NextCaption(s.ShowTextKind, path, text_rows_, text_row_index_, caption_text_);
  ++picture_index_;
  if (picture_index_ >= s.FileList.Count()) picture_index_ = 0;
  if (OnPictureLoaded) OnPictureLoaded(this);
}

void TPrimaryWindow::ArrangeForPicture() {
  TApplicationIniFile& s = *settings_;
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
    const bool change = random_.Next() % 100 < 30;
    if (!change && side_chosen_) return;
    kind = TextLabel.Align() == tk::alRight ? lkCaptionLeft : lkCaptionRight;
    side_chosen_ = true;
  }
  layout_.Arrange(kind, top, left, width, height);
}

void TPrimaryWindow::HideLayout() {
  Quietly([&] { layout_.Show(false); });
}

void TPrimaryWindow::ShowLayout() {
  Quietly([&] { layout_.Show(true); });
}

void TPrimaryWindow::SetBackgroundVisible(bool visible) { PrimaryBGImage.SetVisible(visible); }

bool TPrimaryWindow::BackgroundEnabled() const { return settings_ && settings_->UseBGImageCheck; }

void TPrimaryWindow::LoadNextPicture() {
  // An empty list leaves the blank background up; input still ends the show.
  if (!settings_ || !show_started_ || settings_->FileList.Count() == 0) return;
  Quietly([&] {
    NextPicture();
    layout_.SetPicture(picture_bitmap_.get());
    layout_.SetText(caption_text_);
    ArrangeForPicture();
  });
}

void TPrimaryWindow::ArmExit() {
  if (ExitArmed) return;
  // Keys and clicks end the show from now on even when there is no pointer
  // position yet; the first position read then becomes the reference.
  armed_cursor_known_ = GetCursorPos(&armed_cursor_) != FALSE;
  ExitArmed = true;
}

}  // namespace orv
