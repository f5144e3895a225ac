// Scoped zlib streams for the PNG codec: the state is released on every
// path, also when a row raises.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zlib.h>

namespace orv {

class TGLDInflater {
 public:
  TGLDInflater() = default;
  ~TGLDInflater() { End(); }
  TGLDInflater(const TGLDInflater&) = delete;
  TGLDInflater& operator=(const TGLDInflater&) = delete;

  // False when zlib cannot set up the state. The adler-32 checksum is not
  // verified (PNG readers take corrupt data as it comes) unless asked.
  bool Init(bool verifyChecksum = false);
  void End();
  bool Active() const { return active_; }

  void SetInput(const uint8_t* data, size_t size);
  bool HasInput() const { return stream_.avail_in != 0; }
  // Inflates into out[0..size); returns the bytes produced, or -1 on a
  // data error. `ended` is set when the zlib stream is complete.
  long Inflate(uint8_t* out, size_t size, bool& ended);

 private:
  z_stream stream_{};
  bool active_ = false;
};

class TGLDDeflater {
 public:
  TGLDDeflater() = default;
  ~TGLDDeflater() { End(); }
  TGLDDeflater(const TGLDDeflater&) = delete;
  TGLDDeflater& operator=(const TGLDDeflater&) = delete;

  // level 0..9, anything else the zlib default; `filteredRows` when the
  // rows are filtered (not all filter type None).
  bool Init(int level, bool filteredRows);
  void End();
  bool Active() const { return active_; }

  // Deflates input into the output window; `finish` ends the stream.
  // Returns false on a zlib error. After the call NeedOutput() tells
  // whether the output window is full.
  void SetOutput(uint8_t* out, size_t size);
  size_t OutputLeft() const { return stream_.avail_out; }
  bool Deflate(const uint8_t* data, size_t size, bool finish, bool& done);
  // For the loop: input not consumed yet.
  size_t InputLeft() const { return stream_.avail_in; }

 private:
  z_stream stream_{};
  bool active_ = false;
};

}  // namespace orv
