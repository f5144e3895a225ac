// The portable format glue of our HEIC/HEIF, AVIF and WebP plug-ins, over
// the build machine's libheif and libwebp: which files each plug-in takes,
// the DIB it hands back, turns, and refusals of broken and oversized
// pictures. The pictures come from make-photo-samples.sh (fixture
// photo_samples); their pixels are compared with Debian's reference
// decoders in the Windows tests (check-photo.sh).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "plugins/common/SusieDib.h"
#include "plugins/common/SusiePlugin.h"
#include "plugins/heif/HeifFormat.h"
#include "plugins/webp/WebpFormat.h"

namespace orvspi {
namespace {

std::vector<uint8_t> ReadSample(const std::string& name) {
  std::ifstream in(std::string(ORV_PHOTO_SAMPLES) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// An ftyp box of the given brands (major first, then the compatible ones).
std::vector<uint8_t> Ftyp(const std::vector<std::string>& brands, uint32_t declaredSize = 0) {
  std::string body = brands.at(0) + std::string("\0\0\0\0", 4);
  for (size_t i = 1; i < brands.size(); ++i) body += brands[i];
  const uint32_t size = declaredSize ? declaredSize : uint32_t(body.size() + 8);
  std::string box = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
  box += "ftyp" + body;
  box.resize(box.size() + 64, '\0');  // the rest of the file
  return Bytes(box);
}

// Counts allocations, so a test can tell that a refused picture took none.
class CountingDib : public VectorDib {
 public:
  uint8_t* Allocate(const DibLayout& layout) override {
    ++calls;
    return VectorDib::Allocate(layout);
  }
  int calls = 0;
};

TEST(PhotoSniff, HeifFamiliesFromBrands) {
  struct Case {
    std::vector<std::string> brands;
    HeifFamily want;
  } cases[] = {
      {{"heic", "mif1", "heic"}, HeifFamily::kHevc},
      {{"heix"}, HeifFamily::kHevc},
      {{"hevc", "msf1"}, HeifFamily::kHevc},
      {{"mif1", "heic"}, HeifFamily::kHevc},
      {{"mif1"}, HeifFamily::kHevc},  // plain HEIF goes to the HEIC plug-in
      {{"avif", "mif1", "miaf"}, HeifFamily::kAv1},
      {{"avis", "msf1"}, HeifFamily::kAv1},
      {{"mif1", "avif", "miaf"}, HeifFamily::kAv1},
      {{"mif1", "heic", "avif"}, HeifFamily::kAv1},  // AV1 wins among the compatible
      {{"heic", "avif"}, HeifFamily::kHevc},         // the major brand decides first
      {{"isom", "mp41"}, HeifFamily::kNone},         // an MP4 video
      {{"qt  "}, HeifFamily::kNone},
  };
  for (const Case& c : cases) {
    const auto data = Ftyp(c.brands);
    EXPECT_EQ(SniffHeif(data.data(), data.size()), c.want) << c.brands[0];
  }
}

TEST(PhotoSniff, UnsoundFtypBoxesAreNotHeif) {
  const std::vector<uint8_t> sizeOne = Ftyp({"heic"}, 1);  // a 64-bit size follows
  std::vector<uint8_t> toEnd = Ftyp({"heic"});             // size 0: "to the end of the file"
  toEnd[0] = toEnd[1] = toEnd[2] = toEnd[3] = 0;
  const std::vector<uint8_t> tooShort = Ftyp({"heic"}, 12);
  std::vector<uint8_t> notFtyp = Ftyp({"heic"});
  std::memcpy(notFtyp.data() + 4, "moov", 4);
  for (const std::vector<uint8_t>& d : {sizeOne, toEnd, tooShort, notFtyp}) {
    EXPECT_EQ(SniffHeif(d.data(), d.size()), HeifFamily::kNone);
  }
  const auto good = Ftyp({"heic"});
  EXPECT_EQ(SniffHeif(good.data(), 15), HeifFamily::kNone);
  EXPECT_EQ(SniffHeif(nullptr, 100), HeifFamily::kNone);
  // Compatible brands past the box's own size are not read.
  auto cut = Ftyp({"mp41", "avif"});
  cut[3] = 16;
  EXPECT_EQ(SniffHeif(cut.data(), cut.size()), HeifFamily::kNone);
}

TEST(PhotoSniff, WebpNeedsRiffAndWebp) {
  struct Case {
    std::string head;
    bool want;
  } cases[] = {
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), true},
      {std::string("RIFF\x10\0\0\0WAVEfmt ", 16), false},
      {std::string("RIFX\x10\0\0\0WEBPVP8 ", 16), false},
      {std::string("RIFF\x10\0\0\0WEB", 11), false},
  };
  for (const Case& c : cases) {
    const auto data = Bytes(c.head);
    EXPECT_EQ(SniffWebp(data.data(), data.size()), c.want) << c.head.substr(8);
  }
  EXPECT_FALSE(SniffWebp(nullptr, 16));
}

TEST(PhotoDib, LayoutPadsRowsAndKeepsTheHostLimit) {
  struct Case {
    int64_t w, h;
    bool alpha, ok;
    size_t rowBytes;
  } cases[] = {
      {1, 1, false, true, 4},           {3, 1, false, true, 12},
      {5, 2, false, true, 16},          {5, 2, true, true, 20},
      {0, 5, false, false, 0},          {5, 0, true, false, 0},
      {-3, 4, false, false, 0},         {int64_t(1) << 40, 1, false, false, 0},
      {16384, 8192, true, true, 65536},  // exactly 512 MiB
      {16384, 8193, true, false, 0},     // one row beyond
      {16384, 16384, false, false, 0},   // a lossless WebP's largest: 768 MiB
  };
  for (const Case& c : cases) {
    DibLayout layout;
    ASSERT_EQ(MakeDibLayout(c.w, c.h, c.alpha, layout), c.ok) << c.w << "x" << c.h;
    if (!c.ok) continue;
    EXPECT_EQ(layout.rowBytes, c.rowBytes);
    EXPECT_EQ(layout.pixelBytes, c.rowBytes * size_t(c.h));
    EXPECT_EQ(layout.bitCount, c.alpha ? 32 : 24);
  }
}

// Stored 3 x 2 picture "abc/def"; each case lists the upright rows.
TEST(PhotoDib, OrientationsTurnAndMirrorLikeExif) {
  struct Case {
    int orientation;
    std::vector<std::string> rows;
  } cases[] = {
      {1, {"abc", "def"}},     {2, {"cba", "fed"}},     {3, {"fed", "cba"}},
      {4, {"def", "abc"}},     {5, {"ad", "be", "cf"}}, {6, {"da", "eb", "fc"}},
      {7, {"fc", "eb", "da"}}, {8, {"cf", "be", "ad"}}, {0, {"abc", "def"}},
      {9, {"abc", "def"}},
  };
  const std::string stored = "abcdef";
  for (int channels : {3, 4}) {
    // R = letter, G = letter + 1, B = letter + 2, A = letter + 3.
    std::vector<uint8_t> rgb;
    for (char ch : stored) {
      for (int c = 0; c < channels; ++c) rgb.push_back(uint8_t(ch + c));
    }
    for (const Case& c : cases) {
      const int w = int(c.rows[0].size()), h = int(c.rows.size());
      DibLayout layout;
      ASSERT_TRUE(MakeDibLayout(w, h, channels == 4, layout));
      std::vector<uint8_t> dib(layout.pixelBytes, 0);
      PutRgbRowsOriented(rgb.data(), 3 * channels, 3, 2, channels, c.orientation, layout, dib.data());
      // The same picture already as a DIB (B, G, R order, bottom-up).
      DibLayout storedLayout;
      ASSERT_TRUE(MakeDibLayout(3, 2, channels == 4, storedLayout));
      std::vector<uint8_t> storedDib(storedLayout.pixelBytes, 0);
      PutRgbRowsOriented(rgb.data(), 3 * channels, 3, 2, channels, 1, storedLayout, storedDib.data());
      std::vector<uint8_t> fromDib(layout.pixelBytes, 0);
      PutDibOriented(storedDib.data(), storedLayout.rowBytes, 3, 2, channels, c.orientation, layout,
                     fromDib.data());
      EXPECT_EQ(fromDib, dib) << "orientation " << c.orientation;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const uint8_t* px = dib.data() + size_t(h - 1 - y) * layout.rowBytes + size_t(x * channels);
          const char want = c.rows[size_t(y)][size_t(x)];
          EXPECT_EQ(px[2], uint8_t(want))
              << "orientation " << c.orientation << " at " << x << "," << y;
          EXPECT_EQ(px[1], uint8_t(want + 1));
          EXPECT_EQ(px[0], uint8_t(want + 2));
          if (channels == 4) {
            EXPECT_EQ(px[3], uint8_t(want + 3));
          }
        }
      }
    }
  }
}

// The upright rows are copied in chunks of pixels with a tail: every width
// up to a few chunks, with and without alpha, comes out pixel for pixel.
TEST(PhotoDib, UprightRowsOfAnyWidthSwapRedAndBlue) {
  for (int channels : {3, 4}) {
    for (int w = 1; w <= 13; ++w) {
      const int h = 2;
      std::vector<uint8_t> rgb(size_t(w * h * channels));
      for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 7 + 1);
      DibLayout layout;
      ASSERT_TRUE(MakeDibLayout(w, h, channels == 4, layout));
      std::vector<uint8_t> dib(layout.pixelBytes, 0xEE);
      PutRgbRowsOriented(rgb.data(), w * channels, w, h, channels, 1, layout, dib.data());
      for (int y = 0; y < h; ++y) {
        const uint8_t* row = dib.data() + size_t(h - 1 - y) * layout.rowBytes;
        for (int x = 0; x < w; ++x) {
          const uint8_t* in = rgb.data() + size_t((y * w + x) * channels);
          const uint8_t* out = row + x * channels;
          EXPECT_EQ(out[0], in[2]) << w << " " << x;
          EXPECT_EQ(out[1], in[1]) << w << " " << x;
          EXPECT_EQ(out[2], in[0]) << w << " " << x;
          if (channels == 4) {
            EXPECT_EQ(out[3], in[3]);
          }
        }
        // The row's padding is left as it was.
        for (size_t i = size_t(w * channels); i < layout.rowBytes; ++i) EXPECT_EQ(row[i], 0xEE);
      }
    }
  }
}

TEST(PhotoPluginInfo, TextsAndTruncation) {
  const SusieFormat format = {"Name", "*.abc;*.def", "Type", nullptr, nullptr};
  EXPECT_STREQ(PluginInfoText(format, 0), "00IN");
  EXPECT_STREQ(PluginInfoText(format, 1), "Name");
  EXPECT_STREQ(PluginInfoText(format, 2), "*.abc;*.def");
  EXPECT_STREQ(PluginInfoText(format, 3), "Type");
  EXPECT_EQ(PluginInfoText(format, 4), nullptr);
  EXPECT_EQ(PluginInfoText(format, -1), nullptr);
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(CopyInfoText("*.abc;*.def", buf, 8), 7);
  EXPECT_STREQ(buf, "*.abc;*");
  EXPECT_EQ(CopyInfoText("00IN", buf, 8), 4);
  EXPECT_STREQ(buf, "00IN");
  EXPECT_EQ(CopyInfoText("00IN", buf, 1), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(CopyInfoText("00IN", buf, 0), 0);
  EXPECT_EQ(CopyInfoText(nullptr, buf, 8), 0);
}

struct Decoded {
  SpiResult result;
  CountingDib dib;
};

void DecodeSample(const std::string& name, Decoded& out) {
  const auto data = ReadSample(name);
  ASSERT_FALSE(data.empty()) << name;
  const bool webp = name.size() > 5 && name.compare(name.size() - 5, 5, ".webp") == 0;
  out.result = webp ? DecodeWebp(data.data(), data.size(), out.dib)
                    : DecodeHeif(data.data(), data.size(), out.dib);
}

TEST(PhotoDecode, SamplesComeOutAtTheirUprightSizeAndDepth) {
  struct Case {
    const char* name;
    int w, h, bits;
  } cases[] = {
      {"heic8.heic", 97, 61, 24},     {"heic10.heic", 97, 61, 24},
      {"heicalpha.heic", 97, 61, 32}, {"avif8.avif", 97, 61, 24},
      {"avifirot.avif", 61, 97, 24},  {"avifimir.avif", 97, 61, 24},
      {"avifclap.avif", 64, 40, 24},  {"avif10.avif", 97, 61, 24},
      {"avif12.avif", 97, 61, 24},    {"avifgrid.avif", 128, 128, 24},
      {"avifalpha.avif", 97, 61, 32}, {"lossy.webp", 97, 61, 24},
      {"lossless.webp", 97, 61, 24},  {"alpha.webp", 97, 61, 32},
      {"alphall.webp", 97, 61, 32},   {"orient6.webp", 61, 97, 24},
      {"orient6x.webp", 61, 97, 24},
  };
  for (const Case& c : cases) {
    Decoded d;
    DecodeSample(c.name, d);
    ASSERT_EQ(d.result, SpiResult::kOk) << c.name;
    EXPECT_EQ(d.dib.calls, 1) << c.name;
    EXPECT_EQ(d.dib.Layout().width, c.w) << c.name;
    EXPECT_EQ(d.dib.Layout().height, c.h) << c.name;
    EXPECT_EQ(d.dib.Layout().bitCount, c.bits) << c.name;
  }
}

// Pixels of `turned` that are not those of `plain` turned a quarter
// (clockwise: stored (x, y) is upright (h - 1 - y, x); anticlockwise
// (y, w - 1 - x)); all of them when the sizes do not fit the turn.
int QuarterTurnMismatches(const Decoded& plain, const Decoded& turned, bool clockwise) {
  const int w = plain.dib.Layout().width, h = plain.dib.Layout().height;
  if (turned.dib.Layout().width != h || turned.dib.Layout().height != w) return w * h * 3;
  int mismatches = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        mismatches += (clockwise ? turned.dib.At(h - 1 - y, x, c) : turned.dib.At(y, w - 1 - x, c)) !=
                      plain.dib.At(x, y, c);
  return mismatches;
}

// avifirot holds the same coded picture as avif8 with an irot of 90°
// anticlockwise and an Exif Orientation of 6: the container's turn is
// applied, once, and the Exif one is not.
TEST(PhotoDecode, HeifTurnIsAppliedOnceAndExifIgnored) {
  Decoded plain, turned;
  DecodeSample("avif8.avif", plain);
  DecodeSample("avifirot.avif", turned);
  ASSERT_EQ(plain.result, SpiResult::kOk);
  ASSERT_EQ(turned.result, SpiResult::kOk);
  EXPECT_EQ(QuarterTurnMismatches(plain, turned, false), 0);
}

TEST(PhotoDecode, HeifMirrorMirrorsOneAxis) {
  Decoded plain, mirrored;
  DecodeSample("avif8.avif", plain);
  DecodeSample("avifimir.avif", mirrored);
  ASSERT_EQ(mirrored.result, SpiResult::kOk);
  const int w = plain.dib.Layout().width, h = plain.dib.Layout().height;
  int leftRight = 0, topBottom = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      leftRight += mirrored.dib.At(w - 1 - x, y, 1) != plain.dib.At(x, y, 1);
      topBottom += mirrored.dib.At(x, h - 1 - y, 1) != plain.dib.At(x, y, 1);
    }
  }
  EXPECT_TRUE(leftRight == 0 || topBottom == 0) << leftRight << " " << topBottom;
  EXPECT_NE(leftRight + topBottom, 0);
}

TEST(PhotoDecode, WebpExifOrientationTurnsThePicture) {
  for (const char* name : {"orient6.webp", "orient6x.webp"}) {
    const auto data = ReadSample(name);
    EXPECT_EQ(WebpExifOrientation(data.data(), data.size()), 6) << name;
  }
  const auto lossy = ReadSample("lossy.webp");
  EXPECT_EQ(WebpExifOrientation(lossy.data(), lossy.size()), 0);

  Decoded plain, turned;
  DecodeSample("lossy.webp", plain);
  DecodeSample("orient6.webp", turned);
  ASSERT_EQ(turned.result, SpiResult::kOk);
  EXPECT_EQ(QuarterTurnMismatches(plain, turned, true), 0);
}

// Damaged files fail with a Susie code; oversized ones are refused as
// broken before anything is allocated for their pixels.
TEST(PhotoDecode, BrokenAndOversizedFilesFail) {
  struct Case {
    const char* name;
    bool oversized;
  } cases[] = {
      {"trunc-heic8.heic", false}, {"noise-heic8.heic", false}, {"trunc-avif8.avif", false},
      {"noise-avif8.avif", false}, {"trunc-lossy.webp", false}, {"noise-lossy.webp", false},
      {"huge-heic8.heic", true},   {"huge-lossless.webp", true},
  };
  for (const Case& c : cases) {
    Decoded d;
    DecodeSample(c.name, d);
    EXPECT_NE(d.result, SpiResult::kOk) << c.name;
    if (c.oversized) {
      EXPECT_EQ(d.result, SpiResult::kBrokenData) << c.name;
      EXPECT_EQ(d.dib.calls, 0) << c.name;
    } else {
      EXPECT_LE(d.dib.calls, 1) << c.name;
    }
  }
}

TEST(PhotoDecode, EmptyAndForeignDataAreUnknown) {
  CountingDib dib;
  EXPECT_EQ(DecodeHeif(nullptr, 0, dib), SpiResult::kUnknownFormat);
  EXPECT_EQ(DecodeWebp(nullptr, 0, dib), SpiResult::kUnknownFormat);
  const auto png = ReadSample("src.png");
  EXPECT_EQ(DecodeWebp(png.data(), png.size(), dib), SpiResult::kUnknownFormat);
  EXPECT_NE(DecodeHeif(png.data(), png.size(), dib), SpiResult::kOk);
  EXPECT_EQ(dib.calls, 0);
}

// Random bodies behind sound headers: none crashes (the sanitizers of the
// native build watch), and any that a tolerant decoder takes comes out at
// a size the DIB can hold.
TEST(PhotoDecode, RandomBodiesBehindRealHeadersFail) {
  std::mt19937 rng(19);
  for (const char* name : {"heic8.heic", "avif8.avif", "lossy.webp", "lossless.webp"}) {
    const auto real = ReadSample(name);
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> data(real.begin(), real.begin() + 40);
      data.resize(40 + rng() % 2000);
      for (size_t i = 40; i < data.size(); ++i) data[i] = uint8_t(rng());
      CountingDib dib;
      const bool webp = real[0] == 'R';
      const SpiResult r = webp ? DecodeWebp(data.data(), data.size(), dib)
                               : DecodeHeif(data.data(), data.size(), dib);
      if (r == SpiResult::kOk) {
        EXPECT_EQ(dib.calls, 1);
        EXPECT_EQ(dib.Pixels().size(), dib.Layout().pixelBytes);
        EXPECT_GT(dib.Layout().width, 0);
      } else {
        EXPECT_TRUE(r == SpiResult::kBrokenData || r == SpiResult::kUnknownFormat ||
                    r == SpiResult::kNoMemory)
            << name << " round " << round << ": " << int(r);
      }
    }
  }
}

}  // namespace
}  // namespace orvspi
