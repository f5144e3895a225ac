// What a frame of a transition costs the processor, per monitor, at
// 1920 x 1080 and 3840 x 2160: the graphics card blends and moves the
// pixels, so the processor only plans the frame (which slides, how opaque,
// which part of the picture). The reference, measured in the same run, is
// the least a frame drawn on the processor would cost: one blend of two
// frames of that size. Per slide (once a picture, not once a frame) the
// scene and the picture are turned into the rows Direct2D takes.
//
//   frame_bench [google benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "slideshow/FramePlan.h"
#include "toolkit/Bitmap.h"

namespace {

constexpr int kSizes[][2] = {{1920, 1080}, {3840, 2160}};

// A player in the middle of a fade from one panning picture to the next.
orv::TTransitionPlayer FadingPlayer(int w, int h) {
  orv::TTransitionPlayer player(orv::TransitionStyle::kPanZoom, 1000);
  orv::TRandom random;
  random.Seed(1);
  orv::SlideFacts facts;
  facts.picture = true;
  facts.place = orv::RectF{w * 0.05, h * 0.05, w * 0.95, h * 0.95};
  facts.pictureWidth = static_cast<int>(w * 0.9 * 1.15);
  facts.pictureHeight = static_cast<int>(h * 0.9 * 1.15);
  facts.enlargeable = true;
  player.Begin(facts, 0, 7000, random);
  player.Begin(facts, 6000, 7000, random);
  return player;
}

void BM_PlanFrame(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const orv::TTransitionPlayer player = FadingPlayer(w, h);
  double now = 6000;
  for (auto _ : state) {
    benchmark::DoNotOptimize(player.Plan(now));
    now += 0.001;
  }
}

// The reference: out = a * (1 - w) + b * w over every byte of the frame.
void BM_BlendOnProcessor(benchmark::State& state) {
  const size_t n = size_t(state.range(0)) * size_t(state.range(1)) * 4;
  std::vector<uint8_t> a(n, 40), b(n, 200), out(n);
  const unsigned w = 100;  // of 256
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t((a[i] * (256 - w) + b[i] * w) >> 8);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

// Once a slide: the window's scene (32-bit, from GDI) and its picture
// (24-bit, from the decoder, 1.15 times its place) as top-down rows.
void BM_SlidePixels(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  tk::TBitmap scene, picture;
  scene.Allocate(tk::TPixelFormat::pf32bit, w, h);
  picture.Allocate(tk::TPixelFormat::pf24bit, static_cast<int>(w * 0.9 * 1.15),
                   static_cast<int>(h * 0.9 * 1.15));
  std::vector<uint32_t> out;
  for (auto _ : state) {
    orv::TopDownBgrx(scene, out);
    benchmark::DoNotOptimize(out.data());
    orv::TopDownBgrx(picture, out);
    benchmark::DoNotOptimize(out.data());
  }
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (const auto& s : kSizes) b->Args({s[0], s[1]});
}

BENCHMARK(BM_PlanFrame)->Apply(Sizes);
BENCHMARK(BM_BlendOnProcessor)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlidePixels)->Apply(Sizes)->Unit(benchmark::kMillisecond);

// Prints, for each size, the planned frame against the processor's blend
// and the share of a 60 Hz frame's 16.7 ms each takes.
class FrameReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        // In nanoseconds whatever unit the table shows.
        cpu_[r.run_name.function_name + "/" + r.run_name.args].push_back(
            r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e9);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& s : kSizes) {
      const std::string args = std::to_string(s[0]) + "/" + std::to_string(s[1]);
      const double plan = benchsupport::Median(cpu_["BM_PlanFrame/" + args]);
      const double blend = benchsupport::Median(cpu_["BM_BlendOnProcessor/" + args]);
      const double slide = benchsupport::Median(cpu_["BM_SlidePixels/" + args]);
      if (plan <= 0 || blend <= 0) continue;
      std::printf(
          "%d x %d: a frame plans in %.0f ns (%.5f %% of a 60 Hz frame); blending it on the "
          "processor takes %.2f ms (%.0f %%): ratio %.6f. Once a slide: %.2f ms\n",
          s[0], s[1], plan, plan / 16.7e6 * 100, blend / 1e6, blend / 16.7e6 * 100, plan / blend,
          slide / 1e6);
    }
  }

 private:
  std::map<std::string, std::vector<double>> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  if (!benchsupport::Initialize(argc, argv, 3, true)) return 1;
  FrameReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
