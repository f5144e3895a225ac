// Command-line arguments by the toolkit's usual rules: blanks separate,
// double quotes group (and are removed). Argument 0 is the program.
#pragma once

#include <string>
#include <vector>

namespace tk {

std::vector<std::string> SplitCommandLine(const std::string& commandLine);
// Argument `index` of `commandLine`, or "" when there is none.
std::string ParamStr(const std::string& commandLine, size_t index);

}  // namespace tk
