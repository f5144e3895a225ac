// The settings store over the system's private-profile functions.
#pragma once

#include <string>

#include "toolkit/IniFile.h"

namespace tk {

// Over GetPrivateProfileStringA / WritePrivateProfileStringA. The file name
// should be a full path: a bare name means a file in the Windows folder.
class TIniFile : public TCustomIniFile {
 public:
  using TCustomIniFile::TCustomIniFile;

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const override;
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;
};

}  // namespace tk
