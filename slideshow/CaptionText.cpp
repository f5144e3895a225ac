#include "slideshow/CaptionText.h"

#include "toolkit/FileUtil.h"

namespace orv {

namespace {
// Captions split at backslash and drive colon only: a slash is an ordinary
// character in a Windows file name list entry.

size_t NameStart(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (tk::IsSjisLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == ':') start = i + 1;
  }
  return start;
}
}  // namespace

std::string CaptionFileName(const std::string& path) { return path.substr(NameStart(path)); }

std::string CaptionFileNameWithoutExt(const std::string& path) {
  const std::string name = CaptionFileName(path);
  size_t dot = std::string::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (tk::IsSjisLeadByte(c) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (c == '.') dot = i;
  }
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool LoadCaptionRows(const std::string& path, tk::TStringList& rows, size_t maxBytes) {
  rows.Clear();
  std::string text;
  bool more = false;
  if (!tk::ReadFileHead(path, maxBytes, text, more)) return false;
  if (more) {
    // The row the bound cuts through is dropped with the rest.
    const size_t end = text.find_last_of("\r\n");
    text.resize(end == std::string::npos ? 0 : end + 1);
  }
  rows.SetText(text);
  return true;
}

int ResumeRow(int showTextKind, bool alwaysFirstRow, int previousRow, int rowCount) {
  if (showTextKind == stkTextRows && !alwaysFirstRow && previousRow < rowCount - 1)
    return previousRow < 0 ? 0 : previousRow;
  return 0;
}

void NextCaption(int showTextKind, const std::string& path, const tk::TStringList& rows,
                 int& rowIndex, std::string& caption) {
  switch (showTextKind) {
    case stkFileName:
      caption = CaptionFileName(path);
      break;
    case stkFileNameNoExt:
      caption = CaptionFileNameWithoutExt(path);
      break;
    case stkTextRows:
      if (rows.Count() > 0 && rowIndex >= 0 && rowIndex < rows.Count()) caption = rows[rowIndex];
      break;
    default:
      break;
  }
  ++rowIndex;
  if (rowIndex >= rows.Count()) rowIndex = 0;
}

}  // namespace orv
