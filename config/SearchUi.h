// The settings dialog's side of a search run on Windows: the progress
// window, the hourglass, message boxes, and the dialog's file list and
// folder history through two callbacks.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "config/Progress.h"
#include "search/SearchRun.h"

namespace orv {

class TSearchUi : public ISearchUi {
 public:
  // `dialog`: the window the progress window stands over and disables.
  explicit TSearchUi(HWND dialog);
  ~TSearchUi() override;

  std::function<void(const tk::TStringList&)> OnSetFileNameList;
  std::function<void(const std::string&)> OnEnterHistory;
  // Where errors go; a message box with a stop icon when not set.
  std::function<void(const std::string&)> OnReportError;
  // Called once the progress window exists (tests press its Cancel).
  std::function<void(TProgressForm&)> OnProgressShown;

  void RejectFolderName() override;
  void BeginWait() override;
  void EndWait() override;
  void ShowProgress() override;
  void SetProgressRange(int max) override;
  void SetProgressMessage(const std::string& text) override;
  void UpdateProgress(int position) override;
  void DisableCancel() override;
  void HideProgress() override;
  void ReportError(const std::string& text) override;
  void SetFileNameList(const tk::TStringList& files) override;
  void EnterHistory(const std::string& folder) override;

 private:
  HWND dialog_;
  std::unique_ptr<TProgressForm> progress_;
};

}  // namespace orv
