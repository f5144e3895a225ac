#include "app/RunMode.h"

namespace orv {

RunMode ModeFromArgument(const std::string& firstArgument) {
  const std::string s = firstArgument.substr(0, 2);
  if (s == "/C" || s == "-C") return RunMode::Configure;
  if (s == "/S" || s == "-S") return RunMode::Run;
  if (s == "/P" || s == "-P") return RunMode::Preview;
  if (s == "/A") return RunMode::Password;
  return RunMode::Configure;
}

}  // namespace orv
