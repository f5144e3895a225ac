// orvheifcodec.dll: libheif with libde265 and dav1d linked in, and the
// wrappers of HeifCodec.cpp, the one thing it exports.
#include <windows.h>

#include "plugins/heif/HeifCodec.h"

extern "C" __declspec(dllexport) const orvspi::HeifCodecApi* __cdecl OrvHeifCodecApi(
    uint32_t size) {
  // A plug-in built against another table has nothing to call here.
  const orvspi::HeifCodecApi* api = orvspi::LinkedHeifCodec();
  return size == api->size ? api : nullptr;
}
