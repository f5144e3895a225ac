// The plug-in files of a folder that the slideshow loads. It lives with the
// folder listing it stands on, above the plug-in host: imaging/ never
// reaches up into search/.
#pragma once

#include <functional>
#include <string>

#include "imaging/PluginSelection.h"
#include "toolkit/StringList.h"

namespace orv {

// Lists the ".spi" files directly in `pluginFolder` and keeps the enabled
// ones: the list to hand to TSpiLib32::LoadPlugInFromList.
tk::TStringList PlugInLoadList(const std::string& pluginFolder,
                               const std::function<bool(size_t)>& enabled);

}  // namespace orv
