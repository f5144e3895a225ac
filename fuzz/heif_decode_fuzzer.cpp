// Fuzz target of the HEIC/HEIF and AVIF plug-ins' format glue over the
// system's libheif: any input must end in a picture whose DIB holds what
// its header says, or in one of the Susie failure codes; never in a crash,
// a hang or a read outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/dib_check.h"
#include "plugins/common/ByteSource.h"
#include "plugins/heif/HeifFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Both plug-ins share the decoder; the sniffer picks between them.
  (void)orvspi::SniffHeif(data, size);
  orvspi::VectorDib dib;
  const orvspi::SpiResult result = orvspi::DecodeHeif(data, size, dib);
  AbortUnlessSound(result, dib);
  // The header reader answering GetPictureInfo sees the same bytes: it
  // must answer or refuse, a size it gives must be one the host takes,
  // and one a decode gives too.
  const bool decoded = result == orvspi::SpiResult::kOk;
  orvspi::MemorySource src(data, size);
  orvspi::PictureFacts facts;
  if (orvspi::HeifPictureInfo(src, facts) == orvspi::SpiResult::kOk) {
    orvspi::DibLayout layout;
    if (!orvspi::MakeDibLayout(facts.width, facts.height, facts.alpha, layout)) std::abort();
    if (decoded && (dib.Layout().width != facts.width || dib.Layout().height != facts.height))
      std::abort();
  }
  return 0;
}
