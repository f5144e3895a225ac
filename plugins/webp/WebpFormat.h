// The format glue of the WebP plug-in, over libwebp: which files it takes,
// and the picture of a file decoded into a DIB, turned upright by the Exif
// Orientation of its EXIF chunk as the JPEG path turns JPEG photos.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/common/ByteSource.h"
#include "plugins/common/SusieDib.h"

namespace orvspi {

// True when `data` begins a RIFF WebP file ("RIFF", size, "WEBP").
bool SniffWebp(const uint8_t* data, size_t size);

// The Exif Orientation (1..8) of the file's EXIF chunk, 0 when it has none
// or it is malformed. The chunk may or may not begin with "Exif\0\0".
int WebpExifOrientation(const uint8_t* data, size_t size);

// Decodes the (first frame of the) picture: 32-bit BGRA when the file has
// alpha, 24-bit BGR otherwise, turned upright. A picture whose DIB would
// pass kMaxDibBytes is refused before it is decoded.
SpiResult DecodeWebp(const uint8_t* data, size_t size, DibTarget& target);

// The upright size of the picture DecodeWebp would give, from the file's
// chunk headers alone (VP8, VP8L or VP8X, the first animation frame, the
// EXIF chunk's Orientation): the picture data is never read.
SpiResult WebpPictureInfo(ByteSource& src, PictureFacts& facts);

}  // namespace orvspi
