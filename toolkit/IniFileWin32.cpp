#include <windows.h>

#include <vector>

#include "toolkit/Exceptions.h"
#include "toolkit/IniFileWin32.h"

namespace tk {

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  std::vector<char> buffer(kValueBufferSize);
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buffer.data(),
                                     static_cast<DWORD>(buffer.size()), FileName().c_str());
  if (n >= buffer.size()) n = static_cast<DWORD>(buffer.size() - 1);
  return std::string(buffer.data(), n);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), FileName().c_str()))
    ThrowWriteError();
}

}  // namespace tk
