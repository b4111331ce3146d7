// PDF syntax reader: file header, startxref offset, trailer, direct and
// indirect objects and the raw data of stream objects.
//
// The reader is a non-owning view over bytes already held in memory (the
// whole file, or the decoded data of an object stream); the caller keeps the
// buffer alive for the reader's lifetime. Nothing is ever read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxClasses.h"
#include "pdf/kxPDFObjects.h"

namespace pw {

enum TkxPDFVersion : int { pvPDF10 = 0, pvPDF11, pvPDF12, pvPDF13, pvPDF14, pvPDF15, pvPDF16, pvPDF17, pvPDF20 };

class TkxPDFDecrypt;  // pdf/kxPDFCrypt.h

// Read-only byte source with single-byte access and short look-ahead.
class TkxReadOnlyFilter {
 public:
  // data may be nullptr only with size 0 (EInvalidStream otherwise).
  TkxReadOnlyFilter(const uint8_t* data, size_t size);
  virtual ~TkxReadOnlyFilter() = default;

  // Copies up to n bytes and advances; returns the number copied.
  size_t Read(void* buffer, size_t n);
  // Always raises EReadError: the source is read-only.
  [[noreturn]] void Write(const void* buffer, size_t n);

  int64_t Position() const { return static_cast<int64_t>(pos_); }
  // Clamped to [0, Size()].
  void Seek(int64_t pos);
  int64_t Size() const { return static_cast<int64_t>(size_); }
  const uint8_t* Data() const { return data_; }

  // -1 at the end of the data (position unchanged).
  int ReadChar();
  // Sets AtEnd: true when the byte looked at is the last one, or there is none.
  int PeekChar();
  // Up to n bytes, position unchanged.
  std::string PeekString(size_t n);
  // Up to n bytes (fewer at the end of the data), advancing past them.
  std::string ReadString(size_t n);
  // One byte back (not before 0).
  void Unget();
  // n bytes forward (not past the end).
  void Skip(size_t n);

  bool AtEnd = false;

 protected:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class TkxRandomAccessFilter : public TkxReadOnlyFilter {
 public:
  using TkxReadOnlyFilter::TkxReadOnlyFilter;
};

class TkxPDFStreamReader : public TkxRandomAccessFilter {
 public:
  // Arrays and dictionaries nested deeper than this raise ELimitExceeded.
  static constexpr int kMaxNestingDepth = 256;
  // "%PDF-" must start within this many bytes of the beginning of the file.
  static constexpr size_t kHeaderSearchLimit = 1024;

  TkxPDFStreamReader(const uint8_t* data, size_t size, int32_t documentId);

  int32_t DocumentID;
  // Not owned; while set, strings and stream data are decrypted as read.
  TkxPDFDecrypt* Decryptor = nullptr;
  int32_t CurrentObjectNumber = -1;
  int32_t CurrentGeneration = -1;

  // Version from the "%PDF-x.y" header found within the first 1024 bytes.
  TkxPDFVersion ReadHeader();
  // Where "%PDF-" starts (valid after ReadHeader; 0 before).
  int64_t HeaderOffset() const { return headerOffset_; }
  // Offset written after the last "startxref" keyword of the data.
  int64_t FindStartXRef();
  // The dictionary after the next "trailer" keyword.
  std::unique_ptr<TkxPDFDictObject> ReadTrailer();

  // The next object; nullptr when a closing ")", ">", "]" or "}" is ahead
  // (not consumed). "n g obj" yields a TkxPDFIndirectObject whose value is a
  // TkxPDFStreamObject without data when "stream" follows the dictionary.
  PDFObjectPtr ParseObject();
  PDFObjectPtr ParseString();
  PDFObjectPtr ParseName();
  PDFObjectPtr ParseArray();
  PDFObjectPtr ParseDictionary();

  // Reads "stream", the data and "endstream"; a wrong length is corrected by
  // searching for "endstream". Decrypts when Decryptor is set.
  std::vector<uint8_t> ReadStreamData(int64_t length, int32_t objNo, int32_t gen);

  // Skips white space and comments.
  void SkipWhitespace();
  std::string ReadToken();
  std::string PeekToken();

 private:
  // ReadToken as a view of the data.
  std::string_view NextWord();
  PDFObjectPtr ParseNumberOrReference();
  void EnterNested(const char* what);
  std::string DecryptBytes(std::string_view bytes) const;

  int64_t headerOffset_ = 0;
  int depth_ = 0;
  // Bytes read again after dictionary keys that were not names.
  uint64_t reread_ = 0;
};

}  // namespace pw
