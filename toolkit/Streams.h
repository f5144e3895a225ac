// Byte streams: a file stream over the C runtime and a memory stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tk {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes count bytes; returns how many were written.
  virtual size_t Write(const void* buffer, size_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t Size() = 0;
  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t p) { Seek(p, SeekOrigin::Beginning); }

  // Exactly count bytes or EReadError / EWriteError.
  void ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count);
  // A memory stream exposes its bytes so readers can work in place.
  virtual const uint8_t* Memory() const { return nullptr; }
};

enum class FileMode { OpenRead, Create };

class TFileStream : public TStream {
 public:
  // Throws EFOpenError / EFCreateError with the toolkit's texts.
  TFileStream(const std::string& path, FileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;

 private:
  FILE* file_ = nullptr;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  const uint8_t* Memory() const override { return data_.data(); }
  std::vector<uint8_t>& Data() { return data_; }
  void LoadFromFile(const std::string& path);  // EFOpenError

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

// A read-only view of bytes owned elsewhere.
class TBufferStream : public TStream {
 public:
  TBufferStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(size_); }
  const uint8_t* Memory() const override { return data_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace tk
