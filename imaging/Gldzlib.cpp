#include "imaging/Gldzlib.h"

namespace orv {

bool TGLDInflater::Init(bool verifyChecksum) {
  End();
  stream_ = z_stream{};
  if (inflateInit(&stream_) != Z_OK) return false;
  active_ = true;
#if ZLIB_VERNUM >= 0x1290
  if (!verifyChecksum) inflateValidate(&stream_, 0);
#else
  (void)verifyChecksum;
#endif
  return true;
}

void TGLDInflater::End() {
  if (active_) inflateEnd(&stream_);
  active_ = false;
}

void TGLDInflater::SetInput(const uint8_t* data, size_t size) {
  stream_.next_in = const_cast<Bytef*>(data);
  stream_.avail_in = static_cast<uInt>(size);
}

long TGLDInflater::Inflate(uint8_t* out, size_t size, bool& ended) {
  stream_.next_out = out;
  stream_.avail_out = static_cast<uInt>(size);
  const int rc = inflate(&stream_, Z_NO_FLUSH);
  ended = rc == Z_STREAM_END;
  if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return -1;
  return static_cast<long>(size - stream_.avail_out);
}

bool TGLDDeflater::Init(int level, bool filteredRows) {
  End();
  stream_ = z_stream{};
  if (level < 0 || level > 9) level = Z_DEFAULT_COMPRESSION;
  // Filtered rows are small differences scattered over all values: zlib's
  // filtered strategy prefers literals there and compresses them better.
  const int strategy = filteredRows ? Z_FILTERED : Z_DEFAULT_STRATEGY;
  if (deflateInit2(&stream_, level, Z_DEFLATED, 15, 8, strategy) != Z_OK) return false;
  active_ = true;
  return true;
}

void TGLDDeflater::End() {
  if (active_) deflateEnd(&stream_);
  active_ = false;
}

void TGLDDeflater::SetOutput(uint8_t* out, size_t size) {
  stream_.next_out = out;
  stream_.avail_out = static_cast<uInt>(size);
}

bool TGLDDeflater::Deflate(const uint8_t* data, size_t size, bool finish, bool& done) {
  if (!active_) return false;
  if (data) {
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
  }
  const int rc = deflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
  done = rc == Z_STREAM_END;
  return rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR;
}

}  // namespace orv
