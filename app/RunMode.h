// Which of the four modes a command line asks for.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

enum class RunMode { Configure, Run, Preview, Password };

// `firstArgument` already upper-cased; only its first two characters count.
RunMode ModeFromArgument(const std::string& firstArgument);

// Whether an instance in this mode takes the single-instance mutex: every
// mode but the preview, which must never keep the settings dialog or the
// show from starting.
bool TakesInstanceMutex(RunMode mode);

// The window that asked for the settings dialog: today's Screen Saver
// Settings start the module with "/c:" and that window's handle in decimal.
// True with the handle's value when the argument is "/c:" or "-c:" (either
// case) followed by decimal digits only that fit 32 bits and are not 0.
bool OwnerFromArgument(const std::string& firstArgument, uint32_t& handle);

}  // namespace orv
