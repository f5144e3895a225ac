#include "config/SearchUi.h"

namespace orv {

TSearchUi::TSearchUi(HWND dialog) : dialog_(dialog) {}

TSearchUi::~TSearchUi() = default;

void TSearchUi::RejectFolderName() {
  MessageBoxA(dialog_, "フォルダ名が正しくありません", "", MB_OK | MB_ICONSTOP);
}

void TSearchUi::BeginWait() { tk::Application.BeginWaitCursor(); }

void TSearchUi::EndWait() { tk::Application.EndWaitCursor(); }

void TSearchUi::ShowProgress() {
  progress_ = std::make_unique<TProgressForm>(dialog_);
  progress_->CreateForm();
  progress_->SetCaption("検索しています...");
  progress_->MessageLabel.SetCaption("ファイルを取得しています...");
  progress_->ShowProgress();
  if (OnProgressShown) OnProgressShown(*progress_);
}

void TSearchUi::SetProgressRange(int max) {
  if (progress_) progress_->SetRange(max);
}

void TSearchUi::SetProgressMessage(const std::string& text) {
  if (progress_) progress_->MessageLabel.SetCaption(text);
}

void TSearchUi::UpdateProgress(int position) {
  if (progress_) progress_->UpdateProgress(position);
}

void TSearchUi::DisableCancel() {
  if (progress_) EnableWindow(progress_->CancelButton(), FALSE);
}

void TSearchUi::HideProgress() {
  if (!progress_) return;
  progress_->HideProgress();
  progress_.reset();
}

void TSearchUi::ReportError(const std::string& text) {
  if (OnReportError) {
    OnReportError(text);
    return;
  }
  // Owned by the progress window, which keeps the dialog disabled.
  MessageBoxA(progress_ ? progress_->Handle() : dialog_, text.c_str(), "", MB_OK | MB_ICONSTOP);
}

void TSearchUi::SetFileNameList(const tk::TStringList& files) {
  if (OnSetFileNameList) OnSetFileNameList(files);
}

void TSearchUi::EnterHistory(const std::string& folder) {
  if (OnEnterHistory) OnEnterHistory(folder);
}

}  // namespace orv
