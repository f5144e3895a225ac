// Fuzz target of the HEIC/HEIF and AVIF plug-ins' format glue over the
// system's libheif: any input must end in a picture whose DIB holds what
// its header says, or in one of the Susie failure codes; never in a crash,
// a hang or a read outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/dib_check.h"
#include "plugins/heif/HeifFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Both plug-ins share the decoder; the sniffer picks between them.
  (void)orvspi::SniffHeif(data, size);
  orvspi::VectorDib dib;
  AbortUnlessSound(orvspi::DecodeHeif(data, size, dib), dib);
  return 0;
}
