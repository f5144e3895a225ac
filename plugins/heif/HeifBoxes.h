// Our own reading of a HEIF/AVIF file's item structure (the `meta` box:
// items, their properties, references and locations), independent of
// libheif. It sizes a picture from its header without decoding it, and it
// checks a picture's derivation (grids, overlays, identity items) against
// the host's budget and for references that come back to themselves,
// before libheif is given the file: what a hostile file may make a decoder
// do is bounded here, whatever the library version checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "plugins/common/ByteSource.h"
#include "plugins/common/SusieDib.h"

namespace orvspi {

constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
         uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

// A transformation property, in the order the item lists it.
struct HeifTransform {
  enum Kind { kRotate, kMirror, kCrop } kind = kRotate;
  int quarterTurns = 0;          // kRotate: anticlockwise, 0..3
  int cropWidth = 0, cropHeight = 0;  // kCrop: the clean aperture, rounded
  uint32_t property = 0;              // kCrop: its `clap` box, 1-based in `ipco`
};

struct HeifExtent {
  uint64_t offset = 0, length = 0;  // length 0: to the end of the file
};

struct HeifItem {
  uint32_t id = 0;
  uint32_t type = 0;  // "hvc1", "av01", "grid", "iovl", "iden", "Exif", ...
  bool hasSize = false;  // an `ispe` property
  uint32_t width = 0, height = 0;
  bool alpha = false;  // an alpha plane refers to it (`auxl`)
  std::vector<HeifTransform> transforms;
  std::vector<uint32_t> derivedFrom;  // its `dimg` references, in order
  int constructionMethod = 0;         // 0 file offsets, 1 the `idat` box
  uint64_t baseOffset = 0;
  std::vector<HeifExtent> extents;
};

struct HeifHeader {
  uint32_t primaryId = 0;
  std::map<uint32_t, HeifItem> items;
  // `auxl` references (auxiliary item, the item it belongs to), and the
  // auxiliary items that are alpha planes.
  std::vector<std::pair<uint32_t, uint32_t>> auxiliaryOf;
  std::vector<uint32_t> alphaPlanes;
  uint64_t idatOffset = 0, idatSize = 0;  // where the `idat` box's data is in the file
  const HeifItem* Find(uint32_t id) const;
};

enum class HeifHeaderStatus { kOk, kNotHeif, kBroken };

// Reads the `ftyp` and `meta` boxes at the top of `src` (a `meta` box
// larger than kMaxHeifMetaBytes counts as broken); `mdat` and every other
// box is skipped unread.
constexpr uint64_t kMaxHeifMetaBytes = uint64_t(16) << 20;
HeifHeaderStatus ReadHeifHeader(ByteSource& src, HeifHeader& header);

// The upright size of the primary picture as a decode gives it: its
// `ispe` turned and cropped by its transformations in their order. False
// when the primary item has no size or a transformation leaves none.
bool HeifPrimarySize(const HeifHeader& header, int& width, int& height);

// Checks the derivation of the primary picture before anything is
// decoded: every grid, overlay and identity item it reaches must reach no
// item twice on one path (a reference cycle), must not go deeper than
// kMaxHeifDerivationDepth, must paint a canvas of the size it declares
// (its `ispe`) within `maxPixels`, and a grid's tiles must cover its
// canvas without a spare row or column. kBrokenData names every failure.
constexpr int kMaxHeifDerivationDepth = 8;
SpiResult CheckHeifDerivation(ByteSource& src, const HeifHeader& header, uint64_t maxPixels);

}  // namespace orvspi
