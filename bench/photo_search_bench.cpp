// The search run's cost per file over phone photos: 4032 x 3024 HEICs
// against JPEGs of the same picture, measured in the same run. A JPEG is
// sized from its header; a HEIC through the plug-in's header reader (what
// GetPictureInfo answers on Windows), and, as the search did before the
// plug-ins answered it, by decoding it whole. The summary gives the HEIC
// search's cost per file over the JPEG one's (target at most 3) and the
// decode's for comparison.
//
// The HEIC is made at start-up by Debian's heif-enc from the JPEG.
//
//   photo_search_bench [google benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bench_support.h"
#include "bench/quiet_search_ui.h"
#include "bench/synthetic_photo.h"
#include "plugins/common/ByteSource.h"
#include "plugins/heif/HeifFormat.h"
#include "search/SearchRun.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"

namespace {

constexpr int kWidth = 4032, kHeight = 3024;
constexpr int kFiles = 20;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
  }
  return out;
}

void Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

// A file read piece by piece, as the plug-in reads it on Windows.
class FileSource : public orvspi::ByteSource {
 public:
  explicit FileSource(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {
    if (f_ && fseeko(f_, 0, SEEK_END) == 0) size_ = uint64_t(ftello(f_));
  }
  ~FileSource() override {
    if (f_) std::fclose(f_);
  }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, size_t n, uint8_t* out) override {
    return f_ && offset <= size_ && n <= size_ - offset &&
           fseeko(f_, off_t(offset), SEEK_SET) == 0 && std::fread(out, 1, n, f_) == n;
  }

 private:
  FILE* f_;
  uint64_t size_ = 0;
};

// The HEIC plug-in as the search meets it: a header that answers the
// size (when `header`), and a decode into the host's bitmap.
class HeicPlugin : public orv::IPluginDecoder {
 public:
  explicit HeicPlugin(bool header) : header_(header) {}
  void LoadFromFile(const std::string& fileName, tk::TBitmap& bitmap) override {
    const std::vector<uint8_t> bytes = ReadAll(fileName);
    orvspi::VectorDib dib;
    if (orvspi::DecodeHeif(bytes.data(), bytes.size(), dib) != orvspi::SpiResult::kOk)
      throw tk::EAbort();
    const orvspi::DibLayout& l = dib.Layout();
    bitmap.Allocate(tk::TPixelFormat::pf24bit, l.width, l.height);
    for (int y = 0; y < l.height; ++y)
      std::copy_n(dib.Pixels().data() + size_t(l.height - 1 - y) * l.rowBytes, size_t(l.width) * 3,
                  bitmap.ScanLine(y));
  }
  bool SizeFromHeader(const std::string& fileName, orv::PictureSize& size) override {
    if (!header_) return false;
    FileSource src(fileName);
    orvspi::PictureFacts facts;
    if (orvspi::HeifPictureInfo(src, facts) != orvspi::SpiResult::kOk) return false;
    size.width = facts.width;
    size.height = facts.height;
    return true;
  }

 private:
  bool header_;
};

struct Corpus {
  std::string folder;
  tk::TStringList jpegs, heics;
  bool ok = false;
};

const Corpus& Photos() {
  static Corpus c = [] {
    Corpus c;
    char dir[] = "/tmp/orv_photo_search_bench_XXXXXX";
    c.folder = mkdtemp(dir) ? dir : "/tmp";
    const std::string jpeg = c.folder + "/photo.jpg", heic = c.folder + "/photo.heic";
    Save(jpeg,
         benchphoto::EncodeQuality90(benchphoto::SyntheticPhoto(kWidth, kHeight), kWidth, kHeight));
    const std::string command = "heif-enc -q 80 -o '" + heic + "' '" + jpeg + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr,
                   "photo_search_bench: heif-enc failed (Debian package libheif-examples)\n");
      return c;
    }
    const std::vector<uint8_t> jpegBytes = ReadAll(jpeg), heicBytes = ReadAll(heic);
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = c.folder + "/p" + std::to_string(i);
      Save(name + ".jpg", jpegBytes);
      Save(name + ".heic", heicBytes);
      c.jpegs.Add(name + ".jpg");
      c.heics.Add(name + ".heic");
    }
    std::fprintf(stderr, "photo_search_bench: %d x %d, JPEG %zu bytes, HEIC %zu bytes\n", kWidth,
                 kHeight, jpegBytes.size(), heicBytes.size());
    c.ok = true;
    return c;
  }();
  return c;
}

void Search(benchmark::State& state, const tk::TStringList& files, orv::IPluginDecoder* plugins) {
  if (!Photos().ok) {
    state.SkipWithError("no pictures");
    return;
  }
  orv::SearchServices s;
  s.walk = [&files](tk::TStringList& list, const std::string&, const tk::TStringList&, bool,
                    tk::TStringList&, std::vector<orv::EntryFacts>&) { list.AddStrings(files); };
  s.plugins = plugins;
  orv::SearchConditions conditions;
  conditions.sizeLimitKb = 1e6f;
  conditions.minWidth = kWidth;
  conditions.minHeight = kHeight;
  for (auto _ : state) {
    benchsupport::QuietUi ui;
    orv::SearchFolder(Photos().folder, conditions, ui, s);
    if (ui.accepted != files.Count()) state.SkipWithError("not every photo was accepted");
  }
  state.SetItemsProcessed(state.iterations() * files.Count());
}

void BM_SearchJpeg(benchmark::State& state) { Search(state, Photos().jpegs, nullptr); }

void BM_SearchHeicByHeader(benchmark::State& state) {
  HeicPlugin plugin(true);
  Search(state, Photos().heics, &plugin);
}

void BM_SearchHeicByDecode(benchmark::State& state) {
  HeicPlugin plugin(false);
  Search(state, Photos().heics, &plugin);
}

BENCHMARK(BM_SearchJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchHeicByHeader)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchHeicByDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        times_[r.run_name.function_name].push_back(r.GetAdjustedRealTime());
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double jpeg = Median("BM_SearchJpeg") / kFiles;
    const double header = Median("BM_SearchHeicByHeader") / kFiles;
    const double decode = Median("BM_SearchHeicByDecode") / kFiles;
    if (jpeg <= 0 || header <= 0) return;
    std::printf("per file: JPEG %.3f ms, HEIC by header %.3f ms: ratio %.2f (target <= 3)", jpeg,
                header, header / jpeg);
    if (decode > 0) std::printf("; HEIC by decoding %.1f ms: ratio %.0f", decode, decode / jpeg);
    std::printf("\n");
  }

 private:
  double Median(const std::string& name) { return benchsupport::Median(times_[name]); }
  std::map<std::string, std::vector<double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  if (!benchsupport::Initialize(argc, argv, 5, true)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
