// What each of our picture plug-ins tells the shared Susie entry points
// (SusieExportsWin32.cpp): its texts and its format glue.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/common/ByteSource.h"
#include "plugins/common/SusieDib.h"

namespace orvspi {

struct SusieFormat {
  const char* name;      // GetPluginInfo 1
  const char* filter;    // GetPluginInfo 2: "*.ext;*.ext2"
  const char* typeName;  // GetPluginInfo 3
  // Whether the first `size` bytes of a file (at least 2 KiB when the file
  // has them) are of this format.
  bool (*sniff)(const uint8_t* data, size_t size);
  SpiResult (*decode)(const uint8_t* data, size_t size, DibTarget& target);
  // GetPictureInfo: the size `decode` would give, from the header alone.
  SpiResult (*info)(ByteSource& src, PictureFacts& facts);
};

// Defined once in each plug-in.
extern const SusieFormat kSusieFormat;

// The text of GetPluginInfo number `infono` for `format`, or null for a
// number it does not answer.
const char* PluginInfoText(const SusieFormat& format, int infono);

// Copies `text` into `buf` of `buflen` bytes, cut to fit with its zero
// byte; returns the bytes copied without the zero.
int CopyInfoText(const char* text, char* buf, int buflen);

}  // namespace orvspi
