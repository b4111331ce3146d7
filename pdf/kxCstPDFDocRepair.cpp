// The document component: rebuilding damaged cross-reference data by scanning the file.
#include "pdf/kxCstPDFDoc.h"

#include <algorithm>

#include "pdf/kxCstPDFDocInternal.h"

namespace pw {

using namespace cstpdfdoc;

// ---------------------------------------------------------------------------
// Rebuilding damaged cross-reference data

void TkxCustomPDFDocument::EnsureScanned() {
  if (scanned_) return;
  scanned_ = true;
  const std::vector<uint8_t>& d = data_;
  const size_t n = d.size();
  for (size_t i = 0; i < n;) {
    const uint8_t c = d[i];
    if (c == 'o' && i + 3 <= n && d[i + 1] == 'b' && d[i + 2] == 'j' && (i + 3 == n || IsPDFWordEnd(d[i + 3]))) {
      // "<num> <gen> obj": walk back over the generation and the number.
      size_t j = i;
      while (j > 0 && IsPDFWhite(d[j - 1])) --j;
      size_t genEnd = j;
      while (j > 0 && IsDigitByte(d[j - 1]) && genEnd - j < 10) --j;
      size_t genStart = j;
      while (j > 0 && IsPDFWhite(d[j - 1])) --j;
      size_t numEnd = j;
      while (j > 0 && IsDigitByte(d[j - 1]) && numEnd - j < 10) --j;
      if (genStart < genEnd && numEnd < genStart && j < numEnd && (j == 0 || IsPDFWordEnd(d[j - 1]))) {
        int64_t num = 0, gen = 0;
        size_t p = j;
        ReadDigits(d, p, num, 10);
        p = genStart;
        ReadDigits(d, p, gen, 10);
        if (num > 0 && num <= INT32_MAX && gen <= INT32_MAX)
          scanIndex_[static_cast<int32_t>(num)] = ScanEntry{static_cast<int64_t>(j), static_cast<int32_t>(gen)};
      }
      i += 3;
      continue;
    }
    if (c == 's' && StartsWith(d, i, "stream") && (i == 0 || !IsAlphaByte(d[i - 1])) && i + 6 < n &&
        (d[i + 6] == '\r' || d[i + 6] == '\n')) {
      // Stream data may hold anything: continue after its "endstream".
      const uint8_t* hit = FindBytes(d.data() + i + 6, d.data() + n, kEndStream);
      if (hit) {
        i = static_cast<size_t>(hit - d.data()) + kEndStream.size();
        continue;
      }
    }
    if (c == 't' && StartsWith(d, i, "trailer") && (i == 0 || !IsAlphaByte(d[i - 1])))
      scannedTrailers_.push_back(static_cast<int64_t>(i));
    ++i;
  }
}

void TkxCustomPDFDocument::RebuildCrossReference() {
  Warning("The cross-reference data is damaged; it was rebuilt by scanning the file");
  repaired_ = true;
  xref_.clear();
  xrefStm_.clear();
  trailer_.Clear();
  offsetShift_ = 0;
  EnsureScanned();
  int32_t highest = -1;
  for (const auto& [num, e] : scanIndex_) {
    xref_[num] = TkxXRefItem{e.offset, e.generation, 'n', num};
    highest = std::max(highest, num);
  }
  store_.ObjectNumberCounter = highest == INT32_MAX ? INT32_MAX : highest + 1;

  // Trailer dictionaries and cross-reference stream dictionaries, newest first.
  std::vector<std::pair<int64_t, std::unique_ptr<TkxPDFDictObject>>> trailers;
  for (int64_t t : scannedTrailers_) {
    try {
      reader_->Seek(t);
      trailers.emplace_back(t, reader_->ReadTrailer());
    } catch (const Exception&) {
    }
  }
  std::vector<std::pair<int64_t, int32_t>> catalogs;
  for (const auto& [num, e] : scanIndex_) {
    // Only the object's opening (up to its stream data) can name its type.
    const uint8_t* begin = data_.data() + e.offset;
    const uint8_t* end = data_.data() + std::min<size_t>(data_.size(), static_cast<size_t>(e.offset) + 4096);
    if (const uint8_t* s = FindBytes(begin, end, "stream")) end = s;
    if (const uint8_t* s = FindBytes(begin, end, "endobj")) end = s;
    bool xrefStream = false, objStm = false, catalog = false;
    for (const uint8_t* p = begin; (p = FindBytes(p, end, "/XRef")) != nullptr; p += 5)
      if (p + 5 >= end || IsPDFWordEnd(p[5])) xrefStream = true;
    objStm = FindBytes(begin, end, "/ObjStm") != nullptr;
    catalog = FindBytes(begin, end, "/Catalog") != nullptr;
    if (!xrefStream && !objStm && !catalog) continue;
    PDFObjectPtr parsed;
    try {
      reader_->Seek(e.offset);
      parsed = reader_->ParseObject();
    } catch (const Exception&) {
      continue;
    }
    TkxPDFIndirectObject* ind = AsIndirect(parsed.get());
    if (!ind) continue;
    TkxPDFDictObject* dict = AsDict(ind->Value.get());
    if (TkxPDFStreamObject* s = AsStream(ind->Value.get())) dict = s->Dict.get();
    if (!dict) continue;
    std::string type = NameValue(dict->Lookup("/Type"));
    if (type == "XRef" && IsStream(ind->Value.get()))
      trailers.emplace_back(e.offset,
                            std::unique_ptr<TkxPDFDictObject>(static_cast<TkxPDFDictObject*>(dict->Clone().release())));
    else if (type == "ObjStm" && IsStream(ind->Value.get()))
      scannedObjStms_.emplace_back(e.offset, num);
    else if (type == "Catalog")
      catalogs.emplace_back(e.offset, num);
  }
  std::sort(trailers.begin(), trailers.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& t : trailers) TakeTrailerValues(*t.second);
  std::sort(scannedObjStms_.begin(), scannedObjStms_.end());
  if (trailer_.RootObjectNumber <= 0 && !catalogs.empty()) {
    auto last = std::max_element(catalogs.begin(), catalogs.end());
    trailer_.RootObjectNumber = last->second;
    trailer_.RootGeneration = scanIndex_[last->second].generation;
  }
}

void TkxCustomPDFDocument::FindCatalogAfterRepair() {
  int32_t root = trailer_.RootObjectNumber;
  if (root > 0 && (xref_.count(root) || store_.IndexOfObject(documentId_, root, 0) >= 0)) return;
  if (!objectStreamsRead_) return;  // an encrypted file must name its catalog
  for (int i = store_.Count() - 1; i >= 0; --i) {
    TkxPDFIndirectObject* o = store_.Get(i);
    if (NameValue(AsDict(o->Value.get()) ? AsDict(o->Value.get())->Lookup("/Type") : nullptr) == "Catalog") {
      trailer_.RootObjectNumber = o->ObjectNumber;
      trailer_.RootGeneration = o->Generation;
      return;
    }
  }
}

}  // namespace pw
