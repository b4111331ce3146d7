// Operands of page content: the operand reader takes the tokens of the PDF
// lexer and assembles arrays and dictionaries into operands.
//
// Content is hostile input: every construct ends at the end of the data,
// nesting is bounded, and nothing here allocates more than the content holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxPDFLexer.h"

namespace pw {

enum TkxOperandKind : uint8_t {
  okNumberOperand = 0,
  okNameOperand,
  okStringOperand,  // literal and hexadecimal strings (Hex tells which)
  okArrayOperand,
  okDictOperand,  // Items: key (name), value, key, value ...
  okBoolOperand,
  okNullOperand,
};

struct TkxOperand {
  TkxOperandKind Kind = okNullOperand;
  bool IsInteger = false;
  bool Hex = false;
  bool Bool = false;
  double Number = 0;
  std::string Text;               // name ("/" included, as name objects keep it) or string bytes
  std::string_view Raw;           // source text of strings and arrays
  std::vector<TkxOperand> Items;  // array elements, dictionary keys and values

  bool IsNumber() const { return Kind == okNumberOperand; }
  bool IsName() const { return Kind == okNameOperand; }
  bool IsString() const { return Kind == okStringOperand; }
  bool IsArray() const { return Kind == okArrayOperand; }
  bool IsDict() const { return Kind == okDictOperand; }
  // A name without its "/".
  std::string_view Name() const { return std::string_view(Text).substr(Text.empty() ? 0 : 1); }
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

  TkxPDFLexer& Lexer() { return lex_; }

 private:
  // Fills out from the token already read (an array or dictionary start reads on).
  void Assemble(TkxPDFToken& tok, TkxOperand& out, int depth);
  static void FromScalar(TkxPDFToken& tok, TkxOperand& out);

  TkxPDFLexer lex_;
  TkxPDFToken tok_;
};

}  // namespace pw
