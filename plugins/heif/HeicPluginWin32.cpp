// The HEIC/HEIF plug-in: HEVC pictures in a HEIF file, as phones store them.
#include "photo_lib_pins.h"
#include "plugins/common/SusiePlugin.h"
#include "plugins/heif/HeifFormat.h"

namespace orvspi {

namespace {
bool SniffHevc(const uint8_t* data, size_t size) {
  return SniffHeif(data, size) == HeifFamily::kHevc;
}
}  // namespace

// The Debian sources the libraries were built from, so that a user (or a
// report) can tell which security fixes a plug-in carries.
const SusieFormat kSusieFormat = {
    "Orvanelle HEIC/HEIF plug-in (" ORV_LIBHEIF_PIN ", " ORV_LIBDE265_PIN ")",
    "*.heic;*.heif",
    "HEIC/HEIF picture",
    SniffHevc,
    DecodeHeif,
    HeifPictureInfo,
};

}  // namespace orvspi
