// INI-file access in the private-profile manner: every call goes to the
// file, sections and keys are found without regard to ASCII case, and a
// missing file, section or key gives the caller's default.
#pragma once

#include <cstdint>
#include <string>

namespace tk {

class TCustomIniFile {
 public:
  // Values come back through a buffer of this size, terminator included.
  static constexpr size_t kValueBufferSize = 2048;

  explicit TCustomIniFile(std::string fileName) : file_name_(std::move(fileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  const std::string& FileName() const { return file_name_; }

  // At most kValueBufferSize - 1 bytes of the value come back.
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const = 0;
  // Throws EIniFileException ("%s に書き込めません", the file name) on failure.
  virtual void WriteString(const std::string& section, const std::string& key,
                           const std::string& value) = 0;

  // Decimal, or hexadecimal after "$", "0x" or "0X"; anything else gives
  // `def`.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  // Read as an integer, any non-zero value is true; written as "1" or "0".
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  void WriteBool(const std::string& section, const std::string& key, bool value);

 protected:
  [[noreturn]] void ThrowWriteError() const;

 private:
  std::string file_name_;
};

// A file-backed INI file that works the same on every platform. Lines it
// does not change are kept byte for byte; a write goes to a file beside the
// target which then replaces it, so a failed write leaves the old file.
//
// Reading follows the private-profile rules: blanks around section names,
// key names and values are ignored, a value wrapped in a pair of matching
// quotes loses them, lines starting with ';' are comments, the first
// matching section and key win. A value written is cut at the first line
// break, as a line break would end it in the file anyway.
class TPortableIniFile : public TCustomIniFile {
 public:
  using TCustomIniFile::TCustomIniFile;

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const override;
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;
};

}  // namespace tk
