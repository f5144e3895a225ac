// The POSIX part of replacing a file's contents (the native build).
#include <unistd.h>

#include <cstdio>

#include "toolkit/FileUtil.h"

namespace tk {

bool FlushToDisk(std::FILE* f) { return fsync(fileno(f)) == 0; }

bool MoveOver(const std::string& temp, const std::string& path) {
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace tk
