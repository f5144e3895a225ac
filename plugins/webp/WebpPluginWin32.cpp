// The WebP plug-in: lossy, lossless and alpha WebP pictures.
#include "photo_lib_pins.h"
#include "plugins/common/SusiePlugin.h"
#include "plugins/webp/WebpFormat.h"

namespace orvspi {

const SusieFormat kSusieFormat = {
    "Orvanelle WebP plug-in (" ORV_LIBWEBP_PIN ")", "*.webp", "WebP picture", SniffWebp,
    DecodeWebp, WebpPictureInfo,
};

}  // namespace orvspi
