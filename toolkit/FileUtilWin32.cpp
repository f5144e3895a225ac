// The Windows part of replacing a file's contents.
#include <windows.h>
#include <io.h>

#include "toolkit/FileUtil.h"

namespace tk {

// GetTempFileName makes the file, so the name stays ours until we move it
// away; it wants a folder, "." for a bare file name. The file is looked for
// afterwards: Wine answers with a name also when a read-only volume refused
// to make it.
std::string CreateUniqueFileBeside(const std::string& path) {
  std::string folder = ExtractFilePath(path);
  if (folder.empty()) folder = ".";
  char name[MAX_PATH + 1] = {};
  if (!GetTempFileNameA(folder.c_str(), "orv", 0, name)) return std::string();
  if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) return std::string();
  return name;
}

// The new file must be on the disk before it takes the old one's place: a
// rename on one volume is only a change of the folder entry, which
// MOVEFILE_WRITE_THROUGH does not make wait for the data, so without this a
// power cut soon after saving could leave an empty list file behind.
bool FlushToDisk(std::FILE* f) {
  const intptr_t h = _get_osfhandle(_fileno(f));
  if (h == -1) return false;
  return FlushFileBuffers(reinterpret_cast<HANDLE>(h)) != FALSE;
}

bool MoveOver(const std::string& temp, const std::string& path) {
  return MoveFileExA(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace tk
