// What our picture plug-ins hand the Susie host: a bottom-up DIB of 24-bit
// BGR or 32-bit BGRA pixels (alpha straight, as the host takes any 32-bit
// picture), rows padded to four bytes. The format glue of each plug-in is
// portable and writes into a DibTarget; the Windows side allocates it as a
// movable memory block, tests and benchmarks as plain memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace orvspi {

// Result codes of the Susie interface's GetPicture, as our glue reports them.
enum class SpiResult : int {
  kOk = 0,
  kNotImplemented = -1,
  kAborted = 1,
  kUnknownFormat = 2,
  kBrokenData = 3,
  kNoMemory = 4,
  kMemoryError = 5,
  kFileReadError = 6,
  kInternalError = 8,
};

// The largest pixel block we hand over: the host refuses bitmaps above the
// same bound, and a picture it would refuse must not be decoded first.
constexpr uint64_t kMaxDibBytes = uint64_t(512) << 20;

struct DibLayout {
  int width = 0;
  int height = 0;
  int bitCount = 24;  // 24 or 32
  size_t rowBytes = 0;
  size_t pixelBytes = 0;
};

// The DIB of a picture `width` x `height` with or without alpha, or false
// when a dimension is not positive or its pixel block would pass
// kMaxDibBytes.
bool MakeDibLayout(int64_t width, int64_t height, bool alpha, DibLayout& layout);

// What GetPictureInfo tells of a picture: its upright size, and whether
// a decode gives 32-bit pixels.
struct PictureFacts {
  int width = 0, height = 0;
  bool alpha = false;
};

// Where the pixels go. Allocate returns layout.pixelBytes writable bytes, or
// null when the memory cannot be had; it is called at most once a decode.
class DibTarget {
 public:
  virtual ~DibTarget() = default;
  virtual uint8_t* Allocate(const DibLayout& layout) = 0;
};

// A DibTarget in plain memory (tests, benchmarks, fuzz targets).
class VectorDib : public DibTarget {
 public:
  uint8_t* Allocate(const DibLayout& layout) override;
  const DibLayout& Layout() const { return layout_; }
  const std::vector<uint8_t>& Pixels() const { return pixels_; }
  // Channel `c` (0 blue, 1 green, 2 red, 3 alpha) of pixel x, y (y = 0 is
  // the top row).
  uint8_t At(int x, int y, int c) const;

 private:
  DibLayout layout_;
  std::vector<uint8_t> pixels_;
};

// Copies `height` top-down rows of `width` pixels in R, G, B(, A) order from
// `src` (`srcStride` bytes apart) into the bottom-up DIB `dst`, turned
// upright by the Exif `orientation` (1..8; anything else is taken as 1).
// `layout` must be the DIB of the upright size, with alpha when `channels` is
// four.
void PutRgbRowsOriented(const uint8_t* src, ptrdiff_t srcStride, int width, int height,
                        int channels, int orientation, const DibLayout& layout, uint8_t* dst);

// The same for B, G, R(, A) pixels already in bottom-up DIB rows of
// `srcRowBytes` bytes.
void PutDibOriented(const uint8_t* src, size_t srcRowBytes, int width, int height, int channels,
                    int orientation, const DibLayout& layout, uint8_t* dst);

// Runs `decode` (which returns a SpiResult) and turns what it throws into
// the codes: no exception may leave a plug-in.
template <typename Decode>
SpiResult WithoutExceptions(Decode decode) {
  try {
    return decode();
  } catch (const std::bad_alloc&) {
    return SpiResult::kNoMemory;
  } catch (...) {
    return SpiResult::kInternalError;
  }
}

}  // namespace orvspi
