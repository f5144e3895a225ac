// The HEIC/HEIF plug-in: HEVC pictures in a HEIF file, as phones store them.
#include <libheif/heif_version.h>

#include "plugins/common/SusiePlugin.h"
#include "plugins/heif/HeifFormat.h"

namespace orvspi {

namespace {
bool SniffHevc(const uint8_t* data, size_t size) {
  return SniffHeif(data, size) == HeifFamily::kHevc;
}
}  // namespace

const SusieFormat kSusieFormat = {
    "Orvanelle HEIC/HEIF plug-in (libheif " LIBHEIF_VERSION ", libde265)",
    "*.heic;*.heif",
    "HEIC/HEIF picture",
    SniffHevc,
    DecodeHeif,
};

}  // namespace orvspi
