// A 24 MP and a 96 MP photo brought to a 1920 x 1080 box: decoded at the
// size shown (libjpeg's DCT scaling to the smallest eighth that covers the
// fitted size) against decoded in full, both then shrunk to the fitted
// size by the same area-averaging shrink, which stands in for the halftone
// stretch GDI does on screen. Measured in the same run. The summary lines
// give the speed-up (target at least 4) and the peak memory of each path,
// measured in a child process per path (target at most 1/8), and what the
// Exif quarter turn costs on the scaled path (target at most 10 %).
//
//   jpeg_scale_bench [google benchmark flags]
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/synthetic_photo.h"
#include "imaging/JpegImage.h"
#include "toolkit/Bitmap.h"

namespace {

constexpr int kBoxWidth = 1920, kBoxHeight = 1080;

struct Photo {
  int width, height;
  std::vector<uint8_t> jpeg, quarterTurned;
};

Photo& PhotoOf(int megapixels) {
  static std::map<int, Photo> photos;
  auto it = photos.find(megapixels);
  if (it != photos.end()) return it->second;
  // 3:2, as cameras and many phones take them.
  const int w = megapixels == 96 ? 12000 : 6000, h = megapixels == 96 ? 8000 : 4000;
  Photo p{w, h, benchphoto::EncodeQuality90(benchphoto::SyntheticPhoto(w, h), w, h), {}};
  p.quarterTurned = benchphoto::WithOrientation(p.jpeg, 6);
  return photos.emplace(megapixels, std::move(p)).first->second;
}

// Area-averaging shrink of a 24-bit bitmap into w x h.
void Shrink(const tk::TBitmap& src, int w, int h, tk::TBitmap& dst) {
  dst.Allocate(tk::TPixelFormat::pf24bit, w, h);
  const int sw = src.Width(), sh = src.Height();
  std::vector<uint32_t> sum(size_t(w) * 3);
  std::vector<uint32_t> count(size_t(w));
  for (int y = 0; y < h; ++y) {
    const int y0 = int(int64_t(y) * sh / h), y1 = std::max(y0 + 1, int(int64_t(y + 1) * sh / h));
    std::fill(sum.begin(), sum.end(), 0);
    std::fill(count.begin(), count.end(), 0);
    for (int sy = y0; sy < y1; ++sy) {
      const uint8_t* row = src.ScanLine(sy);
      for (int x = 0; x < w; ++x) {
        const int x0 = int(int64_t(x) * sw / w),
                  x1 = std::max(x0 + 1, int(int64_t(x + 1) * sw / w));
        for (int sx = x0; sx < x1; ++sx) {
          sum[3 * x] += row[3 * sx];
          sum[3 * x + 1] += row[3 * sx + 1];
          sum[3 * x + 2] += row[3 * sx + 2];
          ++count[x];
        }
      }
    }
    uint8_t* out = dst.ScanLine(y);
    for (int i = 0; i < 3 * w; ++i) out[i] = uint8_t(sum[i] / count[i / 3]);
  }
}

// One picture brought to the box; `scaled` picks the path.
void BringToBox(const std::vector<uint8_t>& file, bool scaled, tk::TBitmap& shown) {
  orv::TJPEGImage jpeg;
  jpeg.LoadFromMemory(file.data(), file.size());
  int fw = 0, fh = 0;
  orv::TJPEGImage::FitInto(jpeg.Width(), jpeg.Height(), kBoxWidth, kBoxHeight, fw, fh);
  tk::TBitmap decoded;
  if (scaled)
    jpeg.AssignTo(decoded, fw, fh);
  else
    jpeg.AssignTo(decoded);
  Shrink(decoded, fw, fh, shown);
}

void BM_Box(benchmark::State& state, int megapixels, bool scaled, bool turned) {
  const Photo& p = PhotoOf(megapixels);
  for (auto _ : state) {
    tk::TBitmap shown;
    BringToBox(turned ? p.quarterTurned : p.jpeg, scaled, shown);
    benchmark::DoNotOptimize(shown.Bits());
  }
}

BENCHMARK_CAPTURE(BM_Box, Full24, 24, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Box, Scaled24, 24, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Box, Scaled24Turned, 24, true, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Box, Full96, 96, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Box, Scaled96, 96, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Box, Scaled96Turned, 96, true, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Peak resident memory (KiB) of a child that does `work` once, less that of
// a child that does nothing: what the work itself needed at its peak.
long PeakKiB(const std::function<void()>& work) {
  auto run = [](const std::function<void()>& f) -> long {
    const pid_t pid = fork();
    if (pid == 0) {
      if (f) f();
      _exit(0);
    }
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
  };
  return run(work) - run(nullptr);
}

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        real_[r.run_name.function_name + "/" + r.run_name.args].push_back(r.GetAdjustedRealTime());
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (int mp : {24, 96}) {
      const std::string n = std::to_string(mp);
      const double full = Median("BM_Box/Full" + n), scaled = Median("BM_Box/Scaled" + n),
                   turned = Median("BM_Box/Scaled" + n + "Turned");
      const Photo& p = PhotoOf(mp);
      const long fullKiB = PeakKiB([&] {
        tk::TBitmap shown;
        BringToBox(p.jpeg, false, shown);
      });
      const long scaledKiB = PeakKiB([&] {
        tk::TBitmap shown;
        BringToBox(p.jpeg, true, shown);
      });
      std::printf(
          "%2d MP into %dx%d: full %.1f ms, scaled %.1f ms: %.2f x faster (target >= 4); peak "
          "memory full %ld KiB, scaled %ld KiB: %.3f (target <= 0.125); quarter turn on the "
          "scaled path %+.1f %% (target <= 10 %%)\n",
          mp, kBoxWidth, kBoxHeight, full, scaled, scaled > 0 ? full / scaled : 0.0, fullKiB,
          scaledKiB, fullKiB > 0 ? double(scaledKiB) / double(fullKiB) : 0.0,
          scaled > 0 ? (turned / scaled - 1) * 100 : 0.0);
    }
  }

 private:
  double Median(const std::string& name) {
    std::vector<double>& v = real_[name];
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  std::map<std::string, std::vector<double>> real_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=3";
  bool given = false;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0) given = true;
  if (!given) args.push_back(repetitions.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  PhotoOf(24);
  PhotoOf(96);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
