// The POSIX part of replacing a file's contents (the native build).
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "toolkit/FileUtil.h"

namespace tk {

std::string CreateUniqueFileBeside(const std::string& path) {
  std::string name = ExtractFilePath(path) + ".orv-XXXXXX";
  const int fd = mkstemp(&name[0]);
  if (fd < 0) return std::string();
  close(fd);
  return name;
}

bool FlushToDisk(std::FILE* f) { return fsync(fileno(f)) == 0; }

bool MoveOver(const std::string& temp, const std::string& path) {
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace tk
