#include "render/kxContentLexer.h"

#include <cmath>

namespace pw {

const TkxOperand* TkxOperand::DictValue(std::string_view key) const {
  if (Kind != okDictOperand) return nullptr;
  for (size_t i = 0; i + 1 < Items.size(); i += 2)
    if (Items[i].Kind == okNameOperand && Items[i].Name() == key) return &Items[i + 1];
  return nullptr;
}

namespace {
// An operand read into a slot that held another: nothing of that one stays,
// its storage does.
void Reset(TkxOperand& out) {
  out.Kind = okNullOperand;
  out.IsInteger = out.Hex = out.Bool = false;
  out.Number = 0;
  out.Text.clear();
  out.Raw = {};
  out.Items.clear();
}
}  // namespace

void TkxOperandReader::FromScalar(TkxPDFToken& tok, TkxOperand& out) {
  out.Items.clear();
  out.Raw = tok.Raw;
  out.Hex = false;
  out.IsInteger = false;
  out.Bool = false;
  out.Number = 0;
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
  // Elements are read into the ones the operand held before, so that their
  // storage is used again.
  std::vector<TkxOperand> items = std::move(out.Items);
  Reset(out);
  out.Kind = isArray ? okArrayOperand : okDictOperand;
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
  size_t count = 0;
  TkxOperand dropped;  // elements beyond kMaxItems are read into this one
  for (;;) {
    lex_.Next(tok);
    if (tok.Kind == tkEnd || tok.Kind == closer) break;
    if (tok.Kind == tkArrayEnd || tok.Kind == tkDictEnd || tok.Kind == tkOther) continue;  // mismatched closer
    if (tok.Kind == tkKeyword && tok.Raw != "true" && tok.Raw != "false" && tok.Raw != "null")
      continue;  // an operator cannot stand inside an array or dictionary
    TkxOperand* item = &dropped;
    if (count < kMaxItems) {
      if (count == items.size()) items.emplace_back();
      item = &items[count++];
    }
    if (tok.Kind == tkKeyword) {
      Reset(*item);
      if (tok.Raw != "null") {
        item->Kind = okBoolOperand;
        item->Bool = tok.Raw == "true";
      }
    } else {
      Assemble(tok, *item, depth + 1);
    }
  }
  items.resize(count);
  out.Items = std::move(items);
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
          Reset(operand);
          operand.Kind = okBoolOperand;
          operand.Bool = tok_.Raw == "true";
          isOperator = false;
          return true;
        }
        if (tok_.Raw == "null") {
          Reset(operand);
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
