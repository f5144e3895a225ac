// Small file helpers over the C runtime (8-bit ANSI paths on Windows).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
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
// Writes `data` to a temporary file of its own beside `path`, flushes it,
// then replaces `path` with it. On any failure the old file is left
// untouched, the temporary file is gone and false is returned.
bool ReplaceFileContents(const std::string& path, const std::string& data);

// How the replace step is tried: a virus scanner or an indexer that opens
// the new file or the old one for a moment makes the move fail with a
// sharing violation, which clears by itself, so the move is tried again
// `attempts` times in all, with `wait` between tries (about a second).
struct ReplaceSteps {
  int attempts = 10;
  std::function<bool(const std::string& temp, const std::string& path)> move;
  std::function<void()> wait;
};
ReplaceSteps DefaultReplaceSteps();
bool ReplaceFileContents(const std::string& path, const std::string& data,
                         const ReplaceSteps& steps);
// The steps every save of the process takes (null: the default ones); for
// tests, which make one file's saves fail as a file held open would.
void UseReplaceSteps(const ReplaceSteps* steps);

// True when a new file can be made in `folder` (ends with its separator, or
// "" for the current folder): the test that tells a folder the user may not
// write from a save that failed for another reason.
bool FolderTakesNewFiles(const std::string& folder);

// The platform's part of it (FileUtilWin32.cpp, FileUtilPosix.cpp): creates
// an empty file of a name no other writer has, beside `path` (in its
// folder), and returns that name ("" when the folder takes no new file);
// makes the written data durable where the system needs a call for that;
// puts `temp` in the place of `path` in one step.
std::string CreateUniqueFileBeside(const std::string& path);
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
