// Which plug-in files the slideshow loads: the i-th ".spi" file that the
// folder listing of the plug-in folder returns belongs to file-type flag
// i + 3 (flags 0 to 2 are BMP, JPEG and PNG). A file beyond the stored
// flags counts as enabled; the predicate is expected to say so.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "toolkit/StringList.h"

namespace orv {

constexpr size_t kFirstPlugInFlag = 3;

// The entries of `found`, in order, whose flag `enabled(i + 3)` is set.
tk::TStringList SelectPlugInFiles(const tk::TStringList& found,
                                  const std::function<bool(size_t)>& enabled);

}  // namespace orv
