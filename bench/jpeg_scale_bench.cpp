// A 24 MP and a 96 MP photo brought to a 1920 x 1080 box: decoded at the
// size shown (libjpeg's DCT scaling to the smallest eighth that covers the
// fitted size, rows area-averaged down to it as they come) against decoded
// in full and then shrunk by the same area averaging, which stands in for
// the halftone stretch GDI does on screen. Measured in the same run. The summary lines
// give the speed-up (target at least 4) and the peak memory of each path,
// measured in a child process per path (target at most 1/8), and what the
// Exif quarter turn costs on the scaled decode (target at most 10 %).
//
//   jpeg_scale_bench [google benchmark flags]
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/synthetic_photo.h"
#include "imaging/AreaShrink.h"
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

// The full path's shrink: the decoded bitmap through the same area
// averaging the scaled path does while it decodes: the fastest shrink at
// hand, so the full path is not made to look slower than it is.
void Shrink(const tk::TBitmap& src, int w, int h, tk::TBitmap& dst) {
  dst.Allocate(tk::TPixelFormat::pf24bit, w, h);
  orv::TAreaShrink shrink(src.Width(), src.Height(), w, h);
  for (int y = 0; y < src.Height(); ++y)
    if (const uint8_t* row = shrink.Push(src.ScanLine(y)))
      std::memcpy(dst.ScanLine(shrink.RowsDone() - 1), row, size_t(w) * 3);
}

// One picture brought to the box; `scaled` picks the path: decoded at the
// size shown, or decoded in full and then shrunk.
void BringToBox(const std::vector<uint8_t>& file, bool scaled, tk::TBitmap& shown) {
  orv::TJPEGImage jpeg;
  jpeg.LoadFromBorrowedMemory(file.data(), file.size());
  int fw = 0, fh = 0;
  orv::TJPEGImage::FitInto(jpeg.Width(), jpeg.Height(), kBoxWidth, kBoxHeight, fw, fh);
  if (scaled) {
    jpeg.AssignTo(shown, fw, fh);
    return;
  }
  tk::TBitmap decoded;
  jpeg.AssignTo(decoded);
  Shrink(decoded, fw, fh, shown);
}

void BM_Box(benchmark::State& state, int megapixels, bool scaled) {
  const Photo& p = PhotoOf(megapixels);
  for (auto _ : state) {
    tk::TBitmap shown;
    BringToBox(p.jpeg, scaled, shown);
    benchmark::DoNotOptimize(shown.Bits());
  }
}

// The scaled decode alone, as stored and with an Exif quarter turn, at the
// same eighth (the turned picture's box is turned too): what the turn
// itself costs.
void BM_ScaledDecode(benchmark::State& state, int megapixels, bool turned) {
  const Photo& p = PhotoOf(megapixels);
  int fw = 0, fh = 0;
  orv::TJPEGImage::FitInto(p.width, p.height, kBoxWidth, kBoxHeight, fw, fh);
  if (turned) std::swap(fw, fh);
  const std::vector<uint8_t>& file = turned ? p.quarterTurned : p.jpeg;
  for (auto _ : state) {
    orv::TJPEGImage jpeg;
    jpeg.LoadFromBorrowedMemory(file.data(), file.size());
    tk::TBitmap decoded;
    jpeg.AssignTo(decoded, fw, fh);
    benchmark::DoNotOptimize(decoded.Bits());
  }
}

BENCHMARK_CAPTURE(BM_Box, Full24, 24, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Box, Scaled24, 24, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Box, Full96, 96, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Box, Scaled96, 96, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ScaledDecode, Plain24, 24, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ScaledDecode, Turned24, 24, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ScaledDecode, Plain96, 96, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ScaledDecode, Turned96, 96, true)->Unit(benchmark::kMillisecond)->UseRealTime();

// The photos as files, for the measuring children to read.
std::string PhotoFile(int megapixels) {
  const std::string path = "/tmp/orv_scale_bench_" + std::to_string(megapixels) + ".jpg";
  const Photo& p = PhotoOf(megapixels);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(p.jpeg.data(), 1, p.jpeg.size(), f);
    std::fclose(f);
  }
  return path;
}

// What a fresh process (this program, started again) needs at its peak to
// read the file and bring it to the box by `mode` ("full", "scaled"), less
// what it needs to read the file alone ("none"): the memory of the path
// itself, in KiB. The child reports its own high-water mark, which starts
// anew with the program it runs.
long PeakKiB(const std::string& file, const char* mode) {
  auto run = [&file](const char* m) -> long {
    const std::string cmd = "/proc/" + std::to_string(getpid()) + "/exe --measure " + m + " " + file;
    FILE* out = popen(cmd.c_str(), "r");
    if (!out) return -1;
    long kib = -1;
    if (std::fscanf(out, "%ld", &kib) != 1) kib = -1;
    return pclose(out) == 0 ? kib : -1;
  };
  const long base = run("none"), with = run(mode);
  return base < 0 || with < 0 ? -1 : with - base;
}

long HighWaterKiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %ld", &kib) == 1) break;
  std::fclose(f);
  return kib;
}

// The child's side of PeakKiB.
int Measure(const std::string& mode, const std::string& file) {
  // Read at its exact size, so that reading leaves no slack behind that
  // a path could fill without raising the mark.
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return 1;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  std::vector<uint8_t> bytes(size > 0 ? size_t(size) : 0);
  const bool read = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
  std::fclose(f);
  if (!read) return 1;
  if (mode != "none") {
    tk::TBitmap shown;
    BringToBox(bytes, mode == "scaled", shown);
    if (shown.Empty()) return 1;
  }
  std::printf("%ld\n", HighWaterKiB());
  return 0;
}

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
        real_[r.run_name.function_name].push_back(r.GetAdjustedRealTime());
        cpu_[r.run_name.function_name].push_back(r.GetAdjustedCPUTime());
      }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (int mp : {24, 96}) {
      const std::string n = std::to_string(mp);
      // CPU time: the steadier clock on a shared machine.
      const double full = Median(cpu_, "BM_Box/Full" + n),
                   scaled = Median(cpu_, "BM_Box/Scaled" + n),
                   plain = Median(cpu_, "BM_ScaledDecode/Plain" + n),
                   turned = Median(cpu_, "BM_ScaledDecode/Turned" + n);
      const std::string file = PhotoFile(mp);
      const long fullKiB = PeakKiB(file, "full");
      const long scaledKiB = PeakKiB(file, "scaled");
      std::remove(file.c_str());
      std::printf(
          "%2d MP into %dx%d (CPU time): full %.1f ms, scaled %.1f ms: %.2f x faster (target >= 4); peak "
          "memory full %ld KiB, scaled %ld KiB: %.3f (target <= 0.125); quarter turn on the "
          "scaled path %+.1f %% (target <= 10 %%)\n",
          mp, kBoxWidth, kBoxHeight, full, scaled, scaled > 0 ? full / scaled : 0.0, fullKiB,
          scaledKiB, fullKiB > 0 ? double(scaledKiB) / double(fullKiB) : 0.0,
          plain > 0 ? (turned / plain - 1) * 100 : 0.0);
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
  Times real_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--measure") return Measure(argv[2], argv[3]);
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
