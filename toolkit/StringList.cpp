#include "toolkit/StringList.h"

#include <algorithm>

#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"

namespace tk {

void TStringList::AddStrings(const TStringList& other) {
  items_.insert(items_.end(), other.items_.begin(), other.items_.end());
}

void TStringList::Insert(int index, std::string s) {
  index = std::clamp(index, 0, Count());
  items_.insert(items_.begin() + index, std::move(s));
}

void TStringList::Delete(int index) {
  if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
}

void TStringList::Exchange(int i, int j) {
  std::swap(items_.at(static_cast<size_t>(i)), items_.at(static_cast<size_t>(j)));
}

int TStringList::IndexOf(const std::string& s) const {
  auto it = std::find(items_.begin(), items_.end(), s);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TStringList::SetCommaText(const std::string& text) {
  items_.clear();
  const auto at = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && at(i) <= ' ') ++i;
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
      // Text after the closing quote up to the separator belongs to the item.
      while (i < n && at(i) > ' ' && text[i] != ',') item += text[i++];
    } else {
      while (i < n && at(i) > ' ' && text[i] != ',') item += text[i++];
    }
    items_.push_back(std::move(item));
    while (i < n && at(i) <= ' ') ++i;
    if (i < n && text[i] == ',') {
      ++i;
      // A comma at the very end still ends an (empty) item.
      size_t j = i;
      while (j < n && at(j) <= ' ') ++j;
      if (j >= n) {
        items_.emplace_back();
        break;
      }
      i = j;
    }
  }
}

std::string TStringList::GetCommaText() const {
  std::string out;
  for (size_t k = 0; k < items_.size(); ++k) {
    if (k) out += ',';
    const std::string& s = items_[k];
    bool quote = s.empty();
    for (unsigned char c : s)
      if (c <= ' ' || c == ',' || c == '"') quote = true;
    if (!quote) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

void TStringList::SetText(const std::string& text) {
  items_.clear();
  size_t end = text.find('\0');
  if (end == std::string::npos) end = text.size();
  size_t start = 0;
  while (start < end) {
    size_t i = start;
    while (i < end && text[i] != '\r' && text[i] != '\n') ++i;
    items_.emplace_back(text, start, i - start);
    if (i < end) i += (text[i] == '\r' && i + 1 < end && text[i + 1] == '\n') ? 2 : 1;
    start = i;
  }
}

std::string TStringList::GetText() const {
  std::string out;
  for (const std::string& s : items_) {
    out += s;
    out += "\r\n";
  }
  return out;
}

void TStringList::LoadFromFile(const std::string& path) {
  std::string data;
  if (!ReadWholeFile(path, data)) throw EFOpenError(FileOpenErrorText(path));
  SetText(data);
}

void TStringList::SaveToFile(const std::string& path) const {
  if (!ReplaceFileContents(path, GetText())) throw EFCreateError(FileCreateErrorText(path));
}

}  // namespace tk
