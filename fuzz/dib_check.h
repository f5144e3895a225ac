// What the picture plug-ins' fuzz targets ask of a decode that succeeded:
// a DIB that holds what its header says, within the host's bound.
#pragma once

#include <cstdlib>

#include "plugins/common/SusieDib.h"

inline void AbortUnlessSound(orvspi::SpiResult result, const orvspi::VectorDib& dib) {
  if (result != orvspi::SpiResult::kOk) return;
  const orvspi::DibLayout& s = dib.Layout();
  if (s.width <= 0 || s.height <= 0 || dib.Pixels().size() != s.pixelBytes ||
      s.pixelBytes > orvspi::kMaxDibBytes) {
    std::abort();
  }
}
