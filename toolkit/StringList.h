// Ordered list of 8-bit strings. Never sorted or de-duplicated on its own.
#pragma once

#include <string>
#include <vector>

namespace tk {

class TStringList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](int i) const { return items_[static_cast<size_t>(i)]; }
  std::string& operator[](int i) { return items_[static_cast<size_t>(i)]; }
  const std::vector<std::string>& Items() const { return items_; }

  void Add(std::string s) { items_.push_back(std::move(s)); }
  void AddStrings(const TStringList& other);
  void Insert(int index, std::string s);
  void Delete(int index);
  void Clear() { items_.clear(); }
  void Exchange(int i, int j);
  int IndexOf(const std::string& s) const;  // exact match, -1 when absent

  // Comma text: items end at a comma or at any character <= 32; leading
  // blanks/control characters are skipped; a leading double quote runs to
  // the matching quote (a doubled quote inside stands for one); two commas
  // in a row give an empty item.
  void SetCommaText(const std::string& text);
  std::string GetCommaText() const;

  // List-file text: split at CR LF, lone CR or lone LF; a last line without
  // a line end is an entry, a trailing line end adds none; a NUL byte ends
  // the text. GetText puts CR LF after every entry, the last one included.
  void SetText(const std::string& text);
  std::string GetText() const;

  // Throws EFOpenError when the file cannot be opened, EReadError on a read
  // failure.
  void LoadFromFile(const std::string& path);
  // Writes the whole list beside the target and then replaces the target,
  // so a failure part-way never destroys what was on disk. Throws
  // EFCreateError ("ファイル %s を作成できません") when it cannot.
  void SaveToFile(const std::string& path) const;

 private:
  std::vector<std::string> items_;
};

}  // namespace tk
