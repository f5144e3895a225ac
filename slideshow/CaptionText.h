// Where a picture's caption comes from: nothing, its file name with or
// without extension, or the next row of the caption text file.
#pragma once

#include <string>

#include "toolkit/StringList.h"

namespace orv {

enum ShowTextKindValue : int {
  stkNone = 0,
  stkFileName = 1,
  stkFileNameNoExt = 2,
  stkTextRows = 3
};

// File name part of a path (after the last backslash or drive colon).
std::string CaptionFileName(const std::string& path);
// The same less its last extension (only if the period is in the name).
std::string CaptionFileNameWithoutExt(const std::string& path);

// The caption text file holds one caption a line. Only its first
// kMaxCaptionFileBytes are read (in a 32-bit process a file of tens of MiB
// could not be held at all): rows past that bound, and a row cut by it, are
// not shown. False, with `rows` empty, when the file cannot be read.
constexpr size_t kMaxCaptionFileBytes = size_t(1) << 20;
bool LoadCaptionRows(const std::string& path, tk::TStringList& rows,
                     size_t maxBytes = kMaxCaptionFileBytes);

// Row to start at in run mode. A stored position on the last row or beyond
// the end starts again at row 0; a negative one counts as 0.
int ResumeRow(int showTextKind, bool alwaysFirstRow, int previousRow, int rowCount);

// Sets `caption` for the picture at `path` (kinds 0 and unknown leave it,
// kind 3 without rows leaves it) and advances `rowIndex`, wrapping to 0.
void NextCaption(int showTextKind, const std::string& path, const tk::TStringList& rows,
                 int& rowIndex, std::string& caption);

}  // namespace orv
