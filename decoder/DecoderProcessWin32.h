// The decoder process's side (DecoderProcessWin32.cpp).
#pragma once

#include <string>

namespace orv {

// Whether the module's first argument starts it as a decoder; decided
// before the run mode, and such a start takes no instance mutex.
bool IsDecoderSwitch(const std::string& firstArgument);

// Serves the saver that started it until the saver closes its pipe.
// Returns at once (2) when the command line names no pipes of its own.
int RunDecoderProcess(const std::string& commandLine);

}  // namespace orv
