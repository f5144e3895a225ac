#include "search/PlugInListWin32.h"

#include "search/Dirsearch.h"

namespace orv {

tk::TStringList PlugInLoadList(const std::string& pluginFolder,
                               const std::function<bool(size_t)>& enabled) {
  // The same listing the configuration dialog numbers its plug-in rows by,
  // so flag i + 3 means the same file to both.
  tk::TStringList extensions;
  extensions.Add(".spi");
  tk::TStringList found;
  FindFiles(found, pluginFolder, extensions);
  return SelectPlugInFiles(found, enabled);
}

}  // namespace orv
