#include "toolkit/Streams.h"

#include <algorithm>
#include <cstring>

#include "toolkit/Exceptions.h"

namespace tk {

namespace {
int64_t ClampSeek(int64_t base, int64_t offset, int64_t size) {
  int64_t p = base + offset;
  return std::clamp<int64_t>(p, 0, std::max<int64_t>(size, p < 0 ? 0 : p));
}
int64_t Base(SeekOrigin origin, int64_t pos, int64_t size) {
  switch (origin) {
    case SeekOrigin::Beginning:
      return 0;
    case SeekOrigin::Current:
      return pos;
    case SeekOrigin::End:
      return size;
  }
  return 0;
}
}  // namespace

void TStream::ReadBuffer(void* buffer, size_t count) {
  if (count && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
  if (count && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

TFileStream::TFileStream(const std::string& path, FileMode mode) {
  file_ = std::fopen(path.c_str(), mode == FileMode::OpenRead ? "rb" : "wb");
  if (!file_) {
    if (mode == FileMode::OpenRead) throw EFOpenError(FileOpenErrorText(path));
    throw EFCreateError(FileCreateErrorText(path));
  }
}

TFileStream::~TFileStream() {
  if (file_) std::fclose(file_);
}

size_t TFileStream::Read(void* buffer, size_t count) { return std::fread(buffer, 1, count, file_); }

size_t TFileStream::Write(const void* buffer, size_t count) {
  return std::fwrite(buffer, 1, count, file_);
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  int whence = origin == SeekOrigin::Beginning ? SEEK_SET
               : origin == SeekOrigin::Current ? SEEK_CUR
                                               : SEEK_END;
#ifdef _WIN32
  _fseeki64(file_, offset, whence);
  return _ftelli64(file_);
#else
  fseeko(file_, offset, whence);
  return ftello(file_);
#endif
}

int64_t TFileStream::Size() {
  int64_t pos = Position();
  int64_t size = Seek(0, SeekOrigin::End);
  Seek(pos, SeekOrigin::Beginning);
  return size;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (pos_ >= data_.size()) return 0;
  size_t n = std::min(count, data_.size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (pos_ + count > data_.size()) data_.resize(pos_ + count);
  if (count) std::memcpy(data_.data() + pos_, buffer, count);
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = static_cast<size_t>(ClampSeek(Base(origin, pos_, Size()), offset, Size()));
  return static_cast<int64_t>(pos_);
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream f(path, FileMode::OpenRead);
  int64_t size = f.Size();
  data_.resize(static_cast<size_t>(size));
  f.ReadBuffer(data_.data(), data_.size());
  pos_ = 0;
}

size_t TBufferStream::Read(void* buffer, size_t count) {
  if (pos_ >= size_) return 0;
  size_t n = std::min(count, size_ - pos_);
  std::memcpy(buffer, data_ + pos_, n);
  pos_ += n;
  return n;
}

int64_t TBufferStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t p = Base(origin, pos_, Size()) + offset;
  pos_ = static_cast<size_t>(std::clamp<int64_t>(p, 0, Size()));
  return static_cast<int64_t>(pos_);
}

}  // namespace tk
