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

// Row to start at in run mode. A stored position on the last row or beyond
// the end starts again at row 0; a negative one counts as 0.
int ResumeRow(int showTextKind, bool alwaysFirstRow, int previousRow, int rowCount);

// Sets `caption` for the picture at `path` (kinds 0 and unknown leave it,
// kind 3 without rows leaves it) and advances `rowIndex`, wrapping to 0.
void NextCaption(int showTextKind, const std::string& path, const tk::TStringList& rows,
                 int& rowIndex, std::string& caption);

}  // namespace orv
