// JPEG encoding of a page-sized picture (2000 x 3000, a scan at about 250 dpi)
// at the qualities the wizard offers most, and decoding it back.
#include <benchmark/benchmark.h>

#include <cmath>

#include "platform/kxJPEG.h"

using namespace pw;

namespace {

// Photo-like content: smooth gradients, a few hard edges and some fine texture, so that the entropy coder
// has realistic work at every quality.
const TkxBitmap& Picture() {
  static const TkxBitmap pic = [] {
    TkxBitmap b(2000, 3000);
    uint32_t seed = 12345;
    for (int y = 0; y < b.Height(); ++y) {
      uint32_t* row = b.Scanline(y);
      for (int x = 0; x < b.Width(); ++x) {
        seed = seed * 1664525u + 1013904223u;
        int noise = static_cast<int>(seed >> 28) - 8;
        int r = static_cast<int>(128 + 100 * std::sin(x / 180.0) + noise);
        int g = static_cast<int>(x * 255 / 2000 + ((x / 250 + y / 250) % 2 ? 30 : -30) + noise);
        int bl = static_cast<int>(y * 255 / 3000 + noise);
        auto c = [](int v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
        row[x] = 0xFF000000u | c(r) << 16 | c(g) << 8 | c(bl);
      }
    }
    return b;
  }();
  return pic;
}

void BM_EncodeJPEG(benchmark::State& state) {
  const TkxBitmap& pic = Picture();
  size_t bytes = 0;
  for (auto _ : state) {
    std::vector<uint8_t> data = EncodeJPEG(pic, static_cast<int>(state.range(0)));
    bytes = data.size();
    benchmark::DoNotOptimize(data.data());
  }
  state.counters["jpeg_KiB"] = static_cast<double>(bytes) / 1024;
  state.SetItemsProcessed(state.iterations() * int64_t{2000} * 3000);
}
BENCHMARK(BM_EncodeJPEG)->Arg(100)->Arg(75)->Unit(benchmark::kMillisecond);

void BM_DecodeJPEG(benchmark::State& state) {
  std::vector<uint8_t> data = EncodeJPEG(Picture(), static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TkxBitmap b = DecodeJPEG(data);
    benchmark::DoNotOptimize(b.Bits());
  }
  state.SetItemsProcessed(state.iterations() * int64_t{2000} * 3000);
}
BENCHMARK(BM_DecodeJPEG)->Arg(100)->Arg(75)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
