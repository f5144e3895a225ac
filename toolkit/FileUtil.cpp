#include "toolkit/FileUtil.h"

#include <algorithm>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <utility>

namespace tk {

namespace {
struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool IsDelimiter(char c) { return c == '\\' || c == '/' || c == ':'; }

size_t LastDelimiter(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsSjisLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (IsDelimiter(path[i])) last = i;
  }
  return last;
}
}  // namespace

bool IsSjisLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return false;
  out.clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
  return !std::ferror(f.get());
}

bool ReadFileHead(const std::string& path, size_t maxBytes, std::string& out, bool& more) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return false;
  out.clear();
  more = false;
  char buf[65536];
  while (out.size() < maxBytes) {
    const size_t want = std::min(sizeof buf, maxBytes - out.size());
    const size_t n = std::fread(buf, 1, want, f.get());
    out.append(buf, n);
    if (n < want) return !std::ferror(f.get());
  }
  more = std::fgetc(f.get()) != EOF;
  return !std::ferror(f.get());
}

ReplaceSteps DefaultReplaceSteps() {
  ReplaceSteps steps;
  steps.move = MoveOver;
  steps.wait = [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); };
  return steps;
}

namespace {
const ReplaceSteps* g_replace_steps = nullptr;
}  // namespace

void UseReplaceSteps(const ReplaceSteps* steps) { g_replace_steps = steps; }

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  if (g_replace_steps) return ReplaceFileContents(path, data, *g_replace_steps);
  static const ReplaceSteps defaults = DefaultReplaceSteps();
  return ReplaceFileContents(path, data, defaults);
}

bool ReplaceFileContents(const std::string& path, const std::string& data,
                         const ReplaceSteps& steps) {
  // A name of its own: two writers in one folder (two dialogs, or one and
  // a sync client) would otherwise write into one temporary file and each
  // move the other's half-written data into place.
  const std::string temp = CreateUniqueFileBeside(path);
  if (temp.empty()) return false;
  {
    FilePtr f(std::fopen(temp.c_str(), "wb"));
    bool ok = f != nullptr;
    if (ok) {
      ok = std::fwrite(data.data(), 1, data.size(), f.get()) == data.size();
      ok = std::fflush(f.get()) == 0 && ok;
      ok = ok && FlushToDisk(f.get());
      if (std::fclose(f.release()) != 0) ok = false;
    }
    if (!ok) {
      std::remove(temp.c_str());
      return false;
    }
  }
  for (int attempt = 1; attempt <= steps.attempts; ++attempt) {
    if (steps.move(temp, path)) return true;
    if (attempt < steps.attempts && steps.wait) steps.wait();
  }
  std::remove(temp.c_str());
  return false;
}

bool FolderTakesNewFiles(const std::string& folder) {
  const std::string probe = CreateUniqueFileBeside(folder + "probe");
  if (probe.empty()) return false;
  std::remove(probe.c_str());
  return true;
}

std::string ExtractFilePath(const std::string& path) {
  size_t d = LastDelimiter(path);
  return d == std::string::npos ? std::string() : path.substr(0, d + 1);
}

std::string ExtractFileName(const std::string& path) {
  size_t d = LastDelimiter(path);
  return d == std::string::npos ? path : path.substr(d + 1);
}

std::string ExtractFileExt(const std::string& path) {
  std::string name = ExtractFileName(path);
  size_t dot = std::string::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsSjisLeadByte(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (name[i] == '.') dot = i;
  }
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

namespace {
// Moves the ASCII letters from..from+25 by `shift`, stepping over the
// second bytes of double-byte characters (which may look like letters).
std::string ShiftAsciiLetters(std::string s, char from, int shift) {
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsSjisLeadByte(c) && i + 1 < s.size()) {
      ++i;
      continue;
    }
    if (c >= from && c <= from + 25) s[i] = static_cast<char>(c + shift);
  }
  return s;
}
}  // namespace

std::string AsciiLower(std::string s) { return ShiftAsciiLetters(std::move(s), 'A', 32); }

std::string AsciiUpper(std::string s) { return ShiftAsciiLetters(std::move(s), 'a', -32); }

}  // namespace tk
