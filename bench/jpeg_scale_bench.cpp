// A 24 MP and a 96 MP photo brought to a 1920 x 1080 box: decoded at the
// size shown (libjpeg's DCT scaling to the smallest fast eighth that
// covers the fitted size, rows area-averaged down to it as they come)
// against decoded in full and then shrunk by the same area averaging,
// which stands in for the halftone stretch GDI does on screen. Both are
// measured in the same run, in pairs (see RunPairs). The summary lines give
// the speed-up (target at least 4), the peak memory of each path, measured
// in a child process per path (target at most 1/8), and what the Exif
// quarter turn costs on the scaled decode (target at most 10 %).
//
//   jpeg_scale_bench [google benchmark flags]
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
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

// CPU time of this thread, in ms.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Each iteration runs the reference and the measured path once each, in
// turns and timed on the thread's CPU clock: the machine's speed drifts
// (other work, clock rates), and what drifts between two runs a few
// hundred ms apart falls on both alike. Which goes first alternates, as the
// second of two runs can find the allocator and caches readier; every two
// pairs, one of each order, give one ratio (the geometric mean of theirs,
// reference over measured), and the summary takes the median of those over
// every repetition.
std::map<std::string, std::vector<double>>& PairRatios() {
  static std::map<std::string, std::vector<double>> ratios;
  return ratios;
}

template <typename Reference, typename Measured>
void RunPairs(benchmark::State& state, const std::string& name, Reference reference,
              Measured measured) {
  double referenceMs = 0, measuredMs = 0, lastRatio = 0;
  int n = 0;
  for (auto _ : state) {
    double r = 0, m = 0;
    for (int turn = 0; turn < 2; ++turn) {
      const bool referenceNow = (turn == 0) == (n % 2 == 0);
      const double t0 = ThreadCpuMs();
      if (referenceNow)
        reference();
      else
        measured();
      (referenceNow ? r : m) = ThreadCpuMs() - t0;
    }
    if (n % 2) PairRatios()[name].push_back(std::sqrt(lastRatio * (r / m)));
    lastRatio = r / m;
    referenceMs += r;
    measuredMs += m;
    ++n;
  }
  state.counters["reference_ms"] = referenceMs / n;
  state.counters["measured_ms"] = measuredMs / n;
}

// The full path (reference) against the scaled one.
void BM_Box(benchmark::State& state, int megapixels) {
  const Photo& p = PhotoOf(megapixels);
  auto path = [&p](bool scaled) {
    tk::TBitmap shown;
    BringToBox(p.jpeg, scaled, shown);
    benchmark::DoNotOptimize(shown.Bits());
  };
  RunPairs(
      state, "box" + std::to_string(megapixels), [&] { path(false); }, [&] { path(true); });
}

// The scaled decode as stored (reference) and with an Exif quarter turn
// (measured), at the same eighth (the turned picture's box is turned too):
// what the turn itself costs.
void BM_Turn(benchmark::State& state, int megapixels) {
  const Photo& p = PhotoOf(megapixels);
  auto decode = [&p](bool turned) {
    int fw = 0, fh = 0;
    orv::TJPEGImage::FitInto(p.width, p.height, kBoxWidth, kBoxHeight, fw, fh);
    if (turned) std::swap(fw, fh);
    const std::vector<uint8_t>& file = turned ? p.quarterTurned : p.jpeg;
    orv::TJPEGImage jpeg;
    jpeg.LoadFromBorrowedMemory(file.data(), file.size());
    tk::TBitmap decoded;
    jpeg.AssignTo(decoded, fw, fh);
    benchmark::DoNotOptimize(decoded.Bits());
  };
  RunPairs(
      state, "turn" + std::to_string(megapixels), [&] { decode(false); }, [&] { decode(true); });
}

BENCHMARK_CAPTURE(BM_Box, 24MP, 24)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK_CAPTURE(BM_Box, 96MP, 96)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK_CAPTURE(BM_Turn, 24MP, 24)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(BM_Turn, 96MP, 96)->Unit(benchmark::kMillisecond)->Iterations(4);

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
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (int mp : {24, 96}) {
      const std::string n = std::to_string(mp);
      const std::vector<double>& box = PairRatios()["box" + n];
      const std::vector<double>& turn = PairRatios()["turn" + n];
      const std::string file = PhotoFile(mp);
      const long fullKiB = PeakKiB(file, "full");
      const long scaledKiB = PeakKiB(file, "scaled");
      std::remove(file.c_str());
      std::printf(
          "%2d MP into %dx%d: scaled %.2f x faster than full (median of %zu, %.2f..%.2f; "
          "target >= 4); peak memory full %ld KiB, scaled %ld KiB: %.3f (target <= 0.125); "
          "quarter turn on the scaled path %+.1f %% (median of %zu; target <= 10 %%)\n",
          mp, kBoxWidth, kBoxHeight, Median(box), box.size(), Lowest(box), Highest(box), fullKiB,
          scaledKiB, fullKiB > 0 ? double(scaledKiB) / double(fullKiB) : 0.0,
          turn.empty() ? 0.0 : (1 / Median(turn) - 1) * 100, turn.size());
    }
  }

 private:
  static double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  static double Lowest(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
  }
  static double Highest(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--measure") return Measure(argv[2], argv[3]);
  if (!benchsupport::Initialize(argc, argv, 3, false)) return 1;
  PhotoOf(24);
  PhotoOf(96);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
