// The plug-ins' header readers and the HEIF derivation check: the size
// GetPictureInfo gives from a file's header, and the refusal of files
// whose structure would make libheif recurse for ever or paint more than
// the host's budget. The hostile files are made here (heif_builder.h),
// round coded pictures lifted from the samples, so libheif would really
// decode what the check refuses.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugins/common/SusieDib.h"
#include "plugins/heif/HeifBoxes.h"
#include "plugins/heif/HeifFormat.h"
#include "plugins/webp/WebpFormat.h"
#include "tests/photo/heif_builder.h"

namespace orvspi {
namespace {

using orvtest::BuildItem;
using orvtest::Bytes;

Bytes ReadSample(const std::string& name) {
  std::ifstream in(std::string(ORV_PHOTO_SAMPLES) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool IsWebp(const std::string& name) {
  return name.size() > 5 && name.compare(name.size() - 5, 5, ".webp") == 0;
}

SpiResult Info(const Bytes& file, PictureFacts& facts, bool webp) {
  MemorySource src(file.data(), file.size());
  return webp ? WebpPictureInfo(src, facts) : HeifPictureInfo(src, facts);
}

SpiResult Decode(const Bytes& file, VectorDib& dib, bool webp) {
  return webp ? DecodeWebp(file.data(), file.size(), dib)
              : DecodeHeif(file.data(), file.size(), dib);
}

class CountingDib : public VectorDib {
 public:
  uint8_t* Allocate(const DibLayout& layout) override {
    ++calls;
    return VectorDib::Allocate(layout);
  }
  int calls = 0;
};

BuildItem Coded(uint32_t id, std::vector<Bytes> properties) {
  BuildItem item;
  item.id = id;
  item.type = "hvc1";
  item.properties = std::move(properties);
  item.data = Bytes(16, 0x55);
  return item;
}

// Every sample, sized from its header, is the size and depth its decode
// gives: turns, crops, grids, alpha planes and Exif turns included.
TEST(PhotoHeader, EverySampleAgreesWithItsDecode) {
  for (const char* name :
       {"heic8.heic", "heic10.heic", "heicalpha.heic", "avif8.avif", "avifirot.avif",
        "avifimir.avif", "avifclap.avif", "avif10.avif", "avif12.avif", "avifgrid.avif",
        "avifalpha.avif", "lossy.webp", "lossless.webp", "alpha.webp", "alphall.webp",
        "orient6.webp", "orient6x.webp"}) {
    const Bytes file = ReadSample(name);
    PictureFacts facts;
    ASSERT_EQ(Info(file, facts, IsWebp(name)), SpiResult::kOk) << name;
    VectorDib dib;
    ASSERT_EQ(Decode(file, dib, IsWebp(name)), SpiResult::kOk) << name;
    EXPECT_EQ(facts.width, dib.Layout().width) << name;
    EXPECT_EQ(facts.height, dib.Layout().height) << name;
    EXPECT_EQ(facts.alpha ? 32 : 24, dib.Layout().bitCount) << name;
  }
}

// The header alone decides: a file cut after its header still has a size
// (the search takes it, as it takes a cut JPEG; the show passes over it),
// one cut inside its header has none.
TEST(PhotoHeader, OnlyTheHeaderIsRead) {
  for (const char* name : {"heic8.heic", "avifgrid.avif", "orient6.webp", "lossless.webp"}) {
    Bytes file = ReadSample(name);
    PictureFacts whole;
    ASSERT_EQ(Info(file, whole, IsWebp(name)), SpiResult::kOk) << name;
    // Damage everything past the first 60 % of the file: the header of
    // these small files lies before.
    for (size_t i = file.size() * 6 / 10; i < file.size(); ++i) file[i] ^= 0x5A;
    PictureFacts damaged;
    if (!IsWebp(name) || std::string(name) != "orient6.webp") {
      ASSERT_EQ(Info(file, damaged, IsWebp(name)), SpiResult::kOk) << name;
      EXPECT_EQ(damaged.width, whole.width) << name;
      EXPECT_EQ(damaged.height, whole.height) << name;
    }
    file.resize(20);
    EXPECT_NE(Info(file, damaged, IsWebp(name)), SpiResult::kOk) << name;
  }
}

TEST(PhotoHeader, HeifSizesFromIspeTurnsAndCrops) {
  struct Case {
    const char* what;
    std::vector<Bytes> properties;
    bool sized;
    int w, h;
  } cases[] = {
      {"ispe alone", {orvtest::Ispe(64, 48)}, true, 64, 48},
      {"a quarter turn swaps", {orvtest::Ispe(64, 48), orvtest::Irot(1)}, true, 48, 64},
      {"a half turn keeps", {orvtest::Ispe(64, 48), orvtest::Irot(2)}, true, 64, 48},
      {"three quarters swap", {orvtest::Ispe(64, 48), orvtest::Irot(3)}, true, 48, 64},
      {"a centred crop",
       {orvtest::Ispe(64, 48), orvtest::Clap(32, 1, 20, 1, 0, 1, 0, 1)},
       true,
       32,
       20},
      // The crop after the turn is measured on the turned picture.
      {"turn, then crop",
       {orvtest::Ispe(64, 48), orvtest::Irot(1), orvtest::Clap(40, 1, 50, 1, 0, 1, 0, 1)},
       true,
       40,
       50},
      {"a crop larger than the picture is cut to it",
       {orvtest::Ispe(64, 48), orvtest::Clap(200, 1, 48, 1, 0, 1, 0, 1)},
       false,
       0,
       0},
      {"a crop with a zero denominator",
       {orvtest::Ispe(64, 48), orvtest::Clap(32, 0, 20, 1, 0, 1, 0, 1)},
       false,
       0,
       0},
      {"a crop off the picture",
       {orvtest::Ispe(64, 48), orvtest::Clap(8, 1, 8, 1, 1000, 1, 0, 1)},
       false,
       0,
       0},
      {"no ispe", {orvtest::Irot(1)}, false, 0, 0},
      {"a zero ispe", {orvtest::Ispe(0, 48)}, false, 0, 0},
  };
  for (const Case& c : cases) {
    const Bytes file = orvtest::HeifFile("heic", 1, {Coded(1, c.properties)});
    MemorySource src(file.data(), file.size());
    HeifHeader header;
    ASSERT_EQ(ReadHeifHeader(src, header), HeifHeaderStatus::kOk) << c.what;
    int w = 0, h = 0;
    ASSERT_EQ(HeifPrimarySize(header, w, h), c.sized) << c.what;
    if (c.sized) {
      EXPECT_EQ(w, c.w) << c.what;
      EXPECT_EQ(h, c.h) << c.what;
    }
  }
}

TEST(PhotoHeader, HeifFilesWithoutASoundHeader) {
  const Bytes good = orvtest::HeifFile("heic", 1, {Coded(1, {orvtest::Ispe(64, 48)})});
  struct Case {
    const char* what;
    Bytes file;
    HeifHeaderStatus want;
  } cases[] = {
      {"nothing", {}, HeifHeaderStatus::kNotHeif},
      {"no ftyp first", orvtest::Box("free", Bytes(8, 0)), HeifHeaderStatus::kNotHeif},
      {"cut inside meta", Bytes(good.begin(), good.begin() + 60), HeifHeaderStatus::kBroken},
      {"no primary item", orvtest::HeifFile("heic", 9, {Coded(1, {orvtest::Ispe(8, 8)})}),
       HeifHeaderStatus::kBroken},
      {"ftyp only", orvtest::Box("ftyp", Bytes(12, 'a')), HeifHeaderStatus::kBroken},
  };
  for (const Case& c : cases) {
    MemorySource src(c.file.data(), c.file.size());
    HeifHeader header;
    EXPECT_EQ(ReadHeifHeader(src, header), c.want) << c.what;
  }
  // The meta box says it is larger than the file.
  Bytes lying = good;
  const size_t meta = 8 + 16;  // after ftyp: its header and three brands
  ASSERT_EQ(std::string(lying.begin() + long(meta) + 4, lying.begin() + long(meta) + 8), "meta");
  lying[meta] = 0x7F;
  MemorySource src(lying.data(), lying.size());
  HeifHeader header;
  EXPECT_EQ(ReadHeifHeader(src, header), HeifHeaderStatus::kBroken);
}

// Derivations that must be refused before libheif is given the file, and
// sound ones that must pass.
TEST(PhotoHeader, DerivationsAreBoundedBeforeDecoding) {
  const uint64_t budget = 1000000;
  auto grid = [](uint32_t id, uint32_t w, uint32_t h, int rows, int columns,
                 std::vector<uint32_t> tiles, uint32_t canvasW, uint32_t canvasH) {
    BuildItem g;
    g.id = id;
    g.type = "grid";
    g.properties = {orvtest::Ispe(w, h)};
    g.derivedFrom = std::move(tiles);
    g.data = orvtest::GridData(rows, columns, canvasW, canvasH);
    g.inIdat = true;
    return g;
  };
  auto iden = [](uint32_t id, uint32_t from, uint32_t w, uint32_t h) {
    BuildItem i;
    i.id = id;
    i.type = "iden";
    i.properties = {orvtest::Ispe(w, h)};
    i.derivedFrom = {from};
    return i;
  };
  const BuildItem tile = Coded(10, {orvtest::Ispe(64, 64)});
  // A chain of identities `depth` long ending at the tile.
  auto chain = [&](int depth) {
    std::vector<BuildItem> items = {tile};
    for (int i = 1; i <= depth; ++i)
      items.push_back(iden(uint32_t(i), i == depth ? 10 : uint32_t(i + 1), 64, 64));
    return orvtest::HeifFile("heic", 1, items);
  };
  // Nested grids that share their tiles: each level a 2 x 2 grid of the
  // level below, every reference to one item.
  auto nested = [&](int levels) {
    std::vector<BuildItem> items = {tile};
    uint32_t side = 64;
    for (int i = levels; i >= 1; --i) {
      side *= 2;
      const uint32_t below = i == levels ? 10 : uint32_t(i + 1);
      items.push_back(
          grid(uint32_t(i), side, side, 2, 2, {below, below, below, below}, side, side));
    }
    return orvtest::HeifFile("heic", 1, items);
  };
  struct Case {
    const char* what;
    Bytes file;
    SpiResult want;
  } cases[] = {
      {"a coded picture", orvtest::HeifFile("heic", 10, {tile}), SpiResult::kOk},
      {"an identity deriving from itself", orvtest::SelfDerivedIdentity(), SpiResult::kBrokenData},
      {"two identities deriving from each other",
       orvtest::HeifFile("heic", 1, {iden(1, 2, 64, 64), iden(2, 1, 64, 64)}),
       SpiResult::kBrokenData},
      {"a grid whose tile is the grid",
       orvtest::HeifFile("heic", 1, {grid(1, 64, 64, 1, 1, {1}, 64, 64)}), SpiResult::kBrokenData},
      {"a chain within the depth", chain(kMaxHeifDerivationDepth - 1), SpiResult::kOk},
      {"a chain beyond the depth", chain(kMaxHeifDerivationDepth + 1), SpiResult::kBrokenData},
      {"nested grids sharing their tiles", nested(3), SpiResult::kOk},
      {"a sound grid",
       orvtest::HeifFile("heic", 1, {grid(1, 128, 100, 2, 2, {10, 10, 10, 10}, 128, 100), tile}),
       SpiResult::kOk},
      {"a grid painting more than it declares",
       orvtest::HeifFile("heic", 1, {grid(1, 64, 64, 2, 2, {10, 10, 10, 10}, 128, 128), tile}),
       SpiResult::kBrokenData},
      {"a grid declaring its canvas beyond the budget",
       orvtest::HeifFile(
           "heic", 1,
           {grid(1, 1024, 1024, 16, 16, std::vector<uint32_t>(256, 10), 1024, 1024), tile}),
       SpiResult::kBrokenData},
      {"tiles that do not reach the canvas's edge",
       orvtest::HeifFile("heic", 1, {grid(1, 200, 64, 1, 3, {10, 10, 10}, 200, 64), tile}),
       SpiResult::kBrokenData},
      {"a spare column of tiles",
       orvtest::HeifFile("heic", 1, {grid(1, 64, 64, 1, 2, {10, 10}, 64, 64), tile}),
       SpiResult::kBrokenData},
      {"fewer tiles than rows times columns",
       orvtest::HeifFile("heic", 1, {grid(1, 128, 128, 2, 2, {10, 10, 10}, 128, 128), tile}),
       SpiResult::kBrokenData},
      {"a tile that does not exist",
       orvtest::HeifFile("heic", 1, {grid(1, 128, 64, 1, 2, {10, 11}, 128, 64), tile}),
       SpiResult::kBrokenData},
      {"a coded picture beyond the budget",
       orvtest::HeifFile("heic", 10, {Coded(10, {orvtest::Ispe(2000, 2000)})}),
       SpiResult::kBrokenData},
  };
  for (const Case& c : cases) {
    MemorySource src(c.file.data(), c.file.size());
    HeifHeader header;
    ASSERT_EQ(ReadHeifHeader(src, header), HeifHeaderStatus::kOk) << c.what;
    EXPECT_EQ(CheckHeifDerivation(src, header, budget), c.want) << c.what;
  }
}

// The hostile files through the whole decode, round coded pictures libheif
// really decodes: refused as broken data, with nothing allocated; the
// same structure at a sound size decodes, so the refusal is the check's.
// (libheif 1.19.8 alone decodes the 12 KB bomb to all of its 8192 x 8192
// canvas, in 300 to 600 MB.)
TEST(PhotoHeader, HostileHeifFilesAreRefusedAndSoundOnesOfTheSameMakeDecode) {
  for (const char* name : {"tile512.heic", "tile512.avif"}) {
    orvtest::LiftedPicture tile;
    ASSERT_TRUE(orvtest::LiftPrimary(ReadSample(name), tile)) << name;
    const uint32_t tw = tile.width, th = tile.height;
    // Sound: 2 x 2 tiles painting exactly their canvas.
    CountingDib sound;
    const Bytes soundFile = orvtest::TiledGrid(tile, 2, 2, 2 * tw, 2 * th, 2 * tw, 2 * th);
    ASSERT_EQ(DecodeHeif(soundFile.data(), soundFile.size(), sound), SpiResult::kOk) << name;
    EXPECT_EQ(sound.Layout().width, int(2 * tw)) << name;
    EXPECT_EQ(sound.Layout().height, int(2 * th)) << name;

    struct Case {
      const char* what;
      Bytes file;
    } cases[] = {
        {"a grid declared 64 x 64 painting 8192 x 8192", orvtest::GridBomb(tile, 64, 8192)},
        {"a grid whose canvas passes the budget", orvtest::GridBomb(tile, 20000, 20000)},
        {"an identity deriving from itself", orvtest::SelfDerivedIdentity()},
    };
    for (const Case& c : cases) {
      CountingDib dib;
      EXPECT_EQ(DecodeHeif(c.file.data(), c.file.size(), dib), SpiResult::kBrokenData)
          << name << ": " << c.what;
      EXPECT_EQ(dib.calls, 0) << name << ": " << c.what;
      // Nor does the header give it a size, so no search takes it.
      PictureFacts facts;
      EXPECT_EQ(Info(c.file, facts, false), SpiResult::kBrokenData) << name << ": " << c.what;
    }
  }
  EXPECT_LT(orvtest::SelfDerivedIdentity().size(), 300u);
}

// WebP headers made chunk by chunk.
Bytes Le(uint32_t v, int bytes) {
  Bytes b;
  for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
  return b;
}
Bytes Chunk(const std::string& tag, const Bytes& body) {
  Bytes c(tag.begin(), tag.end());
  const Bytes size = Le(uint32_t(body.size()), 4);
  c.insert(c.end(), size.begin(), size.end());
  c.insert(c.end(), body.begin(), body.end());
  if (body.size() & 1) c.push_back(0);
  return c;
}
Bytes Riff(const Bytes& chunks) {
  Bytes r = {'R', 'I', 'F', 'F'};
  const Bytes size = Le(uint32_t(chunks.size() + 4), 4);
  r.insert(r.end(), size.begin(), size.end());
  r.insert(r.end(), {'W', 'E', 'B', 'P'});
  r.insert(r.end(), chunks.begin(), chunks.end());
  return r;
}
Bytes Vp8(int w, int h) {
  Bytes b = {0x10, 0x02, 0x00, 0x9d, 0x01, 0x2a};
  for (uint8_t x : Le(uint32_t(w), 2)) b.push_back(x);
  for (uint8_t x : Le(uint32_t(h), 2)) b.push_back(x);
  b.resize(32, 0);
  return Chunk("VP8 ", b);
}
Bytes Vp8l(int w, int h, bool alpha) {
  Bytes b = {0x2f};
  const uint32_t bits = uint32_t(w - 1) | uint32_t(h - 1) << 14 | uint32_t(alpha) << 28;
  for (uint8_t x : Le(bits, 4)) b.push_back(x);
  b.resize(24, 0);
  return Chunk("VP8L", b);
}
Bytes Vp8x(int w, int h, uint8_t flags) {
  Bytes b = {flags, 0, 0, 0};
  for (uint8_t x : Le(uint32_t(w - 1), 3)) b.push_back(x);
  for (uint8_t x : Le(uint32_t(h - 1), 3)) b.push_back(x);
  return Chunk("VP8X", b);
}
Bytes Exif(int orientation) {
  const uint8_t tiff[] = {
      'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0, 1, 0, 0, 0, uint8_t(orientation),
      0,   0,   0,  0, 0, 0, 0};
  return Chunk("EXIF", Bytes(std::begin(tiff), std::end(tiff)));
}
Bytes Anmf(int w, int h, const Bytes& frame) {
  Bytes b(6, 0);
  for (uint8_t x : Le(uint32_t(w - 1), 3)) b.push_back(x);
  for (uint8_t x : Le(uint32_t(h - 1), 3)) b.push_back(x);
  b.resize(16, 0);
  b.insert(b.end(), frame.begin(), frame.end());
  return Chunk("ANMF", b);
}
Bytes Cat(std::initializer_list<Bytes> parts) { return orvtest::Concat(parts); }

TEST(PhotoHeader, WebpSizesFromChunkHeaders) {
  struct Case {
    const char* what;
    Bytes file;
    SpiResult want;
    int w, h;
    bool alpha;
  } cases[] = {
      {"lossy", Riff(Vp8(300, 200)), SpiResult::kOk, 300, 200, false},
      {"lossless with alpha", Riff(Vp8l(16383, 2, true)), SpiResult::kOk, 16383, 2, true},
      {"lossless without", Riff(Vp8l(5, 7, false)), SpiResult::kOk, 5, 7, false},
      {"extended with alpha",
       Riff(Cat({Vp8x(300, 200, 0x10), Chunk("ALPH", Bytes(9, 0)), Vp8(300, 200)})), SpiResult::kOk,
       300, 200, true},
      // libwebp takes a lossless stream's alpha from its own header.
      {"extended lossless whose header says no alpha",
       Riff(Cat({Vp8x(30, 20, 0x10), Vp8l(30, 20, false)})), SpiResult::kOk, 30, 20, false},
      {"extended, turned by its Exif", Riff(Cat({Vp8x(300, 200, 0x08), Vp8(300, 200), Exif(6)})),
       SpiResult::kOk, 200, 300, false},
      {"an Exif chunk the flags do not announce",
       Riff(Cat({Vp8x(300, 200, 0), Vp8(300, 200), Exif(6)})), SpiResult::kOk, 300, 200, false},
      {"an animation at its first frame's size",
       Riff(Cat({Vp8x(400, 400, 0x02), Chunk("ANIM", Bytes(6, 0)), Anmf(120, 80, Vp8(120, 80)),
                 Anmf(400, 400, Vp8(400, 400))})),
       SpiResult::kOk, 120, 80, false},
      {"a canvas the bitstream does not fill", Riff(Cat({Vp8x(301, 200, 0), Vp8(300, 200)})),
       SpiResult::kBrokenData, 0, 0, false},
      {"an inter frame first",
       [] {
         Bytes f = Riff(Vp8(30, 20));
         f[20] |= 1;
         return f;
       }(),
       SpiResult::kBrokenData, 0, 0, false},
      {"a lossless version 1",
       [] {
         Bytes f = Riff(Vp8l(30, 20, false));
         f[24] |= 0x20;
         return f;
       }(),
       SpiResult::kBrokenData, 0, 0, false},
      {"an extended file with no picture", Riff(Vp8x(30, 20, 0)), SpiResult::kBrokenData, 0, 0,
       false},
      {"a chunk longer than the file",
       [] {
         Bytes f = Riff(Cat({Vp8x(30, 20, 0), Chunk("ICCP", Bytes(4, 0)), Vp8(30, 20)}));
         f[12 + 18 + 7] = 0x7F;  // the top byte of ICCP's size
         return f;
       }(),
       SpiResult::kBrokenData, 0, 0, false},
      {"not RIFF", Bytes(40, 'x'), SpiResult::kUnknownFormat, 0, 0, false},
  };
  for (const Case& c : cases) {
    PictureFacts facts;
    MemorySource src(c.file.data(), c.file.size());
    ASSERT_EQ(WebpPictureInfo(src, facts), c.want) << c.what;
    if (c.want != SpiResult::kOk) continue;
    EXPECT_EQ(facts.width, c.w) << c.what;
    EXPECT_EQ(facts.height, c.h) << c.what;
    EXPECT_EQ(facts.alpha, c.alpha) << c.what;
  }
}

}  // namespace
}  // namespace orvspi
