// Makes every save of one file fail at its last step, the move into place,
// as a file that another program holds open would: the test then sees what
// a failed save leaves behind.
#pragma once

#include <string>

#include "toolkit/FileUtil.h"

namespace orvtest {

class FailingSave {
 public:
  explicit FailingSave(std::string path) : path_(std::move(path)) {
    steps_ = tk::DefaultReplaceSteps();
    steps_.move = [this](const std::string& temp, const std::string& target) {
      return target != path_ && tk::MoveOver(temp, target);
    };
    steps_.wait = nullptr;
    tk::UseReplaceSteps(&steps_);
  }
  ~FailingSave() { tk::UseReplaceSteps(nullptr); }
  FailingSave(const FailingSave&) = delete;
  FailingSave& operator=(const FailingSave&) = delete;

 private:
  std::string path_;
  tk::ReplaceSteps steps_;
};

}  // namespace orvtest
