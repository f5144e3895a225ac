#include "toolkit/IniFile.h"

#include <cstring>
#include <vector>

#include "toolkit/Convert.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"

namespace tk {

// ---------------------------------------------------------------------------
// Typed access shared by every INI file.

int32_t TCustomIniFile::ReadInteger(const std::string& section, const std::string& key,
                                    int32_t def) const {
  std::string text = ReadString(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text = "$" + text.substr(2);
  return StrToIntDef(text, def);
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& key,
                                  int32_t value) {
  WriteString(section, key, IntToStr(value));
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TCustomIniFile::ThrowWriteError() const {
  throw EIniFileException(CannotWriteText(file_name_));
}

// ---------------------------------------------------------------------------
// The portable file format.

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s, size_t begin, size_t end) {
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

// At most `limit` bytes, never ending inside a double-byte character.
std::string CutToBuffer(const std::string& s, size_t limit) {
  if (s.size() <= limit) return s;
  size_t i = 0;
  while (i < limit) {
    size_t width = IsSjisLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
    if (i + width > limit) break;
    i += width;
  }
  return s.substr(0, i);
}

enum class LineKind { kOther, kSection, kKey };

struct Line {
  size_t begin = 0;  // content, without the line end
  size_t end = 0;
  size_t next = 0;  // start of the following line
  LineKind kind = LineKind::kOther;
  std::string name;   // section or key name, trimmed
  size_t equals = 0;  // position of '=' for a key line
};

// Position of the last ']' in [begin, end), stepping over double-byte
// characters whose trail byte may look like a bracket.
size_t LastCloseBracket(const std::string& s, size_t begin, size_t end) {
  size_t found = std::string::npos;
  for (size_t i = begin; i < end; ++i) {
    if (IsSjisLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < end) {
      ++i;
      continue;
    }
    if (s[i] == ']') found = i;
  }
  return found;
}

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    Line line;
    line.begin = pos;
    size_t i = pos;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    line.end = i;
    if (i < n) i += (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
    line.next = i;
    pos = i;

    size_t s = line.begin;
    while (s < line.end && IsBlank(text[s])) ++s;
    if (s < line.end && text[s] == '[') {
      size_t close = LastCloseBracket(text, s + 1, line.end);
      if (close != std::string::npos) {
        line.kind = LineKind::kSection;
        line.name = Trim(text, s + 1, close);
      }
    } else if (s < line.end && text[s] != ';') {
      // Only this line: a search to the end of the text for every line
      // would make reading a file without '=' quadratic.
      const char* at = static_cast<const char*>(std::memchr(text.data() + s, '=', line.end - s));
      if (at) {
        const size_t eq = static_cast<size_t>(at - text.data());
        line.kind = LineKind::kKey;
        line.name = Trim(text, s, eq);
        line.equals = eq;
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// Index of the header of the first section named `section`, or lines.size().
size_t FindSection(const std::vector<Line>& lines, const std::string& section) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].kind == LineKind::kSection && SameName(lines[i].name, section)) return i;
  return lines.size();
}

// One past the last line of the section whose header is at `header`.
size_t SectionEnd(const std::vector<Line>& lines, size_t header) {
  size_t i = header + 1;
  while (i < lines.size() && lines[i].kind != LineKind::kSection) ++i;
  return i;
}

size_t FindKey(const std::vector<Line>& lines, size_t header, size_t end, const std::string& key) {
  for (size_t i = header + 1; i < end; ++i)
    if (lines[i].kind == LineKind::kKey && SameName(lines[i].name, key)) return i;
  return end;
}

std::string ValueOf(const std::string& text, const Line& line) {
  std::string v = Trim(text, line.equals + 1, line.end);
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
    v = v.substr(1, v.size() - 2);
  return v;
}

bool HasLineEnd(const Line& line) { return line.next > line.end; }

}  // namespace

std::string TPortableIniFile::ReadString(const std::string& section, const std::string& key,
                                         const std::string& def) const {
  const size_t limit = kValueBufferSize - 1;
  std::string text;
  if (!ReadWholeFile(FileName(), text)) return CutToBuffer(def, limit);
  const std::vector<Line> lines = SplitLines(text);
  const size_t header = FindSection(lines, section);
  if (header == lines.size()) return CutToBuffer(def, limit);
  const size_t end = SectionEnd(lines, header);
  const size_t at = FindKey(lines, header, end, key);
  if (at == end) return CutToBuffer(def, limit);
  return CutToBuffer(ValueOf(text, lines[at]), limit);
}

void TPortableIniFile::WriteString(const std::string& section, const std::string& key,
                                   const std::string& value) {
  std::string text;
  if (!ReadWholeFile(FileName(), text)) {
    // A file that is there but cannot be read must not be replaced by one
    // holding only this key.
    if (FileExists(FileName())) ThrowWriteError();
    text.clear();
  }
  std::string v = value.substr(0, value.find_first_of(std::string("\r\n\0", 3)));

  const std::vector<Line> lines = SplitLines(text);
  const size_t header = FindSection(lines, section);
  std::string out;
  if (header == lines.size()) {
    out = text;
    if (!lines.empty() && !HasLineEnd(lines.back())) out += "\r\n";
    out += "[" + section + "]\r\n" + key + "=" + v + "\r\n";
  } else {
    const size_t end = SectionEnd(lines, header);
    const size_t at = FindKey(lines, header, end, key);
    if (at != end) {
      const Line& line = lines[at];
      out = text.substr(0, line.equals + 1) + v + text.substr(line.end);
    } else {
      // New keys go after the last non-blank line of their section, so
      // blank lines that separate it from the next section stay there.
      size_t last = header;
      for (size_t i = header + 1; i < end; ++i)
        if (!Trim(text, lines[i].begin, lines[i].end).empty()) last = i;
      const Line& line = lines[last];
      out = text.substr(0, line.next);
      if (!HasLineEnd(line)) out += "\r\n";
      out += key + "=" + v + "\r\n";
      out += text.substr(line.next);
    }
  }
  if (!ReplaceFileContents(FileName(), out)) ThrowWriteError();
}

}  // namespace tk
