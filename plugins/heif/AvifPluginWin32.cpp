// The AVIF plug-in: AV1 pictures in a HEIF file.
#include "photo_lib_pins.h"
#include "plugins/common/SusiePlugin.h"
#include "plugins/heif/HeifFormat.h"

namespace orvspi {

namespace {
bool SniffAv1(const uint8_t* data, size_t size) {
  return SniffHeif(data, size) == HeifFamily::kAv1;
}
}  // namespace

// The Debian sources the libraries were built from, so that a user (or a
// report) can tell which security fixes a plug-in carries.
const SusieFormat kSusieFormat = {
    "Orvanelle AVIF plug-in (" ORV_LIBHEIF_PIN ", " ORV_DAV1D_PIN ")",
    "*.avif",
    "AVIF picture",
    SniffAv1,
    DecodeHeif,
    HeifPictureInfo,
};

}  // namespace orvspi
