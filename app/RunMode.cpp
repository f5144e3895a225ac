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

bool TakesInstanceMutex(RunMode mode) { return mode != RunMode::Preview; }

bool OwnerFromArgument(const std::string& firstArgument, uint32_t& handle) {
  const std::string& a = firstArgument;
  if (a.size() < 4 || (a[0] != '/' && a[0] != '-') || (a[1] != 'c' && a[1] != 'C') || a[2] != ':')
    return false;
  uint64_t v = 0;
  for (size_t i = 3; i < a.size(); ++i) {
    if (a[i] < '0' || a[i] > '9') return false;
    v = v * 10 + uint64_t(a[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  if (v == 0) return false;
  handle = static_cast<uint32_t>(v);
  return true;
}

}  // namespace orv
