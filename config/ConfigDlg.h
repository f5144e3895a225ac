// The settings dialog. For now it loads the settings and saves them again
// on OK; the pages that edit them live here too once they exist.
#pragma once

#include <windows.h>

#include <memory>

#include "settings/ApplicationIniFile.h"
#include "toolkit/Forms.h"

namespace orv {

class TConfigDlg : public tk::TForm {
 public:
  explicit TConfigDlg(SettingsFactory settingsFactory);
  ~TConfigDlg() override;

  void OKBtnClick();
  void CancelBtnClick();

  static constexpr int kOkId = IDOK;
  static constexpr int kCancelId = IDCANCEL;

 protected:
  const char* ClassName() const override { return "TConfigDlg"; }
  void CreateParams(tk::TCreateParams& params) override;
  void FormCreate() override;
  void FormDestroy() override;
  void FormKeyDown(WORD key) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  SettingsFactory settings_factory_;
  std::unique_ptr<TApplicationIniFile> settings_;
  tk::ScopedGdiObject font_;
  HWND ok_btn_ = nullptr;
  HWND cancel_btn_ = nullptr;
};

}  // namespace orv
