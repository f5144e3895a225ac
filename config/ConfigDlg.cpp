#include "config/ConfigDlg.h"

namespace orv {

namespace {
constexpr int kClientWidth = 320, kClientHeight = 120;
constexpr int kButtonWidth = 88, kButtonHeight = 26;
}  // namespace

TConfigDlg::TConfigDlg(SettingsFactory settingsFactory)
    : settings_factory_(std::move(settingsFactory)) {
  SetColor(tk::clBtnFace);
}

TConfigDlg::~TConfigDlg() { DestroyForm(); }

void TConfigDlg::CreateParams(tk::TCreateParams& params) {
  tk::TForm::CreateParams(params);
  params.Caption = "設定";
  params.DialogFrame(kClientWidth, kClientHeight);
}

void TConfigDlg::FormCreate() {
  settings_ = settings_factory_();
  settings_->Load();

  tk::WindowDc dc(Handle());
  font_.Reset(tk::CreateFontHandle(Font, dc.Get()));
  const int y = kClientHeight - kButtonHeight - 12;
  ok_btn_ = CreateWindowExA(
      0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
      kClientWidth - 2 * kButtonWidth - 20, y, kButtonWidth, kButtonHeight, Handle(),
      reinterpret_cast<HMENU>(kOkId), tk::Application.Instance(), nullptr);
  cancel_btn_ =
      CreateWindowExA(0, "BUTTON", "キャンセル", WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                      kClientWidth - kButtonWidth - 12, y, kButtonWidth, kButtonHeight, Handle(),
                      reinterpret_cast<HMENU>(kCancelId), tk::Application.Instance(), nullptr);
  for (HWND b : {ok_btn_, cancel_btn_})
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
  SetFocus(ok_btn_);
}

void TConfigDlg::FormDestroy() { settings_.reset(); }

void TConfigDlg::OKBtnClick() {
  try {
    settings_->Save();
  } catch (const tk::Exception& e) {
    // The dialog stays open so nothing the user set is lost.
    tk::Application.ShowException(e);
    return;
  }
  tk::Application.Terminate();
}

void TConfigDlg::CancelBtnClick() { tk::Application.Terminate(); }

void TConfigDlg::FormKeyDown(WORD key) {
  if (key == VK_ESCAPE) CancelBtnClick();
  if (key == VK_RETURN) OKBtnClick();
}

LRESULT TConfigDlg::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == kOkId) {
      OKBtnClick();
      return 0;
    }
    if (LOWORD(wParam) == kCancelId) {
      CancelBtnClick();
      return 0;
    }
  }
  return tk::TForm::WndProc(msg, wParam, lParam);
}

}  // namespace orv
