#include "toolkit/CommandLine.h"

namespace tk {

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = commandLine.size();
  auto blank = [&](size_t k) { return static_cast<unsigned char>(commandLine[k]) <= ' '; };
  while (true) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::string arg;
    while (i < n && !blank(i)) {
      if (commandLine[i] == '"') {
        ++i;
        while (i < n && commandLine[i] != '"') arg += commandLine[i++];
        if (i < n) ++i;
      } else {
        arg += commandLine[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string ParamStr(const std::string& commandLine, size_t index) {
  const std::vector<std::string> args = SplitCommandLine(commandLine);
  return index < args.size() ? args[index] : std::string();
}

}  // namespace tk
