// The AVIF plug-in: AV1 pictures in a HEIF file.
#include <libheif/heif_version.h>

#include "plugins/common/SusiePlugin.h"
#include "plugins/heif/HeifFormat.h"

namespace orvspi {

namespace {
bool SniffAv1(const uint8_t* data, size_t size) {
  return SniffHeif(data, size) == HeifFamily::kAv1;
}
}  // namespace

const SusieFormat kSusieFormat = {
    "Orvanelle AVIF plug-in (libheif " LIBHEIF_VERSION ", dav1d)",
    "*.avif",
    "AVIF picture",
    SniffAv1,
    DecodeHeif,
};

}  // namespace orvspi
