#include "pdf/kxPDFStreamReader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>

#include "pdf/kxPDFCrypt.h"
#include "pdf/kxPDFLexer.h"
#include "pdf/kxWarnings.h"

namespace pw {

namespace {

constexpr const char* kEndOfData = "end of data";
constexpr std::string_view kEndStream = "endstream";
constexpr std::string_view kEndObj = "endobj";

inline bool IsDigit(int c) { return c >= '0' && c <= '9'; }
inline bool IsAlnum(uint8_t c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline uint8_t Lower(uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + 32) : c; }

// Whole-text conversions with an optional leading "+".
template <typename T>
bool ToInteger(std::string_view s, T& out) {
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s[0] == '-') return false;
  }
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool ToReal(std::string_view s, double& out) {
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s[0] == '-') return false;
  }
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int32_t ToInt32OrThrow(std::string_view s) {
  int32_t v = 0;
  if (!ToInteger(s, v)) throw Exception(FormatMsg("'%s' is not a valid integer value", s));
  return v;
}

// Counts one level of array/dictionary/indirect-object nesting for its scope.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) {
    if (++depth_ > TkxPDFStreamReader::kMaxNestingDepth) {
      --depth_;
      throw ELimitExceeded(FormatMsg("PDF objects nested deeper than %d levels",
                                     static_cast<long long>(TkxPDFStreamReader::kMaxNestingDepth)));
    }
  }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

}  // namespace

// ---- TkxReadOnlyFilter ----

TkxReadOnlyFilter::TkxReadOnlyFilter(const uint8_t* data, size_t size) : data_(data), size_(size) {
  if (data_ == nullptr && size_ != 0) throw EInvalidStream("Invalid Stream! Cannot create with null stream");
}

size_t TkxReadOnlyFilter::Read(void* buffer, size_t n) {
  size_t k = std::min(n, size_ - pos_);
  if (k) std::memcpy(buffer, data_ + pos_, k);
  pos_ += k;
  return k;
}

void TkxReadOnlyFilter::Write(const void*, size_t) { throw EReadError("A write-only filter cannot read"); }

void TkxReadOnlyFilter::Seek(int64_t pos) {
  if (pos < 0) pos = 0;
  pos_ = static_cast<uint64_t>(pos) > size_ ? size_ : static_cast<size_t>(pos);
}

int TkxReadOnlyFilter::ReadChar() { return pos_ < size_ ? data_[pos_++] : -1; }

int TkxReadOnlyFilter::PeekChar() {
  if (pos_ >= size_) {
    AtEnd = true;
    return -1;
  }
  AtEnd = pos_ + 1 == size_;
  return data_[pos_];
}

std::string TkxReadOnlyFilter::PeekString(size_t n) {
  size_t k = std::min(n, size_ - pos_);
  return std::string(reinterpret_cast<const char*>(data_ + pos_), k);
}

std::string TkxReadOnlyFilter::ReadString(size_t n) {
  std::string s = PeekString(n);
  pos_ += s.size();
  return s;
}

void TkxReadOnlyFilter::Unget() {
  if (pos_ > 0) --pos_;
}

void TkxReadOnlyFilter::Skip(size_t n) { pos_ += std::min(n, size_ - pos_); }

// ---- TkxPDFStreamReader: lexical level ----

TkxPDFStreamReader::TkxPDFStreamReader(const uint8_t* data, size_t size, int32_t documentId)
    : TkxRandomAccessFilter(data, size), DocumentID(documentId) {}

void TkxPDFStreamReader::SkipWhitespace() {
  pdfscan::SkipWhiteAndComments(data_, size_, pos_);
  AtEnd = pos_ + 1 >= size_;
}

std::string_view TkxPDFStreamReader::NextWord() {
  const size_t start = pos_;
  if (pos_ < size_) {
    ++pos_;  // the first byte belongs to the token whatever it is
    pdfscan::Word(data_, size_, pos_, true);
  }
  std::string_view tok(reinterpret_cast<const char*>(data_ + start), pos_ - start);
  SkipWhitespace();
  return tok;
}

std::string TkxPDFStreamReader::ReadToken() { return std::string(NextWord()); }

std::string TkxPDFStreamReader::PeekToken() {
  SkipWhitespace();
  size_t end = pos_;
  return std::string(pdfscan::NameBody(data_, size_, end, true));
}

// ---- file level ----

TkxPDFVersion TkxPDFStreamReader::ReadHeader() {
  static constexpr std::string_view kMagic = "%PDF-";
  std::string_view head(reinterpret_cast<const char*>(data_), size_);
  size_t found = head.substr(0, kHeaderSearchLimit + kMagic.size() - 1).find(kMagic);
  if (found == std::string_view::npos) {
    Seek(0);
    throw EInvalidHeader(FormatMsg("Invalid PDF Header (%s)", ReadToken().substr(0, 7)));
  }
  headerOffset_ = static_cast<int64_t>(found);
  Seek(headerOffset_);
  std::string tok = ReadToken();
  auto digit = [&](size_t i) { return i < tok.size() && IsDigit(static_cast<uint8_t>(tok[i])); };
  if (!digit(5) || tok.size() < 7 || tok[6] != '.')
    throw EInvalidHeader(FormatMsg("Invalid PDF Header (%s)", tok.substr(0, 7)));
  if (!digit(7)) throw Exception(FormatMsg("'%s' is not a valid integer value", tok.substr(7, 1)));
  const char major = tok[5], minor = tok[7];
  if (major == '1' && minor <= '7') return static_cast<TkxPDFVersion>(minor - '0');
  if (major == '2' && minor == '0') return pvPDF20;
  throw EUnsupportedVersion(FormatMsg("Unsupported PDF Version (%s)", tok));
}

int64_t TkxPDFStreamReader::FindStartXRef() {
  static constexpr std::string_view kKeyword = "startxref";
  const size_t n = kKeyword.size();
  if (size_ < n) throw Exception("Invalid PDF File");
  // Backwards, so the keyword of the last incremental update wins.
  for (size_t p = size_ - n + 1; p-- > 0;) {
    if (Lower(data_[p]) != 's') continue;
    bool match = true;
    for (size_t i = 1; i < n && match; ++i) match = Lower(data_[p + i]) == static_cast<uint8_t>(kKeyword[i]);
    if (!match) continue;
    if ((p > 0 && IsAlnum(data_[p - 1])) || (p + n < size_ && IsAlnum(data_[p + n]))) continue;
    size_t q = p + n;
    while (q < size_ && !IsDigit(data_[q])) ++q;
    int64_t value = 0;
    size_t digits = 0;
    for (; q < size_ && IsDigit(data_[q]); ++q, ++digits) {
      if (value > (INT64_MAX - 9) / 10) throw EOffsetError("Error reading document. Unable to read offset");
      value = value * 10 + (data_[q] - '0');
    }
    if (digits == 0) throw EOffsetError("Error reading document. Unable to read offset");
    pos_ = q;
    return value;
  }
  throw Exception("Invalid PDF File");
}

std::unique_ptr<TkxPDFDictObject> TkxPDFStreamReader::ReadTrailer() {
  const uint8_t* t = pos_ < size_ ? static_cast<const uint8_t*>(std::memchr(data_ + pos_, 't', size_ - pos_)) : nullptr;
  if (!t) {
    pos_ = size_;
    throw ETrailerError("Error reading PDF trailer");
  }
  pos_ = static_cast<size_t>(t - data_);
  if (ReadString(7) != "trailer") throw ETrailerError("Error reading PDF trailer");
  PDFObjectPtr obj = ParseObject();
  if (!IsDict(obj.get())) throw ETrailerError("Error reading PDF trailer");
  return std::unique_ptr<TkxPDFDictObject>(static_cast<TkxPDFDictObject*>(obj.release()));
}

// ---- objects ----

PDFObjectPtr TkxPDFStreamReader::ParseObject() {
  SkipWhitespace();
  if (pos_ >= size_) throw Exception("Unexpected end of PDF data");
  switch (data_[pos_]) {
    case '(': return ParseString();
    case '<':
      if (pos_ + 1 < size_ && data_[pos_ + 1] == '<') return ParseDictionary();
      return ParseString();
    case '/': return ParseName();
    case '[': return ParseArray();
    case 't':
      if (ReadString(4) != "true") throw EBooleanError(FormatMsg("Expected boolean (%s) object", "true"));
      return std::make_unique<TkxPDFBooleanObject>(true);
    case 'f':
      if (ReadString(5) != "false") throw EBooleanError(FormatMsg("Expected boolean (%s) object", "false"));
      return std::make_unique<TkxPDFBooleanObject>(false);
    case 'n':
      if (ReadString(4) != "null") throw ENullObjectError("Expected PDF null object");
      return std::make_unique<TkxPDFNullObject>();
    case ')':
    case '>':
    case ']':
    case '}': return nullptr;
    default: return ParseNumberOrReference();
  }
}

PDFObjectPtr TkxPDFStreamReader::ParseNumberOrReference() {
  // Tokens are read as views into the data: no allocation for the common
  // case of a plain number.
  SkipWhitespace();
  const std::string_view t1 = NextWord();
  const size_t afterT1 = pos_;
  const std::string_view t2 = NextWord();
  const std::string_view t3 = NextWord();

  if (t3 == "R") {
    int32_t num = ToInt32OrThrow(t1);
    int32_t gen = ToInt32OrThrow(t2);
    return std::make_unique<TkxPDFIndirectReference>(DocumentID, num, static_cast<uint16_t>(gen));
  }
  if (t3.size() == 3 && Lower(t3[0]) == 'o' && Lower(t3[1]) == 'b' && Lower(t3[2]) == 'j') {
    int32_t num = ToInt32OrThrow(t1);
    int32_t gen = ToInt32OrThrow(t2);
    DepthGuard guard(depth_);  // "1 0 obj 2 0 obj ..." would otherwise recurse without bound
    CurrentObjectNumber = num;
    CurrentGeneration = gen;
    PDFObjectPtr value = ParseObject();
    // An object with nothing before a closing byte reads as null rather than
    // leaving an absent value behind for every consumer to check.
    if (!value) value = std::make_unique<TkxPDFNullObject>();
    if (PeekToken() == "stream") {
      if (!IsDict(value.get())) throw EStreamReadError("Error reading PDF stream");
      value = std::make_unique<TkxPDFStreamObject>(
          std::unique_ptr<TkxPDFDictObject>(static_cast<TkxPDFDictObject*>(value.release())));
    }
    return std::make_unique<TkxPDFIndirectObject>(DocumentID, num, static_cast<uint16_t>(gen), std::move(value));
  }

  pos_ = afterT1;
  if (t1.find('.') != std::string_view::npos) {
    double d = 0;
    if (ToReal(t1, d)) return std::make_unique<TkxPDFRealObject>(d);
    return std::make_unique<TkxPDFStringObject>(std::string(t1));
  }
  int32_t i32 = 0;
  if (ToInteger(t1, i32)) return std::make_unique<TkxPDFIntegerObject>(i32);
  int64_t i64 = 0;
  if (ToInteger(t1, i64)) return std::make_unique<TkxPDFInt64Object>(i64);
  throw Exception(FormatMsg("'%s' is not a valid integer value", t1));
}

PDFObjectPtr TkxPDFStreamReader::ParseName() {
  SkipWhitespace();
  if (pos_ >= size_) throw ENameReadError(FormatMsg("Error reading PDF name string (%s)", kEndOfData));
  uint8_t c = data_[pos_++];
  if (c != '/') throw ENameReadError(FormatMsg("Error reading PDF name string (%s)", std::string(1, char(c))));
  std::string text(1, '/');
  AppendNameBytes(pdfscan::NameBody(data_, size_, pos_, true), text);
  auto name = std::make_unique<TkxPDFNameObject>(std::move(text));
  if (pos_ < size_ && IsPDFWhite(data_[pos_])) ++pos_;  // a white-space delimiter is consumed
  return name;
}

std::string TkxPDFStreamReader::DecryptBytes(std::string_view bytes) const {
  if (CurrentObjectNumber == -1 && CurrentGeneration == -1) throw EInvalidObjectNo("Invalid object number");
  if (bytes.empty()) return std::string();
  return Decryptor->DecryptString(bytes, CurrentObjectNumber, CurrentGeneration);
}

PDFObjectPtr TkxPDFStreamReader::ParseString() {
  SkipWhitespace();
  if (pos_ >= size_) throw EStringReadError(FormatMsg("Error reading PDF string (%s)", kEndOfData));
  const uint8_t open = data_[pos_++];
  if (open != '(' && open != '<')
    throw EStringReadError(FormatMsg("Error reading PDF string (%s)", std::string(1, char(open))));
  --pos_;
  const bool hex = open == '<';
  // Strings of objects keep unknown escapes and ends of line as written.
  constexpr TkxLiteralRules kObjectStrings{true, true};
  std::string bytes;
  std::string_view hexBody;
  const bool closed = hex ? pdfscan::HexBody(data_, size_, pos_, hexBody)
                          : pdfscan::LiteralString(data_, size_, pos_, bytes, kObjectStrings);
  if (!closed) throw EStringReadError(FormatMsg("Error reading PDF string (%s)", kEndOfData));

  std::string text;
  if (Decryptor) {
    // A decrypted string is a literal one from then on.
    std::string plain = DecryptBytes(hex ? HexToBytes(hexBody) : bytes);
    text.reserve(plain.size() + 2);
    text.push_back('(');
    text += plain;
    text.push_back(')');
    return std::make_unique<TkxPDFStringObject>(std::move(text), false);
  }
  text.reserve((hex ? hexBody.size() : bytes.size()) + 2);
  text.push_back(hex ? '<' : '(');
  if (hex)
    text += hexBody;
  else
    text += bytes;
  text.push_back(hex ? '>' : ')');
  return std::make_unique<TkxPDFStringObject>(std::move(text), hex);
}

PDFObjectPtr TkxPDFStreamReader::ParseArray() {
  SkipWhitespace();
  if (pos_ >= size_) throw EArrayReadError(FormatMsg("Error reading PDF array (%s)", kEndOfData));
  uint8_t c = data_[pos_++];
  if (c != '[') throw EArrayReadError(FormatMsg("Error reading PDF array (%s)", std::string(1, char(c))));
  DepthGuard guard(depth_);
  auto array = std::make_unique<TkxPDFArrayObject>();
  for (;;) {
    SkipWhitespace();
    if (pos_ >= size_) throw EArrayReadError(FormatMsg("Error reading PDF array (%s)", kEndOfData));
    PDFObjectPtr item = ParseObject();
    if (!item) break;
    array->Add(std::move(item));
    SkipWhitespace();
    if (pos_ < size_ && data_[pos_] == ']') break;
  }
  if (pos_ >= size_) throw EArrayReadError(FormatMsg("Error reading PDF array (%s)", kEndOfData));
  ++pos_;  // the closing byte
  return array;
}

PDFObjectPtr TkxPDFStreamReader::ParseDictionary() {
  auto fail = [](const std::string& what) {
    return EDictionaryReadError(FormatMsg("Error reading PDF dictionary (%s)", what));
  };
  SkipWhitespace();
  for (int i = 0; i < 2; ++i) {
    if (pos_ >= size_) throw fail(kEndOfData);
    uint8_t c = data_[pos_++];
    if (c != '<') throw fail(std::string(1, char(c)));
  }
  DepthGuard guard(depth_);
  auto dict = std::make_unique<TkxPDFDictObject>();
  for (;;) {
    SkipWhitespace();
    if (pos_ >= size_) throw fail(kEndOfData);
    if (data_[pos_] == '>' && pos_ + 1 < size_ && data_[pos_ + 1] == '>') {
      pos_ += 2;
      break;
    }
    if (data_[pos_] != '/') {
      // A key that is not a name: the entry is dropped, as viewers do, one
      // object (or one unreadable token) at a time.
      const size_t before = pos_;
      try {
        ParseObject();
      } catch (const ELimitExceeded&) {
        throw;
      } catch (const Exception&) {
        // Bad keys nested in bad keys would have each level read all the
        // levels below it again: the bytes read again are bounded.
        reread_ += pos_ > before ? pos_ - before : 0;
        if (reread_ > 8 * uint64_t(size_) + 65536) throw ELimitExceeded("Too many dictionary keys that are not names");
        pos_ = before;
        ReadToken();
      }
      if (pos_ == before) ++pos_;
      ReportWarning("Dictionary key is not a name; the entry is dropped", CurrentObjectNumber,
                    static_cast<int64_t>(before));
      continue;
    }
    PDFObjectPtr key = ParseName();
    SkipWhitespace();
    if (pos_ >= size_) throw fail(kEndOfData);
    PDFObjectPtr value = ParseObject();  // absent when a closing byte follows the key
    dict->Add(std::unique_ptr<TkxPDFNameObject>(static_cast<TkxPDFNameObject*>(key.release())), std::move(value));
  }
  return dict;
}

// ---- stream data ----

std::vector<uint8_t> TkxPDFStreamReader::ReadStreamData(int64_t length, int32_t objNo, int32_t gen) {
  SkipWhitespace();
  if (ReadString(6) != "stream") throw EStreamReadError("Error reading PDF stream");
  while (pos_ < size_ && (data_[pos_] == ' ' || data_[pos_] == '\t')) ++pos_;
  if (pos_ < size_ && data_[pos_] == 13) ++pos_;
  if (pos_ < size_ && data_[pos_] == 10) ++pos_;

  const size_t start = pos_;
  const size_t avail = size_ - start;
  // A length beyond the data cannot be right; anything above avail behaves alike.
  size_t len = length <= 0 ? 0 : (static_cast<uint64_t>(length) > avail ? avail + 1 : static_cast<size_t>(length));
  auto endstreamAt = [this](size_t p) {
    return p + kEndStream.size() <= size_ && std::memcmp(data_ + p, kEndStream.data(), kEndStream.size()) == 0;
  };

  auto keywordAt = [this](size_t p, std::string_view word) {
    return p + word.size() <= size_ && std::memcmp(data_ + p, word.data(), word.size()) == 0;
  };
  bool found = false, unterminated = false;
  if (len <= avail) {
    pos_ = start + len;
    SkipWhitespace();
    found = endstreamAt(pos_);
    // The data ends where the length says and "endobj" follows: the writer
    // left out "endstream". Searching on would swallow the objects after it.
    unterminated = !found && keywordAt(pos_, kEndObj);
    found = found || unterminated;
  }
  if (!found && size_ >= kEndStream.size()) {
    // The declared length is wrong: the nearest "endstream" before the
    // declared end, else the first one after it.
    size_t p = std::min(start + len, size_ - kEndStream.size() + 1);
    while (p > start) {
      --p;
      if (endstreamAt(p)) {
        len = p - start;
        found = true;
        break;
      }
    }
    if (!found && start + len + 1 < size_) {
      const char* first = reinterpret_cast<const char*>(data_ + start + len + 1);
      const char* last = reinterpret_cast<const char*>(data_ + size_);
      const char* hit =
          std::search(first, last, std::boyer_moore_horspool_searcher(kEndStream.begin(), kEndStream.end()));
      if (hit != last) {
        len = static_cast<size_t>(reinterpret_cast<const uint8_t*>(hit) - data_) - start;
        found = true;
      }
    }
  }
  if (!found) {
    // Neither the length nor any "endstream" marks the end: the data runs to
    // the object's "endobj", without the end of line before it.
    const char* first = reinterpret_cast<const char*>(data_ + start);
    const char* last = reinterpret_cast<const char*>(data_ + size_);
    const char* hit = std::search(first, last, std::boyer_moore_horspool_searcher(kEndObj.begin(), kEndObj.end()));
    if (hit == last) throw EEndStreamError("Expected PDF endstream");
    len = static_cast<size_t>(hit - first);
    if (len > 0 && data_[start + len - 1] == 10) --len;
    if (len > 0 && data_[start + len - 1] == 13) --len;
    unterminated = true;
  }
  if (unterminated) ReportWarning("Stream data without \"endstream\"", objNo, static_cast<int64_t>(start));

  std::vector<uint8_t> data(data_ + start, data_ + start + len);
  pos_ = start + len;
  if (Decryptor && !data.empty()) {
    if (objNo == -1 || gen == -1) throw EInvalidObjectNo("Invalid object number");
    data = Decryptor->DecryptStream(data, objNo, gen);
  }
  SkipWhitespace();
  if (unterminated) return data;  // positioned at "endobj"
  if (ReadString(kEndStream.size()) != kEndStream) throw EEndStreamError("Expected PDF endstream");
  return data;
}

}  // namespace pw
