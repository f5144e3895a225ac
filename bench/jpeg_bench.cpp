// Decoding a 6000 x 4000 photo-sized JPEG through the program's path
// (TJPEGImage into a TBitmap, and LoadPicture from a file) against plain
// libjpeg-turbo into a plain buffer, measured in the same run. The summary
// line gives the program's overhead over the reference; the target is at
// most 10 %.
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

#include "imaging/JpegImage.h"
#include "imaging/PictureLoader.h"
#include "toolkit/Bitmap.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Something like a photograph: a sky-to-ground gradient, soft large shapes,
// fine texture and sensor-like noise, so the entropy decoder and the
// transforms have realistic work (a flat picture would decode too fast).
std::vector<uint8_t> SyntheticPhoto() {
  std::vector<uint8_t> px(size_t(kWidth) * kHeight * 3);
  std::vector<int> waveX(kWidth), waveY(kHeight);
  for (int x = 0; x < kWidth; ++x)
    waveX[x] = int(40 * std::sin(x * 0.0021) + 18 * std::sin(x * 0.037));
  for (int y = 0; y < kHeight; ++y)
    waveY[y] = int(40 * std::cos(y * 0.0017) + 15 * std::sin(y * 0.051));
  uint32_t state = 2463534242u;
  uint8_t* p = px.data();
  for (int y = 0; y < kHeight; ++y) {
    const int sky = 255 * y / kHeight;
    for (int x = 0; x < kWidth; ++x) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const int noise = int(state & 15) - 8;
      const int shape = waveX[x] + waveY[y];
      const int texture = ((x ^ y) & 31) / 4;
      *p++ = static_cast<uint8_t>(std::clamp(90 + sky / 2 + shape + noise + texture, 0, 255));
      *p++ = static_cast<uint8_t>(std::clamp(120 + shape / 2 - sky / 4 + noise, 0, 255));
      *p++ = static_cast<uint8_t>(std::clamp(220 - sky + shape / 3 + noise - texture, 0, 255));
    }
  }
  return px;
}

std::vector<uint8_t> EncodeQuality90(const std::vector<uint8_t>& rgb) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = kWidth;
  c.image_height = kHeight;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + size_t(c.next_scanline) * kWidth * 3);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> file(out, out + size);
  std::free(out);
  return file;
}

struct Fixture {
  std::vector<uint8_t> jpeg;
  std::string path;
  Fixture() {
    jpeg = EncodeQuality90(SyntheticPhoto());
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

void BM_TJPEGImageToBitmap(benchmark::State& state) {
  const std::vector<uint8_t>& file = TestPicture().jpeg;
  for (auto _ : state) {
    orv::TJPEGImage jpeg;
    jpeg.LoadFromMemory(file.data(), file.size());
    tk::TBitmap bmp;
    jpeg.AssignTo(bmp);
    benchmark::DoNotOptimize(bmp.Bits());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
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

// Prints the usual table and then the overhead of each program path over
// the reference, from the medians of the repetitions. Both clocks are
// shown: on a busy machine the process's CPU time is the steadier one.
class OverheadReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      real_[r.run_name.function_name].push_back(r.GetAdjustedRealTime());
      cpu_[r.run_name.function_name].push_back(r.GetAdjustedCPUTime());
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* name : {"BM_TJPEGImageToBitmap", "BM_LoadPictureFromFile"}) {
      Line(name, "real", real_);
      Line(name, "cpu", cpu_);
    }
  }

 private:
  using Times = std::map<std::string, std::vector<double>>;
  static double Median(Times& times, const std::string& name) {
    std::vector<double>& v = times[name];
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  static void Line(const char* name, const char* clock, Times& times) {
    const double reference = Median(times, "BM_LibjpegReference");
    const double t = Median(times, name);
    if (reference <= 0 || t <= 0) return;
    std::printf("%-24s %-4s %8.1f ms vs reference %8.1f ms: overhead %+.1f %% (target <= 10 %%)\n",
                name, clock, t, reference, (t / reference - 1) * 100);
  }
  Times real_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  bool repetitionsGiven = false;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0) repetitionsGiven = true;
  std::string repetitions = "--benchmark_repetitions=5";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  if (!repetitionsGiven) {
    args.push_back(repetitions.data());
    args.push_back(interleave.data());
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  TestPicture();
  OverheadReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
