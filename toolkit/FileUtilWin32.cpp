// The Windows part of replacing a file's contents.
#include <windows.h>

#include "toolkit/FileUtil.h"

namespace tk {

// MOVEFILE_WRITE_THROUGH returns only once the new file is on the disk.
bool FlushToDisk(std::FILE*) { return true; }

bool MoveOver(const std::string& temp, const std::string& path) {
  return MoveFileExA(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace tk
