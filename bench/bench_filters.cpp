// Decoding throughput of the Flate and LZW filters on a few MB of
// content-stream-like text. Bytes/s are counted on the decoded output.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "pdf/kxFilters.h"

using namespace pw;

namespace {

constexpr size_t kSize = 4 << 20;

std::vector<uint8_t> ContentText(size_t n) {
  std::mt19937 rng(11);
  static const char* ops[] = {"BT ", "/F1 9.5 Tf ", "ET\n", "q ", "Q\n", "re f\n", "0 0 1 rg ", "Tj\n", "TJ\n"};
  std::vector<uint8_t> out;
  out.reserve(n + 64);
  char num[32];
  while (out.size() < n) {
    int len = std::snprintf(num, sizeof num, "%u.%02u %u ", unsigned(rng() % 600), unsigned(rng() % 100),
                            unsigned(rng() % 800));
    out.insert(out.end(), num, num + len);
    const char* op = ops[rng() % 9];
    out.insert(out.end(), op, op + std::strlen(op));
  }
  out.resize(n);
  return out;
}

// Plain LZW encoder (EarlyChange 1, clear code when the table is full).
std::vector<uint8_t> LzwEncode(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  uint64_t acc = 0;
  int nbits = 0;
  unsigned width = 9, decCount = 258;
  bool first = true;
  auto put = [&](unsigned code) {
    acc = acc << width | code;
    nbits += static_cast<int>(width);
    while (nbits >= 8) {
      nbits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> nbits));
    }
    if (code == 256) {
      width = 9, decCount = 258, first = true;
      return;
    }
    if (!first && decCount < 4096 && ++decCount + 1 >= (1u << width) && width < 12) ++width;
    first = false;
  };
  std::map<uint32_t, unsigned> dict;
  unsigned next = 258;
  put(256);
  int w = -1;
  for (uint8_t c : in) {
    if (w < 0) {
      w = c;
      continue;
    }
    uint32_t key = static_cast<uint32_t>(w) << 8 | c;
    auto it = dict.find(key);
    if (it != dict.end()) {
      w = static_cast<int>(it->second);
      continue;
    }
    put(static_cast<unsigned>(w));
    dict[key] = next++;
    if (next == 4096) {
      put(256);
      dict.clear();
      next = 258;
    }
    w = c;
  }
  if (w >= 0) put(static_cast<unsigned>(w));
  put(257);
  if (nbits > 0) out.push_back(static_cast<uint8_t>(acc << (8 - nbits)));
  return out;
}

void BM_FlateDecode(benchmark::State& state) {
  const auto text = ContentText(kSize);
  const auto z = TkxFlateFilter().CompressStream(text, 2);
  TkxFlateFilter f;
  for (auto _ : state) benchmark::DoNotOptimize(f.DecodeStream(z));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["ratio"] = double(text.size()) / double(z.size());
}
BENCHMARK(BM_FlateDecode)->Unit(benchmark::kMillisecond);

void BM_LZWDecode(benchmark::State& state) {
  const auto text = ContentText(kSize);
  const auto enc = LzwEncode(text);
  TkxLZWFilter f;
  if (f.DecodeStream(enc) != text) {
    state.SkipWithError("LZW round trip mismatch");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(f.DecodeStream(enc));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["ratio"] = double(text.size()) / double(enc.size());
}
BENCHMARK(BM_LZWDecode)->Unit(benchmark::kMillisecond);

void BM_FlatePNGPredictor(benchmark::State& state) {
  // A 1000-column RGB image in PNG Up rows, as scanned pages often carry.
  const size_t row = 3000, rows = kSize / row;
  std::vector<uint8_t> predicted;
  predicted.reserve(rows * (row + 1));
  std::mt19937 rng(5);
  for (size_t r = 0; r < rows; ++r) {
    predicted.push_back(static_cast<uint8_t>(r % 5));
    for (size_t i = 0; i < row; ++i) predicted.push_back(static_cast<uint8_t>(rng() % 4));
  }
  TkxDecodeParams p;
  p.Predictor = 15;
  p.Colors = 3;
  p.Columns = 1000;
  for (auto _ : state) benchmark::DoNotOptimize(ApplyPredictor(predicted, p));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(rows * row));
}
BENCHMARK(BM_FlatePNGPredictor)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
