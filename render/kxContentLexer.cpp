#include "render/kxContentLexer.h"

#include <cmath>

namespace pw {

double ParseContentNumber(std::string_view t, bool* ok) {
  size_t i = 0;
  bool neg = false;
  // Producers sometimes write doubled signs ("--5"); the last one counts.
  while (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    neg = t[i] == '-';
    ++i;
  }
  double intPart = 0, frac = 0, scale = 1;
  bool digits = false, point = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      if (point) {
        if (scale > 1e-300) {
          scale *= 0.1;
          frac += (c - '0') * scale;
        }
      } else {
        intPart = intPart * 10 + (c - '0');
      }
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (ok) *ok = digits && i == t.size();
  if (!digits) return 0;
  double v = intPart + frac;
  if (!std::isfinite(v)) v = 0;
  return neg ? -v : v;
}

void TkxContentLexer::SkipWhiteAndComments() {
  while (pos_ < n_) {
    const uint8_t c = p_[pos_];
    if (IsContentWhite(c)) {
      ++pos_;
    } else if (c == '%') {
      while (pos_ < n_ && p_[pos_] != 10 && p_[pos_] != 13) ++pos_;
    } else {
      break;
    }
  }
}

void TkxContentLexer::Next(TkxContentToken& tok) {
  tok.Text.clear();
  tok.Number = 0;
  tok.IsInteger = false;
  SkipWhiteAndComments();
  if (pos_ >= n_) {
    tok.Kind = ctEnd;
    tok.Raw = {};
    return;
  }
  const size_t start = pos_;
  const uint8_t c = p_[pos_];
  switch (c) {
    case '(':
      ReadLiteralString(tok);
      break;
    case '<':
      if (pos_ + 1 < n_ && p_[pos_ + 1] == '<') {
        pos_ += 2;
        tok.Kind = ctDictBegin;
      } else {
        ReadHexString(tok);
      }
      break;
    case '>':
      if (pos_ + 1 < n_ && p_[pos_ + 1] == '>') {
        pos_ += 2;
        tok.Kind = ctDictEnd;
      } else {
        ++pos_;
        tok.Kind = ctOther;
      }
      break;
    case '[':
      ++pos_;
      tok.Kind = ctArrayBegin;
      break;
    case ']':
      ++pos_;
      tok.Kind = ctArrayEnd;
      break;
    case '/':
      ReadName(tok);
      break;
    case ')':
    case '{':
    case '}':
      ++pos_;
      tok.Kind = ctOther;
      break;
    default:
      ReadRegular(tok);
      break;
  }
  tok.Raw = std::string_view(reinterpret_cast<const char*>(p_ + start), pos_ - start);
}

void TkxContentLexer::ReadLiteralString(TkxContentToken& tok) {
  tok.Kind = ctString;
  ++pos_;  // "("
  int depth = 1;
  std::string& out = tok.Text;
  while (pos_ < n_) {
    uint8_t c = p_[pos_++];
    if (c == '\\') {
      if (pos_ >= n_) break;
      c = p_[pos_++];
      switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case '\r':  // a line continuation: the break is not part of the string
          if (pos_ < n_ && p_[pos_] == '\n') ++pos_;
          break;
        case '\n':
          break;
        default:
          if (c >= '0' && c <= '7') {
            int v = c - '0';
            for (int k = 0; k < 2 && pos_ < n_ && p_[pos_] >= '0' && p_[pos_] <= '7'; ++k)
              v = v * 8 + (p_[pos_++] - '0');
            out += static_cast<char>(v & 0xFF);
          } else {
            out += static_cast<char>(c);  // "\(", "\)", "\\" and unknown escapes
          }
          break;
      }
    } else if (c == '(') {
      ++depth;
      out += '(';
    } else if (c == ')') {
      if (--depth == 0) return;
      out += ')';
    } else if (c == '\r') {
      // An end of line inside a string reads as one line feed.
      if (pos_ < n_ && p_[pos_] == '\n') ++pos_;
      out += '\n';
    } else {
      out += static_cast<char>(c);
    }
  }
}

namespace {
int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

void TkxContentLexer::ReadHexString(TkxContentToken& tok) {
  tok.Kind = ctHexString;
  ++pos_;  // "<"
  int high = -1;
  while (pos_ < n_) {
    const uint8_t c = p_[pos_++];
    if (c == '>') break;
    const int v = HexValue(c);
    if (v < 0) continue;  // white space and junk are skipped
    if (high < 0) {
      high = v;
    } else {
      tok.Text += static_cast<char>(high * 16 + v);
      high = -1;
    }
  }
  if (high >= 0) tok.Text += static_cast<char>(high * 16);  // an odd last digit is followed by 0
}

void TkxContentLexer::ReadName(TkxContentToken& tok) {
  tok.Kind = ctName;
  ++pos_;  // "/"
  while (pos_ < n_) {
    const uint8_t c = p_[pos_];
    if (IsContentWhite(c) || IsContentDelimiter(c)) break;
    ++pos_;
    if (c == '#' && pos_ + 1 < n_ && HexValue(p_[pos_]) >= 0 && HexValue(p_[pos_ + 1]) >= 0) {
      tok.Text += static_cast<char>(HexValue(p_[pos_]) * 16 + HexValue(p_[pos_ + 1]));
      pos_ += 2;
    } else {
      tok.Text += static_cast<char>(c);
    }
  }
}

void TkxContentLexer::ReadRegular(TkxContentToken& tok) {
  const size_t start = pos_;
  while (pos_ < n_ && !IsContentWhite(p_[pos_]) && !IsContentDelimiter(p_[pos_])) ++pos_;
  std::string_view word(reinterpret_cast<const char*>(p_ + start), pos_ - start);
  const char c = word[0];
  if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') {
    tok.Kind = ctNumber;
    tok.Number = ParseContentNumber(word);
    tok.IsInteger = word.find('.') == std::string_view::npos && std::abs(tok.Number) < 2147483648.0;
    return;
  }
  tok.Kind = ctKeyword;
  tok.Text.assign(word);
}

// ---------------------------------------------------------------------------

const TkxOperand* TkxOperand::DictValue(std::string_view key) const {
  if (Kind != okDictOperand) return nullptr;
  for (size_t i = 0; i + 1 < Items.size(); i += 2)
    if (Items[i].Kind == okNameOperand && Items[i].Text == key) return &Items[i + 1];
  return nullptr;
}

void TkxOperandReader::FromScalar(TkxContentToken& tok, TkxOperand& out) {
  out.Items.clear();
  out.Raw = tok.Raw;
  out.Hex = false;
  out.IsInteger = false;
  switch (tok.Kind) {
    case ctNumber:
      out.Kind = okNumberOperand;
      out.Number = tok.Number;
      out.IsInteger = tok.IsInteger;
      out.Text.clear();
      break;
    case ctName:
      out.Kind = okNameOperand;
      out.Text.swap(tok.Text);
      break;
    case ctString:
    case ctHexString:
      out.Kind = okStringOperand;
      out.Hex = tok.Kind == ctHexString;
      out.Text.swap(tok.Text);
      break;
    default:
      out.Kind = okNullOperand;
      out.Text.clear();
      break;
  }
}

void TkxOperandReader::Assemble(TkxContentToken& tok, TkxOperand& out, int depth) {
  if (tok.Kind != ctArrayBegin && tok.Kind != ctDictBegin) {
    FromScalar(tok, out);
    return;
  }
  const bool isArray = tok.Kind == ctArrayBegin;
  const TkxContentTokenKind closer = isArray ? ctArrayEnd : ctDictEnd;
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
      if (tok.Kind == ctEnd) break;
      if (tok.Kind == ctArrayBegin || tok.Kind == ctDictBegin) ++open;
      else if (tok.Kind == ctArrayEnd || tok.Kind == ctDictEnd) --open;
    }
    out.Raw = std::string_view(reinterpret_cast<const char*>(lex_.Data() + start), lex_.Position() - start);
    return;
  }
  for (;;) {
    lex_.Next(tok);
    if (tok.Kind == ctEnd || tok.Kind == closer) break;
    if (tok.Kind == ctArrayEnd || tok.Kind == ctDictEnd || tok.Kind == ctOther) continue;  // mismatched closer
    TkxOperand item;
    if (tok.Kind == ctKeyword) {
      if (tok.Text == "true" || tok.Text == "false") {
        item.Kind = okBoolOperand;
        item.Bool = tok.Text == "true";
      } else if (tok.Text == "null") {
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
      case ctEnd:
        return false;
      case ctArrayEnd:
      case ctDictEnd:
      case ctOther:
        continue;
      case ctKeyword:
        if (tok_.Text == "true" || tok_.Text == "false") {
          operand = TkxOperand();
          operand.Kind = okBoolOperand;
          operand.Bool = tok_.Text == "true";
          isOperator = false;
          return true;
        }
        if (tok_.Text == "null") {
          operand = TkxOperand();
          isOperator = false;
          return true;
        }
        op.swap(tok_.Text);
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
