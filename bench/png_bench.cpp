// PNG codec against libpng 1.6 on the same zlib, in one process on the
// same generated files.
//
//   Decode/<kind>    ours and libpng decode the same file in turn each
//                    iteration; counters: ours_ms, libpng_ms and
//                    ratio = libpng time / our time (>= 1: ours is faster).
//                    libpng_nocheck_ms: libpng with CRC and adler-32
//                    checks off, as our reader never checks them.
//   PeakHeap         extra heap while decoding a 6000 x 4000 picture,
//                    beyond the output bitmap (malloc is counted here).
//   EncodeSize/<k>   our writer with gpfJust at the default level against
//                    libpng's defaults; size_ratio = ours / libpng.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <png.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "imaging/Gldpng.h"
#include "imaging/Gldpngstream.h"
#include "toolkit/Streams.h"

// --- counting allocator ------------------------------------------------------
// glibc's own entry points under the public names, so every allocation of
// the process (zlib's included) is seen.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};
void Count(int64_t delta) {
  const int64_t now = g_live.fetch_add(delta) + delta;
  int64_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

extern "C" {
void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  if (p) Count(int64_t(malloc_usable_size(p)));
  return p;
}
void* calloc(size_t n, size_t m) {
  void* p = __libc_calloc(n, m);
  if (p) Count(int64_t(malloc_usable_size(p)));
  return p;
}
void* realloc(void* old, size_t n) {
  const int64_t before = old ? int64_t(malloc_usable_size(old)) : 0;
  void* p = __libc_realloc(old, n);
  if (p)
    Count(int64_t(malloc_usable_size(p)) - before);
  else if (n == 0)
    Count(-before);
  return p;
}
void free(void* p) {
  if (p) Count(-int64_t(malloc_usable_size(p)));
  __libc_free(p);
}
void* memalign(size_t a, size_t n) {
  void* p = __libc_memalign(a, n);
  if (p) Count(int64_t(malloc_usable_size(p)));
  return p;
}
void* aligned_alloc(size_t a, size_t n) { return memalign(a, n); }
int posix_memalign(void** out, size_t a, size_t n) {
  void* p = memalign(a, n);
  if (!p) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}

namespace {

using Bytes = std::vector<uint8_t>;

// --- pictures --------------------------------------------------------------

// Smooth light fields, edges and sensor noise: compresses like a photo.
uint8_t PhotoSample(int x, int y, int channel, std::mt19937& rng) {
  const double c = channel * 1.7;
  double v = 128 + 55 * std::sin(x / (90.0 + 13 * channel) + y / 140.0 + c) +
             35 * std::sin((x - y) / 37.0 - c) * std::cos(y / 53.0 + x / 211.0);
  if (((x / 200) + (y / 150)) % 5 == 0) v = 0.6 * v + 60;  // patches with hard edges
  v += int(rng() % 9) - 4;
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

struct Picture {
  int width, height, colorType, depth;
  bool interlace;
  std::vector<uint8_t> rows;  // PNG sample layout, big-endian 16-bit
  size_t rowBytes;
};

Picture MakePicture(const std::string& kind, int width, int height) {
  Picture p{width, height, PNG_COLOR_TYPE_RGB, 8, false, {}, 0};
  if (kind == "rgba") p.colorType = PNG_COLOR_TYPE_RGBA;
  if (kind == "palette") p.colorType = PNG_COLOR_TYPE_PALETTE;
  if (kind == "rgb16") p.depth = 16;
  if (kind == "interlaced") p.interlace = true;
  const int channels = p.colorType == PNG_COLOR_TYPE_RGBA  ? 4
                       : p.colorType == PNG_COLOR_TYPE_RGB ? 3
                                                           : 1;
  const int bytesPerSample = p.depth / 8;
  p.rowBytes = size_t(width) * channels * bytesPerSample;
  p.rows.resize(p.rowBytes * height);
  std::mt19937 rng(42);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = p.rows.data() + p.rowBytes * y;
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        uint8_t v;
        if (p.colorType == PNG_COLOR_TYPE_PALETTE)
          v = uint8_t(PhotoSample(x, y, 0, rng) / 4 * 4 + (PhotoSample(x, y, 1, rng) >> 6));
        else if (c == 3)
          v = uint8_t(std::min(255, std::max(0, 255 - (x + y) / 40 + int(rng() % 3))));
        else
          v = PhotoSample(x, y, c, rng);
        uint8_t* s = row + (size_t(x) * channels + c) * bytesPerSample;
        s[0] = v;
        if (bytesPerSample == 2) s[1] = uint8_t(rng());
      }
    }
  }
  return p;
}

void WriteCallback(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

// libpng's defaults: adaptive filters, zlib level 6.
Bytes EncodeWithLibpng(const Picture& p) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) std::abort();
  png_set_write_fn(png, &out, WriteCallback, nullptr);
  png_set_IHDR(png, info, p.width, p.height, p.depth, p.colorType,
               p.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (p.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_color pal[256];
    for (int i = 0; i < 256; ++i) pal[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)};
    png_set_PLTE(png, info, pal, 256);
  }
  png_write_info(png, info);
  std::vector<png_bytep> rows(p.height);
  for (int y = 0; y < p.height; ++y) rows[y] = const_cast<uint8_t*>(p.rows.data()) + p.rowBytes * y;
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// --- decoders ----------------------------------------------------------------

struct MemoryReader {
  const Bytes* data;
  size_t pos;
};

// libpng to the same pixel layout as ours where it can: BGR, 8-bit
// samples, palette indices; alpha stays interleaved.
size_t DecodeWithLibpng(const Bytes& file, bool checks) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  MemoryReader reader{&file, 0};
  if (setjmp(png_jmpbuf(png))) std::abort();
  png_set_read_fn(png, &reader, [](png_structp p, png_bytep out, png_size_t n) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(p));
    std::memcpy(out, r->data->data() + r->pos, n);
    r->pos += n;
  });
  if (!checks) {
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#ifdef PNG_IGNORE_ADLER32
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
  }
  png_read_info(png, info);
  png_set_bgr(png);
  png_set_strip_16(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  const int height = static_cast<int>(png_get_image_height(png, info));
  uint8_t* pixels = static_cast<uint8_t*>(std::calloc(rowBytes * height, 1));
  std::vector<png_bytep> rows(height);
  for (int y = 0; y < height; ++y) rows[y] = pixels + rowBytes * y;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  const size_t sum = pixels[rowBytes * height / 2];
  std::free(pixels);
  return sum;
}

size_t DecodeWithOurs(const Bytes& file) {
  tk::TBufferStream stream(file.data(), file.size());
  orv::TGLDPNG png;
  png.LoadFromStream(stream);
  return png.GetImage().Bits()[png.GetImage().ImageSize() / 2];
}

const Bytes& DecodeFile(const std::string& kind) {
  static std::map<std::string, Bytes> files;
  auto it = files.find(kind);
  if (it == files.end())
    it = files.emplace(kind, EncodeWithLibpng(MakePicture(kind, 4000, 3000))).first;
  return it->second;
}

double Millis(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void BM_Decode(benchmark::State& state, const std::string& kind) {
  const Bytes& file = DecodeFile(kind);
  double ours = 0, theirs = 0, nocheck = 0;
  for (auto _ : state) {
    // Interleaved, so a busy machine slows both alike.
    auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(DecodeWithOurs(file));
    auto t1 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(DecodeWithLibpng(file, true));
    auto t2 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(DecodeWithLibpng(file, false));
    auto t3 = std::chrono::steady_clock::now();
    ours += Millis(t1 - t0);
    theirs += Millis(t2 - t1);
    nocheck += Millis(t3 - t2);
  }
  const double n = double(state.iterations());
  state.counters["ours_ms"] = ours / n;
  state.counters["libpng_ms"] = theirs / n;
  state.counters["libpng_nocheck_ms"] = nocheck / n;
  state.counters["ratio"] = theirs / ours;
  state.counters["ratio_nocheck"] = nocheck / ours;
  state.counters["file_MiB"] = double(file.size()) / (1 << 20);
  // Which row filters libpng chose for the file.
  {
    Bytes idat;
    for (size_t p = 8; p + 12 <= file.size();) {
      const uint32_t len = (uint32_t(file[p]) << 24) | (uint32_t(file[p + 1]) << 16) |
                           (uint32_t(file[p + 2]) << 8) | file[p + 3];
      if (std::memcmp(&file[p + 4], "IDAT", 4) == 0)
        idat.insert(idat.end(), file.begin() + p + 8, file.begin() + p + 8 + len);
      p += 12 + len;
    }
    if (kind != "interlaced") {
      const int bits = kind == "rgb16" ? 48 : kind == "rgba" ? 32 : kind == "palette" ? 8 : 24;
      const size_t rowLen = size_t(4000) * bits / 8 + 1;
      Bytes raw(rowLen * 3000);
      uLongf size = raw.size();
      uncompress(raw.data(), &size, idat.data(), uLong(idat.size()));
      int count[5] = {};
      for (int y = 0; y < 3000; ++y) ++count[raw[rowLen * y] % 5];
      for (int f = 0; f < 5; ++f) state.counters["rows_filter" + std::to_string(f)] = count[f];
    }
  }
}

void BM_PeakHeap(benchmark::State& state) {
  const Bytes file = EncodeWithLibpng(MakePicture("rgb", 6000, 4000));
  const std::string path = "/tmp/orv-png-bench-6000x4000.png";
  {
    tk::TFileStream out(path, tk::FileMode::Create);
    out.WriteBuffer(file.data(), file.size());
  }
  int64_t extraMemory = 0, extraFile = 0;
  for (auto _ : state) {
    for (bool fromFile : {false, true}) {
      orv::TGLDPNG png;
      const int64_t base = g_live.load();
      g_peak.store(base);
      if (fromFile) {
        png.LoadFromFile(path);
      } else {
        tk::TBufferStream stream(file.data(), file.size());
        png.LoadFromStream(stream);
      }
      const int64_t bitmaps =
          int64_t(png.GetImage().ImageSize()) +
          int64_t(png.GetAlphaBitmap().Empty() ? 0 : png.GetAlphaBitmap().ImageSize());
      // The bitmap's own block is rounded up by malloc; count it as output.
      const int64_t extra = g_peak.load() - base - bitmaps - 4096;
      (fromFile ? extraFile : extraMemory) = std::max<int64_t>(0, extra);
    }
  }
  std::remove(path.c_str());
  state.counters["peak_extra_KiB_memory"] = double(extraMemory) / 1024;
  state.counters["peak_extra_KiB_file"] = double(extraFile) / 1024;
  state.counters["limit_KiB"] = 1024;
}

orv::TGLDPNG* OursFromPicture(const Picture& p, orv::TGLDPNG& png) {
  tk::TBitmap& image = png.OwnImage();
  if (p.colorType == PNG_COLOR_TYPE_PALETTE) {
    std::vector<tk::TPalEntry> pal(256);
    for (int i = 0; i < 256; ++i)
      pal[i].r = uint8_t(i), pal[i].g = uint8_t(255 - i), pal[i].b = uint8_t(i * 3);
    image.SetPalette(pal);
    image.Allocate(tk::TPixelFormat::pf8bit, p.width, p.height);
  } else {
    image.Allocate(tk::TPixelFormat::pf24bit, p.width, p.height);
  }
  const bool alpha = p.colorType == PNG_COLOR_TYPE_RGBA;
  if (alpha) {
    png.OwnAlphaBitmap().Allocate(tk::TPixelFormat::pf8bit, p.width, p.height);
    png.AlphaChannel = true;
  }
  const int channels = alpha ? 4 : p.colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.rows.data() + p.rowBytes * y;
    uint8_t* dst = image.ScanLine(y);
    for (int x = 0; x < p.width; ++x) {
      if (channels == 1) {
        dst[x] = src[x];
        continue;
      }
      dst[3 * x] = src[channels * x + 2];
      dst[3 * x + 1] = src[channels * x + 1];
      dst[3 * x + 2] = src[channels * x];
      if (alpha) png.OwnAlphaBitmap().ScanLine(y)[x] = uint8_t(255 - src[4 * x + 3]);
    }
  }
  png.FilterType = orv::gpfJust;
  png.Interlace = p.interlace ? orv::gptAdam7 : orv::gptNone;
  return &png;
}

void BM_EncodeSize(benchmark::State& state, const std::string& kind) {
  // 8-bit samples: what our writer can be given.
  const Picture p = MakePicture(kind == "rgb16" ? "rgb" : kind, 1600, 1200);
  const size_t theirs = EncodeWithLibpng(p).size();
  size_t ours = 0;
  for (auto _ : state) {
    orv::TGLDPNG png;
    OursFromPicture(p, png);
    tk::TMemoryStream out;
    png.SaveToStream(out);
    ours = out.Data().size();
  }
  state.counters["ours_KiB"] = double(ours) / 1024;
  state.counters["libpng_KiB"] = double(theirs) / 1024;
  state.counters["size_ratio"] = double(ours) / double(theirs);
}

// One filter over a 4000-pixel row: the fast version and the reference.
void BM_Unfilter(benchmark::State& state) {
  const uint8_t filter = uint8_t(state.range(0));
  const int bpp = int(state.range(1));
  const bool reference = state.range(2) != 0;
  const size_t len = size_t(4000) * bpp;
  std::vector<uint8_t> prev(len + 16), row(len + 16);
  std::mt19937 rng(1);
  for (auto& b : prev) b = uint8_t(rng());
  for (auto& b : row) b = uint8_t(rng());
  for (auto _ : state) {
    if (reference)
      orv::pngrow::UnfilterRowRef(filter, row.data(), prev.data(), len, bpp);
    else
      orv::pngrow::UnfilterRow(filter, row.data(), prev.data(), len, bpp);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(len));
}

}  // namespace

BENCHMARK(BM_Unfilter)
    ->ArgsProduct({{1, 2, 3, 4}, {3, 4, 6}, {0, 1}})
    ->ArgNames({"filter", "bpp", "ref"});
BENCHMARK_CAPTURE(BM_Decode, rgb, std::string("rgb"))->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_Decode, rgba, std::string("rgba"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_Decode, palette, std::string("palette"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_Decode, rgb16, std::string("rgb16"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_Decode, interlaced, std::string("interlaced"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_PeakHeap)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_EncodeSize, rgb, std::string("rgb"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_EncodeSize, rgba, std::string("rgba"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_EncodeSize, palette, std::string("palette"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_EncodeSize, interlaced, std::string("interlaced"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
