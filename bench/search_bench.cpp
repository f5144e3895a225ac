// The search run over 2,000 pictures of mixed kinds and sizes against
// decoding the same files directly with the same decoders (JPEG header
// only, BMP and PNG in full), measured in the same run. The summary line
// gives the ratio direct / run (target at least 0.9: the run is limited by
// the decoders) and the files per second.
//
//   search_bench [google benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bench_support.h"
#include "bench/quiet_search_ui.h"
#include "imaging/Gldpng.h"
#include "imaging/JpegImage.h"
#include "search/SearchRun.h"
#include "tests/core/jpeg_test_encoder.h"
#include "toolkit/Bitmap.h"
#include "toolkit/FileUtil.h"
#include "toolkit/Streams.h"

namespace {

constexpr int kFiles = 2000;

struct Corpus {
  std::string folder;
  tk::TStringList files;
};

void Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// BMP, PNG and JPEG in turn, from thumbnails to screen-sized pictures.
const Corpus& TestCorpus() {
  static Corpus corpus = [] {
    Corpus c;
    char dir[] = "/tmp/orv_search_bench_XXXXXX";
    c.folder = mkdtemp(dir) ? dir : "/tmp";
    const int sizes[][2] = {{64, 48}, {320, 240}, {800, 600}, {1280, 960}};
    std::vector<std::vector<uint8_t>> bmp, png, jpeg;
    for (const auto& s : sizes) {
      tk::TBitmap b;
      b.Allocate(tk::TPixelFormat::pf24bit, s[0], s[1]);
      for (int y = 0; y < s[1]; ++y)
        for (int x = 0; x < s[0] * 3; ++x) b.ScanLine(y)[x] = uint8_t(x * 7 + y * 3);
      tk::TMemoryStream m;
      b.SaveToStream(m);
      bmp.push_back(m.Data());
      orv::TGLDPNG p;
      p.SetImage(&b);
      tk::TMemoryStream pm;
      p.SaveToStream(pm);
      png.push_back(pm.Data());
      jpeg.push_back(jpegtest::Encode(s[0] * 2, s[1] * 2, jpegtest::Texture(s[0] * 2, s[1] * 2, 3)));
    }
    for (int i = 0; i < kFiles; ++i) {
      const int kind = i % 3, size = (i / 3) % 4;
      static const char* const ext[] = {".bmp", ".png", ".jpg"};
      const std::string path = c.folder + "/p" + std::to_string(i) + ext[kind];
      Save(path, kind == 0 ? bmp[size] : kind == 1 ? png[size] : jpeg[size]);
      c.files.Add(path);
    }
    return c;
  }();
  return corpus;
}

void BM_DirectDecode(benchmark::State& state) {
  const Corpus& c = TestCorpus();
  for (auto _ : state) {
    int64_t pixels = 0;
    for (const std::string& f : c.files.Items()) {
      const std::string ext = tk::ExtractFileExt(f);
      if (ext == ".bmp") {
        tk::TBitmap b;
        b.LoadFromFile(f);
        pixels += b.Width();
      } else if (ext == ".png") {
        orv::TGLDPNG p;
        p.LoadFromFile(f);
        pixels += p.GetWidth();
      } else {
        orv::TJPEGImage j;
        j.LoadFromFile(f);
        pixels += j.Width();
      }
    }
    benchmark::DoNotOptimize(pixels);
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_SearchRun(benchmark::State& state) {
  const Corpus& c = TestCorpus();
  orv::SearchServices s;
  s.walk = [&c](tk::TStringList& list, const std::string&, const tk::TStringList&, bool,
                tk::TStringList&, std::vector<orv::EntryFacts>&) {
    list.AddStrings(c.files);
  };
  orv::SearchConditions conditions;
  conditions.minWidth = conditions.minHeight = 1;
  for (auto _ : state) {
    benchsupport::QuietUi ui;
    orv::SearchFolder(c.folder, conditions, ui, s);
    if (ui.accepted != kFiles) state.SkipWithError("not every picture was accepted");
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(BM_DirectDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchRun)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    const double direct = Median("BM_DirectDecode"), run = Median("BM_SearchRun");
    if (direct <= 0 || run <= 0) return;
    std::printf("search run %.1f ms, direct decoding %.1f ms per %d files: ratio %.3f "
                "(target >= 0.9), %.0f files/s\n",
                run, direct, kFiles, direct / run, kFiles / (run / 1000));
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
