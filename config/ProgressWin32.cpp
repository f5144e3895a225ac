#include <windows.h>
#include <commctrl.h>

#include "config/Progress.h"
#include "toolkit/Canvas.h"
#include "toolkit/Exceptions.h"

namespace orv {

namespace {
constexpr int kBorder = 7;
constexpr int kLabelTop = kBorder + 3, kLabelHeight = 12;
constexpr int kBarTop = kLabelTop + kLabelHeight + 5, kBarHeight = 21;
constexpr int kButtonTop = kBarTop + kBarHeight + 5;
constexpr int kButtonWidth = 75, kButtonHeight = 25;
constexpr int kInnerWidth = TProgressForm::kClientWidth - 2 * kBorder;
constexpr int kHelpId = 9;
static_assert(kButtonTop + kButtonHeight + kBorder == TProgressForm::kClientHeight,
              "the window is sized to its contents");
}  // namespace

TProgressForm::TProgressForm(HWND owner) : MessageLabel(this), owner_(owner) {
  SetColor(tk::clBtnFace);
  Font.Name = "ＭＳ Ｐゴシック";
  Font.Size = 9;
  MessageLabel.SetBounds(kBorder, kLabelTop, kInnerWidth, kLabelHeight);
  MessageLabel.SetTransparent(true);
  MessageLabel.SetShowAccelChar(false);
  MessageLabel.Shadow().SetShadowVisible(false);
  MessageLabel.Highlight().SetShadowVisible(false);
  MessageLabel.SetGradation(false);
  // A long path loses its middle, so folder and file name both stay.
  MessageLabel.SetEllipsis(elPath);
}

TProgressForm::~TProgressForm() { DestroyForm(); }

void TProgressForm::CreateParams(tk::TCreateParams& params) {
  tk::TForm::CreateParams(params);
  if (owner_) params.WndParent = owner_;
  params.DialogFrame(kClientWidth, kClientHeight);
}

void TProgressForm::FormCreate() {
  const HINSTANCE instance = tk::Application.Instance();
  progress_bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, kBorder, kBarTop,
                                  kInnerWidth, kBarHeight, Handle(), nullptr, instance, nullptr);
  cancel_button_ = CreateWindowExA(
      0, "BUTTON", "キャンセル", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
      kClientWidth - kBorder - kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight, Handle(),
      reinterpret_cast<HMENU>(IDCANCEL), instance, nullptr);
  // Kept for the layout the window has always had; there is no help.
  help_button_ = CreateWindowExA(0, "BUTTON", "ヘルプ(&H)", WS_CHILD | WS_TABSTOP,
                                 kClientWidth - kBorder - 2 * kButtonWidth - 6, kButtonTop,
                                 kButtonWidth, kButtonHeight, Handle(),
                                 reinterpret_cast<HMENU>(kHelpId), instance, nullptr);
  if (!progress_bar_ || !cancel_button_) throw tk::Exception("Error creating window");
  tk::WindowDc dc(Handle());
  font_.Reset(tk::CreateFontHandle(Font, dc.Get()));
  for (HWND w : {cancel_button_, help_button_})
    if (w) SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
}

void TProgressForm::SetCaption(const std::string& text) {
  SetWindowTextA(Handle(), text.c_str());
}

void TProgressForm::SetRange(int max) {
  SendMessageA(progress_bar_, PBM_SETRANGE32, 0, max);
}

void TProgressForm::ShowProgress() {
  ShowWindow(Handle(), SW_SHOW);
  UpdateWindow(Handle());
  FormShow();
}

void TProgressForm::HideProgress() {
  // The dialog first: hiding an owned window activates its owner only when
  // the owner can take the focus.
  FormHide();
  ShowWindow(Handle(), SW_HIDE);
}

void TProgressForm::FormShow() {
  if (owner_) EnableWindow(owner_, FALSE);
  cancelled_ = false;
  SetFocus(cancel_button_);
}

void TProgressForm::FormHide() {
  if (owner_) EnableWindow(owner_, TRUE);
}

void TProgressForm::UpdateProgress(int position) {
  SendMessageA(progress_bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not ours to take: the loop that ends the program still needs it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    // Esc anywhere in the window presses Cancel; Tab and Enter work as in
    // any dialog.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE &&
        (msg.hwnd == Handle() || IsChild(Handle(), msg.hwnd))) {
      CancelButtonClick();
      continue;
    }
    if (IsDialogMessageA(Handle(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (cancelled_) tk::Abort();
}

void TProgressForm::FormCommand(WORD id, WORD code, HWND) {
  if (id == IDCANCEL && (code == BN_CLICKED || code == 0)) CancelButtonClick();
}

bool TProgressForm::FormClose() {
  // The close box cancels like the button; the run itself hides the window.
  CancelButtonClick();
  return false;
}

}  // namespace orv
