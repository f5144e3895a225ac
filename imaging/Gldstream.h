// Buffered byte source and sink of the picture codecs.
//
// The reader works over the bytes from the stream's position to its end.
// A memory stream is read in place; any other stream through a 64 KiB
// buffer. Reading past the available bytes sets the end-of-data flag and a
// zero-byte request the stop flag; afterwards every read yields nothing
// (or the value 0), so callers can test the flags once per chunk rather
// than after every byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "toolkit/Streams.h"

namespace orv {

class TGLDCustomReadStream {
 public:
  static constexpr size_t kBufferSize = 65536;

  TGLDCustomReadStream() = default;
  virtual ~TGLDCustomReadStream() = default;
  TGLDCustomReadStream(const TGLDCustomReadStream&) = delete;
  TGLDCustomReadStream& operator=(const TGLDCustomReadStream&) = delete;

  // Starts reading `stream` at its current position.
  void Attach(tk::TStream& stream);
  // Positions the stream just after the last byte consumed.
  void Detach();

  int64_t Available() const { return available_; }
  int64_t Consumed() const { return consumed_; }
  int64_t Remaining() const { return available_ - consumed_; }
  bool Stopped() const { return stopped_; }
  bool AtEnd() const { return eod_; }
  bool Halted() const { return stopped_ || eod_; }

  // Copies `count` bytes; returns false (and sets a flag) when it cannot.
  bool ReadBytes(void* out, size_t count);
  uint8_t ReadByte();
  uint16_t ReadBE16();
  uint32_t ReadBE32();
  // Drops `count` bytes; past the end sets the end-of-data flag.
  void Skip(int64_t count);
  // Up to `max` contiguous bytes without copying; advances past them. The
  // span stays valid until the next read. Returns 0 at the end.
  size_t ReadSpan(const uint8_t** data, size_t max);

 private:
  bool Fill();

  tk::TStream* stream_ = nullptr;
  int64_t start_ = 0;
  int64_t available_ = 0;
  int64_t consumed_ = 0;
  bool stopped_ = false;
  bool eod_ = false;
  // In place over memory, or a window of the buffer.
  const uint8_t* memory_ = nullptr;
  std::unique_ptr<uint8_t[]> buffer_;
  const uint8_t* cur_ = nullptr;
  const uint8_t* end_ = nullptr;
  // Stream offset (from start_) of the byte at end_.
  int64_t fetched_ = 0;
};

// Progress stages as the toolkit's graphic progress events know them.
enum class TProgressStage { psStarting, psRunning, psEnding };
using TGLDProgressEvent = std::function<void(TProgressStage stage, int percent)>;

class TGLDCustomGraphicReadStream : public TGLDCustomReadStream {
 public:
  TGLDProgressEvent OnProgress;

 protected:
  // Sends an event only when the percentage grows (and always for the
  // starting and ending stages).
  void Progress(TProgressStage stage, int percent);

 private:
  int last_percent_ = -1;
};

// Buffered big-endian writer: 64 KiB blocks; a single write of 65,520
// bytes or more goes straight to the stream.
class TGLDCustomWriteStream {
 public:
  static constexpr size_t kBufferSize = 65536;
  static constexpr size_t kDirectWrite = 65520;

  TGLDCustomWriteStream() = default;
  virtual ~TGLDCustomWriteStream() = default;
  TGLDCustomWriteStream(const TGLDCustomWriteStream&) = delete;
  TGLDCustomWriteStream& operator=(const TGLDCustomWriteStream&) = delete;

  void Attach(tk::TStream& stream);
  // Writes out what is buffered (EWriteError when the stream refuses).
  void Flush();

  void WriteBytes(const void* data, size_t count);
  void WriteByte(uint8_t v) { WriteBytes(&v, 1); }
  void WriteBE16(uint16_t v);
  void WriteBE32(uint32_t v);

 private:
  tk::TStream* stream_ = nullptr;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
};

class TGLDCustomGraphicWriteStream : public TGLDCustomWriteStream {};

}  // namespace orv
