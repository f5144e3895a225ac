// Fuzz target of the JPEG path's Exif handling: any input must end in an
// Orientation of 0..8, a decoded picture or a toolkit error; never in a
// crash or a read outside a buffer. Each input is used three ways:
//   - as the body of an APP1 segment given to the Exif reader directly;
//   - as that segment in a small sound JPEG, decoded through TJPEGImage: a
//     picture is always given, upright by the reader's answer, and exactly
//     the stored picture when the reader found nothing;
//   - as a whole JPEG file (frames above 4 megapixels only have their
//     header read, so the time goes into parsing).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "imaging/ExifOrientation.h"
#include "tests/core/jpeg_test_encoder.h"
#include "imaging/JpegImage.h"
#include "toolkit/Exceptions.h"

namespace {

constexpr int kWidth = 24, kHeight = 40;

// A small sound file: three horizontal bands over a left-to-right ramp.
const std::vector<uint8_t>& Base() {
  static const std::vector<uint8_t> file = [] {
    std::vector<uint8_t> px;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        px.insert(px.end(), {uint8_t(y * 6), uint8_t(x * 10), uint8_t(y < kHeight / 2 ? 200 : 20)});
    return jpegtest::Encode(kWidth, kHeight, px);
  }();
  return file;
}

const tk::TBitmap& Stored() {
  static tk::TBitmap bmp;
  if (bmp.Empty()) {
    orv::TJPEGImage jpeg;
    jpeg.LoadFromMemory(Base().data(), Base().size());
    jpeg.AssignTo(bmp);
  }
  return bmp;
}

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "finding: %s\n", what);
  std::abort();
}

void AsApp1Segment(const uint8_t* data, size_t size) {
  const int found = orv::ExifOrientationFromApp1(data, size);
  if (found < 0 || found > 8) Finding("orientation out of range");
  const std::vector<uint8_t>& base = Base();
  std::vector<uint8_t> file(base.begin(), base.begin() + 2);
  file.insert(file.end(), {0xFF, 0xE1, uint8_t((size + 2) >> 8), uint8_t((size + 2) & 0xFF)});
  file.insert(file.end(), data, data + size);
  file.insert(file.end(), base.begin() + 2, base.end());

  orv::TJPEGImage jpeg;
  tk::TBitmap bmp;
  try {
    jpeg.LoadFromMemory(file.data(), file.size());
    jpeg.AssignTo(bmp);
  } catch (const tk::Exception&) {
    Finding("a picture with a hostile APP1 segment was rejected");
  }
  // Only a segment beginning "Exif\0\0" is read.
  const bool exif = size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0;
  const int expected = exif && found ? found : 1;
  if (jpeg.Orientation() != expected) Finding("orientation differs from the reader's");
  if (bmp.Width() != orv::UprightWidth(expected, kWidth, kHeight) ||
      bmp.Height() != orv::UprightHeight(expected, kWidth, kHeight))
    Finding("picture not of the upright size");
  if (expected == 1) {
    const tk::TBitmap& stored = Stored();
    for (int y = 0; y < kHeight; ++y)
      if (std::memcmp(bmp.ScanLine(y), stored.ScanLine(y), size_t(kWidth) * 3) != 0)
        Finding("picture without a valid orientation changed");
  }
}

void AsFile(const uint8_t* data, size_t size) {
  orv::TJPEGImage jpeg;
  try {
    jpeg.LoadFromMemory(data, size);
    if (int64_t(jpeg.StoredWidth()) * jpeg.StoredHeight() > 4 * 1000 * 1000) return;
    tk::TBitmap bmp;
    jpeg.AssignTo(bmp);
    if (!bmp.Empty() && (bmp.Width() != jpeg.Width() || bmp.Height() != jpeg.Height()))
      Finding("bitmap size differs from the image's");
    volatile uint8_t sink = 0;
    for (size_t i = 0; i < bmp.ImageSize(); ++i) sink = sink ^ bmp.Bits()[i];
    (void)sink;
  } catch (const tk::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size <= 0xFFFF - 2) AsApp1Segment(data, size);
  AsFile(data, size);
  return 0;
}
