// The PNG reader against libpng 1.6 on the conformance images of libpng's
// source package (scripts/fetch-pngsuite.sh), and on damaged copies of
// them: every valid image must decode to libpng's pixels, every damaged
// one must load, raise EGLDPNG or stop quietly.
#include <gtest/gtest.h>
#ifdef ORV_HAVE_LIBPNG
#include <png.h>
#endif

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imaging/Gldpng.h"
#include "png_testkit.h"
#include "toolkit/Exceptions.h"

#ifndef ORV_PNGSUITE_DIR
#define ORV_PNGSUITE_DIR "/var/cache/orvanelle/pngsuite"
#endif

namespace fs = std::filesystem;
using pngtest::Bytes;

namespace {

const fs::path kSuite = fs::path(ORV_PNGSUITE_DIR) / "contrib";

std::vector<fs::path> PngFiles(const fs::path& dir, bool recursive) {
  std::vector<fs::path> out;
  if (!fs::is_directory(dir)) return out;
  auto add = [&](const fs::directory_entry& e) {
    if (e.is_regular_file() && e.path().extension() == ".png") out.push_back(e.path());
  };
  if (recursive) {
    for (const auto& e : fs::recursive_directory_iterator(dir)) add(e);
  } else {
    for (const auto& e : fs::directory_iterator(dir)) add(e);
  }
  std::sort(out.begin(), out.end());
  return out;
}

Bytes ReadFile(const fs::path& path) {
  tk::TMemoryStream stream;
  stream.LoadFromFile(path.string());
  return stream.Data();
}

#ifdef ORV_HAVE_LIBPNG
// libpng's picture as RGBA, 8 bits a sample: palettes and low gray depths
// expanded, 16-bit samples reduced to their high byte, tRNS as alpha.
struct Reference {
  int width = 0, height = 0, colorType = 0, depth = 0;
  bool hasTrns = false;
  png_color_16 trnsColor{};
  std::vector<uint8_t> rgba;
};

struct MemoryReader {
  const Bytes* data;
  size_t pos;
};

bool DecodeWithLibpng(const Bytes& file, Reference& ref) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  MemoryReader reader{&file, 0};
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, [](png_structp p, png_bytep out, png_size_t n) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(p));
    if (r->pos + n > r->data->size()) png_error(p, "short");
    std::copy_n(r->data->data() + r->pos, n, out);
    r->pos += n;
  });
  png_read_info(png, info);
  ref.width = static_cast<int>(png_get_image_width(png, info));
  ref.height = static_cast<int>(png_get_image_height(png, info));
  ref.colorType = png_get_color_type(png, info);
  ref.depth = png_get_bit_depth(png, info);
  png_bytep trnsAlpha = nullptr;
  int trnsCount = 0;
  png_color_16p trnsColor = nullptr;
  if (png_get_tRNS(png, info, &trnsAlpha, &trnsCount, &trnsColor)) {
    ref.hasTrns = true;
    if (trnsColor) ref.trnsColor = *trnsColor;
  }
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  ref.rgba.assign(size_t(ref.width) * ref.height * 4, 0);
  rows.resize(ref.height);
  for (int y = 0; y < ref.height; ++y) rows[y] = ref.rgba.data() + size_t(y) * ref.width * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void ColourOf(const tk::TBitmap& bmp, int x, int y, uint8_t rgb[3]) {
  const uint32_t v = pngtest::PixelAt(bmp, x, y);
  if (bmp.BitCount() <= 8) {
    const auto& pal = bmp.Palette();
    ASSERT_LT(v, pal.size()) << "index outside the palette at " << x << "," << y;
    rgb[0] = pal[v].r, rgb[1] = pal[v].g, rgb[2] = pal[v].b;
  } else {
    rgb[0] = uint8_t(v >> 16), rgb[1] = uint8_t(v >> 8), rgb[2] = uint8_t(v);
  }
}

void CompareWithLibpng(const fs::path& path) {
  SCOPED_TRACE(path.string());
  const Bytes file = ReadFile(path);
  Reference ref;
  ASSERT_TRUE(DecodeWithLibpng(file, ref)) << "libpng rejects a suite image";
  orv::TGLDPNG png;
  pngtest::LoadBytes(png, file);
  const tk::TBitmap& image = png.GetImage();
  ASSERT_EQ(image.Width(), ref.width);
  ASSERT_EQ(image.Height(), ref.height);
  const bool palette = ref.colorType == PNG_COLOR_TYPE_PALETTE;
  const bool alphaChannel = (ref.colorType & PNG_COLOR_MASK_ALPHA) != 0;
  const tk::TBitmap& alpha = png.GetAlphaBitmap();
  if (alphaChannel) ASSERT_FALSE(alpha.Empty());

  // The transparent colour of gray and truecolour images, by our rule.
  if (ref.hasTrns && !palette) {
    uint32_t want;
    const png_color_16& t = ref.trnsColor;
    if (ref.colorType == PNG_COLOR_TYPE_GRAY) {
      int level = ref.depth == 16 ? t.gray >> 8 : t.gray & 0xFF;
      if (ref.depth < 8) level = (t.gray & ((1 << ref.depth) - 1)) * 255 / ((1 << ref.depth) - 1);
      want = tk::RGBColor(level, level, level);
    } else {
      const int s = ref.depth == 16 ? 8 : 0;
      want = tk::RGBColor(uint8_t(t.red >> s), uint8_t(t.green >> s), uint8_t(t.blue >> s));
    }
    EXPECT_EQ(png.TransColor, want);
    EXPECT_TRUE(image.Transparent());
  }
  for (int y = 0; y < ref.height; ++y) {
    for (int x = 0; x < ref.width; ++x) {
      const uint8_t* want = ref.rgba.data() + (size_t(y) * ref.width + x) * 4;
      uint8_t got[3];
      ColourOf(image, x, y, got);
      ASSERT_EQ(got[0], want[0]) << "red at " << x << "," << y;
      ASSERT_EQ(got[1], want[1]) << "green at " << x << "," << y;
      ASSERT_EQ(got[2], want[2]) << "blue at " << x << "," << y;
      if (alphaChannel || (palette && !alpha.Empty())) {
        ASSERT_EQ(255 - pngtest::PixelAt(alpha, x, y), want[3]) << "alpha at " << x << "," << y;
      } else if (palette && ref.hasTrns) {
        // A single fully transparent entry comes as a transparent colour.
        const bool clear =
            png.TransColor == orv::TGLDPNG::kPaletteIndexColor + pngtest::PixelAt(image, x, y);
        ASSERT_EQ(clear, want[3] == 0) << "transparency at " << x << "," << y;
      }
    }
  }
}

#endif

std::vector<fs::path> ValidImages() {
  std::vector<fs::path> all = PngFiles(kSuite / "pngsuite", true);
  for (const auto& p : PngFiles(kSuite / "testpngs", false)) all.push_back(p);
  return all;
}

// Loads `file`; anything other than success, EGLDPNG or a refused size is
// a failure of the test (a crash fails it harder).
void LoadDamaged(const Bytes& file, const std::string& what) {
  orv::TGLDPNG png;
  png.Reduced16Bit = file.size() & 1;
  try {
    pngtest::LoadBytes(png, file);
  } catch (const orv::EGLDPNG&) {
  } catch (const tk::EOutOfResources&) {
  } catch (const std::exception& e) {
    ADD_FAILURE() << what << ": unexpected " << e.what();
  }
}

}  // namespace

TEST(PngSuite, EveryValidImageMatchesLibpng) {
#ifndef ORV_HAVE_LIBPNG
  GTEST_SKIP() << "libpng is not part of this build";
#else
  const auto files = ValidImages();
  if (files.empty())
    GTEST_SKIP() << "PNG conformance images not found under " << kSuite
                 << "; run scripts/fetch-pngsuite.sh";
  EXPECT_GT(files.size(), 150u);
  for (const auto& path : files) CompareWithLibpng(path);
#endif
}

TEST(PngSuite, CrashersAreRejectedOrStopQuietly) {
  const auto files = PngFiles(kSuite / "testpngs" / "crashers", false);
  if (files.empty()) GTEST_SKIP() << "crasher images not found; run scripts/fetch-pngsuite.sh";
  for (const auto& path : files) LoadDamaged(ReadFile(path), path.filename().string());
}

TEST(PngSuite, DamagedCopiesAreRejectedOrStopQuietly) {
  const auto files = ValidImages();
  if (files.empty())
    GTEST_SKIP() << "PNG conformance images not found; run scripts/fetch-pngsuite.sh";
  std::mt19937 rng(2026);
  size_t variants = 0;
  for (const auto& path : files) {
    const Bytes file = ReadFile(path);
    const std::string name = path.filename().string();
    // Truncated at every 1/32 and at each of the first 64 bytes.
    for (size_t cut = 0; cut < std::min<size_t>(file.size(), 64); ++cut, ++variants)
      LoadDamaged(Bytes(file.begin(), file.begin() + cut), name + " cut");
    for (size_t k = 1; k < 32; ++k, ++variants)
      LoadDamaged(Bytes(file.begin(), file.begin() + file.size() * k / 32), name + " cut");
    // Flipped bytes.
    for (int n = 0; n < 16; ++n, ++variants) {
      Bytes bad = file;
      const int flips = 1 + n % 4;
      for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] ^= uint8_t(1 + rng() % 255);
      LoadDamaged(bad, name + " flipped");
    }
    // Wrong chunk lengths.
    size_t p = 8;
    while (p + 12 <= file.size()) {
      const uint32_t len = (uint32_t(file[p]) << 24) | (uint32_t(file[p + 1]) << 16) |
                           (uint32_t(file[p + 2]) << 8) | file[p + 3];
      for (uint32_t wrong : {len + 1, len - 1, len + 4096, 0u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes bad = file;
        bad[p] = uint8_t(wrong >> 24), bad[p + 1] = uint8_t(wrong >> 16);
        bad[p + 2] = uint8_t(wrong >> 8), bad[p + 3] = uint8_t(wrong);
        LoadDamaged(bad, name + " length");
        ++variants;
      }
      if (len > file.size()) break;
      p += 12 + len;
    }
  }
  EXPECT_GT(variants, 8000u);
}
