#include "render/kxContentLexer.h"

#include <cmath>

namespace pw {

const TkxOperand* TkxOperand::DictValue(std::string_view key) const {
  if (Kind != okDictOperand) return nullptr;
  for (size_t i = 0; i + 1 < Items.size(); i += 2)
    if (Items[i].Kind == okNameOperand && Items[i].Name() == key) return &Items[i + 1];
  return nullptr;
}

void TkxOperandReader::FromScalar(TkxPDFToken& tok, TkxOperand& out) {
  out.Items.clear();
  out.Raw = tok.Raw;
  out.Hex = false;
  out.IsInteger = false;
  switch (tok.Kind) {
    case tkNumber:
      out.Kind = okNumberOperand;
      out.Number = tok.Number;
      out.IsInteger = tok.IsInteger;
      out.Text.clear();
      break;
    case tkName:
      out.Kind = okNameOperand;
      out.Text.swap(tok.Text);
      break;
    case tkString:
    case tkHexString:
      out.Kind = okStringOperand;
      out.Hex = tok.Kind == tkHexString;
      out.Text.swap(tok.Text);
      break;
    default:
      out.Kind = okNullOperand;
      out.Text.clear();
      break;
  }
}

void TkxOperandReader::Assemble(TkxPDFToken& tok, TkxOperand& out, int depth) {
  if (tok.Kind != tkArrayBegin && tok.Kind != tkDictBegin) {
    FromScalar(tok, out);
    return;
  }
  const bool isArray = tok.Kind == tkArrayBegin;
  const TkxPDFTokenKind closer = isArray ? tkArrayEnd : tkDictEnd;
  const size_t start = lex_.Position() - (isArray ? 1 : 2);
  out.Kind = isArray ? okArrayOperand : okDictOperand;
  out.Items.clear();
  out.Text.clear();
  out.Number = 0;
  if (depth >= kMaxNesting) {
    // Too deep to keep: read to the matching closer without recursion.
    size_t open = 1;
    while (open > 0) {
      lex_.Next(tok);
      if (tok.Kind == tkEnd) break;
      if (tok.Kind == tkArrayBegin || tok.Kind == tkDictBegin)
        ++open;
      else if (tok.Kind == tkArrayEnd || tok.Kind == tkDictEnd)
        --open;
    }
    out.Raw = std::string_view(reinterpret_cast<const char*>(lex_.Data() + start), lex_.Position() - start);
    return;
  }
  for (;;) {
    lex_.Next(tok);
    if (tok.Kind == tkEnd || tok.Kind == closer) break;
    if (tok.Kind == tkArrayEnd || tok.Kind == tkDictEnd || tok.Kind == tkOther) continue;  // mismatched closer
    TkxOperand item;
    if (tok.Kind == tkKeyword) {
      if (tok.Raw == "true" || tok.Raw == "false") {
        item.Kind = okBoolOperand;
        item.Bool = tok.Raw == "true";
      } else if (tok.Raw == "null") {
        item.Kind = okNullOperand;
      } else {
        continue;  // an operator cannot stand inside an array or dictionary
      }
    } else {
      Assemble(tok, item, depth + 1);
    }
    if (out.Items.size() < kMaxItems) out.Items.push_back(std::move(item));
  }
  out.Raw = std::string_view(reinterpret_cast<const char*>(lex_.Data() + start), lex_.Position() - start);
}

bool TkxOperandReader::Next(TkxOperand& operand, std::string& op, bool& isOperator) {
  for (;;) {
    lex_.Next(tok_);
    switch (tok_.Kind) {
      case tkEnd: return false;
      case tkArrayEnd:
      case tkDictEnd:
      case tkOther: continue;
      case tkKeyword:
        if (tok_.Raw == "true" || tok_.Raw == "false") {
          operand = TkxOperand();
          operand.Kind = okBoolOperand;
          operand.Bool = tok_.Raw == "true";
          isOperator = false;
          return true;
        }
        if (tok_.Raw == "null") {
          operand = TkxOperand();
          isOperator = false;
          return true;
        }
        op.assign(tok_.Raw);
        isOperator = true;
        return true;
      default:
        Assemble(tok_, operand, 0);
        isOperator = false;
        return true;
    }
  }
}

}  // namespace pw
