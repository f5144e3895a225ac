// Which folder a path really is, whatever link led there: the volume serial
// number and file index of the opened folder. The walk of a folder tree
// uses it to notice a link back to a folder it is already inside.
#pragma once

#include <cstdint>

namespace orv {

struct FolderIdentity {
  uint32_t volume = 0, indexHigh = 0, indexLow = 0;
  // Some network file systems report index 0 for every folder; such an
  // identity says nothing about which folder it is.
  bool Known() const { return indexHigh != 0 || indexLow != 0; }
};

// Only two known identities can show the same folder: two folders with
// unknown indexes on one volume are not a link cycle.
inline bool SameFolder(const FolderIdentity& a, const FolderIdentity& b) {
  return a.Known() && b.Known() && a.volume == b.volume && a.indexHigh == b.indexHigh &&
         a.indexLow == b.indexLow;
}

}  // namespace orv
