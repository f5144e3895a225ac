// The Exif Orientation tag of photos, and the rows that turn a decoded
// picture upright by it.
//
// Cameras and phones store the pixels as the sensor saw them and record in
// IFD0 of their Exif APP1 segment how to turn them for display:
//   1 as stored        2 mirrored left-right   3 turned 180°   4 mirrored top-bottom
//   5 transposed       6 turned 90° clockwise  7 transversed   8 turned 90° anticlockwise
// 5 to 8 swap width and height.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tk {
class TBitmap;
}

namespace orv {

// The Orientation value (1..8) found in IFD0 of the body of an APP1 segment
// (the bytes after its length field, beginning "Exif\0\0"), or 0 when the
// segment is not Exif, has no Orientation entry, or anything on the way to
// it is malformed: an offset or count reaching past the segment, an unknown
// byte order, a wrong type or count of the entry, a value outside 1..8.
// Only IFD0 is read; no offset chain is followed.
int ExifOrientationFromApp1(const uint8_t* data, size_t size);

// True for the orientations that swap width and height (5..8).
inline bool OrientationSwapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }

// Upright size of a picture stored `width` x `height` under `orientation`.
inline int UprightWidth(int orientation, int width, int height) {
  return OrientationSwapsAxes(orientation) ? height : width;
}
inline int UprightHeight(int orientation, int width, int height) {
  return OrientationSwapsAxes(orientation) ? width : height;
}

// Writes the `width` pixels (three bytes each) of `in` to `out` in reverse
// order. The rows must not overlap.
void MirrorCopyRow24(uint8_t* out, const uint8_t* in, int width);

// For the orientations that swap width and height (5..8): places `count`
// decoded rows of a picture stored `srcWidth` x `srcHeight`, beginning with
// its row `first` (0 = top), where they belong in `dest`, a 24-bit bitmap
// of the upright size. `rows` points at row `first`, three bytes a pixel;
// the next row is `stride` bytes further. Rows may come in any number of
// calls, in any order. Any other orientation, or a `dest` of another shape,
// writes nothing.
void PutOrientedRows(tk::TBitmap& dest, int orientation, int srcWidth, int srcHeight, int first,
                     int count, const uint8_t* rows, std::ptrdiff_t stride);

}  // namespace orv
