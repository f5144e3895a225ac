#include "imaging/PluginSelection.h"

namespace orv {

tk::TStringList SelectPlugInFiles(const tk::TStringList& found,
                                  const std::function<bool(size_t)>& enabled) {
  tk::TStringList selected;
  for (size_t i = 0; i < found.Items().size(); ++i) {
    if (enabled(i + kFirstPlugInFlag)) selected.Add(found.Items()[i]);
  }
  return selected;
}

}  // namespace orv
