// The object store: every indirect object read from a document, owned here
// and found by (document identity, object number, generation) through a hash
// map.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "pdf/kxPDFObjects.h"
#include "pdf/kxPDFTypes.h"

namespace pw {

class TkxPDFObjectStore {
 public:
  TkxPDFObjectStore() = default;
  TkxPDFObjectStore(const TkxPDFObjectStore&) = delete;
  TkxPDFObjectStore& operator=(const TkxPDFObjectStore&) = delete;

  // Takes the object and enters it under its key; an absent object raises
  // ENullObjectError. When the key is already taken the first object stays
  // the one Find answers (the new one is still owned, and its index valid).
  TkxPDFIndirectObject* Add(std::unique_ptr<TkxPDFIndirectObject> obj);
  TkxPDFIndirectObject* Find(const TkxPDFIndirectReference& ref) const;
  TkxPDFIndirectObject* Find(int32_t documentId, int32_t objectNumber, int32_t generation) const;
  // -1 when absent.
  int IndexOfObject(int32_t documentId, int32_t objectNumber, int32_t generation) const;
  int Count() const { return static_cast<int>(items_.size()); }
  // The object at an index; raises the general exception outside the store.
  TkxPDFIndirectObject* Get(int index) const;
  void Clear();

  // Destroys the object at an index; Find no longer answers it (the index
  // stays valid, Get gives nullptr). A later Add may enter it again.
  void Free(int index);

  // Whether what the object at an index refers to has been read in.
  bool IsLoaded(int index) const;
  void SetLoaded(int index, bool loaded = true);

  // Kind-checked resolution through the store: absent or null -> nullptr; the
  // wanted kind -> itself; a reference -> the stored object's value resolved
  // again (nullptr when not stored); any other kind raises
  // EUnexpectedObjectError. Chains of references are followed a bounded number
  // of times, so a reference cycle resolves to nullptr.
  // ResolveArray also wraps a name into a one-element array kept in *wrapped
  // (names give nullptr when wrapped is not given).
  TkxPDFArrayObject* ResolveArray(TkxPDFObject* obj, std::unique_ptr<TkxPDFArrayObject>* wrapped = nullptr) const;
  TkxPDFDictObject* ResolveDict(TkxPDFObject* obj) const;
  // An integer or 64-bit integer object.
  TkxPDFObject* ResolveInteger(TkxPDFObject* obj) const;
  const TkxPDFNameObject* ResolveName(TkxPDFObject* obj) const;
  TkxPDFStreamObject* ResolveStream(TkxPDFObject* obj) const;
  const TkxPDFStringObject* ResolveString(TkxPDFObject* obj) const;
  // Follows references and indirect objects to a direct object; nullptr for a
  // reference that is not in the store.
  TkxPDFObject* ResolveAny(TkxPDFObject* obj) const;

  // Number of object numbers in use, from which new objects would be numbered.
  int32_t ObjectNumberCounter = 0;

 private:
  struct Entry {
    std::unique_ptr<TkxPDFIndirectObject> obj;
    bool loaded = false;
  };
  std::vector<Entry> items_;
  std::unordered_map<TkxObjectKey, int, TkxObjectKeyHash> index_;
};

}  // namespace pw
