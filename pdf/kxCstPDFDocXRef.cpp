// The document component: reading the cross-reference tables, streams and trailers.
#include "pdf/kxCstPDFDoc.h"

#include <algorithm>
#include <set>

#include "pdf/kxCstPDFDocInternal.h"
#include "pdf/kxFilters.h"

namespace pw {

using namespace cstpdfdoc;

// ---------------------------------------------------------------------------
// Cross-reference data

int64_t TkxCustomPDFDocument::LookupOffset(int32_t objectNumber) const {
  auto it = xref_.find(objectNumber);
  if (it != xref_.end()) return it->second.Offset;
  auto st = xrefStm_.find(objectNumber);
  if (st != xrefStm_.end() && st->second.Type == 1) return st->second.Field2;
  return 0;
}

bool TkxCustomPDFDocument::ObjectHeaderAt(int64_t absPos, int32_t& num, int32_t& gen) const {
  if (absPos < 0 || static_cast<uint64_t>(absPos) >= data_.size()) return false;
  size_t p = static_cast<size_t>(absPos);
  SkipWhite(data_, p);
  int64_t n = 0, g = 0;
  if (!ReadDigits(data_, p, n, 10) || n > INT32_MAX) return false;
  size_t before = p;
  SkipWhite(data_, p);
  if (p == before || !ReadDigits(data_, p, g, 10) || g > INT32_MAX) return false;
  SkipWhite(data_, p);
  if (!StartsWith(data_, p, "obj")) return false;
  num = static_cast<int32_t>(n);
  gen = static_cast<int32_t>(g);
  return true;
}

TkxCustomPDFDocument::SectionKind TkxCustomPDFDocument::SectionAt(int64_t absPos) const {
  if (absPos < 0 || static_cast<uint64_t>(absPos) >= data_.size()) return SectionKind::None;
  size_t p = static_cast<size_t>(absPos);
  SkipWhite(data_, p);
  if (StartsWith(data_, p, "xref")) return SectionKind::Table;
  int32_t n = 0, g = 0;
  if (ObjectHeaderAt(absPos, n, g)) return SectionKind::Stream;
  return SectionKind::None;
}

void TkxCustomPDFDocument::TakeTrailerValues(const TkxPDFDictObject& dict) {
  if (trailer_.RootObjectNumber < 0) {
    if (const TkxPDFIndirectReference* r = AsReference(dict.Lookup("/Root"))) {
      trailer_.RootObjectNumber = r->ObjectNumber;
      trailer_.RootGeneration = r->Generation;
    }
  }
  auto take = [&dict](PDFObjectPtr& slot, const char* key) {
    if (slot) return;
    const TkxPDFObject* v = dict.Lookup(key);
    if (v) slot = v->Clone();
  };
  take(trailer_.ID, "/ID");
  take(trailer_.Encrypt, "/Encrypt");
  take(trailer_.Info, "/Info");
}

void TkxCustomPDFDocument::SetEntry(int32_t num, const TkxXRefItem& item) {
  xref_[num] = item;
  xrefStm_.erase(num);
}

void TkxCustomPDFDocument::SetStreamEntry(int32_t num, const TkxXRefStmItem& item) {
  xrefStm_[num] = item;
  xref_.erase(num);
}

void TkxCustomPDFDocument::ReadCrossReference(int64_t startOffset) {
  // A header behind junk: the offsets may count from the header instead of
  // from the start of the file.
  offsetShift_ = 0;
  if (SectionAt(startOffset) == SectionKind::None) {
    int64_t h = reader_->HeaderOffset();
    if (h > 0 && SectionAt(startOffset + h) != SectionKind::None)
      offsetShift_ = h;
    else
      throw EPDFFileCorruptedError(kCorrupted);
  }

  // Newest section first: its trailer values win. Entries are applied
  // afterwards from the oldest section on, so that newer entries replace
  // older ones.
  struct Section {
    SectionKind kind;
    int64_t pos;
    std::unique_ptr<TkxPDFIndirectObject> stream;  // cross-reference stream
    std::unique_ptr<TkxPDFIndirectObject> hybrid;  // a table's /XRefStm stream
  };
  std::vector<Section> chain;
  std::set<int64_t> seen;
  int64_t pos = Abs(startOffset);
  while (chain.size() < kMaxSections && seen.insert(pos).second) {
    SectionKind kind = SectionAt(pos);
    if (kind == SectionKind::None) break;  // an older section that is not there is skipped
    Section sec{kind, pos, nullptr, nullptr};
    std::unique_ptr<TkxPDFDictObject> tableTrailer;
    const TkxPDFDictObject* dict = nullptr;
    if (kind == SectionKind::Table) {
      Status("Reading Cross-Reference Table");
      reader_->Seek(pos);
      tableTrailer = reader_->ReadTrailer();
      dict = tableTrailer.get();
    } else {
      Status("Reading Cross-Reference Stream Table");
      sec.stream = ReadIndirectObjectAt(pos, false);
      const TkxPDFStreamObject* s = sec.stream ? AsStream(sec.stream->Value.get()) : nullptr;
      if (!s) throw ECrossReferenceError(kXRefError);
      dict = s->Dict.get();
    }
    TakeTrailerValues(*dict);
    if (kind == SectionKind::Table) {
      const TkxPDFObject* x = dict->Lookup("/XRefStm");
      if (IsIntegral(x)) {
        int64_t xpos = Abs(IntValue(x));
        if (SectionAt(xpos) == SectionKind::Stream && seen.insert(xpos).second) {
          sec.hybrid = ReadIndirectObjectAt(xpos, false);
          if (!sec.hybrid || !IsStream(sec.hybrid->Value.get())) throw ECrossReferenceError(kXRefError);
        }
      }
    }
    const TkxPDFObject* prev = dict->Lookup("/Prev");
    chain.push_back(std::move(sec));
    if (!IsIntegral(prev)) break;
    pos = Abs(IntValue(prev));
  }
  if (chain.empty()) throw EPDFFileCorruptedError(kCorrupted);

  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it->kind == SectionKind::Table) {
      if (it->hybrid) ApplyStreamEntries(*AsStream(it->hybrid->Value.get()));
      ApplyTableEntries(it->pos);
    } else {
      ApplyStreamEntries(*AsStream(it->stream->Value.get()));
    }
  }
  int32_t highest = -1;
  if (!xref_.empty()) highest = std::max(highest, xref_.rbegin()->first);
  if (!xrefStm_.empty()) highest = std::max(highest, xrefStm_.rbegin()->first);
  store_.ObjectNumberCounter = highest == INT32_MAX ? INT32_MAX : highest + 1;
}

void TkxCustomPDFDocument::ApplyTableEntries(int64_t absPos) {
  const std::vector<uint8_t>& d = data_;
  size_t p = static_cast<size_t>(absPos);
  SkipWhite(d, p);
  if (!StartsWith(d, p, "xref")) throw ECrossReferenceError(kXRefError);
  p += 4;
  for (;;) {
    SkipWhite(d, p);
    if (p >= d.size() || !IsDigitByte(d[p])) break;  // "trailer" or the end
    int64_t start = 0, count = 0;
    if (!ReadDigits(d, p, start)) throw ECrossReferenceError(kXRefError);
    SkipWhite(d, p);
    if (!ReadDigits(d, p, count)) throw ECrossReferenceError(kXRefError);
    if (count == 0) break;
    // Every entry takes at least 18 bytes; a count beyond the data is a lie.
    if (count > static_cast<int64_t>((d.size() - p) / 18 + 1)) throw ECrossReferenceError(kXRefError);
    for (int64_t i = 0; i < count; ++i) {
      int64_t offset = 0, gen = 0;
      SkipWhite(d, p);
      if (!ReadDigits(d, p, offset)) throw ECrossReferenceError(kXRefError);
      SkipWhite(d, p);
      // Some writers leave the generation out; it is 0 then.
      if (p < d.size() && d[p] != 'n' && d[p] != 'f' && !ReadDigits(d, p, gen)) throw ECrossReferenceError(kXRefError);
      SkipWhite(d, p);
      if (p >= d.size() || (d[p] != 'n' && d[p] != 'f')) throw ECrossReferenceError(kXRefError);
      char type = static_cast<char>(d[p++]);
      int64_t num = start + i;
      // Free entries leave what an older section said in place.
      if (type == 'n' && num <= INT32_MAX)
        SetEntry(static_cast<int32_t>(num), TkxXRefItem{offset, static_cast<int32_t>(std::min<int64_t>(gen, INT32_MAX)),
                                                        'n', static_cast<int32_t>(num)});
    }
  }
}

void TkxCustomPDFDocument::ApplyStreamEntries(const TkxPDFStreamObject& stream) {
  PDFObjectPtr resolved = DeepResolve(stream.Dict.get(), kMaxControlObjects);
  const TkxPDFDictObject* dict = AsDict(resolved.get());
  if (!dict || !stream.HasData) throw ECrossReferenceError(kXRefError);
  const TkxPDFObject* filter = dict->Lookup("/Filter");
  std::vector<uint8_t> decoded;
  if (filter && !IsNull(filter))
    decoded = ApplyDecodeFilters(stream.Data, filter, dict->Lookup("/DecodeParms"));
  else
    decoded = stream.Data;

  const TkxPDFArrayObject* w = AsArray(dict->Lookup("/W"));
  if (!w || w->Count() < 3) throw ECrossReferenceError(kXRefError);
  int widths[3];
  int total = 0;
  for (int i = 0; i < 3; ++i) {
    const TkxPDFObject* v = w->Get(i);
    if (!IsIntegral(v) || IntValue(v) < 0 || IntValue(v) > 8) throw ECrossReferenceError(kXRefError);
    widths[i] = static_cast<int>(IntValue(v));
    total += widths[i];
  }
  if (total == 0) throw ECrossReferenceError(kXRefError);

  std::vector<std::pair<int64_t, int64_t>> ranges;
  if (const TkxPDFArrayObject* index = AsArray(dict->Lookup("/Index"))) {
    for (int i = 0; i + 1 < index->Count(); i += 2)
      ranges.emplace_back(IntValue(index->Get(i), -1), IntValue(index->Get(i + 1), -1));
  } else {
    ranges.emplace_back(0, IntValue(dict->Lookup("/Size"), 0));
  }

  size_t pos = 0;
  auto field = [&decoded, &pos](int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | decoded[pos++];
    return v;
  };
  for (const auto& [first, count] : ranges) {
    if (count <= 0 || first < 0) return;  // a pair with count 0 ends this stream
    for (int64_t i = 0; i < count; ++i) {
      if (decoded.size() - pos < static_cast<size_t>(total)) return;
      // A type field of width 0 means every entry is in use at an offset.
      uint64_t type = widths[0] ? field(widths[0]) : 1;
      uint64_t f2 = field(widths[1]);
      uint64_t f3 = field(widths[2]);
      int64_t num = first + i;
      if (num > INT32_MAX) return;
      if (type == 1 || type == 2)
        SetStreamEntry(static_cast<int32_t>(num),
                       TkxXRefStmItem{static_cast<int32_t>(type), static_cast<int64_t>(f2 & INT64_MAX),
                                      static_cast<int32_t>(f3 & INT32_MAX)});
    }
  }
}

bool TkxCustomPDFDocument::CrossReferenceLooksRight() const {
  int32_t root = trailer_.RootObjectNumber;
  if (root <= 0) return false;
  auto st = xrefStm_.find(root);
  if (st != xrefStm_.end() && st->second.Type == 2) return true;
  int64_t off = LookupOffset(root);
  int32_t num = 0, gen = 0;
  return off > 0 && ObjectHeaderAt(Abs(off), num, gen) && num == root;
}

}  // namespace pw
