// What decoding in a process of its own costs the show, in one run, under
// Wine (32-bit where it can run): a 24 MP JPEG brought into a 1920 x 1080
// box in this process (LoadPicture, as the show decoded before) against the
// same through a running decoder process (the request, the section, the
// answer, the DIB section over it), and the first picture of a show through
// a decoder started for it. The decoder's answer is looked for in a tight
// loop here; the show looks every 10 ms, while the picture before is still
// up, so that wait is never seen.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/synthetic_photo.h"
#include "decoder/DecoderClientWin32.h"
#include "imaging/PictureLoader.h"
#include "slideshow/LayoutMath.h"
#include "toolkit/Bitmap.h"
#include "toolkit/StringList.h"

namespace {

constexpr int kPhotoWidth = 6000, kPhotoHeight = 4000;  // 24 MP
constexpr int kBoxWidth = 1920, kBoxHeight = 1080;

std::string g_photo;

std::string ModulePath() {
  std::string p = ORV_SCR_PATH;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

orv::DecodeSetup Setup() {
  orv::DecodeSetup s;
  s.extensions = ".bmp,.jpg,.jpeg,.png";
  return s;
}

// One picture through `client`, its answer looked for without a pause.
bool DecodeThrough(orv::TDecoderClient& client) {
  if (!client.Ask(orv::DecodeMessage::kDecode, g_photo, kBoxWidth, kBoxHeight, 0, 0)) return false;
  for (;;) {
    orv::DecodeAnswer a;
    std::unique_ptr<orv::DecodedDib> dib;
    switch (client.Check(a, dib)) {
      case orv::TDecoderClient::Result::kAnswered:
        benchmark::DoNotOptimize(dib.get());
        return a.status == orv::DecodeStatus::kDecoded && dib;
      case orv::TDecoderClient::Result::kPending:
        SwitchToThread();
        break;
      default:
        return false;
    }
  }
}

void InProcess(benchmark::State& state) {
  tk::TStringList extensions;
  orv::FillPictureExtensions(extensions, ".bmp,.jpg,.jpeg,.png");
  for (auto _ : state) {
    tk::TBitmap b;
    orv::PictureSize own;
    orv::LoadPictureOptions o;
    o.fitWidth = kBoxWidth;
    o.fitHeight = kBoxHeight;
    o.fit = [](int w, int h, int& fw, int& fh) {
      const orv::IntRect r = orv::FitRect(orv::IntRect{0, 0, w, h}, kBoxWidth, kBoxHeight);
      fw = r.Width();
      fh = r.Height();
    };
    orv::LoadPicture(g_photo, b, extensions, nullptr, o, &own);
    if (b.Empty()) state.SkipWithError("the photo did not decode");
    benchmark::DoNotOptimize(b.Bits());
  }
}
BENCHMARK(InProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void ThroughDecoder(benchmark::State& state) {
  orv::TDecoderClient client(ModulePath(), Setup());
  // Started once, as the show's decoder is.
  if (!DecodeThrough(client)) state.SkipWithError("no decoder");
  for (auto _ : state)
    if (!DecodeThrough(client)) state.SkipWithError("the decoder lost the photo");
}
BENCHMARK(ThroughDecoder)->Unit(benchmark::kMillisecond)->UseRealTime();

void FirstThroughAFreshDecoder(benchmark::State& state) {
  for (auto _ : state) {
    orv::TDecoderClient client(ModulePath(), Setup());
    if (!DecodeThrough(client)) state.SkipWithError("no decoder");
  }
}
BENCHMARK(FirstThroughAFreshDecoder)->Unit(benchmark::kMillisecond)->UseRealTime();

// The table, then what each way costs over the decode in this process,
// from the medians of the repetitions.
class CostReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        real_[r.run_name.function_name].push_back(r.GetAdjustedRealTime());
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double reference = benchsupport::Median(real_["InProcess"]);
    for (const char* name : {"ThroughDecoder", "FirstThroughAFreshDecoder"}) {
      const double t = benchsupport::Median(real_[name]);
      if (reference <= 0 || t <= 0) continue;
      std::printf("%-26s %8.2f ms vs InProcess %8.2f ms: %+.2f ms a picture (ratio %.3f)\n", name,
                  t, reference, t - reference, t / reference);
    }
  }

 private:
  std::map<std::string, std::vector<double>> real_;
};

}  // namespace

int main(int argc, char** argv) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  g_photo = std::string(temp) + "orv-decoder-bench-" + std::to_string(GetTickCount()) + ".jpg";
  {
    const std::vector<uint8_t> file = benchphoto::EncodeQuality90(
        benchphoto::SyntheticPhoto(kPhotoWidth, kPhotoHeight), kPhotoWidth, kPhotoHeight);
    HANDLE f = CreateFileA(g_photo.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(f, file.data(), DWORD(file.size()), &written, nullptr);
    CloseHandle(f);
    std::printf("photo: %d x %d, %lu bytes\n", kPhotoWidth, kPhotoHeight,
                static_cast<unsigned long>(file.size()));
  }
  if (!benchsupport::Initialize(argc, argv, 5, true)) return 1;
  CostReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  DeleteFileA(g_photo.c_str());
  return 0;
}
