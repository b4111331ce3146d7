// Recording 10,000 text runs through the graphics interface, reading them
// back by enumeration and stretching them into another recording (of another
// size and of the same size), against a memcpy of the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/kxEmf.h"
#include "platform/kxEmfRerecorder.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxGraphics.h"

using namespace pw;

namespace {

constexpr int kRuns = 10000;

// A page of text as the renderer draws it: page unit points, the page flip,
// a text matrix per run, a colour change now and then.
TkxMetafile RecordRuns() {
  TkxEmfRecorder rec(816, 1056, 96);
  TkxGraphics g(rec);
  g.SetPageUnit(unPoint);
  const TkxFont regular(TkxFontFamily("Arial"), 10, fsRegular, unPoint);
  const TkxFont bold(TkxFontFamily("Arial"), 10, fsBold, unPoint);
  const TkxStringFormat fmt = TkxStringFormat::GenericTypographic();
  const std::u16string words[] = {u"The quick brown fox ", u"jumps over the lazy dog, ", u"0123456789 ",
                                  u"\u00C4rger \u00FCber \u20AC-Preise "};
  for (int i = 0; i < kRuns; ++i) {
    g.SetTransform(TkxMatrix(1, 0, 0, 1, 0, 792));
    g.MultiplyTransform(TkxMatrix(1, 0, 0, 1, 36 + (i % 4) * 130, -(780 - (i / 4 % 70) * 11)));
    g.DrawString(words[i % 4], i % 10 == 0 ? bold : regular, TkxPointF{0, -9}, fmt,
                 TkxSolidBrush(i % 25 == 0 ? 0xFF0000C0 : 0xFF000000));
  }
  return rec.Close();
}

size_t EnumerateRuns(const TkxMetafile& mf) {
  size_t chars = 0;
  TkxEmrExtTextOut t;
  mf.EnumerateRecords([&](const TkxEmfRecord& r) {
    if (r.Type() == EMR_EXTTEXTOUTW && DecodeExtTextOut(r, t)) chars += t.Text.size();
    return true;
  });
  return chars;
}

void BM_RecordAndEnumerate10kRuns(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    const TkxMetafile mf = RecordRuns();
    benchmark::DoNotOptimize(EnumerateRuns(mf));
    bytes = mf.Bytes().size();
  }
  state.counters["emf_bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_RecordAndEnumerate10kRuns)->Unit(benchmark::kMillisecond);

void BM_Record10kRuns(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(RecordRuns().Bytes().size());
}
BENCHMARK(BM_Record10kRuns)->Unit(benchmark::kMillisecond);

void BM_Enumerate10kRuns(benchmark::State& state) {
  const TkxMetafile mf = RecordRuns();
  for (auto _ : state) benchmark::DoNotOptimize(EnumerateRuns(mf));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * mf.Bytes().size()));
}
BENCHMARK(BM_Enumerate10kRuns)->Unit(benchmark::kMillisecond);

// A page recording played into one of the given size, as a page is fitted to
// the paper before its records are read back.
void StretchTo(benchmark::State& state, int width, int height) {
  const TkxMetafile mf = RecordRuns();
  for (auto _ : state) {
    TkxEmfRecorder fresh(width, height, 96);
    PlayMetafile(mf, fresh, TkxRectF{0, 0, static_cast<double>(width), static_cast<double>(height)},
                 TkxStretchedText::KeepShape);
    benchmark::DoNotOptimize(fresh.TakeMetafile().Bytes().size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * mf.Bytes().size()));
}

// Onto paper of another size: every record decoded, moved and written again.
void BM_Stretch10kRuns(benchmark::State& state) { StretchTo(state, 794, 1123); }
BENCHMARK(BM_Stretch10kRuns)->Unit(benchmark::kMillisecond);

// Onto paper of its own size, the common case: records that need no
// rewriting are copied as they stand.
void BM_StretchSameSize10kRuns(benchmark::State& state) { StretchTo(state, 816, 1056); }
BENCHMARK(BM_StretchSameSize10kRuns)->Unit(benchmark::kMillisecond);

// The yardstick: copying the recording's bytes once.
void BM_MemcpySameBytes(benchmark::State& state) {
  const size_t n = RecordRuns().Bytes().size();
  std::vector<uint8_t> from(n, 1), to(n);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
