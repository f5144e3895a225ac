#include "toolkit/Exceptions.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tk {

void Abort() { throw EAbort(); }

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

std::string FileCreateErrorText(const std::string& path) {
  return Format("ファイル %s を作成できません", path.c_str());
}
std::string FileOpenErrorText(const std::string& path) {
  return Format("ファイル %s を開けません", path.c_str());
}
std::string NotIntegerText(const std::string& text) {
  return Format("'%s' は整数ではありません", text.c_str());
}
std::string CannotWriteText(const std::string& path) {
  return Format("%s に書き込めません", path.c_str());
}

}  // namespace tk
