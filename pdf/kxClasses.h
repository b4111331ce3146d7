// Base types shared by the PDF reading layer and the document engine:
// exception classes, the keyed object list, the component base, the
// big-endian memory stream, the wide-string list and the fixed ANSI code page.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

// printf-like formatting restricted to "%s" and "%d", the only placeholders
// the fixed messages use. Arguments are consumed left to right.
std::string FormatMsg(std::string_view fmt, std::initializer_list<std::string> args);
std::string FormatMsg(std::string_view fmt, long long value);
inline std::string FormatMsg(std::string_view fmt, std::string_view value) {
  return FormatMsg(fmt, {std::string(value)});
}

// The general exception class: what() carries the exact message.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
};

#define PW_DECLARE_EXCEPTION(Name, Parent)                 \
  class Name : public Parent {                             \
   public:                                                 \
    explicit Name(const std::string& msg) : Parent(msg) {} \
  };

PW_DECLARE_EXCEPTION(TkxException, Exception)
PW_DECLARE_EXCEPTION(EInvalidID, TkxException)
PW_DECLARE_EXCEPTION(EInvalidStream, TkxException)
PW_DECLARE_EXCEPTION(EReadError, TkxException)
PW_DECLARE_EXCEPTION(EInvalidHeader, Exception)
PW_DECLARE_EXCEPTION(EUnsupportedVersion, Exception)
PW_DECLARE_EXCEPTION(EOffsetError, Exception)
PW_DECLARE_EXCEPTION(ETrailerError, Exception)
PW_DECLARE_EXCEPTION(EStringReadError, Exception)
PW_DECLARE_EXCEPTION(EArrayReadError, Exception)
PW_DECLARE_EXCEPTION(ENameReadError, Exception)
PW_DECLARE_EXCEPTION(EDictionaryReadError, Exception)
PW_DECLARE_EXCEPTION(EStreamReadError, Exception)
PW_DECLARE_EXCEPTION(EEndStreamError, Exception)
PW_DECLARE_EXCEPTION(EBooleanError, Exception)
PW_DECLARE_EXCEPTION(ENullObjectError, Exception)
PW_DECLARE_EXCEPTION(EInvalidObjectNo, Exception)
PW_DECLARE_EXCEPTION(EUnexpectedError, Exception)
PW_DECLARE_EXCEPTION(EUnexpectedObjectError, Exception)
PW_DECLARE_EXCEPTION(EInvalidPermission, Exception)
PW_DECLARE_EXCEPTION(EUnsupportedFilterError, Exception)
PW_DECLARE_EXCEPTION(EUnexpectedFilterObject, Exception)
PW_DECLARE_EXCEPTION(EInvalidIndex, Exception)
PW_DECLARE_EXCEPTION(EImproperPNGAlgorithm, Exception)
PW_DECLARE_EXCEPTION(EFileNotFound, Exception)
// Raised when a decoded stream or a nesting depth passes a safety limit.
PW_DECLARE_EXCEPTION(ELimitExceeded, Exception)

// Document-level errors.
PW_DECLARE_EXCEPTION(EPDFException, Exception)
PW_DECLARE_EXCEPTION(ECrossReferenceError, EPDFException)
PW_DECLARE_EXCEPTION(EPDFFileCorruptedError, EPDFException)
PW_DECLARE_EXCEPTION(EInvalidPageError, EPDFException)
PW_DECLARE_EXCEPTION(EUnsupportedImageError, EPDFException)
PW_DECLARE_EXCEPTION(EUnsupportedFontError, EPDFException)
// A wrong or missing password; the document layer raises it when no
// password could be accepted.
PW_DECLARE_EXCEPTION(EPasswordError, EPDFException)
namespace doc {
// The document unit has an error of the same name as the reading layer's.
PW_DECLARE_EXCEPTION(EUnexpectedObjectError, EPDFException)
}  // namespace doc

#undef PW_DECLARE_EXCEPTION

class TkxPDFObject;

// Keyed list of borrowed objects.
class TkxObjectList {
 public:
  ~TkxObjectList() { Clear(); }
  int Count() const { return count_; }
  int Capacity() const { return static_cast<int>(entries_.size()); }
  void Insert(int index, int32_t key, TkxPDFObject* obj);
  int Add(int32_t key, TkxPDFObject* obj);
  TkxPDFObject* Get(int index) const;
  int32_t KeyAt(int index) const;
  int IndexOfKey(int32_t key) const;
  void Clear();

 private:
  struct Entry {
    int32_t key = 0;
    TkxPDFObject* obj = nullptr;
  };
  std::vector<Entry> entries_;  // size() is the capacity
  int count_ = 0;
};

// Base of the components of the PDF layer and the document engine.
class TkxComponent {
 public:
  virtual ~TkxComponent() = default;
  std::string About() const { return "Paperwright"; }
  void SetAbout(const std::string&) {}
  std::string Version() const;
  void SetVersion(const std::string&) {}
};

// Growable byte buffer with a position and big-endian integer access.
class TkxExtMemStream {
 public:
  TkxExtMemStream() = default;
  explicit TkxExtMemStream(std::vector<uint8_t> data) : data_(std::move(data)) {}

  const std::vector<uint8_t>& Data() const { return data_; }
  std::vector<uint8_t>& Data() { return data_; }
  size_t Size() const { return data_.size(); }
  size_t Position() const { return pos_; }
  void SetPosition(size_t pos) { pos_ = pos > data_.size() ? data_.size() : pos; }

  // Reads past the end raise EReadError.
  uint8_t ReadByte();
  uint16_t ReadWord();
  uint32_t ReadDWord();
  std::string ReadString(size_t n);
  // Moves by delta, clamped to [0, size]; returns the distance moved.
  int64_t Skip(int64_t delta);

  void WriteByte(uint8_t b);
  void WriteString(std::string_view s);
  void WriteWord(uint16_t v);
  void WriteDWord(uint32_t v);
  void WriteWords(const std::vector<uint16_t>& v);
  void WriteDWords(const std::vector<uint32_t>& v);
  // Pads the data with zero bytes to a multiple of 4.
  void Align4();
  uint32_t AlignPadCount() const { return pad_count_; }

 private:
  void Put(const uint8_t* p, size_t n);
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
  uint32_t pad_count_ = 0;
};

// List of UTF-16 strings. Get outside the list gives an empty string; Put at
// Count appends, at another index outside the list does nothing. The
// reading layer offers it; the conversion does not use it.
class TWideStrings {
 public:
  int Add(const std::u16string& s);
  int Count() const { return static_cast<int>(items_.size()); }
  std::u16string Get(int index) const;
  void Put(int index, const std::u16string& s);
  void Insert(int index, const std::u16string& s);
  void Delete(int index);
  void Clear() { items_.clear(); }

 private:
  std::vector<std::u16string> items_;
};

// The system ANSI code page of this port is Windows-1252.
constexpr int kAnsiCodePage = 1252;
// Value of a hexadecimal digit, or -1 for any other byte.
inline int HexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char16_t AnsiCharToWide(uint8_t b);
std::u16string AnsiToWide(std::string_view bytes);
// Characters 1252 cannot represent become '?'.
std::string WideToAnsi(std::u16string_view text);
// Returns false when the character has no 1252 byte.
bool WideCharToAnsi(char16_t c, uint8_t& out);

std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text);

}  // namespace pw
