// Random access to the bytes of a picture file, for the header readers that
// answer GetPictureInfo: they read a few boxes or chunks of a file and skip
// the rest, so a 4 MB photo is sized from a few kilobytes. The Windows side
// reads the open file; tests and the in-memory form of the call read a
// buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvspi {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads `n` bytes at `offset` into `out`; false when the file does not
  // hold all of them or cannot be read.
  virtual bool Read(uint64_t offset, size_t n, uint8_t* out) = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, size_t n, uint8_t* out) override {
    if (offset > size_ || n > size_ - offset) return false;
    if (n) std::memcpy(out, data_ + offset, n);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace orvspi
