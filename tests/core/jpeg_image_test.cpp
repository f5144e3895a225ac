// JPEG decoding through TJPEGImage: colour spaces, progressive files,
// damaged and hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/AreaShrink.h"
#include "imaging/JpegImage.h"
#include "tests/core/jpeg_test_encoder.h"
#include "toolkit/Exceptions.h"

namespace {

using Bytes = std::vector<uint8_t>;
using orv::TJPEGImage;
using tk::TBitmap;

// libjpeg's own decode with the settings the program promises, top row
// first, RGB order.
Bytes ReferenceDecode(const Bytes& file, int& width, int& height) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_RGB;
  d.dct_method = JDCT_ISLOW;
  d.do_fancy_upsampling = TRUE;
  d.do_block_smoothing = TRUE;
  jpeg_start_decompress(&d);
  width = static_cast<int>(d.output_width);
  height = static_cast<int>(d.output_height);
  Bytes px(size_t(width) * height * 3);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = px.data() + size_t(d.output_scanline) * width * 3;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return px;
}

void Decode(const Bytes& file, TBitmap& out) {
  TJPEGImage jpeg;
  jpeg.LoadFromMemory(file.data(), file.size());
  jpeg.AssignTo(out);
}

void ExpectSameAsLibjpeg(const Bytes& file) {
  int w = 0, h = 0;
  const Bytes ref = ReferenceDecode(file, w, h);
  TBitmap bmp;
  Decode(file, bmp);
  ASSERT_EQ(bmp.PixelFormat(), tk::TPixelFormat::pf24bit);
  ASSERT_EQ(bmp.Width(), w);
  ASSERT_EQ(bmp.Height(), h);
  int mismatches = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const uint8_t* want = &ref[(size_t(y) * w + x) * 3];
      const uint8_t* got = row + x * 3;
      if (got[0] != want[2] || got[1] != want[1] || got[2] != want[0]) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Checks the four quadrants of jpegtest::QuadrantsRgb, sampled away from
// the edges where colours bleed.
void ExpectQuadrants(const TBitmap& bmp) {
  struct Probe {
    int x, y, r, g, b;
  };
  const int w = bmp.Width(), h = bmp.Height();
  const Probe probes[] = {{w / 4, h / 4, 255, 0, 0},
                          {3 * w / 4, h / 4, 0, 255, 0},
                          {w / 4, 3 * h / 4, 0, 0, 255},
                          {3 * w / 4, 3 * h / 4, 255, 255, 255}};
  for (const Probe& p : probes) {
    const uint8_t* px = bmp.ScanLine(p.y) + p.x * 3;
    EXPECT_NEAR(px[2], p.r, 12) << p.x << "," << p.y;
    EXPECT_NEAR(px[1], p.g, 12) << p.x << "," << p.y;
    EXPECT_NEAR(px[0], p.b, 12) << p.x << "," << p.y;
  }
}

// A bitmap that tells whether a failed decode touched it.
void MakeSentinel(TBitmap& bmp) {
  bmp.Allocate(tk::TPixelFormat::pf32bit, 2, 3);
  bmp.ScanLine(2)[5] = 0x5A;
}
void ExpectSentinel(const TBitmap& bmp) {
  ASSERT_EQ(bmp.PixelFormat(), tk::TPixelFormat::pf32bit);
  ASSERT_EQ(bmp.Width(), 2);
  ASSERT_EQ(bmp.Height(), 3);
  EXPECT_EQ(bmp.ScanLine(2)[5], 0x5A);
}

TEST(JpegDecode, ColourKeepsOrientationAndMatchesLibjpegExactly) {
  TBitmap bmp;
  Decode(jpegtest::Encode(32, 32, jpegtest::QuadrantsRgb(32, 32)), bmp);
  ExpectQuadrants(bmp);
  // Odd sizes and chroma subsampling: every pixel as libjpeg's accurate
  // decode gives it.
  ExpectSameAsLibjpeg(jpegtest::Encode(37, 23, jpegtest::Texture(37, 23, 3)));
  jpegtest::Options full;
  full.fullChroma = true;
  full.quality = 70;
  ExpectSameAsLibjpeg(jpegtest::Encode(17, 9, jpegtest::Texture(17, 9, 3), full));
}

TEST(JpegDecode, ProgressiveFiles) {
  jpegtest::Options o;
  o.progressive = true;
  TBitmap bmp;
  Decode(jpegtest::Encode(48, 32, jpegtest::QuadrantsRgb(48, 32), o), bmp);
  ExpectQuadrants(bmp);
  ExpectSameAsLibjpeg(jpegtest::Encode(41, 30, jpegtest::Texture(41, 30, 3), o));
}

TEST(JpegDecode, GrayscaleBecomesGray24Bit) {
  const int w = 24, h = 16;
  Bytes gray;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) gray.push_back(static_cast<uint8_t>(x * 10));
  jpegtest::Options o;
  o.input = JCS_GRAYSCALE;
  o.quality = 100;
  const Bytes file = jpegtest::Encode(w, h, gray, o);
  TJPEGImage jpeg;
  jpeg.LoadFromMemory(file.data(), file.size());
  EXPECT_EQ(jpeg.Components(), 1);
  TBitmap bmp;
  jpeg.AssignTo(bmp);
  ASSERT_EQ(bmp.PixelFormat(), tk::TPixelFormat::pf24bit);
  for (int y = 0; y < h; y += 5)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = bmp.ScanLine(y) + x * 3;
      EXPECT_EQ(p[0], p[1]);
      EXPECT_EQ(p[1], p[2]);
      EXPECT_NEAR(p[0], x * 10, 4) << x;
    }
}

// CMYK of the quadrant colours: red = M+Y, green = C+Y, blue = C+M,
// white = no ink. `inverted` stores them the way Adobe does (255 = none).
Bytes QuadrantsCmyk(int w, int h, bool inverted) {
  const Bytes rgb = jpegtest::QuadrantsRgb(w, h);
  Bytes cmyk;
  for (size_t i = 0; i < rgb.size(); i += 3) {
    const uint8_t ink[4] = {uint8_t(255 - rgb[i]), uint8_t(255 - rgb[i + 1]),
                            uint8_t(255 - rgb[i + 2]), 0};
    for (uint8_t v : ink) cmyk.push_back(inverted ? uint8_t(255 - v) : v);
  }
  return cmyk;
}

TEST(JpegDecode, CmykAndYcckGiveTheRightColours) {
  for (J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
    jpegtest::Options o;
    o.input = JCS_CMYK;
    o.stored = stored;
    o.quality = 100;
    const Bytes file = jpegtest::Encode(32, 32, QuadrantsCmyk(32, 32, true), o);
    TJPEGImage jpeg;
    jpeg.LoadFromMemory(file.data(), file.size());
    EXPECT_EQ(jpeg.Components(), 4);
    TBitmap bmp;
    jpeg.AssignTo(bmp);
    ASSERT_EQ(bmp.PixelFormat(), tk::TPixelFormat::pf24bit);
    ExpectQuadrants(bmp);
    // Shown smaller: the rows go through the shrink after their conversion.
    jpeg.AssignTo(bmp, 12, 12);
    ASSERT_EQ(bmp.Width(), 12);
    ExpectQuadrants(bmp);
  }
  // Without Adobe's marker the inks are taken as stored.
  jpegtest::Options plain;
  plain.input = JCS_CMYK;
  plain.adobeMarker = false;
  plain.quality = 100;
  TBitmap bmp;
  Decode(jpegtest::Encode(32, 32, QuadrantsCmyk(32, 32, false), plain), bmp);
  ExpectQuadrants(bmp);

  // Half ink: 255 * (1 - 0.5) * (1 - 0.5) on every channel.
  plain.adobeMarker = true;
  const Bytes grey(16 * 16 * 4, 128);
  Decode(jpegtest::Encode(16, 16, grey, plain), bmp);
  EXPECT_NEAR(bmp.ScanLine(8)[8 * 3], 64, 3);
}

TEST(JpegHeader, OnlyTheHeaderIsCheckedOnLoad) {
  const Bytes good = jpegtest::Encode(20, 10, jpegtest::Texture(20, 10, 3));
  const std::string path = testing::TempDir() + "jpeg_image_header.jpg";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(good.data(), 1, good.size(), f);
  std::fclose(f);
  TJPEGImage jpeg;
  jpeg.LoadFromFile(path);
  std::remove(path.c_str());
  EXPECT_EQ(jpeg.Width(), 20);
  EXPECT_EQ(jpeg.Height(), 10);

  // Rejected loads keep what was there.
  const char text[] = "GIF89a, not a JPEG at all";
  EXPECT_THROW(jpeg.LoadFromMemory(reinterpret_cast<const uint8_t*>(text), sizeof text),
               tk::EInvalidGraphic);
  EXPECT_THROW(jpeg.LoadFromMemory(good.data(), 0), tk::EInvalidGraphic);
  EXPECT_THROW(jpeg.LoadFromFile(testing::TempDir() + "no-such-picture.jpg"), tk::EFOpenError);
  EXPECT_EQ(jpeg.Width(), 20);
  TBitmap bmp;
  jpeg.AssignTo(bmp);
  EXPECT_EQ(bmp.Width(), 20);

  TJPEGImage empty;
  EXPECT_TRUE(empty.Empty());
  empty.AssignTo(bmp);
  EXPECT_TRUE(bmp.Empty());
}

// End of the first scan's entropy-coded data: the next marker that is not
// a stuffed byte or a restart marker.
size_t FirstScanEnd(const Bytes& f, size_t from) {
  for (size_t i = from; i + 1 < f.size(); ++i)
    if (f[i] == 0xFF && f[i + 1] != 0 && (f[i + 1] < 0xD0 || f[i + 1] > 0xD7)) return i;
  return f.size();
}

TEST(JpegDamage, TruncatedFilesFailInTheHeaderOrStillGiveAPicture) {
  for (bool progressive : {false, true}) {
    jpegtest::Options o;
    o.progressive = progressive;
    const Bytes full = jpegtest::Encode(64, 48, jpegtest::Texture(64, 48, 3), o);
    const size_t sos = jpegtest::FindMarker(full, 0xDA);
    const size_t dataStart = jpegtest::ScanDataStart(full);
    const size_t scanEnd = FirstScanEnd(full, dataStart);
    ASSERT_LT(dataStart, scanEnd);
    for (size_t n = 0; n < full.size(); n += 5) {
      const Bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
      TJPEGImage jpeg;
      if (n < sos + 2) {
        EXPECT_THROW(jpeg.LoadFromMemory(part.data(), part.size()), tk::EInvalidGraphic) << n;
        continue;
      }
      // Cut inside the scan header: libjpeg may or may not notice.
      if (n < dataStart) {
        try {
          jpeg.LoadFromMemory(part.data(), part.size());
        } catch (const tk::Exception&) {
        }
        continue;
      }
      jpeg.LoadFromMemory(part.data(), part.size());
      TBitmap bmp;
      MakeSentinel(bmp);
      try {
        jpeg.AssignTo(bmp);
      } catch (const tk::Exception& e) {
        // A later scan's header cut in half is an error libjpeg cannot
        // get past; data cut short are not.
        EXPECT_TRUE(progressive && n >= scanEnd) << n << ": " << e.Message();
        ExpectSentinel(bmp);
        continue;
      }
      EXPECT_EQ(bmp.Width(), 64);
      EXPECT_EQ(bmp.Height(), 48);
      if (n < scanEnd) {
        EXPECT_GT(jpeg.LastWarnings(), 0) << n;
      }
    }
  }
}

TEST(JpegDamage, FlippedBytesOnlyRaiseToolkitErrors) {
  jpegtest::Options o;
  for (bool progressive : {false, true}) {
    o.progressive = progressive;
    const Bytes good = jpegtest::Encode(24, 24, jpegtest::Texture(24, 24, 3), o);
    for (size_t at = 0; at < good.size(); at += progressive ? 3 : 2) {
      Bytes bad = good;
      bad[at] ^= 0xFF;
      TBitmap bmp;
      MakeSentinel(bmp);
      TJPEGImage jpeg;
      try {
        jpeg.LoadFromMemory(bad.data(), bad.size());
      } catch (const tk::Exception&) {
        EXPECT_TRUE(jpeg.Empty());
        continue;
      }
      try {
        jpeg.AssignTo(bmp);
        EXPECT_EQ(bmp.Width(), jpeg.Width()) << at;
      } catch (const tk::Exception&) {
        ExpectSentinel(bmp);
      }
    }
  }
}

TEST(JpegDamage, AbsurdSizeFailsBeforeAllocating) {
  Bytes file = jpegtest::Encode(16, 16, jpegtest::Texture(16, 16, 3));
  const size_t sof = jpegtest::FindMarker(file, 0xC0);
  ASSERT_LT(sof + 9, file.size());
  // Height and width fields of the frame header: 65000 x 65000.
  file[sof + 5] = file[sof + 7] = 0xFD;
  file[sof + 6] = file[sof + 8] = 0xE8;
  TJPEGImage jpeg;
  jpeg.LoadFromMemory(file.data(), file.size());
  EXPECT_EQ(jpeg.Width(), 65000);
  TBitmap bmp;
  MakeSentinel(bmp);
  EXPECT_THROW(jpeg.AssignTo(bmp), tk::EOutOfResources);
  ExpectSentinel(bmp);

  // A zero height (to come in a DNL marker) is refused with the header.
  file[sof + 5] = file[sof + 6] = 0;
  EXPECT_THROW(jpeg.LoadFromMemory(file.data(), file.size()), tk::EInvalidGraphic);
}

// A progressive file with its last scan repeated `repeats` times more.
Bytes WithRepeatedLastScan(const Bytes& good, int repeats) {
  size_t lastScan = 0;
  for (size_t i = 2; i + 1 < good.size(); ++i)
    if (good[i] == 0xFF && good[i + 1] == 0xDA) lastScan = i;
  EXPECT_GT(lastScan, 0u);
  const Bytes scan(good.begin() + static_cast<std::ptrdiff_t>(lastScan), good.end() - 2);
  Bytes f(good.begin(), good.end() - 2);
  for (int i = 0; i < repeats; ++i) f.insert(f.end(), scan.begin(), scan.end());
  f.insert(f.end(), {0xFF, 0xD9});
  return f;
}

TEST(JpegDamage, EndlessScansAreCutOff) {
  jpegtest::Options o;
  o.progressive = true;
  const Bytes good = jpegtest::Encode(16, 16, jpegtest::Texture(16, 16, 3), o);
  auto withRepeats = [&](int repeats) { return WithRepeatedLastScan(good, repeats); };
  // A few repeated refinement scans are only odd; thousands are an attack.
  TBitmap bmp;
  EXPECT_NO_THROW(Decode(withRepeats(5), bmp));
  MakeSentinel(bmp);
  EXPECT_THROW(Decode(withRepeats(1500), bmp), tk::EInvalidGraphic);
  ExpectSentinel(bmp);
}

// The work a progressive file may ask for is scans times frame size: a
// limit of 20 frames' worth takes the file with its own ten scans and a few
// odd repeats, not one that repeats a scan thirty times more.
TEST(JpegDamage, ScansTimesFrameSizeIsBounded) {
  jpegtest::Options o;
  o.progressive = true;
  const Bytes good = jpegtest::Encode(48, 32, jpegtest::Texture(48, 32, 3), o);
  auto withRepeats = [&](int repeats) { return WithRepeatedLastScan(good, repeats); };
  struct Case {
    int repeats;
    uint64_t limitFrames;
    bool decodes;
  } cases[] = {{0, 20, true}, {5, 20, true}, {30, 20, false}, {0, 5, false}, {30, 100, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.repeats << " repeats, " << c.limitFrames << " frames");
    const Bytes file = withRepeats(c.repeats);
    TJPEGImage jpeg;
    jpeg.LoadFromMemory(file.data(), file.size());
    jpeg.SetScanWorkLimit(c.limitFrames * 48 * 32);
    TBitmap bmp;
    MakeSentinel(bmp);
    if (c.decodes) {
      EXPECT_NO_THROW(jpeg.AssignTo(bmp));
      EXPECT_EQ(bmp.Width(), 48);
    } else {
      EXPECT_THROW(jpeg.AssignTo(bmp), tk::EInvalidGraphic);
      ExpectSentinel(bmp);
    }
  }
  // The default leaves ordinary progressive photos alone.
  TBitmap bmp;
  EXPECT_NO_THROW(Decode(withRepeats(5), bmp));
  EXPECT_GE(TJPEGImage::kDefaultScanWorkLimit / (uint64_t(178) << 20), 20u)
      << "room for twenty scans of the largest bitmap there may be";
}

// The eighth to decode at: the smallest whose (rounded-up) size still
// covers the size the picture is shown at, in both directions.
// Only 1, 2, 4 and 8 eighths: the smallest of them that covers the size.
TEST(JpegScale, TheSmallestFastEighthThatCoversTheShownSize) {
  struct Case {
    int w, h, fitW, fitH, eighths;
  } cases[] = {
      {6000, 4000, 1620, 1080, 4},  // 3:2 into 1920 x 1080: 3/8 would do, 4/8 is faster
      {12000, 8000, 1620, 1080, 2},
      {4000, 6000, 720, 1080, 2},   // portrait
      {2560, 1440, 1920, 1080, 8},  // 6/8 would do, full size is faster
      {3000, 2000, 1620, 1080, 8},  // 5/8 would do
      {6000, 4000, 6000, 4000, 8},  // not shrunk
      {6000, 4000, 750, 500, 1},    // exactly an eighth
      {6000, 4000, 751, 500, 2},    // a pixel more than an eighth
      {6000, 4000, 1500, 1000, 2},  // exactly a quarter
      {6000, 4000, 1501, 1000, 4},
      {6000, 4000, 3001, 2000, 8},  // a pixel more than a half
      {17, 9, 3, 2, 1},             // an eighth rounds up to 3 x 2
      {17, 9, 4, 2, 2},
      {16, 16, 2, 2, 1},
      {6000, 4000, 0, 0, 8},
      {0, 0, 10, 10, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " -> " << c.fitW << "x" << c.fitH);
    EXPECT_EQ(TJPEGImage::ScaleEighthsFor(c.w, c.h, c.fitW, c.fitH), c.eighths);
  }
}

TEST(JpegScale, FittingRoundsUpAndNeverEnlarges) {
  struct Case {
    int w, h, boxW, boxH, fitW, fitH;
  } cases[] = {
      {6000, 4000, 1920, 1080, 1620, 1080}, {4000, 6000, 1920, 1080, 720, 1080},
      {1000, 500, 1920, 1080, 1000, 500},   {3000, 1000, 1920, 1080, 1920, 640},
      {1001, 1000, 100, 100, 100, 100},     {999, 1000, 100, 100, 100, 100},
      {6000, 4000, 0, 0, 6000, 4000},
  };
  for (const Case& c : cases) {
    int fw = 0, fh = 0;
    TJPEGImage::FitInto(c.w, c.h, c.boxW, c.boxH, fw, fh);
    EXPECT_EQ(fw, c.fitW) << c.w << "x" << c.h;
    EXPECT_EQ(fh, c.fitH) << c.w << "x" << c.h;
  }
}

// A picture that is told apart from any turn or mirror of itself: red
// grows to the right, green downwards, blue along a slow wave; fine detail
// a few pixels across, as photos have.
Bytes Scene(int w, int h) {
  Bytes px;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double detail = 20 * std::sin(x * 0.9) * std::cos(y * 0.7);
      px.push_back(uint8_t(std::lround(std::clamp(30 + 190.0 * x / w + detail, 0.0, 255.0))));
      px.push_back(uint8_t(std::lround(std::clamp(20 + 200.0 * y / h - detail, 0.0, 255.0))));
      px.push_back(uint8_t(std::lround(128 + 100 * std::sin((x + 2 * y) * 0.05))));
    }
  return px;
}

// The full decode brought to w x h by the same area averaging: what the
// fitted decode stands in for.
void ShrinkFull(const TJPEGImage& jpeg, int w, int h, TBitmap& out) {
  TBitmap full;
  jpeg.AssignTo(full);
  out.Allocate(tk::TPixelFormat::pf24bit, w, h);
  orv::TAreaShrink shrink(full.Width(), full.Height(), w, h);
  for (int y = 0; y < full.Height(); ++y)
    if (const uint8_t* row = shrink.Push(full.ScanLine(y)))
      std::memcpy(out.ScanLine(shrink.RowsDone() - 1), row, size_t(w) * 3);
}

double MeanDifference(const TBitmap& a, const TBitmap& b) {
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int i = 0; i < a.Width() * 3; ++i) sum += std::abs(a.ScanLine(y)[i] - b.ScanLine(y)[i]);
  return sum / (double(a.Width()) * a.Height() * 3);
}

// Told the size it is shown at, a picture comes out at exactly that size,
// upright whatever its Exif Orientation, and alike to the full decode
// shrunk the same way, whether the size is an eighth of its own or not.
TEST(JpegScale, DecodedAtTheShownSizeUprightAndAlikeToTheFullDecodeShrunk) {
  const int w = 96, h = 64;
  const Bytes plain = jpegtest::Encode(w, h, Scene(w, h));
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const Bytes file =
        jpegtest::WithApp1(plain, jpegtest::ExifOrientationBody(orientation, false));
    TJPEGImage jpeg;
    jpeg.LoadFromMemory(file.data(), file.size());
    const int uw = jpeg.Width(), uh = jpeg.Height();
    // A quarter (an eighth's multiple), 30 % (between eighths), a pixel
    // less than its own size, and one side only.
    const int sizes[][2] = {{uw / 4, uh / 4}, {uw * 3 / 10, uh * 3 / 10}, {uw - 1, uh - 1},
                            {uw, uh / 2}};
    for (const auto& size : sizes) {
      SCOPED_TRACE(testing::Message() << "orientation " << orientation << ", " << size[0] << "x"
                                      << size[1]);
      TBitmap shown, reference;
      jpeg.AssignTo(shown, size[0], size[1]);
      ASSERT_EQ(shown.Width(), size[0]);
      ASSERT_EQ(shown.Height(), size[1]);
      ShrinkFull(jpeg, size[0], size[1], reference);
      EXPECT_LT(MeanDifference(shown, reference), 2.0);
    }
    // Asked for its own size or more: full size.
    TBitmap same;
    jpeg.AssignTo(same, uw * 2, uh * 2);
    EXPECT_EQ(same.Width(), uw);
    EXPECT_EQ(same.Height(), uh);
  }
}

// Borrowed bytes decode as copied ones do; a bad header is refused the
// same way and leaves the image as it was.
TEST(JpegHeader, BorrowedBytesAreReadWhereTheyLie) {
  const Bytes file = jpegtest::Encode(40, 30, Scene(40, 30));
  TJPEGImage copied, borrowed;
  copied.LoadFromMemory(file.data(), file.size());
  borrowed.LoadFromBorrowedMemory(file.data(), file.size());
  TBitmap a, b;
  copied.AssignTo(a, 20, 15);
  borrowed.AssignTo(b, 20, 15);
  ASSERT_EQ(b.Width(), 20);
  EXPECT_EQ(MeanDifference(a, b), 0.0);

  Bytes bad = file;
  bad[0] = 0;
  EXPECT_THROW(borrowed.LoadFromBorrowedMemory(bad.data(), bad.size()), tk::EInvalidGraphic);
  EXPECT_THROW(borrowed.LoadFromBorrowedMemory(nullptr, 0), tk::EInvalidGraphic);
  EXPECT_EQ(borrowed.Width(), 40);
  borrowed.AssignTo(b);
  EXPECT_EQ(b.Width(), 40);
}

TEST(JpegDamage, ErrorsWhileDecodingLeaveTheTargetAlone) {
  Bytes file = jpegtest::Encode(16, 16, jpegtest::Texture(16, 16, 3));
  const size_t dht = jpegtest::FindMarker(file, 0xC4);
  ASSERT_LT(dht + 21, file.size());
  // First table, the luminance DC one: code counts per length start at
  // dht + 5. Three 1-bit codes cannot exist; the total stays the same so
  // the header still parses.
  uint8_t* counts = &file[dht + 5];
  ASSERT_GE(counts[2], 3) << "unexpected table";
  counts[0] += 3;
  counts[2] -= 3;
  TJPEGImage jpeg;
  jpeg.LoadFromMemory(file.data(), file.size());
  TBitmap bmp;
  MakeSentinel(bmp);
  EXPECT_THROW(jpeg.AssignTo(bmp), tk::EInvalidGraphic);
  ExpectSentinel(bmp);
}

}  // namespace
