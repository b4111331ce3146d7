#include "pdf/kxPDFObjectStore.h"

namespace pw {

namespace {
// References that point at references are followed at most this often.
constexpr int kMaxReferenceHops = 32;
}  // namespace

TkxPDFIndirectObject* TkxPDFObjectStore::Add(std::unique_ptr<TkxPDFIndirectObject> obj) {
  if (!obj) throw ENullObjectError("Expected PDF null object");
  TkxPDFIndirectObject* raw = obj.get();
  int index = Count();
  items_.push_back(Entry{std::move(obj), false});
  index_.try_emplace(TkxObjectKey{raw->DocumentID, raw->ObjectNumber, raw->Generation}, index);
  return raw;
}

TkxPDFIndirectObject* TkxPDFObjectStore::Find(const TkxPDFIndirectReference& ref) const {
  return Find(ref.DocumentID, ref.ObjectNumber, ref.Generation);
}

TkxPDFIndirectObject* TkxPDFObjectStore::Find(int32_t documentId, int32_t objectNumber, int32_t generation) const {
  int i = IndexOfObject(documentId, objectNumber, generation);
  return i < 0 ? nullptr : items_[i].obj.get();
}

int TkxPDFObjectStore::IndexOfObject(int32_t documentId, int32_t objectNumber, int32_t generation) const {
  auto it = index_.find(TkxObjectKey{documentId, objectNumber, generation});
  return it == index_.end() ? -1 : it->second;
}

TkxPDFIndirectObject* TkxPDFObjectStore::Get(int index) const {
  if (index < 0 || index >= Count()) throw Exception(FormatMsg("List index out of bounds (%d)", index));
  return items_[index].obj.get();
}

void TkxPDFObjectStore::Free(int index) {
  if (index < 0 || index >= Count() || !items_[index].obj) return;
  const TkxPDFIndirectObject& o = *items_[index].obj;
  auto it = index_.find(TkxObjectKey{o.DocumentID, o.ObjectNumber, o.Generation});
  if (it != index_.end() && it->second == index) index_.erase(it);
  items_[index].obj.reset();
  items_[index].loaded = false;
}

void TkxPDFObjectStore::Clear() {
  index_.clear();
  items_.clear();
  ObjectNumberCounter = 0;
}

bool TkxPDFObjectStore::IsLoaded(int index) const { return index >= 0 && index < Count() && items_[index].loaded; }

void TkxPDFObjectStore::SetLoaded(int index, bool loaded) {
  if (index >= 0 && index < Count()) items_[index].loaded = loaded;
}

TkxPDFObject* TkxPDFObjectStore::ResolveAny(TkxPDFObject* obj) const {
  for (int hop = 0; obj && hop <= kMaxReferenceHops; ++hop) {
    if (IsReference(obj)) {
      TkxPDFIndirectObject* target = Find(*static_cast<TkxPDFIndirectReference*>(obj));
      if (!target) return nullptr;
      obj = target->Value.get();
    } else if (IsIndirect(obj)) {
      obj = static_cast<TkxPDFIndirectObject*>(obj)->Value.get();
    } else {
      return obj;
    }
  }
  return nullptr;
}

namespace {
[[noreturn]] void Unexpected() { throw EUnexpectedObjectError("Unexpected PDF object encountered"); }
}  // namespace

TkxPDFArrayObject* TkxPDFObjectStore::ResolveArray(TkxPDFObject* obj,
                                                   std::unique_ptr<TkxPDFArrayObject>* wrapped) const {
  obj = ResolveAny(obj);
  if (!obj || IsNull(obj)) return nullptr;
  if (IsArray(obj)) return static_cast<TkxPDFArrayObject*>(obj);
  if (IsName(obj)) {
    if (!wrapped) return nullptr;
    *wrapped = std::make_unique<TkxPDFArrayObject>();
    (*wrapped)->Add(obj->Clone());
    return wrapped->get();
  }
  Unexpected();
}

TkxPDFDictObject* TkxPDFObjectStore::ResolveDict(TkxPDFObject* obj) const {
  obj = ResolveAny(obj);
  if (!obj || IsNull(obj)) return nullptr;
  if (IsDict(obj)) return static_cast<TkxPDFDictObject*>(obj);
  Unexpected();
}

TkxPDFObject* TkxPDFObjectStore::ResolveInteger(TkxPDFObject* obj) const {
  obj = ResolveAny(obj);
  if (!obj || IsNull(obj)) return nullptr;
  if (IsInteger(obj) || IsInt64(obj)) return obj;
  Unexpected();
}

const TkxPDFNameObject* TkxPDFObjectStore::ResolveName(TkxPDFObject* obj) const {
  obj = ResolveAny(obj);
  if (!obj || IsNull(obj)) return nullptr;
  if (IsName(obj)) return static_cast<TkxPDFNameObject*>(obj);
  Unexpected();
}

TkxPDFStreamObject* TkxPDFObjectStore::ResolveStream(TkxPDFObject* obj) const {
  obj = ResolveAny(obj);
  if (!obj || IsNull(obj)) return nullptr;
  if (IsStream(obj)) return static_cast<TkxPDFStreamObject*>(obj);
  Unexpected();
}

const TkxPDFStringObject* TkxPDFObjectStore::ResolveString(TkxPDFObject* obj) const {
  obj = ResolveAny(obj);
  if (!obj || IsNull(obj)) return nullptr;
  if (IsString(obj)) return static_cast<TkxPDFStringObject*>(obj);
  Unexpected();
}

}  // namespace pw
