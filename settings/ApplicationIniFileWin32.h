// Where this program's settings live on Windows.
#pragma once

#include <memory>
#include <string>

#include "settings/ApplicationIniFile.h"

namespace orv {

// The settings of this program: `applicationTitle` + ".ini" in the folder of
// the program file, with the list file names of string table entries 2
// and 3, over the system's private-profile functions.
std::unique_ptr<TApplicationIniFile> CreateApplicationIniFile(const std::string& applicationTitle);

}  // namespace orv
