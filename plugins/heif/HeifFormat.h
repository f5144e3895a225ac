// The format glue of the HEIC/HEIF and AVIF plug-ins, over libheif: which
// files each plug-in takes, and the primary picture of a file decoded into
// a DIB, upright and at 8 bits per channel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/common/ByteSource.h"
#include "plugins/common/SusieDib.h"

namespace orvspi {

enum class HeifFamily {
  kNone,
  kHevc,  // HEIC/HEIF: HEVC brands, and plain HEIF (mif1/msf1) without AV1
  kAv1,   // AVIF: avif/avis brands
};

// The family the `ftyp` box at the start of `data` names, from its major
// and compatible brands; kNone when `size` bytes hold no sound `ftyp` box
// or it names neither.
HeifFamily SniffHeif(const uint8_t* data, size_t size);

// Decodes the primary picture of the HEIF/AVIF file `data` into `target`:
// the container's transformations (rotation, mirroring, clean aperture)
// applied by libheif, an Exif Orientation inside the file ignored (it
// describes the stored image, which the transformations already turned),
// 10 and 12 bits reduced to 8, grids assembled, 32-bit BGRA when the
// picture has alpha, 24-bit BGR otherwise. A picture whose DIB would pass
// kMaxDibBytes is refused before any of it is decoded.
// Before libheif is given the file, its items are read and its
// derivation checked (HeifBoxes.h): a reference cycle, a canvas other
// than the declared size or beyond the budget is refused as broken data.
// Only the primary picture (with its alpha plane) is decoded, never a
// thumbnail, depth or other auxiliary picture.
SpiResult DecodeHeif(const uint8_t* data, size_t size, DibTarget& target);

// The upright size of the primary picture from the file's header alone
// (`ispe` with the item's turns and crops), as DecodeHeif would give it;
// a file whose structure DecodeHeif refuses is refused here too.
SpiResult HeifPictureInfo(ByteSource& src, PictureFacts& facts);

}  // namespace orvspi
