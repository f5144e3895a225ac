// Which of the four modes a command line asks for.
#pragma once

#include <string>

namespace orv {

enum class RunMode { Configure, Run, Preview, Password };

// `firstArgument` already upper-cased; only its first two characters count.
RunMode ModeFromArgument(const std::string& firstArgument);

}  // namespace orv
