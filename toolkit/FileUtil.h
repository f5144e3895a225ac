// Small file helpers over the C runtime (8-bit ANSI paths on Windows).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tk {

// Lead bytes of Shift-JIS double-byte characters: a trail byte may equal
// '\\' or a letter, so text must be walked character by character.
bool IsSjisLeadByte(unsigned char c);

bool FileExists(const std::string& path);  // a file, not a folder
bool ReadWholeFile(const std::string& path, std::string& out);
// At most `maxBytes` bytes from the start of the file; `more` tells whether
// the file goes on past them. False when the file cannot be read.
bool ReadFileHead(const std::string& path, size_t maxBytes, std::string& out, bool& more);
// Writes `data` to a temporary file beside `path`, flushes it, then replaces
// `path` with it. On any failure the old file is left untouched and false
// is returned.
bool ReplaceFileContents(const std::string& path, const std::string& data);
// The platform's part of it (FileUtilWin32.cpp, FileUtilPosix.cpp): makes
// the written data durable where the system needs a call for that, and
// puts `temp` in the place of `path` in one step.
bool FlushToDisk(std::FILE* f);
bool MoveOver(const std::string& temp, const std::string& path);

// Folder part of a path including its trailing delimiter ("" when none).
std::string ExtractFilePath(const std::string& path);
// Text after the last path delimiter (backslash, slash or drive colon).
std::string ExtractFileName(const std::string& path);
// From the last period to the end, if that period follows the last
// delimiter; else "". The period is included.
std::string ExtractFileExt(const std::string& path);
std::string AsciiLower(std::string s);
std::string AsciiUpper(std::string s);

}  // namespace tk
