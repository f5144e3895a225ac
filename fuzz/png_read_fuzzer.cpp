// Fuzz target of the PNG reader: any input must end in a decoded picture,
// an EGLDPNG, a toolkit error or a quiet stop; never in a crash or a read
// outside a buffer. Each input is read twice: in place from memory and
// through the buffered path of a non-memory stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/Gldpng.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Streams.h"

namespace {

// Hides Memory() so the reader takes its buffered path.
class OpaqueStream : public tk::TStream {
 public:
  OpaqueStream(const uint8_t* data, size_t size) : inner_(data, size) {}
  size_t Read(void* buffer, size_t count) override { return inner_.Read(buffer, count); }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, tk::SeekOrigin origin) override {
    return inner_.Seek(offset, origin);
  }
  int64_t Size() override { return inner_.Size(); }

 private:
  tk::TBufferStream inner_;
};

void Decode(tk::TStream& stream, bool reduced) {
  orv::TGLDPNG png;
  png.Reduced16Bit = reduced;
  png.Password = "x";
  png.OnDecode = [](orv::TGLDPNG&, uint8_t* row, int len, int, const std::string&) {
    for (int i = 0; i < len; ++i) row[i] ^= 0x5A;
  };
  try {
    png.LoadFromStream(stream);
  } catch (const tk::Exception&) {
    return;
  }
  // Touch every decoded byte so a short row or a stale pointer shows up.
  const tk::TBitmap& image = png.GetImage();
  volatile uint8_t sink = 0;
  if (!image.Empty())
    for (size_t i = 0; i < image.ImageSize(); ++i) sink = sink ^ image.Bits()[i];
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Bound what one input may make the reader allocate by the bytes of its
  // rows, not by its pixels: a 1-bit picture 2^30 pixels wide is 128 MiB
  // of rows and must stay reachable, since that is where memory faults of
  // wide pictures show.
  if (size >= 26 && std::memcmp(data + 12, "IHDR", 4) == 0) {
    const uint32_t w = (uint32_t(data[16]) << 24) | (uint32_t(data[17]) << 16) |
                       (uint32_t(data[18]) << 8) | data[19];
    const uint32_t h = (uint32_t(data[20]) << 24) | (uint32_t(data[21]) << 16) |
                       (uint32_t(data[22]) << 8) | data[23];
    const uint32_t depth = data[24];
    const uint8_t type = data[25];
    const uint32_t channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : type == 0 || type == 3 ? 1 : 4;
    const uint64_t rowBytes = (uint64_t(w) * std::min<uint32_t>(depth, 16) * channels + 7) / 8;
    if (rowBytes * h > (uint64_t(1) << 27) + (uint64_t(1) << 20)) return 0;
  }
  tk::TBufferStream memory(data, size);
  Decode(memory, false);
  OpaqueStream opaque(data, size);
  Decode(opaque, size & 1);
  return 0;
}
