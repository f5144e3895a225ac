// Decoding a 6000 x 4000 photo-sized JPEG through the program's path
// (TJPEGImage into a TBitmap, and LoadPicture from a file) against plain
// libjpeg-turbo into a plain buffer, measured in the same run. The summary
// line gives the program's overhead over the reference; the target is at
// most 10 %. The same frame with an Exif Orientation of 6 (turned a quarter,
// so every row becomes a column) and of 3 (turned half) is decoded upright,
// and its cost is given against the plain decode of the same run; the
// target there is also at most 10 %.
//
//   jpeg_bench [google benchmark flags]
// Defaults to 5 repetitions, randomly interleaved, unless flags say
// otherwise.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bench/bench_support.h"
#include "bench/synthetic_photo.h"
#include "imaging/JpegImage.h"
#include "imaging/PictureLoader.h"
#include "toolkit/Bitmap.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

std::vector<uint8_t> SyntheticPhoto() { return benchphoto::SyntheticPhoto(kWidth, kHeight); }

std::vector<uint8_t> EncodeQuality90(const std::vector<uint8_t>& rgb) {
  return benchphoto::EncodeQuality90(rgb, kWidth, kHeight);
}

using benchphoto::WithOrientation;

struct Fixture {
  std::vector<uint8_t> jpeg;
  std::vector<uint8_t> quarterTurned;
  std::vector<uint8_t> halfTurned;
  std::string path;
  Fixture() {
    jpeg = EncodeQuality90(SyntheticPhoto());
    quarterTurned = WithOrientation(jpeg, 6);
    halfTurned = WithOrientation(jpeg, 3);
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvanelle_jpeg_bench.jpg";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(jpeg.data(), 1, jpeg.size(), f) != jpeg.size()) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      std::exit(1);
    }
    std::fclose(f);
  }
  ~Fixture() { std::remove(path.c_str()); }
};

Fixture& TestPicture() {
  static Fixture fixture;
  return fixture;
}

// The reference: libjpeg-turbo straight into a freshly allocated buffer,
// with the same quality settings the program uses.
void BM_LibjpegReference(benchmark::State& state) {
  const std::vector<uint8_t>& file = TestPicture().jpeg;
  for (auto _ : state) {
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
    const size_t stride = size_t(d.output_width) * 3;
    std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * d.output_height]);
    JSAMPROW rows[16];
    while (d.output_scanline < d.output_height) {
      const JDIMENSION n = std::min<JDIMENSION>(16, d.output_height - d.output_scanline);
      for (JDIMENSION i = 0; i < n; ++i) rows[i] = pixels.get() + (d.output_scanline + i) * stride;
      jpeg_read_scanlines(&d, rows, n);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    benchmark::DoNotOptimize(pixels.get());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void DecodeToBitmap(benchmark::State& state, const std::vector<uint8_t>& file, int wantWidth) {
  for (auto _ : state) {
    orv::TJPEGImage jpeg;
    jpeg.LoadFromMemory(file.data(), file.size());
    tk::TBitmap bmp;
    jpeg.AssignTo(bmp);
    if (bmp.Width() != wantWidth) state.SkipWithError("picture not decoded upright");
    benchmark::DoNotOptimize(bmp.Bits());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_TJPEGImageToBitmap(benchmark::State& state) {
  DecodeToBitmap(state, TestPicture().jpeg, kWidth);
}
void BM_TJPEGImageTurnedQuarter(benchmark::State& state) {
  DecodeToBitmap(state, TestPicture().quarterTurned, kHeight);
}
void BM_TJPEGImageTurnedHalf(benchmark::State& state) {
  DecodeToBitmap(state, TestPicture().halfTurned, kWidth);
}

void BM_LoadPictureFromFile(benchmark::State& state) {
  const std::string& path = TestPicture().path;
  tk::TStringList extensions;
  orv::FillPictureExtensions(extensions, ".bmp,.jpg,.jpeg,.png");
  for (auto _ : state) {
    tk::TBitmap bmp;
    orv::LoadPicture(path, bmp, extensions, nullptr);
    if (bmp.Width() != kWidth) state.SkipWithError("picture not decoded");
    benchmark::DoNotOptimize(bmp.Bits());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK(BM_LibjpegReference)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TJPEGImageToBitmap)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadPictureFromFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TJPEGImageTurnedQuarter)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TJPEGImageTurnedHalf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (!benchsupport::Initialize(argc, argv, 5, true)) return 1;
  TestPicture();
  benchsupport::OverheadReporter reporter({
      {"BM_TJPEGImageToBitmap", "BM_LibjpegReference"},
      {"BM_LoadPictureFromFile", "BM_LibjpegReference"},
      {"BM_TJPEGImageTurnedQuarter", "BM_TJPEGImageToBitmap"},
      {"BM_TJPEGImageTurnedHalf", "BM_TJPEGImageToBitmap"},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
