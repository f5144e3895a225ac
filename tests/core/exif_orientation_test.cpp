// Photos with an Exif Orientation tag decode upright; pictures without one,
// or with a damaged one, decode exactly as stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/ExifOrientation.h"
#include "imaging/JpegImage.h"
#include "imaging/PictureLoader.h"
#include "tests/core/jpeg_test_encoder.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Streams.h"

namespace {

using Bytes = std::vector<uint8_t>;
using orv::TJPEGImage;
using tk::TBitmap;

const std::string kDir = std::string(ORV_TEST_DATA_DIR) + "/exif/";

Bytes ReadFixture(const std::string& name) {
  tk::TMemoryStream file;
  file.LoadFromFile(kDir + name);
  return file.Data();
}

void Decode(const Bytes& file, TBitmap& out) {
  TJPEGImage jpeg;
  jpeg.LoadFromMemory(file.data(), file.size());
  jpeg.AssignTo(out);
}

// Same size, format and pixels (row padding is not compared).
::testing::AssertionResult SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure()
           << a.Width() << "x" << a.Height() << " vs " << b.Width() << "x" << b.Height();
  if (a.PixelFormat() != b.PixelFormat()) return ::testing::AssertionFailure() << "formats differ";
  const size_t rowBytes = size_t(a.Width()) * a.BitCount() / 8;
  for (int y = 0; y < a.Height(); ++y)
    for (size_t i = 0; i < rowBytes; ++i)
      if (a.ScanLine(y)[i] != b.ScanLine(y)[i])
        return ::testing::AssertionFailure()
               << "row " << y << " byte " << i << ": " << int(a.ScanLine(y)[i]) << " vs "
               << int(b.ScanLine(y)[i]);
  return ::testing::AssertionSuccess();
}

// Where the upright pixel (x, y) comes from in a picture stored w x h, as
// the Exif standard defines the eight values.
void StoredPosition(int o, int w, int h, int x, int y, int& sx, int& sy) {
  switch (o) {
    case 2:
      sx = w - 1 - x, sy = y;
      break;
    case 3:
      sx = w - 1 - x, sy = h - 1 - y;
      break;
    case 4:
      sx = x, sy = h - 1 - y;
      break;
    case 5:
      sx = y, sy = x;
      break;
    case 6:
      sx = y, sy = h - 1 - x;
      break;
    case 7:
      sx = w - 1 - y, sy = h - 1 - x;
      break;
    case 8:
      sx = w - 1 - y, sy = x;
      break;
    default:
      sx = x, sy = y;
      break;
  }
}

// Body bytes of an Exif APP1 (Orientation 6, little-endian unless said)
// with one change made.
Bytes Patched(std::initializer_list<std::pair<size_t, uint8_t>> changes, bool big = false) {
  Bytes b = jpegtest::ExifOrientationBody(6, big);
  for (const auto& c : changes) b[c.first] = c.second;
  return b;
}
Bytes Cut(size_t size) {
  Bytes b = jpegtest::ExifOrientationBody(6, false);
  b.resize(size);
  return b;
}

struct App1Case {
  const char* what;
  Bytes body;
  int expected;
};

// Offsets in the body: 0 "Exif\0\0", 6 byte order, 8 the number 42, 10 the
// offset of IFD0 (from 6), 14 its entry count, 16 tag, 18 type, 20 count,
// 24 value, 28 the offset of the next IFD.
std::vector<App1Case> Damaged() {
  return {
      {"not Exif", Patched({{5, 1}}), 0},
      {"unknown byte order", Patched({{7, 'M'}}), 0},
      {"not 42", Patched({{8, 43}}), 0},
      {"IFD0 inside the header", Patched({{10, 4}}), 0},
      {"IFD0 past the end", Patched({{10, 0x40}}), 0},
      {"IFD0 offset 0xFFFFFFFF", Patched({{10, 0xFF}, {11, 0xFF}, {12, 0xFF}, {13, 0xFF}}), 0},
      {"count past the end", Patched({{14, 2}}), 0},
      {"count 0xFFFF", Patched({{14, 0xFF}, {15, 0xFF}}), 0},
      {"wrong type", Patched({{18, 4}}), 0},
      {"two values", Patched({{20, 2}}), 0},
      {"count 2^32 - 1", Patched({{20, 0xFF}, {21, 0xFF}, {22, 0xFF}, {23, 0xFF}}), 0},
      {"value 0", Patched({{24, 0}}), 0},
      {"value 9", Patched({{24, 9}}), 0},
      {"value 0x0106", Patched({{25, 1}}), 0},
      {"cut inside the entry", Cut(27), 0},
      {"cut inside the TIFF header", Cut(12), 0},
      {"only the Exif name", Cut(6), 0},
      {"empty", Bytes(), 0},
  };
}

TEST(ExifOrientation, ReaderTakesIfd0OrientationAndIgnoresAnythingMalformed) {
  std::vector<App1Case> cases = Damaged();
  for (int v = 1; v <= 8; ++v) {
    cases.push_back({"little-endian", jpegtest::ExifOrientationBody(v, false), v});
    cases.push_back({"big-endian", jpegtest::ExifOrientationBody(v, true), v});
  }
  // Only IFD0 is read: a next-IFD offset that points back at IFD0, or one
  // missing at the end of the segment, does not matter.
  cases.push_back({"next IFD is IFD0 again", Patched({{28, 8}}), 6});
  cases.push_back({"no next-IFD offset", Cut(28), 6});
  cases.push_back({"big-endian value in the high byte", Patched({{24, 0}, {25, 3}}, true), 3});
  for (const App1Case& c : cases)
    EXPECT_EQ(orv::ExifOrientationFromApp1(c.body.data(), c.body.size()), c.expected)
        << c.what << " (expected " << c.expected << ")";
  EXPECT_EQ(orv::ExifOrientationFromApp1(nullptr, 100), 0);
}

// o1.jpg .. o8.jpg hold one 61 x 45 frame with distinct corners and the
// Orientation in their Exif segment; uprightN.bmp is what ImageMagick's
// -auto-orient made of them (tests/data/exif/make-fixtures.sh).
TEST(ExifOrientation, EachValueDecodesUprightExactlyAsImageMagickTurnsIt) {
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    const Bytes file = ReadFixture("o" + std::to_string(o) + ".jpg");
    TJPEGImage jpeg;
    jpeg.LoadFromMemory(file.data(), file.size());
    EXPECT_EQ(jpeg.Orientation(), o);
    EXPECT_EQ(jpeg.StoredWidth(), 61);
    EXPECT_EQ(jpeg.StoredHeight(), 45);
    // The size a search checks is known from the header alone.
    EXPECT_EQ(jpeg.Width(), o >= 5 ? 45 : 61);
    EXPECT_EQ(jpeg.Height(), o >= 5 ? 61 : 45);
    TBitmap decoded, reference;
    jpeg.AssignTo(decoded);
    reference.LoadFromFile(kDir + "upright" + std::to_string(o) + ".bmp");
    EXPECT_TRUE(SamePixels(decoded, reference));
  }
}

TEST(ExifOrientation, WithoutATagOrWithADamagedOneThePictureIsAsStored) {
  const Bytes plain = ReadFixture("corners.jpg");
  TBitmap stored;
  Decode(plain, stored);
  TBitmap reference;
  reference.LoadFromFile(kDir + "upright1.bmp");
  EXPECT_TRUE(SamePixels(stored, reference));

  std::vector<App1Case> cases = Damaged();
  cases.push_back({"XMP, not Exif", Bytes{'h', 't', 't', 'p', ':', '/', '/'}, 0});
  for (const App1Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes file = jpegtest::WithApp1(plain, c.body);
    TJPEGImage jpeg;
    ASSERT_NO_THROW(jpeg.LoadFromMemory(file.data(), file.size()));
    EXPECT_EQ(jpeg.Orientation(), 1);
    EXPECT_EQ(jpeg.Width(), 61);
    TBitmap decoded;
    ASSERT_NO_THROW(jpeg.AssignTo(decoded));
    EXPECT_TRUE(SamePixels(decoded, stored));
  }

  // The first Exif segment counts; others (XMP) before it are passed over.
  const Bytes xmpFirst = jpegtest::WithApp1(
      jpegtest::WithApp1(plain, jpegtest::ExifOrientationBody(8, true)), Bytes{'h', 't', 't', 'p'});
  TJPEGImage jpeg;
  jpeg.LoadFromMemory(xmpFirst.data(), xmpFirst.size());
  EXPECT_EQ(jpeg.Orientation(), 8);
}

// Gray and CMYK files take other row paths; tall enough for several bands
// of rows, and of a width whose rows are padded in the bitmap.
TEST(ExifOrientation, GrayAndCmykPicturesTurnToo) {
  const int w = 50, h = 75;
  jpegtest::Options gray;
  gray.input = JCS_GRAYSCALE;
  jpegtest::Options cmyk;
  cmyk.input = JCS_CMYK;
  for (const jpegtest::Options& opt : {gray, cmyk}) {
    const Bytes plain =
        jpegtest::Encode(w, h, jpegtest::Texture(w, h, jpegtest::ComponentsOf(opt.input)), opt);
    TBitmap stored;
    Decode(plain, stored);
    for (int o = 2; o <= 8; ++o) {
      SCOPED_TRACE("components " + std::to_string(jpegtest::ComponentsOf(opt.input)) +
                   ", orientation " + std::to_string(o));
      TBitmap turned;
      Decode(jpegtest::WithApp1(plain, jpegtest::ExifOrientationBody(o, o % 2 == 0)), turned);
      ASSERT_EQ(turned.Width(), o >= 5 ? h : w);
      ASSERT_EQ(turned.Height(), o >= 5 ? w : h);
      int wrong = 0;
      for (int y = 0; y < turned.Height(); ++y)
        for (int x = 0; x < turned.Width(); ++x) {
          int sx, sy;
          StoredPosition(o, w, h, x, y, sx, sy);
          for (int c = 0; c < 3; ++c)
            wrong += turned.ScanLine(y)[3 * x + c] != stored.ScanLine(sy)[3 * sx + c];
        }
      EXPECT_EQ(wrong, 0);
    }
  }
}

TEST(ExifOrientation, LoadPictureGivesTheUprightPicture) {
  tk::TStringList extensions;
  orv::FillPictureExtensions(extensions, ".bmp,.jpg,.jpeg,.png");
  TBitmap bmp;
  orv::LoadPicture(kDir + "o6.jpg", bmp, extensions, nullptr);
  TBitmap reference;
  reference.LoadFromFile(kDir + "upright6.bmp");
  EXPECT_TRUE(SamePixels(bmp, reference));
}

}  // namespace
