// Text measuring throughput: 100,000 strings of mixed length and content in
// a substituted family, as the metafile side and the writers measure runs.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "platform/kxFontManager.h"

namespace {

constexpr size_t kStrings = 100000;

const std::vector<std::u16string>& Corpus() {
  static const std::vector<std::u16string> corpus = [] {
    std::mt19937 rng(12345);
    const std::u16string alphabet =
        u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:-()\u00e9\u00fc\u2013\u201c";
    std::uniform_int_distribution<size_t> len(3, 60), pick(0, alphabet.size() - 1);
    std::vector<std::u16string> v(kStrings);
    for (auto& s : v) {
      s.resize(len(rng));
      for (auto& c : s) c = alphabet[pick(rng)];
    }
    return v;
  }();
  return corpus;
}

void Report(benchmark::State& state) {
  state.counters["per_string"] = benchmark::Counter(
      static_cast<double>(kStrings), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_TextWidth(benchmark::State& state) {
  auto& fm = pw::TkxFontManager::Instance();
  const auto& corpus = Corpus();
  for (auto _ : state)
    for (const auto& s : corpus) benchmark::DoNotOptimize(fm.TextWidth("Arial", pw::fsRegular, 16, s));
  Report(state);
}
BENCHMARK(BM_TextWidth)->Unit(benchmark::kMillisecond);

void BM_CharAdvances(benchmark::State& state) {
  auto& fm = pw::TkxFontManager::Instance();
  const auto& corpus = Corpus();
  for (auto _ : state)
    for (const auto& s : corpus) benchmark::DoNotOptimize(fm.CharAdvances("Times New Roman", pw::fsBold, 16, s));
  Report(state);
}
BENCHMARK(BM_CharAdvances)->Unit(benchmark::kMillisecond);

void BM_TextExtent(benchmark::State& state) {
  auto& fm = pw::TkxFontManager::Instance();
  const auto& corpus = Corpus();
  for (auto _ : state)
    for (const auto& s : corpus) benchmark::DoNotOptimize(fm.TextExtent("Courier New", pw::fsItalic, -16, s));
  Report(state);
}
BENCHMARK(BM_TextExtent)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
