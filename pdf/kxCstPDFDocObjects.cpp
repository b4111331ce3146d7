// The document component: reading objects and streams, resolving references, object streams.
#include "pdf/kxCstPDFDoc.h"

#include <algorithm>
#include <set>

#include "pdf/kxCstPDFDocInternal.h"
#include "pdf/kxFilters.h"

namespace pw {

using namespace cstpdfdoc;

struct TkxCustomPDFDocument::ResolveContext {
  std::vector<int32_t> path;  // object numbers being resolved, to cut cycles
  size_t nodes = 0;
  size_t maxNodes = 0;
};

// ---------------------------------------------------------------------------
// Objects

int64_t TkxCustomPDFDocument::CheckedStreamLength(int64_t afterDict, int64_t declared) const {
  const std::vector<uint8_t>& d = data_;
  size_t p = static_cast<size_t>(std::max<int64_t>(afterDict, 0));
  SkipWhite(d, p);
  if (!StartsWith(d, p, "stream")) return declared;
  p += 6;
  while (p < d.size() && (d[p] == ' ' || d[p] == '\t')) ++p;
  if (p < d.size() && d[p] == 13) ++p;
  if (p < d.size() && d[p] == 10) ++p;
  const size_t start = p;
  if (declared >= 0 && static_cast<uint64_t>(declared) <= d.size() - start) {
    size_t q = start + static_cast<size_t>(declared);
    SkipWhite(d, q);
    // "endobj" right after the data: only the "endstream" keyword is missing.
    if (StartsWith(d, q, kEndStream) || StartsWith(d, q, "endobj")) return declared;
  }
  // The declared length is wrong or missing: the data ends before the first
  // "endstream", without the end of line that precedes the keyword.
  const uint8_t* hit = FindBytes(d.data() + start, d.data() + d.size(), kEndStream);
  if (!hit) return declared;
  size_t len = static_cast<size_t>(hit - (d.data() + start));
  if (len > 0 && d[start + len - 1] == '\n') --len;
  if (len > 0 && d[start + len - 1] == '\r') --len;
  return static_cast<int64_t>(len);
}

int64_t TkxCustomPDFDocument::StreamLength(TkxPDFObject* lengthObj, bool mayStore) {
  if (IsIntegral(lengthObj)) return IntValue(lengthObj);
  const TkxPDFIndirectReference* r = AsReference(lengthObj);
  if (!r) return -1;
  if (TkxPDFIndirectObject* stored = store_.Find(*r))
    return IsIntegral(stored->Value.get()) ? IntValue(stored->Value.get()) : -1;
  // Read the length object alone: it must not pull in further streams.
  int64_t off = LookupOffset(r->ObjectNumber);
  int64_t abs = off > 0 ? Abs(off) : 0;
  int32_t num = 0, gen = 0;
  if (!(abs > 0 && ObjectHeaderAt(abs, num, gen) && num == r->ObjectNumber)) {
    if (!scanned_) return -1;
    auto it = scanIndex_.find(r->ObjectNumber);
    if (it == scanIndex_.end()) return -1;
    abs = it->second.offset;
  }
  reader_->Seek(abs);
  PDFObjectPtr parsed = reader_->ParseObject();
  TkxPDFIndirectObject* ind = AsIndirect(parsed.get());
  if (!ind || !IsIntegral(ind->Value.get())) return -1;
  int64_t value = IntValue(ind->Value.get());
  if (mayStore && ind->ObjectNumber == r->ObjectNumber && attempted_.insert(ind->ObjectNumber).second) {
    parsed.release();
    store_.Add(std::unique_ptr<TkxPDFIndirectObject>(ind));
    store_.SetLoaded(store_.Count() - 1);
  }
  return value;
}

std::unique_ptr<TkxPDFIndirectObject> TkxCustomPDFDocument::ReadIndirectObjectAt(int64_t absPos, bool mayStore) {
  if (absPos <= 0 || static_cast<uint64_t>(absPos) >= data_.size()) return nullptr;
  reader_->Seek(absPos);
  PDFObjectPtr parsed = reader_->ParseObject();
  if (!IsIndirect(parsed.get())) throw Exception("Invalid class typecast");
  std::unique_ptr<TkxPDFIndirectObject> ind(static_cast<TkxPDFIndirectObject*>(parsed.release()));
  TkxPDFStreamObject* stream = AsStream(ind->Value.get());
  if (!stream) return ind;

  const int64_t afterDict = reader_->Position();
  const int64_t declared = StreamLength(stream->Dict->Lookup("/Length"), mayStore);
  const int64_t length = CheckedStreamLength(afterDict, declared);
  // Cross-reference streams are never encrypted, and metadata only when the
  // handler says so.
  const std::string type = NameValue(stream->Dict->Lookup("/Type"));
  TkxPDFDecrypt* const decryptor = reader_->Decryptor;
  if (type == "XRef" || (type == "Metadata" && decryptor && !decryptor->EncryptMetadata()))
    reader_->Decryptor = nullptr;
  reader_->Seek(afterDict);
  try {
    stream->SetData(reader_->ReadStreamData(length, ind->ObjectNumber, ind->Generation));
  } catch (const ELimitExceeded&) {
    reader_->Decryptor = decryptor;
    throw;
  } catch (const Exception& e) {
    // No "endstream" anywhere after it: the stream stays without data.
    Warning(e.what(), ind->ObjectNumber);
  }
  reader_->Decryptor = decryptor;
  return ind;
}

std::unique_ptr<TkxPDFIndirectObject> TkxCustomPDFDocument::ReadObjectByNumber(int32_t num, bool mayStore) {
  if (num <= 0) return nullptr;
  auto st = xrefStm_.find(num);
  if (st != xrefStm_.end() && st->second.Type == 2) return nullptr;  // comes from its object stream
  const int64_t off = LookupOffset(num);
  const int64_t abs = off > 0 ? Abs(off) : 0;
  int32_t n = 0, g = 0;
  if (abs > 0 && ObjectHeaderAt(abs, n, g) && n == num) return ReadIndirectObjectAt(abs, mayStore);
  // The cross-reference data does not lead to the object: look where the
  // file defines it.
  EnsureScanned();
  auto it = scanIndex_.find(num);
  if (it == scanIndex_.end() || it->second.offset == abs) return nullptr;
  if (off > 0 && !fallbackWarned_) {
    fallbackWarned_ = true;
    Warning(FormatMsg("Object %d is not where the cross-reference data says; found by scanning the file", num));
  }
  return ReadIndirectObjectAt(it->second.offset, mayStore);
}

TkxPDFIndirectObject* TkxCustomPDFDocument::FetchObject(int32_t num, int32_t gen,
                                                        std::unique_ptr<TkxPDFIndirectObject>* temp) {
  if (TkxPDFIndirectObject* stored = store_.Find(documentId_, num, gen)) return stored;
  if (!reader_) return nullptr;
  if (storeAllowed_) {
    if (!attempted_.insert(num).second) return nullptr;
    std::unique_ptr<TkxPDFIndirectObject> fresh = ReadObjectByNumber(num, true);
    if (!fresh) return nullptr;
    fresh->AddRef();
    return store_.Add(std::move(fresh));
  }
  if (!temp) return nullptr;
  *temp = ReadObjectByNumber(num, false);
  return temp->get();
}

TkxPDFObject* TkxCustomPDFDocument::ResolveOnDemand(TkxPDFObject* obj) {
  for (int hop = 0; obj && hop <= kMaxReferenceHops; ++hop) {
    if (const TkxPDFIndirectReference* r = AsReference(obj)) {
      TkxPDFIndirectObject* target = FetchObject(r->ObjectNumber, r->Generation, nullptr);
      if (!target) return nullptr;
      obj = target->Value.get();
    } else if (TkxPDFIndirectObject* ind = AsIndirect(obj)) {
      obj = ind->Value.get();
    } else {
      return obj;
    }
  }
  return nullptr;
}

TkxPDFObject* TkxCustomPDFDocument::Resolve(TkxPDFObject* obj) { return ResolveOnDemand(obj); }

PDFObjectPtr TkxCustomPDFDocument::DeepResolve(const TkxPDFObject* obj, size_t maxObjects) {
  ResolveContext ctx;
  ctx.maxNodes = maxObjects;
  return DeepResolveImpl(obj, ctx, 0);
}

PDFObjectPtr TkxCustomPDFDocument::DeepResolveImpl(const TkxPDFObject* obj, ResolveContext& ctx, int depth) {
  if (!obj) return nullptr;
  if (depth > kMaxResolveDepth) throw ELimitExceeded("Objects are nested too deeply");
  if (++ctx.nodes > ctx.maxNodes) throw ELimitExceeded("Resolved object is too large");
  switch (obj->Kind) {
    case okArray: {
      auto out = std::make_unique<TkxPDFArrayObject>();
      for (const PDFObjectPtr& item : static_cast<const TkxPDFArrayObject*>(obj)->Items)
        out->Add(item ? DeepResolveImpl(item.get(), ctx, depth + 1) : std::make_unique<TkxPDFNullObject>());
      return out;
    }
    case okDict: {
      const auto* d = static_cast<const TkxPDFDictObject*>(obj);
      auto out = std::make_unique<TkxPDFDictObject>();
      for (int i = 0; i < d->Count(); ++i) {
        const TkxPDFObject* v = d->ValueAt(i);
        out->Add(std::make_unique<TkxPDFNameObject>(d->KeyAt(i)->Text),
                 v ? DeepResolveImpl(v, ctx, depth + 1) : std::make_unique<TkxPDFNullObject>());
      }
      return out;
    }
    case okStream: {
      const auto* s = static_cast<const TkxPDFStreamObject*>(obj);
      PDFObjectPtr dict = DeepResolveImpl(s->Dict.get(), ctx, depth + 1);
      std::unique_ptr<TkxPDFDictObject> d(static_cast<TkxPDFDictObject*>(dict.release()));
      if (!d) d = std::make_unique<TkxPDFDictObject>();
      if (!s->HasData) return std::make_unique<TkxPDFStreamObject>(std::move(d));
      return std::make_unique<TkxPDFStreamObject>(std::move(d), s->Data);
    }
    case okIndirectObject:
      return DeepResolveImpl(static_cast<const TkxPDFIndirectObject*>(obj)->Value.get(), ctx, depth + 1);
    case okIndirectReference: {
      const auto* r = static_cast<const TkxPDFIndirectReference*>(obj);
      if (std::find(ctx.path.begin(), ctx.path.end(), r->ObjectNumber) != ctx.path.end())
        return std::make_unique<TkxPDFNullObject>();
      std::unique_ptr<TkxPDFIndirectObject> temp;
      TkxPDFIndirectObject* target = FetchObject(r->ObjectNumber, r->Generation, &temp);
      if (!target || !target->Value) return std::make_unique<TkxPDFNullObject>();
      ctx.path.push_back(r->ObjectNumber);
      PDFObjectPtr out = DeepResolveImpl(target->Value.get(), ctx, depth + 1);
      ctx.path.pop_back();
      return out;
    }
    default: return obj->Clone();
  }
}

void TkxCustomPDFDocument::LoadObject(TkxPDFObject* root) {
  auto onReference = [this](const TkxPDFIndirectReference* r, auto push) {
    const int32_t num = r->ObjectNumber;
    if (num <= 0) {
      Warning(FormatMsg("Invalid Object number in PDF (%d)", num));
      return;
    }
    // What holds the object (pages are held by the page list alone).
    if (!pageNumbers_.count(num)) ++holders_[TkxObjectKey{documentId_, num, r->Generation}];
    int idx = store_.IndexOfObject(documentId_, num, r->Generation);
    if (idx >= 0) {
      TkxPDFIndirectObject* stored = store_.Get(idx);
      stored->AddRef();
      if (!store_.IsLoaded(idx)) {
        store_.SetLoaded(idx);
        push(stored->Value.get());
      }
      return;
    }
    if (r->Generation != 0 && store_.IndexOfObject(documentId_, num, 0) >= 0) return;
    if (!reader_ || !attempted_.insert(num).second) return;
    std::unique_ptr<TkxPDFIndirectObject> fresh;
    try {
      fresh = ReadObjectByNumber(num, true);
    } catch (const ELimitExceeded&) {
      throw;
    } catch (const Exception& e) {
      // One unreadable object does not cost the whole document.
      Warning(FormatMsg("Object %s cannot be read: %s", {std::to_string(num), e.what()}), num);
      return;
    }
    if (!fresh) return;
    fresh->AddRef();
    TkxPDFIndirectObject* added = store_.Add(std::move(fresh));
    store_.SetLoaded(store_.Count() - 1);
    push(added->Value.get());
  };
  WalkObjectTree(root, onReference, [this] { Warning("Stream Object found inside Array!"); });
}

std::vector<uint8_t> TkxCustomPDFDocument::DecodeStream(const TkxPDFStreamObject& stream) {
  if (!stream.HasData) return {};
  PDFObjectPtr filter = DeepResolve(stream.Dict->Lookup("/Filter"), kMaxControlObjects);
  if (!filter || IsNull(filter.get())) return stream.Data;
  PDFObjectPtr parms = DeepResolve(stream.Dict->Lookup("/DecodeParms"), kMaxControlObjects);
  return ApplyDecodeFilters(stream.Data, filter.get(), parms.get());
}

// ---------------------------------------------------------------------------
// Object streams

void TkxCustomPDFDocument::ReadObjectStreams() {
  if (objectStreamsRead_) return;
  objectStreamsRead_ = true;
  if (repaired_) {
    // Newest first: the last definition of an object wins.
    for (auto it = scannedObjStms_.rbegin(); it != scannedObjStms_.rend(); ++it)
      UnpackObjectStream(it->second, it->first);
    return;
  }
  std::set<int32_t> streams;
  for (const auto& [num, item] : xrefStm_)
    if (item.Type == 2 && item.Field2 > 0 && item.Field2 <= INT32_MAX)
      streams.insert(static_cast<int32_t>(item.Field2));
  for (int32_t k : streams) UnpackObjectStream(k, 0);
}

void TkxCustomPDFDocument::UnpackObjectStream(int32_t streamNumber, int64_t streamAbsOffset) {
  std::unique_ptr<TkxPDFIndirectObject> holder;
  std::vector<uint8_t> decoded;
  int64_t count = 0, first = 0;
  try {
    holder =
        streamAbsOffset > 0 ? ReadIndirectObjectAt(streamAbsOffset, false) : ReadObjectByNumber(streamNumber, false);
    TkxPDFStreamObject* stream = holder ? AsStream(holder->Value.get()) : nullptr;
    if (!stream || !stream->HasData || NameValue(stream->Dict->Lookup("/Type")) != "ObjStm") return;
    // Whatever its filters: none, LZW, Flate or a chain.
    decoded = DecodeStream(*stream);
    PDFObjectPtr n = DeepResolve(stream->Dict->Lookup("/N"), kMaxControlObjects);
    PDFObjectPtr f = DeepResolve(stream->Dict->Lookup("/First"), kMaxControlObjects);
    count = IntValue(n.get(), -1);
    first = IntValue(f.get(), -1);
  } catch (const ELimitExceeded&) {
    throw;
  } catch (const Exception& e) {
    Warning(FormatMsg("Object stream %s cannot be read: %s", {std::to_string(streamNumber), e.what()}), streamNumber);
    return;
  }
  if (count < 0 || first < 0 || static_cast<uint64_t>(first) > decoded.size()) return;

  // The objects inside were decrypted with the stream's data.
  TkxPDFStreamReader sub(decoded.data(), decoded.size(), documentId_);
  int64_t pairPos = 0;
  for (int64_t i = 0; i < count; ++i) {
    int64_t num = 0, rel = 0;
    sub.Seek(pairPos);
    sub.SkipWhitespace();
    if (!ParseInteger(sub.ReadToken(), num) || !ParseInteger(sub.ReadToken(), rel)) break;
    pairPos = sub.Position();
    if (num <= 0 || num > INT32_MAX || rel < 0 || static_cast<uint64_t>(first + rel) >= decoded.size()) continue;
    const int32_t m = static_cast<int32_t>(num);
    if (store_.IndexOfObject(documentId_, m, 0) >= 0) continue;
    if (repaired_) {
      // A direct definition later in the file replaces this one.
      auto direct = xref_.find(m);
      if (direct != xref_.end() && direct->second.Offset > streamAbsOffset) continue;
    } else {
      auto entry = xrefStm_.find(m);
      if (entry == xrefStm_.end() || entry->second.Type != 2 || entry->second.Field2 != streamNumber) continue;
    }
    PDFObjectPtr value;
    try {
      sub.Seek(first + rel);
      sub.CurrentObjectNumber = m;
      sub.CurrentGeneration = 0;
      value = sub.ParseObject();
    } catch (const ELimitExceeded&) {
      throw;
    } catch (const Exception& e) {
      Warning(FormatMsg("Object %s cannot be read: %s", {std::to_string(m), e.what()}), m);
      continue;
    }
    if (!value) value = std::make_unique<TkxPDFNullObject>();
    store_.Add(std::make_unique<TkxPDFIndirectObject>(documentId_, m, 0, std::move(value)));
  }
}

}  // namespace pw
