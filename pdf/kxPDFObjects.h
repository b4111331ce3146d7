// The PDF object family: every value read from a PDF file.
// Containers own their elements through unique_ptr; lookups return borrowed
// raw pointers (nullptr for absent entries).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxClasses.h"

namespace pw {

enum TkxPDFObjectKind : uint8_t {
  okBoolean = 0,
  okInteger = 1,
  okInt64 = 2,
  okReal = 3,
  okString = 4,
  okName = 5,
  okArray = 6,
  okDict = 7,
  okStream = 8,
  okNull = 9,
  okIndirectReference = 10,
  okIndirectObject = 11,
};

// Display name of a kind, for error messages ("Dictionary Object", ...).
const char* KindDisplayName(uint8_t kind);

class TkxPDFObject;
using PDFObjectPtr = std::unique_ptr<TkxPDFObject>;

class TkxPDFObject {
 public:
  explicit TkxPDFObject(TkxPDFObjectKind kind) : Kind(kind) {}
  virtual ~TkxPDFObject() = default;
  TkxPDFObject(const TkxPDFObject&) = delete;
  TkxPDFObject& operator=(const TkxPDFObject&) = delete;
  // Deep copy owned by the caller.
  virtual PDFObjectPtr Clone() const = 0;
  const TkxPDFObjectKind Kind;
};

class TkxPDFBooleanObject : public TkxPDFObject {
 public:
  explicit TkxPDFBooleanObject(bool v) : TkxPDFObject(okBoolean), Value(v) {}
  PDFObjectPtr Clone() const override;
  bool Value;
};

class TkxPDFIntegerObject : public TkxPDFObject {
 public:
  explicit TkxPDFIntegerObject(int32_t v) : TkxPDFObject(okInteger), Value(v) {}
  PDFObjectPtr Clone() const override;
  int32_t Value;
};

class TkxPDFInt64Object : public TkxPDFObject {
 public:
  explicit TkxPDFInt64Object(int64_t v) : TkxPDFObject(okInt64), Value(v) {}
  PDFObjectPtr Clone() const override;
  int64_t Value;
};

class TkxPDFRealObject : public TkxPDFObject {
 public:
  explicit TkxPDFRealObject(double v) : TkxPDFObject(okReal), Value(v) {}
  PDFObjectPtr Clone() const override;
  double Value;
};

// Text is stored with its delimiters: "(body)" or "<hexdigits>".
class TkxPDFStringObject : public TkxPDFObject {
 public:
  explicit TkxPDFStringObject(std::string text, bool isHex = false)
      : TkxPDFObject(okString), Text(std::move(text)), IsHex(isHex) {}
  PDFObjectPtr Clone() const override;
  // The text without its first and last byte.
  std::string GetText() const;
  // The bytes a hexadecimal string stands for; a literal string's body.
  std::string GetBytes() const;
  std::u16string GetWideText() const;
  std::string Text;
  bool IsHex;
};

// Text keeps the leading "/"; names compare byte for byte.
class TkxPDFNameObject : public TkxPDFObject {
 public:
  explicit TkxPDFNameObject(std::string text) : TkxPDFObject(okName), Text(std::move(text)) {}
  PDFObjectPtr Clone() const override;
  std::string GetName() const { return Text.empty() ? Text : Text.substr(1); }
  std::string Text;
};

class TkxPDFArrayObject : public TkxPDFObject {
 public:
  TkxPDFArrayObject() : TkxPDFObject(okArray) {}
  PDFObjectPtr Clone() const override;
  int Count() const { return static_cast<int>(Items.size()); }
  void Add(PDFObjectPtr obj) { Items.push_back(std::move(obj)); }
  void AddInteger(int32_t v);
  // nullptr outside the array.
  TkxPDFObject* Get(int index) const;
  void Insert(int index, PDFObjectPtr obj);
  // Replaces the element and hands the old one back to the caller.
  PDFObjectPtr Put(int index, PDFObjectPtr obj);
  std::vector<PDFObjectPtr> Items;
};

class TkxPDFDictObject : public TkxPDFObject {
 public:
  TkxPDFDictObject() : TkxPDFObject(okDict) {}
  PDFObjectPtr Clone() const override;
  int Count() const { return static_cast<int>(Keys.size()); }
  TkxPDFNameObject* KeyAt(int index) const;
  TkxPDFObject* ValueAt(int index) const;
  // Key texts include the leading "/"; a key given without it gets one.
  int IndexOf(std::string_view key) const;
  TkxPDFObject* Lookup(std::string_view key) const;
  void Add(std::unique_ptr<TkxPDFNameObject> key, PDFObjectPtr value);
  void AddName(std::string_view key, std::string_view name);
  void AddInteger(std::string_view key, int32_t v);
  void AddReal(std::string_view key, double v);
  void AddInt64(std::string_view key, int64_t v);
  void AddObject(std::string_view key, PDFObjectPtr value);
  void SetValue(std::string_view key, PDFObjectPtr value);
  void SetValue(const TkxPDFNameObject& key, PDFObjectPtr value) { SetValue(key.Text, std::move(value)); }
  void SetName(std::string_view key, std::string_view name);
  void SetBoolean(std::string_view key, bool v);
  void SetInteger(std::string_view key, int32_t v);
  // Replaces the value and hands the old one back; raises EInvalidIndex.
  PDFObjectPtr PutValueAt(int index, PDFObjectPtr value);
  void DeleteAt(int index);
  void Remove(std::string_view key);
  void Merge(const TkxPDFDictObject* other);

  std::vector<std::unique_ptr<TkxPDFNameObject>> Keys;
  std::vector<PDFObjectPtr> Values;  // parallel to Keys; entries may be null
};

class TkxPDFStreamObject : public TkxPDFObject {
 public:
  explicit TkxPDFStreamObject(std::unique_ptr<TkxPDFDictObject> dict) : TkxPDFObject(okStream), Dict(std::move(dict)) {}
  TkxPDFStreamObject(std::unique_ptr<TkxPDFDictObject> dict, std::vector<uint8_t> data)
      : TkxPDFObject(okStream), Dict(std::move(dict)), Data(std::move(data)), HasData(true) {}
  PDFObjectPtr Clone() const override;
  void SetData(std::vector<uint8_t> data) {
    Data = std::move(data);
    HasData = true;
  }
  std::unique_ptr<TkxPDFDictObject> Dict;
  std::vector<uint8_t> Data;  // raw (still encoded) bytes, decrypted if needed
  bool HasData = false;
};

class TkxPDFNullObject : public TkxPDFObject {
 public:
  TkxPDFNullObject() : TkxPDFObject(okNull) {}
  PDFObjectPtr Clone() const override;
};

class TkxPDFIndirectReference : public TkxPDFObject {
 public:
  TkxPDFIndirectReference(int32_t docId, int32_t objNo, uint16_t gen)
      : TkxPDFObject(okIndirectReference), DocumentID(docId), ObjectNumber(objNo), Generation(gen) {}
  PDFObjectPtr Clone() const override;
  int32_t DocumentID;
  int32_t ObjectNumber;
  uint16_t Generation;
};

class TkxPDFIndirectObject : public TkxPDFObject {
 public:
  TkxPDFIndirectObject(int32_t docId, int32_t objNo, uint16_t gen, PDFObjectPtr value)
      : TkxPDFObject(okIndirectObject),
        DocumentID(docId),
        ObjectNumber(objNo),
        Generation(gen),
        Value(std::move(value)) {}
  TkxPDFIndirectObject(int32_t docId, int32_t objNo, uint16_t gen, PDFObjectPtr value, int flag)
      : TkxPDFIndirectObject(docId, objNo, gen, std::move(value)) {
    if (flag == 1) RefCount = 1;
  }
  PDFObjectPtr Clone() const override;
  void AddRef() { ++RefCount; }
  void Release() { --RefCount; }
  int32_t DocumentID;
  int32_t ObjectNumber;
  uint16_t Generation;
  int32_t RefCount = 0;
  PDFObjectPtr Value;
};

// Kind tests; all accept nullptr (answer false).
inline bool IsBoolean(const TkxPDFObject* o) { return o && o->Kind == okBoolean; }
inline bool IsInteger(const TkxPDFObject* o) { return o && o->Kind == okInteger; }
inline bool IsInt64(const TkxPDFObject* o) { return o && o->Kind == okInt64; }
inline bool IsReal(const TkxPDFObject* o) { return o && o->Kind == okReal; }
inline bool IsString(const TkxPDFObject* o) { return o && o->Kind == okString; }
inline bool IsName(const TkxPDFObject* o) { return o && o->Kind == okName; }
inline bool IsArray(const TkxPDFObject* o) { return o && o->Kind == okArray; }
inline bool IsDict(const TkxPDFObject* o) { return o && o->Kind == okDict; }
inline bool IsStream(const TkxPDFObject* o) { return o && o->Kind == okStream; }
inline bool IsNull(const TkxPDFObject* o) { return o && o->Kind == okNull; }
inline bool IsReference(const TkxPDFObject* o) { return o && o->Kind == okIndirectReference; }
inline bool IsIndirect(const TkxPDFObject* o) { return o && o->Kind == okIndirectObject; }
inline bool IsNumber(const TkxPDFObject* o) {
  return o && (o->Kind == okInteger || o->Kind == okInt64 || o->Kind == okReal);
}

// Checked downcasts: nullptr when the kind differs.
inline TkxPDFDictObject* AsDict(TkxPDFObject* o) { return IsDict(o) ? static_cast<TkxPDFDictObject*>(o) : nullptr; }
inline const TkxPDFDictObject* AsDict(const TkxPDFObject* o) {
  return IsDict(o) ? static_cast<const TkxPDFDictObject*>(o) : nullptr;
}
inline TkxPDFArrayObject* AsArray(TkxPDFObject* o) { return IsArray(o) ? static_cast<TkxPDFArrayObject*>(o) : nullptr; }
inline const TkxPDFArrayObject* AsArray(const TkxPDFObject* o) {
  return IsArray(o) ? static_cast<const TkxPDFArrayObject*>(o) : nullptr;
}
inline TkxPDFStreamObject* AsStream(TkxPDFObject* o) {
  return IsStream(o) ? static_cast<TkxPDFStreamObject*>(o) : nullptr;
}
inline const TkxPDFStreamObject* AsStream(const TkxPDFObject* o) {
  return IsStream(o) ? static_cast<const TkxPDFStreamObject*>(o) : nullptr;
}
inline const TkxPDFNameObject* AsName(const TkxPDFObject* o) {
  return IsName(o) ? static_cast<const TkxPDFNameObject*>(o) : nullptr;
}
inline const TkxPDFStringObject* AsString(const TkxPDFObject* o) {
  return IsString(o) ? static_cast<const TkxPDFStringObject*>(o) : nullptr;
}
inline const TkxPDFIndirectReference* AsReference(const TkxPDFObject* o) {
  return IsReference(o) ? static_cast<const TkxPDFIndirectReference*>(o) : nullptr;
}
inline TkxPDFIndirectObject* AsIndirect(TkxPDFObject* o) {
  return IsIndirect(o) ? static_cast<TkxPDFIndirectObject*>(o) : nullptr;
}

// Numeric value of an integer, 64-bit integer or real object; `def` otherwise.
double NumberValue(const TkxPDFObject* o, double def = 0.0);
// Integer value (reals truncated toward zero, clamped); `def` for non-numbers.
int64_t IntValue(const TkxPDFObject* o, int64_t def = 0);
// The name without "/" of a name object; empty otherwise.
std::string NameValue(const TkxPDFObject* o);

// Walks root and what it holds with an explicit work list (long chains of
// references must not use the stack): array elements, dictionary values, a
// stream's dictionary, an indirect object's value. Every reference met goes
// to onReference(reference, push), which may push what it leads to. Scalars
// are passed by, and so is anything inside an array that is neither an
// array, a dictionary nor a reference; a stream there (which no parser
// makes) is reported to onStreamInArray. Object is TkxPDFObject or its const.
template <class Object, class OnReference, class OnStreamInArray>
void WalkObjectTree(Object* root, OnReference&& onReference, OnStreamInArray&& onStreamInArray) {
  std::vector<Object*> work{root};
  auto push = [&work](Object* o) { work.push_back(o); };
  while (!work.empty()) {
    Object* o = work.back();
    work.pop_back();
    if (!o) continue;
    switch (o->Kind) {
      case okArray:
        for (const PDFObjectPtr& item : static_cast<const TkxPDFArrayObject*>(o)->Items) {
          if (IsStream(item.get()))
            onStreamInArray();
          else if (IsArray(item.get()) || IsDict(item.get()) || IsReference(item.get()))
            work.push_back(item.get());
        }
        break;
      case okDict:
        for (const PDFObjectPtr& v : static_cast<const TkxPDFDictObject*>(o)->Values)
          if (IsArray(v.get()) || IsDict(v.get()) || IsReference(v.get()) || IsStream(v.get())) work.push_back(v.get());
        break;
      case okStream: work.push_back(static_cast<const TkxPDFStreamObject*>(o)->Dict.get()); break;
      case okIndirectObject: work.push_back(static_cast<const TkxPDFIndirectObject*>(o)->Value.get()); break;
      case okIndirectReference: onReference(static_cast<const TkxPDFIndirectReference*>(o), push); break;
      default: break;
    }
  }
}

}  // namespace pw
