// The one tokenizer of PDF syntax: character classes, the scanners of names,
// strings, words and numbers, and a token lexer over a span of bytes. The
// object parser, the content interpreter and the CMap parser all read their
// input with it.
//
// Input is hostile: every scanner stops at the end of the span, and nothing
// here allocates more than the input holds. Numbers and keywords are read
// without allocating.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pw {

namespace pdfsyntax {
enum : uint8_t {
  kWhite = 1,        // NUL, TAB, LF, FF, CR, SPACE
  kDelimiter = 2,    // ( ) < > [ ] { } / %
  kObjectDelim = 4,  // ( ) < > [ ] / : what ends a word of object syntax
};
inline constexpr std::array<uint8_t, 256> kCharClass = [] {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    uint8_t k = 0;
    if (c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32) k |= kWhite;
    if (c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '/')
      k |= kDelimiter | kObjectDelim;
    if (c == '{' || c == '}' || c == '%') k |= kDelimiter;
    t[c] = k;
  }
  return t;
}();
}  // namespace pdfsyntax

inline bool IsPDFWhite(uint8_t c) { return pdfsyntax::kCharClass[c] & pdfsyntax::kWhite; }
inline bool IsPDFDelimiter(uint8_t c) { return pdfsyntax::kCharClass[c] & pdfsyntax::kDelimiter; }
// White space or a delimiter: the end of a word.
inline bool IsPDFWordEnd(uint8_t c) { return pdfsyntax::kCharClass[c] & (pdfsyntax::kWhite | pdfsyntax::kDelimiter); }

// Pairs of hexadecimal digits appended as bytes. Bytes that are not digits
// (white space, junk) are skipped; an odd last digit counts as if followed by 0.
void AppendHexBytes(std::string_view digits, std::string& out);
std::string HexToBytes(std::string_view digits);

// "#xx" escapes of a name resolved; a "#" without two hex digits stays.
// Names of objects and of page content are both kept as "/" followed by
// the resolved bytes, so "/A#20B" and "/A B" are one name.
void AppendNameBytes(std::string_view name, std::string& out);
std::string DecodeNameEscapes(std::string_view name);

// A number written with "." as the decimal mark, whatever the locale: an
// optional sign, digits and at most one point. Junk after the longest valid
// prefix is ignored; text with no digits gives 0. ok (when given) tells
// whether the whole text was a valid number.
double ParsePDFNumber(std::string_view text, bool* ok = nullptr);

// How a literal string is read. Page content follows the rules of PDF
// readers: an unknown escape drops its backslash and an end of line in the
// string reads as one LF. Strings of the object layer keep both the
// backslash and the byte of an unknown escape, and keep ends of line as written.
struct TkxLiteralRules {
  bool KeepUnknownEscapes = false;
  bool KeepEndOfLines = false;
};

// Scanners over data[0, size). pos is where the construct starts and ends
// up after it.
namespace pdfscan {
// White space and "%" comments (a comment runs up to its CR or LF).
void SkipWhiteAndComments(const uint8_t* p, size_t n, size_t& pos);
// A literal string from its "(": the bytes with escapes resolved are
// appended to out. False when the data ends before the closing ")".
bool LiteralString(const uint8_t* p, size_t n, size_t& pos, std::string& out, TkxLiteralRules rules = {});
// A hexadecimal string from its "<": the text between "<" and ">" (pos ends
// after the ">"). False when the data ends before the ">".
bool HexBody(const uint8_t* p, size_t n, size_t& pos, std::string_view& body);
// The bytes of a name after its "/" (pos is after the "/"), up to white
// space or a delimiter. With objectRules, NUL belongs to the name and only
// ( ) < > [ ] / end it.
std::string_view NameBody(const uint8_t* p, size_t n, size_t& pos, bool objectRules = false);
// A word: bytes up to white space or a delimiter. With objectRules only the
// delimiters ( ) < > [ ] / end it (braces and "%" belong to the word).
std::string_view Word(const uint8_t* p, size_t n, size_t& pos, bool objectRules = false);
}  // namespace pdfscan

enum TkxPDFTokenKind : uint8_t {
  tkEnd = 0,  // no more data
  tkNumber,
  tkName,       // Text: "/" and the name, #xx escapes resolved (the form of name objects)
  tkString,     // Text: the bytes, escapes resolved; Raw: "(...)"
  tkHexString,  // Text: the bytes; Raw: "<...>"
  tkArrayBegin,
  tkArrayEnd,
  tkDictBegin,
  tkDictEnd,
  tkKeyword,  // operators, true/false/null and any other bare word (Raw; Text stays empty)
  tkOther,    // a stray ")", ">", "{" or "}"
};

struct TkxPDFToken {
  TkxPDFTokenKind Kind = tkEnd;
  double Number = 0;
  bool IsInteger = false;
  std::string Text;
  std::string_view Raw;  // the token's source bytes (valid while the data lives)
};

class TkxPDFLexer {
 public:
  TkxPDFLexer(const uint8_t* data, size_t size) : p_(data), n_(data ? size : 0) {}
  explicit TkxPDFLexer(std::string_view s) : TkxPDFLexer(reinterpret_cast<const uint8_t*>(s.data()), s.size()) {}

  // The next token; tkEnd at the end of the data (and for ever after).
  // White space and "%" comments between tokens are skipped.
  void Next(TkxPDFToken& tok);

  size_t Position() const { return pos_; }
  size_t Size() const { return n_; }
  bool AtEnd() const { return pos_ >= n_; }
  const uint8_t* Data() const { return p_; }
  void Seek(size_t pos) { pos_ = pos > n_ ? n_ : pos; }

  void SkipWhiteAndComments() { pdfscan::SkipWhiteAndComments(p_, n_, pos_); }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

}  // namespace pw
