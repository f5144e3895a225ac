#include "plugins/common/SusiePlugin.h"

#include <cstring>

namespace orvspi {

const char* PluginInfoText(const SusieFormat& format, int infono) {
  switch (infono) {
    case 0:
      return "00IN";
    case 1:
      return format.name;
    case 2:
      return format.filter;
    case 3:
      return format.typeName;
    default:
      return nullptr;
  }
}

int CopyInfoText(const char* text, char* buf, int buflen) {
  if (!text || !buf || buflen <= 0) return 0;
  size_t n = std::strlen(text);
  if (n > size_t(buflen - 1)) n = size_t(buflen - 1);
  std::memcpy(buf, text, n);
  buf[n] = '\0';
  return int(n);
}

}  // namespace orvspi
