// What the decoder process does to a decoded picture before the saver
// gets it: any pixel format made 24-bit BGR (32-bit keeps its four bytes),
// and a picture larger than the box shrunk into it by area.
#pragma once

#include "toolkit/Bitmap.h"

namespace orv {

// `picture` as 24-bit BGR rows: 1, 4 and 8 bits through the palette,
// 15 and 16 bits from their bit fields, 32 bits without the fourth byte.
// A 24-bit picture is left as it is.
void MakeBgr24(tk::TBitmap& picture);

// Shrinks `picture` (made 24-bit first) into `fitWidth` x `fitHeight`
// keeping its shape, when it is larger; a box of 0 x 0 leaves it alone.
void ShrinkIntoBox(tk::TBitmap& picture, int fitWidth, int fitHeight);

}  // namespace orv
