// Reader speed: object parsing walks every top-level object of a corpus file
// from front to back (objects, stream data, xref tables, trailers); content
// lexing cuts the decoded page content of corpus files into tokens and
// operands, as the interpreter does.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "pdf/kxCstPDFDoc.h"
#include "pdf/kxPDFStreamReader.h"
#include "render/kxContentLexer.h"
#include "render/kxPageRenderer.h"

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

// The decoded content of every page of the named corpus files, one buffer each.
std::vector<std::vector<uint8_t>> PageContents(std::initializer_list<const char*> names) {
  std::vector<std::vector<uint8_t>> out;
  for (const char* name : names) {
    pw::TkxCustomPDFDocument doc;
    if (!doc.LoadFromFile(std::string(PW_SOURCE_DIR) + "/../shared/corpus/" + name)) continue;
    for (int page = 1; page <= doc.PageCount(); ++page) out.push_back(pw::GetPageContent(doc, page));
  }
  return out;
}

// Text-heavy pages (a LaTeX book) and path-heavy ones (the tiger, charts).
const std::vector<std::vector<uint8_t>>& ContentCorpus() {
  static const auto contents = PageContents({"latex-geotopo-117-pages.pdf", "pdfbox/pdfbox-tiger-as-form-xobject.pdf",
                                             "pm-matplotlib-type3.pdf", "pdfbox/pdfbox-cweb.pdf"});
  return contents;
}

int64_t TotalSize(const std::vector<std::vector<uint8_t>>& contents) {
  int64_t n = 0;
  for (const auto& c : contents) n += static_cast<int64_t>(c.size());
  return n;
}

// The corpus content, or nullptr (the benchmark skipped) when the corpus is absent.
const std::vector<std::vector<uint8_t>>* ContentCorpusOrSkip(benchmark::State& state) {
  const auto& contents = ContentCorpus();
  if (!contents.empty()) return &contents;
  state.SkipWithError("corpus not available");
  return nullptr;
}

void BM_ContentTokens(benchmark::State& state) {
  const auto* corpus = ContentCorpusOrSkip(state);
  if (!corpus) return;
  const auto& contents = *corpus;
  int64_t tokens = 0;
  for (auto _ : state) {
    tokens = 0;
    pw::TkxPDFToken tok;
    for (const auto& c : contents) {
      pw::TkxPDFLexer lex(c.data(), c.size());
      for (lex.Next(tok); tok.Kind != pw::tkEnd; lex.Next(tok)) ++tokens;
    }
    benchmark::DoNotOptimize(tokens);
  }
  state.counters["tokens"] = static_cast<double>(tokens);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TotalSize(contents));
}
BENCHMARK(BM_ContentTokens)->Unit(benchmark::kMillisecond);

void BM_ContentOperands(benchmark::State& state) {
  const auto* corpus = ContentCorpusOrSkip(state);
  if (!corpus) return;
  const auto& contents = *corpus;
  int64_t operators = 0;
  for (auto _ : state) {
    operators = 0;
    pw::TkxOperand operand;
    std::string op;
    bool isOperator = false;
    for (const auto& c : contents) {
      pw::TkxOperandReader reader(c.data(), c.size());
      while (reader.Next(operand, op, isOperator)) operators += isOperator;
    }
    benchmark::DoNotOptimize(operators);
  }
  state.counters["operators"] = static_cast<double>(operators);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TotalSize(contents));
}
BENCHMARK(BM_ContentOperands)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
