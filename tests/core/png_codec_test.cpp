// Reader and writer of TGLDPNG: round trips for every source format and
// option, the reader's handling of each chunk, and one must-fail case per
// kind of bad file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "imaging/Gldpng.h"
#include "imaging/Gldpngstream.h"
#include "png_testkit.h"
#include "toolkit/Exceptions.h"

using namespace pngtest;
using orv::TGLDPNG;

namespace {

// Every pixel of a and b, through their own pixel values.
void ExpectSamePixels(const tk::TBitmap& a, const tk::TBitmap& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      ASSERT_EQ(PixelAt(a, x, y), PixelAt(b, x, y)) << "at " << x << "," << y;
}

struct SourceCase {
  tk::TPixelFormat format;
  bool gray;
  const char* name;
};

const SourceCase kSources[] = {
    {tk::TPixelFormat::pf1bit, false, "1bit"},      {tk::TPixelFormat::pf4bit, false, "4bit"},
    {tk::TPixelFormat::pf8bit, false, "8bit"},      {tk::TPixelFormat::pf15bit, false, "15bit"},
    {tk::TPixelFormat::pf16bit, false, "16bit"},    {tk::TPixelFormat::pf24bit, false, "24bit"},
    {tk::TPixelFormat::pf32bit, false, "32bit"},    {tk::TPixelFormat::pf1bit, true, "1bitGray"},
    {tk::TPixelFormat::pf4bit, true, "4bitGray"},   {tk::TPixelFormat::pf8bit, true, "8bitGray"},
    {tk::TPixelFormat::pf24bit, true, "24bitGray"},
};

// The colour the writer stores for a source pixel, as BGR.
uint32_t ExpectedBgr(const tk::TBitmap& src, int x, int y) {
  const uint32_t v = PixelAt(src, x, y);
  switch (src.PixelFormat()) {
    case tk::TPixelFormat::pf15bit: {
      const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
      return (b << 3 | b >> 2) | (g << 3 | g >> 2) << 8 | (r << 3 | r >> 2) << 16;
    }
    case tk::TPixelFormat::pf16bit: {
      const uint32_t r = v >> 11, g = (v >> 5) & 63, b = v & 31;
      return (b << 3 | b >> 2) | (g << 2 | g >> 4) << 8 | (r << 3 | r >> 2) << 16;
    }
    default:
      return v & 0xFFFFFF;
  }
}

uint32_t GrayOf(uint32_t bgr) {
  return ((bgr >> 16 & 0xFF) * 77 + (bgr >> 8 & 0xFF) * 150 + (bgr & 0xFF) * 29) / 256;
}

void MakeSource(const SourceCase& c, tk::TBitmap& bmp, int w, int h) {
  const int bits = tk::PixelFormatBits(c.format);
  if (bits <= 8) bmp.SetPalette(c.gray ? GrayPalette(1 << bits) : RandomPalette(1 << bits, 7));
  bmp.Allocate(c.format, w, h);
  FillPicture(bmp, 11 + bits);
}

void CheckRoundTrip(const SourceCase& c, orv::TGLDPNGFilterType filter, bool adam7, int idatSize) {
  SCOPED_TRACE(std::string(c.name) + " filter " + std::to_string(filter) + (adam7 ? " adam7" : "") +
               " idat " + std::to_string(idatSize));
  TGLDPNG out;
  MakeSource(c, out.OwnImage(), 37, 19);
  out.GrayScale = c.gray;
  out.FilterType = filter;
  out.Interlace = adam7 ? orv::gptAdam7 : orv::gptNone;
  out.SetIDATSize(idatSize);
  const Bytes file = SaveBytes(out);

  TGLDPNG in;
  LoadBytes(in, file);
  const tk::TBitmap& src = out.GetImage();
  const tk::TBitmap& got = in.GetImage();
  ASSERT_EQ(got.Width(), 37);
  ASSERT_EQ(got.Height(), 19);
  EXPECT_EQ(in.GrayScale, c.gray);
  EXPECT_EQ(in.Interlace, adam7 ? orv::gptAdam7 : orv::gptNone);
  const int bits = src.BitCount();
  if (bits <= 8) {
    // Indices (or gray codes of a gray-ramp palette) come back unchanged.
    ASSERT_EQ(got.BitCount(), bits);
    if (!c.gray) EXPECT_EQ(got.Palette(), src.Palette());
    ExpectSamePixels(src, got);
    return;
  }
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x) {
      const uint32_t want = ExpectedBgr(src, x, y);
      if (c.gray)
        ASSERT_EQ(PixelAt(got, x, y), GrayOf(want)) << x << "," << y;
      else
        ASSERT_EQ(PixelAt(got, x, y), want) << x << "," << y;
    }
}

}  // namespace

TEST(PngRoundTrip, EverySourceFormatFilterAndInterlace) {
  for (const SourceCase& c : kSources)
    for (int f = orv::gpfJust; f <= orv::gpfPaeth; ++f)
      for (bool adam7 : {false, true})
        CheckRoundTrip(c, static_cast<orv::TGLDPNGFilterType>(f), adam7, 32768);
}

TEST(PngRoundTrip, SmallIdatChunksCarryTheSameImage) {
  for (const SourceCase& c : kSources) CheckRoundTrip(c, orv::gpfJust, false, 256);
  TGLDPNG png;
  png.OwnImage().Allocate(tk::TPixelFormat::pf24bit, 200, 100);
  FillPicture(png.OwnImage(), 3);
  png.SetIDATSize(256);
  size_t idats = 0, total = 0, last = 0;
  for (const auto& chunk : Chunks(SaveBytes(png)))
    if (chunk.first == "IDAT") ++idats, total += chunk.second.size(), last = chunk.second.size();
  ASSERT_GT(idats, 2u);
  EXPECT_EQ(total, (idats - 1) * 256 + last);
  EXPECT_GT(last, 0u);
  EXPECT_LE(last, 256u);
}

TEST(PngRoundTrip, ReducedOutputGivesBackFiveSixFiveWords) {
  TGLDPNG out;
  out.OwnImage().Allocate(tk::TPixelFormat::pf16bit, 23, 9);
  FillPicture(out.OwnImage(), 5);
  SetPixel(out.OwnImage(), 0, 0, 0xFFFF);
  const Bytes file = SaveBytes(out);
  for (const auto& chunk : Chunks(file))
    if (chunk.first == "sBIT") EXPECT_EQ(chunk.second, (Bytes{5, 6, 5}));

  TGLDPNG plain;
  LoadBytes(plain, file);
  EXPECT_EQ(PixelAt(plain.GetImage(), 0, 0), 0xFFFFFFu) << "pure white stays white";
  EXPECT_EQ(plain.BitDepth, 24);

  TGLDPNG reduced;
  reduced.Reduced16Bit = true;
  LoadBytes(reduced, file);
  EXPECT_EQ(reduced.GetImage().PixelFormat(), tk::TPixelFormat::pf16bit);
  EXPECT_EQ(reduced.BitDepth, 16);
  ExpectSamePixels(out.GetImage(), reduced.GetImage());
}

TEST(PngRoundTrip, AlphaBitmapAndTransparency) {
  for (bool adam7 : {false, true}) {
    TGLDPNG out;
    out.OwnImage().Allocate(tk::TPixelFormat::pf24bit, 17, 13);
    FillPicture(out.OwnImage(), 1);
    out.OwnAlphaBitmap().Allocate(tk::TPixelFormat::pf8bit, 17, 13);
    FillPicture(out.OwnAlphaBitmap(), 2);
    out.AlphaChannel = true;
    out.TransColor = 0x123456;  // no tRNS next to an alpha channel
    out.Interlace = adam7 ? orv::gptAdam7 : orv::gptNone;
    out.FilterType = orv::gpfJust;
    const Bytes file = SaveBytes(out);
    EXPECT_EQ(file[8 + 8 + 9], 6) << "colour type";
    for (const auto& chunk : Chunks(file)) EXPECT_NE(chunk.first, "tRNS");
    TGLDPNG in;
    LoadBytes(in, file);
    EXPECT_TRUE(in.AlphaChannel);
    ExpectSamePixels(out.GetImage(), in.GetImage());
    ExpectSamePixels(out.GetAlphaBitmap(), in.GetAlphaBitmap());
    EXPECT_EQ(in.GetAlphaBitmap().Palette()[200].r, 200);
    EXPECT_FALSE(in.GetImage().Transparent());
  }
  // Gray with alpha.
  TGLDPNG gray;
  gray.OwnImage().SetPalette(GrayPalette(256));
  gray.OwnImage().Allocate(tk::TPixelFormat::pf8bit, 9, 4);
  FillPicture(gray.OwnImage(), 8);
  gray.OwnAlphaBitmap().Allocate(tk::TPixelFormat::pf8bit, 9, 4);
  FillPicture(gray.OwnAlphaBitmap(), 9);
  gray.AlphaChannel = true;
  gray.GrayScale = true;
  const Bytes file = SaveBytes(gray);
  EXPECT_EQ(file[8 + 8 + 9], 4);
  TGLDPNG in;
  LoadBytes(in, file);
  ExpectSamePixels(gray.GetImage(), in.GetImage());
  ExpectSamePixels(gray.GetAlphaBitmap(), in.GetAlphaBitmap());
}

TEST(PngRoundTrip, AlphaBitmapOfAnotherSizeIsLeftOut) {
  TGLDPNG out;
  out.OwnImage().Allocate(tk::TPixelFormat::pf24bit, 8, 8);
  out.OwnAlphaBitmap().Allocate(tk::TPixelFormat::pf8bit, 7, 8);
  out.AlphaChannel = true;
  const Bytes file = SaveBytes(out);
  EXPECT_EQ(file[8 + 8 + 9], 2);
  TGLDPNG in;
  LoadBytes(in, file);
  EXPECT_FALSE(in.AlphaChannel);
  EXPECT_TRUE(in.GetAlphaBitmap().Empty());
}

TEST(PngRoundTrip, TransparentColourOfEachOutputKind) {
  // Palette index form.
  TGLDPNG pal;
  pal.OwnImage().SetPalette(RandomPalette(16, 4));
  pal.OwnImage().Allocate(tk::TPixelFormat::pf4bit, 5, 5);
  FillPicture(pal.OwnImage(), 4);
  pal.TransColor = TGLDPNG::kPaletteIndexColor + 9;
  TGLDPNG in;
  LoadBytes(in, SaveBytes(pal));
  EXPECT_EQ(in.TransColor, 0x01000009u);
  EXPECT_TRUE(in.GetImage().Transparent());
  EXPECT_EQ(in.GetImage().TransparentColor(), 0x01000009u);
  EXPECT_TRUE(in.GetAlphaBitmap().Empty());

  // Truecolour.
  TGLDPNG rgb;
  rgb.OwnImage().Allocate(tk::TPixelFormat::pf24bit, 5, 5);
  rgb.TransColor = 0x00336699;
  TGLDPNG in2;
  LoadBytes(in2, SaveBytes(rgb));
  EXPECT_EQ(in2.TransColor, 0x00336699u);
  EXPECT_TRUE(in2.GetImage().Transparent());

  // Gray: the gray level of the colour.
  TGLDPNG gray;
  gray.OwnImage().Allocate(tk::TPixelFormat::pf24bit, 5, 5);
  gray.GrayScale = true;
  gray.TransColor = 0x00C8C8C8;
  TGLDPNG in3;
  LoadBytes(in3, SaveBytes(gray));
  EXPECT_EQ(in3.TransColor, 0x00C8C8C8u);
}

TEST(PngRoundTrip, GrayOneBitWhiteBlackPaletteKeepsBlackAtZero) {
  TGLDPNG out;
  std::vector<tk::TPalEntry> pal(2);
  pal[0].r = pal[0].g = pal[0].b = 255;  // white, black
  out.OwnImage().SetPalette(pal);
  out.OwnImage().Allocate(tk::TPixelFormat::pf1bit, 10, 2);
  SetPixel(out.OwnImage(), 3, 0, 1);  // black
  out.GrayScale = true;
  TGLDPNG in;
  LoadBytes(in, SaveBytes(out));
  const tk::TBitmap& got = in.GetImage();
  EXPECT_EQ(PixelAt(got, 3, 0), 0u) << "black is 0 in the file";
  EXPECT_EQ(PixelAt(got, 4, 0), 1u);
  EXPECT_EQ(got.Palette()[1].r, 255);
}

TEST(PngRoundTrip, PasswordRowsPassThroughEncodeAndDecodeEvents) {
  auto scramble = [](TGLDPNG&, uint8_t* row, int len, int lineNo, const std::string& pw) {
    for (int i = 0; i < len; ++i) row[i] ^= uint8_t(pw[i % pw.size()] + lineNo);
  };
  TGLDPNG out;
  out.OwnImage().Allocate(tk::TPixelFormat::pf24bit, 21, 11);
  FillPicture(out.OwnImage(), 6);
  out.Password = "secret";
  out.OnEncode = scramble;
  out.Interlace = orv::gptAdam7;
  out.FilterType = orv::gpfPaeth;
  const Bytes file = SaveBytes(out);

  TGLDPNG plain;
  LoadBytes(plain, file);
  bool differs = false;
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 21; ++x)
      differs |= PixelAt(plain.GetImage(), x, y) != PixelAt(out.GetImage(), x, y);
  EXPECT_TRUE(differs) << "without a handler the stored bytes come out";

  TGLDPNG in;
  in.OnPassword = [](TGLDPNG&, std::string& pw) { pw = "secret"; };
  in.OnDecode = scramble;
  LoadBytes(in, file);
  ExpectSamePixels(out.GetImage(), in.GetImage());
}

TEST(PngWriter, ChunkOrderAndAncillaryData) {
  TGLDPNG out;
  out.OwnImage().SetPalette(RandomPalette(256, 2));
  out.OwnImage().Allocate(tk::TPixelFormat::pf8bit, 3, 3);
  out.Comment = "hello";
  out.BGColor = TGLDPNG::kPaletteIndexColor + 7;
  out.PhysUnit = orv::gpuInch;
  out.PhysX = 72;
  out.PhysY = 96;
  out.WriteCurrentTime = false;
  out.Time = {2001, 2, 3, 4, 5, 6};
  out.Chrm = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
  out.GIFExt.Data[0] = 1;
  const Bytes file = SaveBytes(out);
  std::string order;
  for (const auto& c : Chunks(file)) order += c.first + " ";
  EXPECT_EQ(order, "IHDR tIME tEXt tEXt tpNG gIFg gAMA cHRM PLTE bKGD pHYs IDAT IEND ");

  TGLDPNG in;
  LoadBytes(in, file);
  EXPECT_EQ(in.Comment, "hello\r\n");
  EXPECT_EQ(in.BGColor, 0x01000007u);
  EXPECT_EQ(in.PhysUnit, orv::gpuMeter);
  EXPECT_EQ(in.PhysX, 2835);  // 72 dpi
  EXPECT_EQ(in.PhysY, 3780);
  EXPECT_TRUE(in.Time == out.Time);
  EXPECT_TRUE(in.Chrm == out.Chrm);
  EXPECT_EQ(in.GIFExt.Data[0], 1);
  EXPECT_NEAR(in.Gamma, 0.45455, 1e-9);
}

TEST(PngWriter, RejectsEmptyImageAndBadIdatSize) {
  TGLDPNG png;
  tk::TMemoryStream stream;
  EXPECT_THROW(png.SaveToStream(stream), orv::EGLDPNG);
  png.WriteData(stream);
  EXPECT_EQ(stream.Size(), 0);
  try {
    png.SetIDATSize(255);
    FAIL();
  } catch (const orv::EGLDPNG& e) {
    EXPECT_EQ(e.Message(), "PNG Param: Err IDAT Size(min:256  max:100000)");
  }
  EXPECT_THROW(png.SetIDATSize(100001), orv::EGLDPNG);
  png.SetIDATSize(100000);
  EXPECT_EQ(png.IDATSize(), 100000);
}

// --- reader --------------------------------------------------------------

namespace {

std::string LoadError(const Bytes& file) {
  TGLDPNG png;
  try {
    LoadBytes(png, file);
  } catch (const orv::EGLDPNG& e) {
    return e.Message();
  }
  return "";
}

Bytes Gray8(uint32_t w, uint32_t h, std::vector<std::pair<std::string, Bytes>> extra = {}) {
  FileSpec s;
  s.width = w, s.height = h, s.depth = 8, s.colorType = 0;
  s.before = std::move(extra);
  for (uint32_t i = 0; i < w * h; ++i) s.pixels.push_back(uint8_t(i * 7));
  return MakePng(s);
}

}  // namespace

TEST(PngReader, HeaderErrorsCarryTheirMessages) {
  struct Case {
    uint8_t depth, colorType, compression, filter, interlace;
    const char* message;
  } cases[] = {
      {8, 1, 0, 0, 0, "Read Header(PNG): Error ColorType"},
      {8, 5, 0, 0, 0, "Read Header(PNG): Error ColorType"},
      {8, 7, 0, 0, 0, "Read Header(PNG): Error ColorType"},
      {8, 0, 2, 0, 0, "Read Header(PNG): not support Compression"},
      {8, 0, 0, 2, 0, "Read Header(PNG): not supprt Filter"},
      {8, 0, 0, 0, 2, "Read Header(PNG): not interlace type"},
      {4, 4, 0, 0, 0, "Read Header(PNG): not Use AlphaChannel"},
      {3, 0, 0, 0, 0, "Read Header(PNG): Error Bitdepth"},
      {32, 4, 0, 0, 0, "Read Header(PNG): Error Bitdepth"},
      {4, 2, 0, 0, 0, "Read Header(PNG): Error BitDepth"},
      {16, 3, 0, 0, 0, "Read Header(PNG): Error BitDepth"},
  };
  for (const Case& c : cases) {
    Bytes file = Signature();
    Bytes ihdr = Ihdr(2, 2, c.depth, c.colorType, c.interlace);
    ihdr[10] = c.compression;
    ihdr[11] = c.filter;
    AddChunk(file, "IHDR", ihdr);
    AddChunk(file, "IDAT", Deflate(Bytes(64, 0)));
    AddChunk(file, "IEND", {});
    EXPECT_EQ(LoadError(file), c.message) << int(c.depth) << "/" << int(c.colorType);
  }
  // Compression and filter method 1 are accepted.
  Bytes file = Signature();
  Bytes ihdr = Ihdr(2, 2, 8, 0);
  ihdr[10] = 1, ihdr[11] = 1;
  AddChunk(file, "IHDR", ihdr);
  AddChunk(file, "IDAT", Deflate(Bytes(6, 0)));
  AddChunk(file, "IEND", {});
  EXPECT_EQ(LoadError(file), "");
}

TEST(PngReader, StructuralErrors) {
  EXPECT_EQ(LoadError(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0}),
            "PNG LoadStream: Not PNG Format");
  EXPECT_EQ(LoadError(Bytes{}), "PNG LoadStream: Not PNG Format");

  Bytes two = Signature();
  AddChunk(two, "IHDR", Ihdr(1, 1, 8, 0));
  AddChunk(two, "IHDR", Ihdr(1, 1, 8, 0));
  EXPECT_EQ(LoadError(two), "Read Header(PNG): appear two IHDR");

  // Image data that does not inflate, ends early, or has a filter above 4.
  Bytes junk = Signature();
  AddChunk(junk, "IHDR", Ihdr(4, 4, 8, 0));
  AddChunk(junk, "IDAT", Bytes(20, 0xAB));
  AddChunk(junk, "IEND", {});
  EXPECT_EQ(LoadError(junk), "Read Image (PNG): Read Error");
  Bytes shortData = Signature();
  AddChunk(shortData, "IHDR", Ihdr(4, 4, 8, 0));
  AddChunk(shortData, "IDAT", Deflate(Bytes(10, 0)));
  AddChunk(shortData, "IEND", {});
  EXPECT_EQ(LoadError(shortData), "Read Image (PNG): Read Error");
  Bytes badFilter = Signature();
  AddChunk(badFilter, "IHDR", Ihdr(1, 1, 8, 0));
  AddChunk(badFilter, "IDAT", Deflate(Bytes{5, 0}));
  AddChunk(badFilter, "IEND", {});
  EXPECT_EQ(LoadError(badFilter), "Read Image (PNG): Read Error");
  // A second IDAT is taken as continuation; another chunk in between ends it.
  const Bytes z = Deflate(Bytes(5 * 3, 0));
  Bytes split = Signature();
  AddChunk(split, "IHDR", Ihdr(4, 3, 8, 0));
  AddChunk(split, "IDAT", Bytes(z.begin(), z.begin() + 4));
  AddChunk(split, "tEXt", Bytes{'a', 0, 'b'});
  AddChunk(split, "IDAT", Bytes(z.begin() + 4, z.end()));
  AddChunk(split, "IEND", {});
  EXPECT_EQ(LoadError(split), "Read Image (PNG): Read Error");
  Bytes joined = Signature();
  AddChunk(joined, "IHDR", Ihdr(4, 3, 8, 0));
  AddChunk(joined, "IDAT", Bytes(z.begin(), z.begin() + 4));
  AddChunk(joined, "IDAT", {});
  AddChunk(joined, "IDAT", Bytes(z.begin() + 4, z.end()));
  AddChunk(joined, "IEND", {});
  EXPECT_EQ(LoadError(joined), "");
}

TEST(PngReader, MendedFaultsAreRejectedWithTheirOwnErrors) {
  Bytes early = Signature();
  AddChunk(early, "IDAT", Deflate(Bytes(4, 0)));
  AddChunk(early, "IHDR", Ihdr(1, 1, 8, 0));
  EXPECT_EQ(LoadError(early), "Read Image (PNG): IDAT before IHDR");

  for (auto wh :
       {std::pair<uint32_t, uint32_t>{0, 5}, {5, 0}, {0x80000000u, 1}, {1, 0xFFFFFFFFu}}) {
    Bytes file = Signature();
    AddChunk(file, "IHDR", Ihdr(wh.first, wh.second, 8, 0));
    AddChunk(file, "IDAT", Deflate(Bytes(4, 0)));
    EXPECT_EQ(LoadError(file), "Read Header(PNG): Error Image Size")
        << wh.first << "x" << wh.second;
  }

  // Rows too large for memory arithmetic are refused before any allocation.
  Bytes wide = Signature();
  AddChunk(wide, "IHDR", Ihdr(0x7FFFFFFF, 0x7FFFFFFF, 16, 6));
  AddChunk(wide, "IDAT", Deflate(Bytes(4, 0)));
  EXPECT_EQ(LoadError(wide), "Read Header(PNG): Image Too Large");
  // Within row limits but too large as a picture: the bitmap refuses.
  Bytes tall = Signature();
  AddChunk(tall, "IHDR", Ihdr(60000, 60000, 8, 2));
  AddChunk(tall, "IDAT", Deflate(Bytes(4, 0)));
  TGLDPNG png;
  EXPECT_THROW(LoadBytes(png, tall), tk::EOutOfResources);

  Bytes header = Signature();
  Bytes longIhdr = Ihdr(1, 1, 8, 0);
  longIhdr.push_back(0);
  AddChunk(header, "IHDR", longIhdr);
  EXPECT_EQ(LoadError(header), "Read Header(PNG): Error Header Length");

  // A chunk claiming more data than the file holds.
  Bytes over = Gray8(3, 3);
  over[8 + 25 + 3] = 0x7F;  // IDAT length byte
  EXPECT_EQ(LoadError(over), "PNG LoadStream: Error Chunk Length");
  Bytes huge = Gray8(3, 3);
  huge[8 + 25] = 0x80;
  EXPECT_EQ(LoadError(huge), "PNG LoadStream: Error Chunk Length");
}

// libpng's default limit: a side beyond a million pixels is refused from the
// header, before the bitmap or a row buffer exists. Without it, a 74-byte
// file that declares 2^30 one-bit pixels a row stayed under the row limit
// and had its 128 MiB row and bitmap allocated before the data ran out.
TEST(PngReader, SidesBeyondAMillionPixelsAreRefusedFromTheHeader) {
  struct Case {
    uint32_t w, h;
    uint8_t depth, colorType;
    bool refused;
  } const cases[] = {
      {1u << 30, 1, 1, 0, true},   {1, 1u << 30, 1, 0, true}, {1000001, 1, 1, 0, true},
      {1, 1000001, 8, 0, true},    {1000001, 1000001, 8, 2, true},
      {1000000, 1, 1, 0, false},   {1, 1000000, 1, 0, false},
  };
  for (const Case& c : cases) {
    Bytes file = Signature();
    AddChunk(file, "IHDR", Ihdr(c.w, c.h, c.depth, c.colorType));
    AddChunk(file, "IDAT", Deflate(Bytes(4, 0)));
    AddChunk(file, "IEND", {});
    if (c.refused) {
      EXPECT_EQ(LoadError(file), "Read Header(PNG): Image Too Large") << c.w << "x" << c.h;
    } else {
      EXPECT_NE(LoadError(file), "Read Header(PNG): Image Too Large") << c.w << "x" << c.h;
    }
  }
  // A million pixels a row still decode, row and bitmap included.
  Bytes row(1 + 1000000 / 8, 0xFF);
  row[0] = 0;
  Bytes wide = Signature();
  AddChunk(wide, "IHDR", Ihdr(1000000, 1, 1, 0));
  AddChunk(wide, "IDAT", Deflate(row));
  AddChunk(wide, "IEND", {});
  TGLDPNG png;
  LoadBytes(png, wide);
  EXPECT_EQ(png.GetWidth(), 1000000);
  EXPECT_EQ(png.GetHeight(), 1);
}

TEST(PngReader, QuietStops) {
  // No image data at all: nothing loads, nothing is raised.
  Bytes noIdat = Signature();
  AddChunk(noIdat, "IHDR", Ihdr(2, 2, 8, 0));
  AddChunk(noIdat, "IEND", {});
  TGLDPNG png;
  LoadBytes(png, noIdat);
  EXPECT_TRUE(png.GetImage().Empty());

  // The file ends at a chunk boundary before the image.
  Bytes cut = Signature();
  AddChunk(cut, "IHDR", Ihdr(2, 2, 8, 0));
  LoadBytes(png, cut);
  EXPECT_TRUE(png.GetImage().Empty());

}

// Chunks that carry nothing are passed over; none of them may end the
// reading before the image (a read of zero bytes would).
TEST(PngReader, EmptyOrPrematureChunksAreSkipped) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, Bytes>> before;
    bool transparent;
  } cases[] = {
      {"tRNS before PLTE", {{"tRNS", {0}}, {"PLTE", {1, 2, 3, 4, 5, 6}}}, false},
      {"empty tRNS", {{"PLTE", {1, 2, 3, 4, 5, 6}}, {"tRNS", {}}}, false},
      {"empty PLTE, then PLTE", {{"PLTE", {}}, {"PLTE", {1, 2, 3, 4, 5, 6}}}, false},
      {"empty tEXt", {{"tEXt", {}}, {"PLTE", {1, 2, 3, 4, 5, 6}}, {"tRNS", {255, 0}}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FileSpec s;
    s.width = 2, s.height = 2, s.depth = 8, s.colorType = 3;
    s.before = c.before;
    s.pixels = {0, 1, 1, 0};
    TGLDPNG png;
    LoadBytes(png, MakePng(s));
    ASSERT_EQ(png.GetWidth(), 2);
    EXPECT_EQ(PixelAt(png.GetImage(), 1, 0), 1u);
    ASSERT_EQ(png.GetImage().Palette().size(), 2u);
    EXPECT_EQ(png.GetImage().Palette()[1].b, 6);
    EXPECT_EQ(png.GetImage().Transparent(), c.transparent);
  }
}

// A stream of `head`, then `fill` bytes of `filler`, then `tail`, made up
// as it is read: a chunk of a gigabyte without a gigabyte of memory.
class PaddedStream : public tk::TStream {
 public:
  PaddedStream(Bytes head, uint64_t fill, uint8_t filler, Bytes tail)
      : head_(std::move(head)), tail_(std::move(tail)), fill_(fill), filler_(filler) {}
  size_t Read(void* buffer, size_t count) override {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count && pos_ < uint64_t(Size())) {
      const uint64_t fillEnd = head_.size() + fill_;
      if (pos_ < head_.size()) {
        out[done] = head_[pos_];
      } else if (pos_ < fillEnd) {
        const size_t n = size_t(std::min<uint64_t>(count - done, fillEnd - pos_));
        std::memset(out + done, filler_, n);
        done += n;
        pos_ += n;
        continue;
      } else {
        out[done] = tail_[pos_ - fillEnd];
      }
      ++done;
      ++pos_;
    }
    return done;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, tk::SeekOrigin origin) override {
    const int64_t base = origin == tk::SeekOrigin::Beginning ? 0
                         : origin == tk::SeekOrigin::Current ? int64_t(pos_)
                                                               : Size();
    pos_ = uint64_t(std::max<int64_t>(0, base + offset));
    return int64_t(pos_);
  }
  int64_t Size() override { return int64_t(head_.size() + fill_ + tail_.size()); }

 private:
  Bytes head_, tail_;
  uint64_t fill_;
  uint8_t filler_;
  uint64_t pos_ = 0;
};

// A comment chunk of 1 GiB keeps its first 64 KiB; no 32-bit process could
// hold it whole.
TEST(PngReader, HugeCommentIsCutToWhatIsKept) {
  const uint32_t length = uint32_t(1) << 30;
  Bytes head = Signature();
  AddChunk(head, "IHDR", Ihdr(3, 1, 8, 0));
  PutBE32(head, length);
  for (char c : std::string("tEXtComment", 11)) head.push_back(uint8_t(c));
  head.push_back(0);
  Bytes tail = {0, 0, 0, 0};  // the unchecked CRC
  AddChunk(tail, "IDAT", Deflate({0, 10, 20, 30}));
  AddChunk(tail, "IEND", {});
  PaddedStream stream(head, length - 8, 'a', tail);
  TGLDPNG png;
  png.LoadFromStream(stream);
  EXPECT_EQ(png.Comment, std::string(64 * 1024, 'a') + "\r\n");
  ASSERT_EQ(png.GetWidth(), 3);
  EXPECT_EQ(PixelAt(png.GetImage(), 2, 0), 30u);
}

// A 1-bit gray picture as wide as the reader takes, in 60-odd bytes: its
// rows cost what its pixels need (125 KB each), and no alpha row eight
// times that is made for it; the reader gets as far as the data, which end
// too soon. (Wider ones are refused from the header.)
TEST(PngReader, VeryWidePictureWithoutAlphaNeedsNoAlphaRow) {
  Bytes file = Signature();
  AddChunk(file, "IHDR", Ihdr(1000000, 1, 1, 0));
  AddChunk(file, "IDAT", Deflate({0, 0x80}));
  AddChunk(file, "IEND", {});
  ASSERT_LT(file.size(), 80u);
  EXPECT_EQ(LoadError(file), "Read Image (PNG): Read Error");
}

TEST(PngReader, MacBinaryHeaderIsSkippedOnlyWhenDetectionIsOn) {
  Bytes file(128, 0x41);
  file[0] = 0;
  file[74] = 0;
  const Bytes png = Gray8(3, 2);
  file.insert(file.end(), png.begin(), png.end());
  TGLDPNG on;
  LoadBytes(on, file);
  EXPECT_EQ(on.GetWidth(), 3);
  TGLDPNG off;
  off.DetectMacBinary = false;
  try {
    LoadBytes(off, file);
    FAIL();
  } catch (const orv::EGLDPNG& e) {
    EXPECT_EQ(e.Message(), "PNG LoadStream: Not PNG Format");
  }
}

TEST(PngReader, DamagedCrcDoesNotStopLoading) {
  Bytes file = Gray8(3, 2, {{"tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'x'}}});
  file[8 + 25 - 1] ^= 0xFF;      // IHDR CRC
  file[8 + 25 + 8 + 9] ^= 0xFF;  // tEXt CRC
  TGLDPNG png;
  LoadBytes(png, file);
  EXPECT_EQ(png.GetWidth(), 3);
  EXPECT_EQ(png.Comment, "x\r\n");
  EXPECT_EQ(PixelAt(png.GetImage(), 2, 1), uint32_t(5 * 7));
}

TEST(PngReader, GrayFormats) {
  // 16-bit gray: the high bytes, 256-gray palette.
  FileSpec s;
  s.width = 2, s.height = 1, s.depth = 16, s.colorType = 0;
  s.pixels = {0x12, 0x34, 0xAB, 0xCD};
  TGLDPNG png;
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.GetImage().PixelFormat(), tk::TPixelFormat::pf8bit);
  EXPECT_EQ(PixelAt(png.GetImage(), 0, 0), 0x12u);
  EXPECT_EQ(PixelAt(png.GetImage(), 1, 0), 0xABu);
  ASSERT_EQ(png.GetImage().Palette().size(), 256u);
  EXPECT_EQ(png.GetImage().Palette()[0xAB].g, 0xAB);
  EXPECT_EQ(png.BitDepth, 16);

  // 2-bit gray widens to 4-bit indices over a 4-level ramp.
  s.width = 5, s.depth = 2, s.pixels = {0x1B, 0x80};  // 0 1 2 3 | 2
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.GetImage().PixelFormat(), tk::TPixelFormat::pf4bit);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelAt(png.GetImage(), x, 0), uint32_t(x == 4 ? 2 : x));
  ASSERT_EQ(png.GetImage().Palette().size(), 4u);
  EXPECT_EQ(png.GetImage().Palette()[2].r, 170);

  // A PLTE chunk in a gray image is ignored.
  s.width = 2, s.depth = 8, s.pixels = {3, 200};
  s.before = {{"PLTE", Bytes(12, 0x55)}};
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.GetImage().Palette()[3].r, 3);
  EXPECT_TRUE(png.GrayScale);

  // Gray tRNS: the level as a gray colour, also for low depths.
  s.before = {{"tRNS", {0, 200}}};
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.TransColor, 0x00C8C8C8u);
  EXPECT_TRUE(png.GetImage().Transparent());
  s.depth = 4, s.width = 2, s.pixels = {0x3F};
  s.before = {{"tRNS", {0, 3}}};
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.TransColor, 0x00333333u) << "level 3 of 15 is 51";
  EXPECT_EQ(png.GetImage().Palette()[3].r, 0x33);
}

TEST(PngReader, TruecolourTransparencyAndBackground) {
  FileSpec s;
  s.width = 1, s.height = 1, s.depth = 16, s.colorType = 2;
  s.before = {{"tRNS", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}},
              {"bKGD", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}}};
  s.pixels = Bytes(6, 0x80);
  TGLDPNG png;
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.TransColor, 0x009A5612u);
  EXPECT_EQ(png.BGColor, 0x00050301u);
  EXPECT_EQ(png.BitDepth, 48);
  s.depth = 8, s.pixels = Bytes(3, 0x80);
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.TransColor, 0x00BC7834u) << "8-bit: the low bytes";
  EXPECT_EQ(png.BitDepth, 24);
  // Not with an alpha channel.
  s.colorType = 6, s.pixels = Bytes(4, 0x80);
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.TransColor, TGLDPNG::kNoColor);
  EXPECT_FALSE(png.GetImage().Transparent());
  EXPECT_EQ(PixelAt(png.GetAlphaBitmap(), 0, 0), 0x7Fu);
}

TEST(PngReader, PaletteAlpha) {
  FileSpec s;
  s.width = 3, s.height = 2, s.depth = 8, s.colorType = 3;
  Bytes plte;
  for (int i = 0; i < 8; ++i) plte.insert(plte.end(), {uint8_t(i), uint8_t(i * 2), uint8_t(i * 3)});
  s.pixels = {5, 1, 5, 0, 5, 7};
  // Exactly entry 5 fully transparent: a transparent colour, no alpha.
  s.before = {{"PLTE", plte}, {"tRNS", {255, 255, 255, 255, 255, 0}}};
  TGLDPNG png;
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.TransColor, 0x01000005u);
  EXPECT_TRUE(png.GetImage().Transparent());
  EXPECT_EQ(png.GetImage().TransparentColor(), 0x01000005u);
  EXPECT_TRUE(png.GetAlphaBitmap().Empty());
  // Entry 5 half transparent: an opaque image and an alpha bitmap.
  s.before = {{"PLTE", plte}, {"tRNS", {255, 255, 255, 255, 255, 128}}};
  LoadBytes(png, MakePng(s));
  EXPECT_FALSE(png.GetImage().Transparent());
  EXPECT_EQ(png.TransColor, TGLDPNG::kNoColor);
  ASSERT_FALSE(png.GetAlphaBitmap().Empty());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(PixelAt(png.GetAlphaBitmap(), x, y), s.pixels[y * 3 + x] == 5 ? 127u : 0u);
  // Two transparent entries are palette alpha too; 2-bit indices work as 4-bit.
  s.depth = 2, s.width = 4, s.height = 1, s.pixels = {0x1B};
  s.before = {{"PLTE", plte}, {"tRNS", {0, 0}}};
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.GetImage().PixelFormat(), tk::TPixelFormat::pf4bit);
  EXPECT_EQ(PixelAt(png.GetAlphaBitmap(), 0, 0), 255u);
  EXPECT_EQ(PixelAt(png.GetAlphaBitmap(), 1, 0), 255u);
  EXPECT_EQ(PixelAt(png.GetAlphaBitmap(), 2, 0), 0u);
}

TEST(PngReader, AncillaryChunksAndTheirOrderRules) {
  auto text = [](const std::string& k, const std::string& t) {
    Bytes d(k.begin(), k.end());
    d.push_back(0);
    d.insert(d.end(), t.begin(), t.end());
    return d;
  };
  TGLDPNG png;
  LoadBytes(png, Gray8(2, 2,
                       {{"tEXt", text("Comment", "A")},
                        {"tEXt", text("comment", "no")},
                        {"tEXt", text("Comment", "")},
                        {"tEXt", text("Comment", "B")}}));
  EXPECT_EQ(png.Comment, "A\r\n\r\nB\r\n");

  FileSpec s;
  s.width = 1, s.height = 1, s.depth = 8, s.colorType = 3;
  s.pixels = {0};
  Bytes gama, chrm, phys;
  PutBE32(gama, 100000);
  for (uint32_t v = 1; v <= 8; ++v) PutBE32(chrm, v);
  PutBE32(phys, 11);
  PutBE32(phys, 22);
  phys.push_back(1);
  s.before = {{"gAMA", gama},
              {"cHRM", chrm},
              {"sBIT", {5, 6, 7}},
              {"gIFg", {1, 2, 3, 4}},
              {"tIME", {0x07, 0xD0, 12, 31, 23, 59, 60}},
              {"PLTE", {9, 9, 9}},
              {"pHYs", phys},
              {"bKGD", {0}}};
  LoadBytes(png, MakePng(s));
  EXPECT_DOUBLE_EQ(png.Gamma, 1.0);
  EXPECT_EQ(png.Chrm.WhiteX, 1u);
  EXPECT_EQ(png.Chrm.BlueY, 8u);
  EXPECT_EQ(png.SignificantBits, 0x070605u);
  EXPECT_EQ(png.GIFExt.Data[3], 4);
  EXPECT_EQ(png.Time.Year, 2000);
  EXPECT_EQ(png.Time.Second, 60);
  EXPECT_EQ(png.PhysX, 11);
  EXPECT_EQ(png.PhysUnit, orv::gpuMeter);
  EXPECT_EQ(png.BGColor, 0x01000000u);

  // After PLTE the colour-space chunks are ignored; absent gAMA gives 0.
  s.before = {{"PLTE", {9, 9, 9}}, {"gAMA", gama}, {"cHRM", chrm}, {"sBIT", {5, 6, 7}}};
  LoadBytes(png, MakePng(s));
  EXPECT_EQ(png.Gamma, 0.0);
  EXPECT_EQ(png.Chrm.WhiteX, 0u);
  EXPECT_EQ(png.SignificantBits, 0u);
  EXPECT_EQ(png.Time.Year, 0);
}

TEST(PngReader, OneByOneAdam7AndLoadingIntoExternalBitmaps) {
  TGLDPNG out;
  out.OwnImage().Allocate(tk::TPixelFormat::pf24bit, 1, 1);
  SetPixel(out.OwnImage(), 0, 0, 0x112233);
  out.Interlace = orv::gptAdam7;
  const Bytes file = SaveBytes(out);
  tk::TBitmap image, alpha;
  TGLDPNG in;
  in.SetImage(&image);
  in.SetABmp(&alpha);
  LoadBytes(in, file);
  EXPECT_EQ(PixelAt(image, 0, 0), 0x112233u);
  EXPECT_TRUE(in.OwnImage().Empty());
  tk::TBitmap target;
  in.AssignTo(target);
  EXPECT_EQ(PixelAt(target, 0, 0), 0x112233u);
  TGLDPNG copy;
  copy.Assign(in);
  EXPECT_EQ(PixelAt(copy.GetImage(), 0, 0), 0x112233u);
  EXPECT_EQ(copy.Interlace, orv::gptAdam7);
}

TEST(PngReader, StreamIsLeftAfterTheConsumedBytes) {
  Bytes file = Gray8(2, 2);
  const size_t size = file.size();
  file.insert(file.end(), {'t', 'a', 'i', 'l'});
  tk::TMemoryStream stream(file);
  TGLDPNG png;
  png.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(size));
}

TEST(PngReader, FuzzFindingsStayFixed) {
#ifdef ORV_TEST_DATA_DIR
  // Files the fuzzer once crashed on: each must load or fail cleanly.
  const std::string dir = std::string(ORV_TEST_DATA_DIR) + "/png/fuzz/";
  for (const char* name : {"gray-trns-invalid-depth.png"}) {
    tk::TMemoryStream stream;
    stream.LoadFromFile(dir + name);
    TGLDPNG png;
    try {
      png.LoadFromStream(stream);
    } catch (const tk::Exception&) {
    }
  }
#endif
  // The first finding, rebuilt: gray tRNS under a header of depth 0.
  Bytes file = Signature();
  AddChunk(file, "IHDR", Ihdr(4, 1, 0, 0));
  AddChunk(file, "tRNS", {0x01, 0x01});
  AddChunk(file, "IDAT", Deflate(Bytes(5, 0)));
  EXPECT_EQ(LoadError(file), "Read Header(PNG): Error Bitdepth");
}

TEST(PngReader, ProgressRisesFromZeroToOneHundred) {
  TGLDPNG out;
  out.OwnImage().Allocate(tk::TPixelFormat::pf24bit, 16, 64);
  out.Interlace = orv::gptAdam7;
  const Bytes file = SaveBytes(out);
  std::vector<std::pair<orv::TProgressStage, int>> events;
  TGLDPNG in;
  in.OnProgress = [&](TGLDPNG&, orv::TProgressStage stage, int percent) {
    events.emplace_back(stage, percent);
  };
  LoadBytes(in, file);
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events.front().first, orv::TProgressStage::psStarting);
  EXPECT_EQ(events.front().second, 0);
  EXPECT_EQ(events.back().first, orv::TProgressStage::psEnding);
  EXPECT_EQ(events.back().second, 100);
  int rowEvents = 0;
  for (size_t i = 1; i + 1 < events.size(); ++i) {
    EXPECT_EQ(events[i].first, orv::TProgressStage::psRunning);
    EXPECT_GT(events[i].second, events[i - 1].second) << "only growing percentages are sent";
    EXPECT_LE(events[i].second, 99);
    if (events[i].second >= 29 && events[i].second <= 97) ++rowEvents;
  }
  EXPECT_GT(rowEvents, 5) << "rows report while they are decoded";
  // The form-streaming variant reports nothing.
  events.clear();
  tk::TMemoryStream stream(file);
  in.ReadData(stream);
  EXPECT_TRUE(events.empty());
}
