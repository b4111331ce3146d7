// Object parsing speed: walks every top-level object of a corpus file from
// front to back (objects, stream data, xref tables, trailers).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "pdf/kxPDFStreamReader.h"

namespace {

std::string LoadCorpus(const char* name) {
  std::ifstream f(std::string(PW_SOURCE_DIR) + "/../shared/corpus/" + name, std::ios::binary);
  return f ? std::string(std::istreambuf_iterator<char>(f), {}) : std::string();
}

// Returns the number of indirect objects read.
int WalkFile(const std::string& pdf) {
  pw::TkxPDFStreamReader r(reinterpret_cast<const uint8_t*>(pdf.data()), pdf.size(), 1);
  r.ReadHeader();
  std::map<int32_t, int64_t> integers;  // direct integer objects, for indirect /Length values
  int objects = 0;
  for (;;) {
    r.SkipWhitespace();
    if (r.Position() >= r.Size()) break;
    const std::string tok = r.PeekToken();
    if (tok == "xref") {
      r.ReadTrailer();
      continue;
    }
    if (tok == "startxref") {
      r.ReadToken();
      r.ReadToken();
      continue;
    }
    pw::PDFObjectPtr o = r.ParseObject();
    auto* ind = pw::AsIndirect(o.get());
    if (!ind) break;
    ++objects;
    if (auto* st = pw::AsStream(ind->Value.get())) {
      const pw::TkxPDFObject* len = st->Dict->Lookup("/Length");
      int64_t length = -1;
      if (auto* ref = pw::AsReference(len)) {
        auto it = integers.find(ref->ObjectNumber);
        if (it != integers.end()) length = it->second;
      } else {
        length = pw::IntValue(len, -1);
      }
      benchmark::DoNotOptimize(r.ReadStreamData(length, ind->ObjectNumber, ind->Generation));
    } else if (pw::IsInteger(ind->Value.get())) {
      integers[ind->ObjectNumber] = pw::IntValue(ind->Value.get());
    }
    if (r.PeekToken() == "endobj") r.ReadToken();
  }
  return objects;
}

void BM_ParseAllObjects(benchmark::State& state) {
  const std::string pdf = LoadCorpus("latex-geotopo-117-pages.pdf");
  if (pdf.empty()) {
    state.SkipWithError("corpus not available");
    return;
  }
  int objects = 0;
  for (auto _ : state) objects = WalkFile(pdf);
  state.counters["objects"] = objects;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pdf.size()));
}
BENCHMARK(BM_ParseAllObjects)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
