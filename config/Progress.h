// The search run's progress window: the path being checked, a bar and a
// Cancel button (Esc presses it too). While it is shown the settings dialog
// is disabled, so the messages let through in UpdateProgress can only paint
// windows or press Cancel.
#pragma once

#include <windows.h>

#include <string>

#include "slideshow/ShadoLbl.h"
#include "toolkit/Forms.h"

namespace orv {

class TProgressForm : public tk::TForm {
 public:
  // `owner`: the dialog the window stands over (null for none).
  explicit TProgressForm(HWND owner);
  ~TProgressForm() override;

  TShadowLabel MessageLabel;
  HWND MainProgressBar() const { return progress_bar_; }
  HWND CancelButton() const { return cancel_button_; }

  void SetCaption(const std::string& text);
  void SetRange(int max);
  // Shows the window without making it modal: FormShow runs.
  void ShowProgress();
  // Hides it: FormHide runs.
  void HideProgress();
  // Sets the bar, lets all pending messages through and raises the silent
  // abort when Cancel has been pressed.
  void UpdateProgress(int position);
  void CancelButtonClick() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }
  void SetCancelled(bool v) { cancelled_ = v; }

  static constexpr int kClientWidth = 317;
  static constexpr int kClientHeight = 85;

 protected:
  const char* ClassName() const override { return "TProgressForm"; }
  void CreateParams(tk::TCreateParams& params) override;
  void FormCreate() override;
  void FormCommand(WORD id, WORD code, HWND control) override;
  bool FormClose() override;

 private:
  void FormShow();
  void FormHide();

  HWND owner_;
  HWND progress_bar_ = nullptr;
  HWND cancel_button_ = nullptr;
  HWND help_button_ = nullptr;
  tk::ScopedGdiObject font_;
  bool cancelled_ = false;
};

}  // namespace orv
