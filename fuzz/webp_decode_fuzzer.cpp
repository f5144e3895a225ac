// Fuzz target of the WebP plug-in's format glue over the system's libwebp:
// any input must end in a picture whose DIB holds what its header says, or
// in one of the Susie failure codes; never in a crash or a read outside a
// buffer. The Exif Orientation reader sees every input too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/dib_check.h"
#include "plugins/webp/WebpFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int orientation = orvspi::WebpExifOrientation(data, size);
  if (orientation < 0 || orientation > 8) std::abort();
  orvspi::VectorDib dib;
  AbortUnlessSound(orvspi::DecodeWebp(data, size, dib), dib);
  return 0;
}
