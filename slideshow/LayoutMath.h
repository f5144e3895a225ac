// Geometry of the slideshow: margin, the split between picture and caption,
// shrinking and random placement. Window-free so it can be tested natively.
#pragma once

#include "slideshow/Random.h"

namespace orv {

struct IntRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const IntRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// Arrangement kinds; 3 is not used.
enum LayoutKind : int {
  lkPictureOnly = 0,
  lkCaptionLeft = 1,
  lkCaptionRight = 2,
  lkCaptionBelow = 4
};

constexpr int kCaptionGap = 20;
constexpr const char* kCaptionSampleText = "test.jpg";

struct Margin {
  int top = 0, bottom = 0, left = 0, right = 0;
};
// WindowBorder is the total margin in percent, half on each side; values
// outside 1..100 mean no margin.
Margin ComputeMargin(int windowBorder, int clientWidth, int clientHeight);

// Side-by-side split of the area width less the gap: 0.6 picture, 0.4 caption.
struct SideSplit {
  int picture = 0, caption = 0;
};
SideSplit SplitSideBySide(int width);

// Stacked split: 80 and 20 of each whole hundred of the height less the gap;
// a caption line taller than its band takes room from the picture.
struct StackSplit {
  int picture = 0, caption = 0;
  int captionOffset = 0;  // caption top relative to the area top
};
StackSplit SplitStacked(int height, int lineHeight);

// Shrinks r (never enlarges) to fit W x H keeping its aspect ratio, with the
// scale held in single precision and every coordinate truncated.
IntRect FitRect(const IntRect& r, int W, int H);

// Places r at a random position inside b where it is smaller than b.
IntRect PlaceRect(const IntRect& r, const IntRect& b, TRandom& random);

}  // namespace orv
