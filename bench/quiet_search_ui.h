// A search run's dialog side that does nothing, as when nobody watches:
// what the search benchmarks run under.
#pragma once

#include <string>

#include "search/SearchRun.h"

namespace benchsupport {

class QuietUi : public orv::ISearchUi {
 public:
  void RejectFolderName() override {}
  void BeginWait() override {}
  void EndWait() override {}
  void ShowProgress() override {}
  void SetProgressRange(int) override {}
  void SetProgressMessage(const std::string&) override {}
  void UpdateProgress(int) override {}
  void DisableCancel() override {}
  void HideProgress() override {}
  void ReportError(const std::string&) override {}
  void SetFileNameList(const tk::TStringList& files) override { accepted = files.Count(); }
  void EnterHistory(const std::string&) override {}
  int accepted = 0;
};

}  // namespace benchsupport
