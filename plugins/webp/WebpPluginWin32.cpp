// The WebP plug-in: lossy, lossless and alpha WebP pictures.
#include "plugins/common/SusiePlugin.h"
#include "plugins/webp/WebpFormat.h"

namespace orvspi {

const SusieFormat kSusieFormat = {
    "Orvanelle WebP plug-in (libwebp)", "*.webp", "WebP picture", SniffWebp, DecodeWebp,
};

}  // namespace orvspi
