// Reading one key from an INI file of 20,000 lines, where no line holds an
// '=' (comments, text pasted by hand), against the same file where every
// line is a key, measured in the same run. The two should take about the
// same time: a reader that looks for each line's '=' past the line's end
// takes quadratic time on the first file.
//
//   ini_bench [google benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "toolkit/FileUtil.h"
#include "toolkit/IniFile.h"

namespace {

constexpr int kLines = 20000;

std::string MakeFile(const char* name, bool keys) {
  std::string text = "[Screen]\r\n";
  for (int i = 0; i < kLines; ++i)
    text += keys ? "Key" + std::to_string(i) + "=value number " + std::to_string(i) + "\r\n"
                 : "line number " + std::to_string(i) + " without any equals sign\r\n";
  text += "Interval=7\r\n";
  const std::string path = std::string("/tmp/orv_ini_bench_") + name + ".ini";
  tk::ReplaceFileContents(path, text);
  return path;
}

void Read(benchmark::State& state, bool keys) {
  const std::string path = MakeFile(keys ? "keys" : "text", keys);
  tk::TPortableIniFile ini(path);
  for (auto _ : state) benchmark::DoNotOptimize(ini.ReadInteger("Screen", "Interval", 0));
  std::remove(path.c_str());
}

void BM_IniEveryLineAKey(benchmark::State& state) { Read(state, true); }
void BM_IniNoLineAKey(benchmark::State& state) { Read(state, false); }

BENCHMARK(BM_IniEveryLineAKey)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IniNoLineAKey)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
