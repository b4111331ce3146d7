// The RTF engine laying out and writing pages of text: 20 pages of 45 lines,
// each line six pieces in three alternating fonts (roman, italic, a symbol
// face), the way a typeset page arrives from the metafile processor. In the
// editing layout (paragraphs and tab stops) and the exact one (frames).
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "rtf/kxRTFEngine.h"

using namespace pw;

namespace {

constexpr int kPages = 20;
constexpr int kLines = 45;

TFont Face(const char* name, TFontStyles style) {
  TFont f;
  f.SetPixelsPerInch(96);
  f.SetName(name);
  f.SetSize(11);
  f.SetStyle(style);
  f.SetColor(clBlack);
  f.SetCharset(ANSI_CHARSET);
  return f;
}

size_t WritePages(TkxRTFEncodingType type) {
  TkxRTFEngine e;
  std::ostringstream out;
  e.Preferences().SetOpenAfterCreate(false);
  e.Preferences().SetShowSetupDialog(false);
  e.Preferences().SetOutputToUserStream(true);
  e.SetUserStream(&out);
  e.SetDocumentEncodingType(type);
  e.SetMeasurementUnit(muPixels);
  const TFont faces[] = {Face("Times New Roman", fsRegular), Face("Times New Roman", fsItalic),
                         Face("Symbol", fsRegular)};
  const std::u16string words[] = {u"The quick brown fox", u"jumps over", u"\u03b1 + \u03b2",
                                  u"the lazy dog,",       u"0123456789", u"and runs on."};
  e.BeginDoc();
  for (int page = 0; page < kPages; ++page) {
    if (page) e.NewPage();
    for (int line = 0; line < kLines; ++line) {
      double x = 96;
      for (int piece = 0; piece < 6; ++piece) {
        e.Font() = faces[(line + piece) % 3];
        e.TextOut(x, 96 + line * 20, words[piece]);
        x += 110;
      }
    }
  }
  e.EndDoc();
  return out.str().size();
}

void BM_TextPagesEditing(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) bytes = WritePages(etEaseOfEditing);
  state.counters["rtf_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_TextPagesEditing)->Unit(benchmark::kMillisecond);

void BM_TextPagesExact(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) bytes = WritePages(etPositionalAccuracy);
  state.counters["rtf_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_TextPagesExact)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
