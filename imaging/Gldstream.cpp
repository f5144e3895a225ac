#include "imaging/Gldstream.h"

#include <algorithm>
#include <cstring>

#include "toolkit/Exceptions.h"

namespace orv {

void TGLDCustomReadStream::Attach(tk::TStream& stream) {
  stream_ = &stream;
  start_ = stream.Position();
  const int64_t size = stream.Size();
  available_ = size > start_ ? size - start_ : 0;
  consumed_ = 0;
  stopped_ = eod_ = false;
  fetched_ = 0;
  if (const uint8_t* mem = stream.Memory()) {
    memory_ = mem + start_;
    cur_ = memory_;
    end_ = memory_ + available_;
    fetched_ = available_;
  } else {
    memory_ = nullptr;
    if (!buffer_) buffer_.reset(new uint8_t[kBufferSize]);
    cur_ = end_ = buffer_.get();
  }
}

void TGLDCustomReadStream::Detach() {
  if (!stream_) return;
  stream_->SetPosition(start_ + consumed_);
  stream_ = nullptr;
}

bool TGLDCustomReadStream::Fill() {
  if (memory_ || !stream_) return false;
  const int64_t left = available_ - fetched_;
  if (left <= 0) return false;
  const size_t want = static_cast<size_t>(std::min<int64_t>(left, kBufferSize));
  const size_t got = stream_->Read(buffer_.get(), want);
  if (got == 0) {
    // The stream is shorter than it claimed: treat the rest as absent.
    available_ = fetched_;
    return false;
  }
  cur_ = buffer_.get();
  end_ = cur_ + got;
  fetched_ += static_cast<int64_t>(got);
  return true;
}

bool TGLDCustomReadStream::ReadBytes(void* out, size_t count) {
  if (Halted()) return false;
  if (count == 0) {
    stopped_ = true;
    return false;
  }
  uint8_t* dst = static_cast<uint8_t*>(out);
  while (count > 0) {
    if (cur_ == end_ && !Fill()) {
      eod_ = true;
      return false;
    }
    const size_t n = std::min(count, static_cast<size_t>(end_ - cur_));
    std::memcpy(dst, cur_, n);
    cur_ += n;
    dst += n;
    count -= n;
    consumed_ += static_cast<int64_t>(n);
  }
  return true;
}

uint8_t TGLDCustomReadStream::ReadByte() {
  if (!Halted() && cur_ != end_) {
    ++consumed_;
    return *cur_++;
  }
  uint8_t v = 0;
  return ReadBytes(&v, 1) ? v : 0;
}

uint16_t TGLDCustomReadStream::ReadBE16() {
  uint8_t b[2];
  if (!ReadBytes(b, 2)) return 0;
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TGLDCustomReadStream::ReadBE32() {
  uint8_t b[4];
  if (!ReadBytes(b, 4)) return 0;
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

void TGLDCustomReadStream::Skip(int64_t count) {
  if (Halted() || count <= 0) return;
  if (count > Remaining()) {
    consumed_ = available_;
    cur_ = end_;
    eod_ = true;
    return;
  }
  const int64_t inBuffer = end_ - cur_;
  if (count <= inBuffer) {
    cur_ += count;
  } else {
    // Past the buffered window: move the stream rather than read through.
    const int64_t target = consumed_ + count;
    stream_->SetPosition(start_ + target);
    fetched_ = target;
    cur_ = end_ = buffer_.get();
  }
  consumed_ += count;
}

size_t TGLDCustomReadStream::ReadSpan(const uint8_t** data, size_t max) {
  if (Halted() || max == 0) return 0;
  if (cur_ == end_ && !Fill()) {
    eod_ = true;
    return 0;
  }
  const size_t n = std::min(max, static_cast<size_t>(end_ - cur_));
  *data = cur_;
  cur_ += n;
  consumed_ += static_cast<int64_t>(n);
  return n;
}

void TGLDCustomGraphicReadStream::Progress(TProgressStage stage, int percent) {
  if (stage == TProgressStage::psRunning && percent <= last_percent_) return;
  last_percent_ = percent;
  if (OnProgress) OnProgress(stage, percent);
}

void TGLDCustomWriteStream::Attach(tk::TStream& stream) {
  stream_ = &stream;
  used_ = 0;
  if (!buffer_) buffer_.reset(new uint8_t[kBufferSize]);
}

void TGLDCustomWriteStream::Flush() {
  if (used_ == 0 || !stream_) return;
  const size_t n = used_;
  used_ = 0;
  stream_->WriteBuffer(buffer_.get(), n);
}

void TGLDCustomWriteStream::WriteBytes(const void* data, size_t count) {
  const uint8_t* src = static_cast<const uint8_t*>(data);
  if (count >= kDirectWrite) {
    Flush();
    stream_->WriteBuffer(src, count);
    return;
  }
  while (count > 0) {
    if (used_ == kBufferSize) Flush();
    const size_t n = std::min(count, kBufferSize - used_);
    std::memcpy(buffer_.get() + used_, src, n);
    used_ += n;
    src += n;
    count -= n;
  }
}

void TGLDCustomWriteStream::WriteBE16(uint16_t v) {
  const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
  WriteBytes(b, 2);
}

void TGLDCustomWriteStream::WriteBE32(uint32_t v) {
  const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  WriteBytes(b, 4);
}

}  // namespace orv
