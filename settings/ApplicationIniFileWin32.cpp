#include "settings/ApplicationIniFileWin32.h"

#include <windows.h>

#include <vector>

#include "toolkit/FileUtil.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFileWin32.h"

namespace orv {

namespace {
std::string ModuleFileName() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    // A full buffer may mean a cut path: try again with a larger one.
    if (n < buffer.size() - 1) return std::string(buffer.data(), n);
    if (buffer.size() >= 32768) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::unique_ptr<TApplicationIniFile> CreateApplicationIniFile(const std::string& applicationTitle) {
  const std::string folder = tk::ExtractFilePath(ModuleFileName());
  auto ini = std::make_unique<tk::TIniFile>(folder + applicationTitle + ".ini");
  return std::make_unique<TApplicationIniFile>(std::move(ini),
                                               tk::LoadResString(2, "OrvanelleDirList.dat"),
                                               tk::LoadResString(3, "OrvanelleFileList.dat"));
}

}  // namespace orv
