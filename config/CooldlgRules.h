// Arithmetic of the folder browser and the resizable open dialog, without
// windows: browser flags of the folder options, where a dialog opens, and
// how the open dialog's controls follow a change of its size.
#pragma once

#include <cstdint>

#include "slideshow/LayoutMath.h"  // IntRect

namespace orv {

enum TSelectFolderOption {
  sfBrowseForComputer,
  sfBrowseForPrinter,
  sfBrowseIncludeFiles,
  sfDontGoBelowDomain,
  sfEditbox,
  sfReturnFSAncestors,
  sfReturnOnlyFsDirs,
};
// A set of options: bit n stands for option n.
using TSelectFolderOptions = uint32_t;
constexpr TSelectFolderOptions FolderOption(TSelectFolderOption o) { return 1u << o; }
// The shell browser's BIF_ flags of a set of options.
uint32_t BrowseFlags(TSelectFolderOptions options);

// Centred horizontally, at one third of the free height, on `monitor`;
// never left of or above it.
void DialogPosition(const IntRect& monitor, int width, int height, int& x, int& y);

// One child of a dialog grown by dw x dh whose file view had its centre at
// (cx, cy): a child spanning the centre grows, one at or beyond it moves,
// one before it stays. True when the rectangle changed.
bool ResizeChild(IntRect& r, int cx, int cy, int dw, int dh);

// The file view's centre, halved toward zero.
inline int CentreOf(int a, int b) { return (a + b) / 2; }

}  // namespace orv
