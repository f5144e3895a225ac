// The libheif calls of the HEIF glue, as a table of functions that never
// throw. On Windows libheif, libde265 and dav1d are linked into a DLL of
// our own (orvheifcodec.dll) together with these wrappers, which catch what
// the C++ inside throws before it reaches the DLL's border: each module
// has its own copy of the compiler's runtime, and an exception cannot be
// caught in a module other than the one whose runtime threw it. The
// plug-ins load that DLL from their own folder on first use. Natively the
// same wrappers are linked straight in.
#pragma once

#include <libheif/heif.h>

#include <cstddef>
#include <cstdint>

namespace orvspi {

struct HeifCodecApi {
  // sizeof(HeifCodecApi) as the DLL was built: a plug-in refuses a DLL of
  // another build.
  uint32_t size;
  const char* version;  // heif_get_version()
  heif_context* (*contextAlloc)();
  void (*contextFree)(heif_context*);
  // Sets the context's security limits: pictures and memory blocks up to
  // `maxPixels` and `maxBlockBytes`, `maxItems` items, tiles and
  // references of a box; decoding on the calling thread.
  heif_error (*limitContext)(heif_context*, uint64_t maxPixels, uint64_t maxBlockBytes,
                             uint32_t maxItems);
  heif_error (*readFromMemory)(heif_context*, const void* data, size_t size);
  heif_error (*primaryImageHandle)(heif_context*, heif_image_handle**);
  void (*handleRelease)(const heif_image_handle*);
  int (*handleHasAlpha)(const heif_image_handle*);
  int (*handleWidth)(const heif_image_handle*);
  int (*handleHeight)(const heif_image_handle*);
  // Decodes the handle's picture to interleaved 8-bit RGB(A), turned by
  // the container's transformations.
  heif_error (*decodeRgb)(const heif_image_handle*, heif_image**, bool alpha);
  void (*imageRelease)(const heif_image*);
  int (*imageBitsPerPixelRange)(const heif_image*);
  int (*imageWidth)(const heif_image*);
  int (*imageHeight)(const heif_image*);
  const uint8_t* (*imagePlane)(const heif_image*, int* stride);
};

// The table of the wrappers linked into this module (the codec DLL, or a
// native program); libheif is initialised once, on the first call.
const HeifCodecApi* LinkedHeifCodec();

// The table the glue uses: on Windows the one of the codec DLL beside the
// plug-in, loaded on first use; natively LinkedHeifCodec(). Null when the
// DLL cannot be loaded or is of another build.
const HeifCodecApi* HeifCodec();

}  // namespace orvspi
