// Tokens and operands of page content: the lexer cuts a content stream into
// numbers, names, strings, arrays, dictionaries and operator keywords, and
// the operand reader assembles arrays and dictionaries into operands.
//
// Content is hostile input: every construct ends at the end of the data,
// nesting is bounded, and nothing here allocates more than the content holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

// White space of content streams: NUL, TAB, LF, FF, CR and space.
constexpr bool IsContentWhite(uint8_t c) {
  return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
constexpr bool IsContentDelimiter(uint8_t c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' ||
         c == '/' || c == '%';
}

// A number written with "." as the decimal mark, whatever the locale: an
// optional sign, digits and at most one point. Junk after the longest valid
// prefix is ignored; text with no digits gives 0. ok (when given) tells
// whether the whole text was a valid number.
double ParseContentNumber(std::string_view text, bool* ok = nullptr);

enum TkxContentTokenKind : uint8_t {
  ctEnd = 0,       // no more data
  ctNumber,
  ctName,          // Text: the name without "/", #xx escapes resolved
  ctString,        // Text: the bytes, escapes resolved; Raw: "(...)"
  ctHexString,     // Text: the bytes; Raw: "<...>"
  ctArrayBegin,
  ctArrayEnd,
  ctDictBegin,
  ctDictEnd,
  ctKeyword,       // operators, true/false/null and any other bare word
  ctOther,         // a stray ")", ">", "{" or "}"
};

struct TkxContentToken {
  TkxContentTokenKind Kind = ctEnd;
  double Number = 0;
  bool IsInteger = false;
  std::string Text;
  std::string_view Raw;  // the token's source bytes (valid while the content lives)
};

class TkxContentLexer {
 public:
  TkxContentLexer(const uint8_t* data, size_t size) : p_(data), n_(data ? size : 0) {}
  explicit TkxContentLexer(std::string_view s)
      : TkxContentLexer(reinterpret_cast<const uint8_t*>(s.data()), s.size()) {}

  // The next token; ctEnd at the end of the data (and for ever after).
  // White space and "%" comments between tokens are skipped.
  void Next(TkxContentToken& tok);

  size_t Position() const { return pos_; }
  size_t Size() const { return n_; }
  bool AtEnd() const { return pos_ >= n_; }
  const uint8_t* Data() const { return p_; }
  void Seek(size_t pos) { pos_ = pos > n_ ? n_ : pos; }

  void SkipWhiteAndComments();

 private:
  void ReadLiteralString(TkxContentToken& tok);
  void ReadHexString(TkxContentToken& tok);
  void ReadName(TkxContentToken& tok);
  void ReadRegular(TkxContentToken& tok);

  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

enum TkxOperandKind : uint8_t {
  okNumberOperand = 0,
  okNameOperand,
  okStringOperand,   // literal and hexadecimal strings (Hex tells which)
  okArrayOperand,
  okDictOperand,     // Items: key (name), value, key, value ...
  okBoolOperand,
  okNullOperand,
};

struct TkxOperand {
  TkxOperandKind Kind = okNullOperand;
  bool IsInteger = false;
  bool Hex = false;
  bool Bool = false;
  double Number = 0;
  std::string Text;              // name (without "/") or string bytes
  std::string_view Raw;          // source text of strings and arrays
  std::vector<TkxOperand> Items;  // array elements, dictionary keys and values

  bool IsNumber() const { return Kind == okNumberOperand; }
  bool IsName() const { return Kind == okNameOperand; }
  bool IsString() const { return Kind == okStringOperand; }
  bool IsArray() const { return Kind == okArrayOperand; }
  bool IsDict() const { return Kind == okDictOperand; }
  // The value of a key of a dictionary operand (key without "/"); nullptr when absent.
  const TkxOperand* DictValue(std::string_view key) const;
};

// Reads content as operands and operators. Arrays and dictionaries nest at
// most kMaxNesting deep (deeper constructs are read and dropped) and hold at
// most kMaxItems elements each (the rest are read and dropped).
class TkxOperandReader {
 public:
  static constexpr int kMaxNesting = 32;
  static constexpr size_t kMaxItems = 1u << 16;

  TkxOperandReader(const uint8_t* data, size_t size) : lex_(data, size) {}

  // Either an operand (returns true, isOperator false) or an operator keyword
  // (returns true, isOperator true, the keyword in op). False at the end.
  // Stray closing delimiters are skipped.
  bool Next(TkxOperand& operand, std::string& op, bool& isOperator);

  TkxContentLexer& Lexer() { return lex_; }

 private:
  // Fills out from the token already read (an array or dictionary start reads on).
  void Assemble(TkxContentToken& tok, TkxOperand& out, int depth);
  static void FromScalar(TkxContentToken& tok, TkxOperand& out);

  TkxContentLexer lex_;
  TkxContentToken tok_;
};

}  // namespace pw
