// What the benchmark programs share: their default repetitions, the median
// of a run's repetitions, and a reporter that prints each measured path's
// overhead over its reference from those medians.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace benchsupport {

// Google Benchmark's flags from the command line, with `repetitions`
// repetitions (randomly interleaved when `interleave`) unless it names its
// own. False when it holds a flag the library does not know.
inline bool Initialize(int argc, char** argv, int repetitions, bool interleave) {
  std::vector<std::string> added;
  bool given = false;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0) given = true;
  if (!given) {
    added.push_back("--benchmark_repetitions=" + std::to_string(repetitions));
    if (interleave) added.push_back("--benchmark_enable_random_interleaving=true");
  }
  std::vector<char*> args(argv, argv + argc);
  for (std::string& a : added) args.push_back(a.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  return !benchmark::ReportUnrecognizedArguments(count, args.data());
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Prints the usual table, then for each (measured, reference) pair of
// benchmark names the overhead of the first over the second, from the
// medians of the repetitions. Both clocks are shown: on a busy machine
// the CPU time is the steadier one.
class OverheadReporter : public benchmark::ConsoleReporter {
 public:
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  explicit OverheadReporter(Pairs pairs) : pairs_(std::move(pairs)) {}

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
    for (const auto& [name, against] : pairs_) {
      Line(name, against, "real", real_);
      Line(name, against, "cpu", cpu_);
    }
  }

 private:
  using Times = std::map<std::string, std::vector<double>>;
  static double MedianOf(const Times& times, const std::string& name) {
    const auto it = times.find(name);
    return it == times.end() ? 0 : Median(it->second);
  }
  static void Line(const std::string& name, const std::string& against, const char* clock,
                   const Times& times) {
    const double reference = MedianOf(times, against);
    const double t = MedianOf(times, name);
    if (reference <= 0 || t <= 0) return;
    std::printf(
        "%-26s %-4s %8.2f ms vs %-21s %8.2f ms: ratio %.3f, overhead %+.1f %% (target <= 10 %%)\n",
        name.c_str(), clock, t, against.c_str(), reference, t / reference,
        (t / reference - 1) * 100);
  }
  Pairs pairs_;
  Times real_, cpu_;
};

}  // namespace benchsupport
