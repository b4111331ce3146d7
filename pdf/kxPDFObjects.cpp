#include "pdf/kxPDFObjects.h"

#include <cmath>
#include <limits>

#include "pdf/kxPDFLexer.h"

namespace pw {

const char* KindDisplayName(uint8_t kind) {
  switch (kind) {
    case okBoolean: return "Boolean Object";
    case okInteger: return "Integer Object";
    case okInt64: return "Int64 Object";
    case okReal: return "Real Object";
    case okString: return "String Object";
    case okName: return "Name Object";
    case okArray: return "Array Object";
    case okDict: return "Dictionary Object";
    case okStream: return "Stream Object";
    case okNull: return "Null Object";
    case okIndirectReference: return "IndirectReference Object";
    case okIndirectObject: return "Indirect Object";
  }
  return "Unknown Object";
}

PDFObjectPtr TkxPDFBooleanObject::Clone() const { return std::make_unique<TkxPDFBooleanObject>(Value); }
PDFObjectPtr TkxPDFIntegerObject::Clone() const { return std::make_unique<TkxPDFIntegerObject>(Value); }
PDFObjectPtr TkxPDFInt64Object::Clone() const { return std::make_unique<TkxPDFInt64Object>(Value); }
PDFObjectPtr TkxPDFRealObject::Clone() const { return std::make_unique<TkxPDFRealObject>(Value); }
PDFObjectPtr TkxPDFNullObject::Clone() const { return std::make_unique<TkxPDFNullObject>(); }
PDFObjectPtr TkxPDFNameObject::Clone() const { return std::make_unique<TkxPDFNameObject>(Text); }
PDFObjectPtr TkxPDFIndirectReference::Clone() const {
  return std::make_unique<TkxPDFIndirectReference>(DocumentID, ObjectNumber, Generation);
}
PDFObjectPtr TkxPDFIndirectObject::Clone() const {
  auto c =
      std::make_unique<TkxPDFIndirectObject>(DocumentID, ObjectNumber, Generation, Value ? Value->Clone() : nullptr);
  c->RefCount = RefCount;
  return c;
}

// ---- strings ----

PDFObjectPtr TkxPDFStringObject::Clone() const { return std::make_unique<TkxPDFStringObject>(Text, IsHex); }

std::string TkxPDFStringObject::GetText() const {
  if (Text.size() < 2) return {};
  return Text.substr(1, Text.size() - 2);
}

std::string TkxPDFStringObject::GetBytes() const {
  std::string body = GetText();
  return IsHex ? HexToBytes(body) : body;
}

std::u16string TkxPDFStringObject::GetWideText() const {
  std::string body = GetText();
  if (IsHex) {
    std::string digits;
    for (char c : body)
      if (HexDigitValue(c) >= 0) digits.push_back(c);
    if (digits.size() >= 4 && (digits[0] == 'F' || digits[0] == 'f') && (digits[1] == 'E' || digits[1] == 'e') &&
        (digits[2] == 'F' || digits[2] == 'f') && (digits[3] == 'F' || digits[3] == 'f')) {
      std::u16string out;
      for (size_t i = 4; i + 4 <= digits.size(); i += 4) {
        out.push_back(static_cast<char16_t>((HexDigitValue(digits[i]) << 12) | (HexDigitValue(digits[i + 1]) << 8) |
                                            (HexDigitValue(digits[i + 2]) << 4) | HexDigitValue(digits[i + 3])));
      }
      return out;
    }
    return AnsiToWide(HexToBytes(digits));
  }
  return AnsiToWide(body);
}

// ---- arrays ----

PDFObjectPtr TkxPDFArrayObject::Clone() const {
  auto c = std::make_unique<TkxPDFArrayObject>();
  c->Items.reserve(Items.size());
  for (const auto& e : Items) c->Items.push_back(e ? e->Clone() : nullptr);
  return c;
}

void TkxPDFArrayObject::AddInteger(int32_t v) { Items.push_back(std::make_unique<TkxPDFIntegerObject>(v)); }

TkxPDFObject* TkxPDFArrayObject::Get(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return Items[index].get();
}

void TkxPDFArrayObject::Insert(int index, PDFObjectPtr obj) {
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  Items.insert(Items.begin() + index, std::move(obj));
}

PDFObjectPtr TkxPDFArrayObject::Put(int index, PDFObjectPtr obj) {
  if (index < 0 || index >= Count()) throw EInvalidIndex("Index Out Of Bounds!");
  PDFObjectPtr old = std::move(Items[index]);
  Items[index] = std::move(obj);
  return old;
}

// ---- dictionaries ----

namespace {
bool KeyEquals(const std::string& stored, std::string_view key) {
  if (!key.empty() && key[0] == '/') return stored == key;
  return stored.size() == key.size() + 1 && stored[0] == '/' && std::string_view(stored).substr(1) == key;
}
std::string KeyText(std::string_view key) {
  std::string out;
  out.reserve(key.size() + 1);
  if (key.empty() || key[0] != '/') out.push_back('/');
  out.append(key);
  return out;
}
}  // namespace

PDFObjectPtr TkxPDFDictObject::Clone() const {
  auto c = std::make_unique<TkxPDFDictObject>();
  c->Keys.reserve(Keys.size());
  c->Values.reserve(Values.size());
  for (size_t i = 0; i < Keys.size(); ++i) {
    c->Keys.push_back(std::make_unique<TkxPDFNameObject>(Keys[i]->Text));
    c->Values.push_back(Values[i] ? Values[i]->Clone() : nullptr);
  }
  return c;
}

TkxPDFNameObject* TkxPDFDictObject::KeyAt(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return Keys[index].get();
}

TkxPDFObject* TkxPDFDictObject::ValueAt(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return Values[index].get();
}

int TkxPDFDictObject::IndexOf(std::string_view key) const {
  for (size_t i = 0; i < Keys.size(); ++i)
    if (KeyEquals(Keys[i]->Text, key)) return static_cast<int>(i);
  return -1;
}

TkxPDFObject* TkxPDFDictObject::Lookup(std::string_view key) const {
  int i = IndexOf(key);
  return i < 0 ? nullptr : Values[i].get();
}

void TkxPDFDictObject::Add(std::unique_ptr<TkxPDFNameObject> key, PDFObjectPtr value) {
  Keys.push_back(std::move(key));
  Values.push_back(std::move(value));
}

void TkxPDFDictObject::AddName(std::string_view key, std::string_view name) {
  if (name.empty()) return;
  AddObject(key, std::make_unique<TkxPDFNameObject>(KeyText(name)));
}

void TkxPDFDictObject::AddInteger(std::string_view key, int32_t v) {
  AddObject(key, std::make_unique<TkxPDFIntegerObject>(v));
}
void TkxPDFDictObject::AddReal(std::string_view key, double v) {
  AddObject(key, std::make_unique<TkxPDFRealObject>(v));
}
void TkxPDFDictObject::AddInt64(std::string_view key, int64_t v) {
  AddObject(key, std::make_unique<TkxPDFInt64Object>(v));
}
void TkxPDFDictObject::AddObject(std::string_view key, PDFObjectPtr value) {
  Add(std::make_unique<TkxPDFNameObject>(KeyText(key)), std::move(value));
}

void TkxPDFDictObject::SetValue(std::string_view key, PDFObjectPtr value) {
  int i = IndexOf(key);
  if (i >= 0)
    Values[i] = std::move(value);
  else
    AddObject(key, std::move(value));
}

void TkxPDFDictObject::SetName(std::string_view key, std::string_view name) {
  SetValue(key, std::make_unique<TkxPDFNameObject>(KeyText(name)));
}
void TkxPDFDictObject::SetBoolean(std::string_view key, bool v) {
  SetValue(key, std::make_unique<TkxPDFBooleanObject>(v));
}
void TkxPDFDictObject::SetInteger(std::string_view key, int32_t v) {
  SetValue(key, std::make_unique<TkxPDFIntegerObject>(v));
}

PDFObjectPtr TkxPDFDictObject::PutValueAt(int index, PDFObjectPtr value) {
  if (index < 0 || index >= Count()) throw EInvalidIndex("Index Out Of Bounds!");
  PDFObjectPtr old = std::move(Values[index]);
  Values[index] = std::move(value);
  return old;
}

void TkxPDFDictObject::DeleteAt(int index) {
  if (index < 0 || index >= Count()) throw EInvalidIndex("Index Out Of Bounds!");
  Keys.erase(Keys.begin() + index);
  Values.erase(Values.begin() + index);
}

void TkxPDFDictObject::Remove(std::string_view key) {
  int i = IndexOf(key);
  if (i >= 0) DeleteAt(i);
}

void TkxPDFDictObject::Merge(const TkxPDFDictObject* other) {
  if (!other) return;
  for (size_t i = 0; i < other->Keys.size(); ++i)
    SetValue(other->Keys[i]->Text, other->Values[i] ? other->Values[i]->Clone() : nullptr);
}

// ---- streams ----

PDFObjectPtr TkxPDFStreamObject::Clone() const {
  std::unique_ptr<TkxPDFDictObject> d(Dict ? static_cast<TkxPDFDictObject*>(Dict->Clone().release())
                                           : new TkxPDFDictObject());
  auto c = std::make_unique<TkxPDFStreamObject>(std::move(d));
  c->Data = Data;
  c->HasData = HasData;
  return c;
}

// ---- helpers ----

double NumberValue(const TkxPDFObject* o, double def) {
  if (!o) return def;
  switch (o->Kind) {
    case okInteger: return static_cast<const TkxPDFIntegerObject*>(o)->Value;
    case okInt64: return static_cast<double>(static_cast<const TkxPDFInt64Object*>(o)->Value);
    case okReal: return static_cast<const TkxPDFRealObject*>(o)->Value;
    default: return def;
  }
}

int64_t IntValue(const TkxPDFObject* o, int64_t def) {
  if (!o) return def;
  switch (o->Kind) {
    case okInteger: return static_cast<const TkxPDFIntegerObject*>(o)->Value;
    case okInt64: return static_cast<const TkxPDFInt64Object*>(o)->Value;
    case okReal: {
      double v = static_cast<const TkxPDFRealObject*>(o)->Value;
      if (std::isnan(v)) return def;
      if (v >= 9.2e18) return std::numeric_limits<int64_t>::max();
      if (v <= -9.2e18) return std::numeric_limits<int64_t>::min();
      return static_cast<int64_t>(v);
    }
    default: return def;
  }
}

std::string NameValue(const TkxPDFObject* o) {
  const auto* n = AsName(o);
  return n ? n->GetName() : std::string();
}

}  // namespace pw
