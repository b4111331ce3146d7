#include "pdf/kxPDFLexer.h"

#include <cmath>
#include <cstring>

#include "pdf/kxClasses.h"

namespace pw {

namespace {
using pdfsyntax::kCharClass;

// Each a type of its own, so that every scan loop inlines its test.
constexpr auto kWordEnd = [](uint8_t c) { return IsPDFWordEnd(c); };
constexpr auto kObjectWordEnd = [](uint8_t c) {
  return (kCharClass[c] & (pdfsyntax::kWhite | pdfsyntax::kObjectDelim)) != 0;
};
// NUL belongs to a name of object syntax.
constexpr auto kObjectNameEnd = [](uint8_t c) { return c != 0 && kObjectWordEnd(c); };

// The bytes from pos up to the first one that ends the run (pos ends there).
template <class EndsRun>
std::string_view ScanTo(const uint8_t* p, size_t n, size_t& pos, EndsRun endsRun) {
  const size_t start = pos;
  while (pos < n && !endsRun(p[pos])) ++pos;
  return std::string_view(reinterpret_cast<const char*>(p + start), pos - start);
}
}  // namespace

void AppendHexBytes(std::string_view digits, std::string& out) {
  int high = -1;
  for (char ch : digits) {
    const int v = HexDigitValue(static_cast<uint8_t>(ch));
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) out.push_back(static_cast<char>(high * 16));
}

std::string HexToBytes(std::string_view digits) {
  std::string out;
  out.reserve(digits.size() / 2 + 1);
  AppendHexBytes(digits, out);
  return out;
}

void AppendNameBytes(std::string_view s, std::string& out) {
  size_t i = 0;
  for (;;) {
    const size_t hash = s.find('#', i);
    if (hash == std::string_view::npos) {
      out.append(s.substr(i));
      return;
    }
    out.append(s.substr(i, hash - i));
    if (hash + 2 < s.size() && HexDigitValue(static_cast<uint8_t>(s[hash + 1])) >= 0 &&
        HexDigitValue(static_cast<uint8_t>(s[hash + 2])) >= 0) {
      out.push_back(static_cast<char>(HexDigitValue(static_cast<uint8_t>(s[hash + 1])) * 16 +
                                      HexDigitValue(static_cast<uint8_t>(s[hash + 2]))));
      i = hash + 3;
    } else {
      out.push_back('#');
      i = hash + 1;
    }
  }
}

std::string DecodeNameEscapes(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  AppendNameBytes(name, out);
  return out;
}

namespace {
// The number and whether it has a point; `end` is where its digits stop.
// Digits are added up one by one, left to right: values in files and
// colours derived from them depend on the exact double this gives.
double ScanPDFNumber(std::string_view t, size_t& end, bool& digits, bool& point) {
  size_t i = 0;
  bool neg = false;
  // Producers sometimes write doubled signs ("--5"); the last one counts.
  while (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    neg = t[i] == '-';
    ++i;
  }
  double intPart = 0, frac = 0, scale = 1;
  digits = point = false;
  for (; i < t.size(); ++i) {
    const unsigned d = static_cast<unsigned char>(t[i]) - unsigned{'0'};
    if (d < 10) {
      digits = true;
      intPart = intPart * 10 + d;
    } else if (t[i] == '.') {
      point = true;
      ++i;
      break;
    } else {
      break;
    }
  }
  if (point) {
    for (; i < t.size(); ++i) {
      const unsigned d = static_cast<unsigned char>(t[i]) - unsigned{'0'};
      if (d >= 10) break;
      digits = true;
      if (scale > 1e-300) {
        scale *= 0.1;
        frac += d * scale;
      }
    }
  }
  end = i;
  if (!digits) return 0;
  double v = intPart + frac;
  if (!std::isfinite(v)) v = 0;
  return neg ? -v : v;
}
}  // namespace

double ParsePDFNumber(std::string_view t, bool* ok) {
  size_t end = 0;
  bool digits = false, point = false;
  const double v = ScanPDFNumber(t, end, digits, point);
  if (ok) *ok = digits && end == t.size();
  return v;
}

// ---- scanners ----

namespace pdfscan {

void SkipWhiteAndComments(const uint8_t* p, size_t n, size_t& pos) {
  while (pos < n) {
    const uint8_t c = p[pos];
    if (IsPDFWhite(c)) {
      ++pos;
    } else if (c == '%') {
      while (pos < n && p[pos] != 10 && p[pos] != 13) ++pos;
    } else {
      break;
    }
  }
}

bool LiteralString(const uint8_t* p, size_t n, size_t& pos, std::string& out, TkxLiteralRules rules) {
  ++pos;  // "("
  int depth = 1;
  while (pos < n) {
    // Runs of ordinary bytes are copied at once.
    size_t run = pos;
    while (run < n && p[run] != '\\' && p[run] != '(' && p[run] != ')' && p[run] != '\r') ++run;
    out.append(reinterpret_cast<const char*>(p + pos), run - pos);
    pos = run;
    if (pos >= n) break;
    uint8_t c = p[pos++];
    if (c == '\\') {
      if (pos >= n) break;
      c = p[pos++];
      switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case '(':
        case ')':
        case '\\': out += static_cast<char>(c); break;
        case '\r':  // a line continuation: the break is not part of the string
          if (pos < n && p[pos] == '\n') ++pos;
          break;
        case '\n': break;
        default:
          if (c >= '0' && c <= '7') {
            int v = c - '0';
            for (int k = 0; k < 2 && pos < n && p[pos] >= '0' && p[pos] <= '7'; ++k) v = v * 8 + (p[pos++] - '0');
            out += static_cast<char>(v & 0xFF);  // \400 and above keep the low byte
          } else {
            if (rules.KeepUnknownEscapes) out += '\\';
            out += static_cast<char>(c);
          }
          break;
      }
    } else if (c == '(') {
      ++depth;
      out += '(';
    } else if (c == ')') {
      if (--depth == 0) return true;
      out += ')';
    } else {  // CR
      if (rules.KeepEndOfLines) {
        out += '\r';
      } else {
        // An end of line inside a string reads as one line feed.
        if (pos < n && p[pos] == '\n') ++pos;
        out += '\n';
      }
    }
  }
  return false;
}

bool HexBody(const uint8_t* p, size_t n, size_t& pos, std::string_view& body) {
  const size_t start = ++pos;  // after "<"
  const void* close = start < n ? std::memchr(p + start, '>', n - start) : nullptr;
  const size_t end = close ? static_cast<size_t>(static_cast<const uint8_t*>(close) - p) : n;
  body = std::string_view(reinterpret_cast<const char*>(p + start), end - start);
  pos = close ? end + 1 : n;
  return close != nullptr;
}

std::string_view NameBody(const uint8_t* p, size_t n, size_t& pos, bool objectRules) {
  return objectRules ? ScanTo(p, n, pos, kObjectNameEnd) : ScanTo(p, n, pos, kWordEnd);
}

std::string_view Word(const uint8_t* p, size_t n, size_t& pos, bool objectRules) {
  return objectRules ? ScanTo(p, n, pos, kObjectWordEnd) : ScanTo(p, n, pos, kWordEnd);
}

}  // namespace pdfscan

// ---- the token lexer ----

void TkxPDFLexer::Next(TkxPDFToken& tok) {
  tok.Text.clear();
  tok.Number = 0;
  tok.IsInteger = false;
  pdfscan::SkipWhiteAndComments(p_, n_, pos_);
  if (pos_ >= n_) {
    tok.Kind = tkEnd;
    tok.Raw = {};
    return;
  }
  const size_t start = pos_;
  const uint8_t c = p_[pos_];
  switch (c) {
    case '(':
      tok.Kind = tkString;
      pdfscan::LiteralString(p_, n_, pos_, tok.Text);
      break;
    case '<':
      if (pos_ + 1 < n_ && p_[pos_ + 1] == '<') {
        pos_ += 2;
        tok.Kind = tkDictBegin;
      } else {
        tok.Kind = tkHexString;
        std::string_view body;
        pdfscan::HexBody(p_, n_, pos_, body);
        AppendHexBytes(body, tok.Text);
      }
      break;
    case '>':
      if (pos_ + 1 < n_ && p_[pos_ + 1] == '>') {
        pos_ += 2;
        tok.Kind = tkDictEnd;
      } else {
        ++pos_;
        tok.Kind = tkOther;
      }
      break;
    case '[':
      ++pos_;
      tok.Kind = tkArrayBegin;
      break;
    case ']':
      ++pos_;
      tok.Kind = tkArrayEnd;
      break;
    case '/': {
      ++pos_;
      tok.Kind = tkName;
      tok.Text.push_back('/');
      AppendNameBytes(pdfscan::NameBody(p_, n_, pos_), tok.Text);
      break;
    }
    case ')':
    case '{':
    case '}':
      ++pos_;
      tok.Kind = tkOther;
      break;
    default: {
      if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') {
        tok.Kind = tkNumber;
        // Read where it stands; only a number run into other characters
        // ("12abc") is read again as its whole word.
        size_t end = 0;
        bool digits = false, point = false;
        tok.Number =
            ScanPDFNumber(std::string_view(reinterpret_cast<const char*>(p_ + pos_), n_ - pos_), end, digits, point);
        if (end == 0 || (pos_ + end < n_ && !IsPDFWordEnd(p_[pos_ + end]))) {
          const std::string_view word = pdfscan::Word(p_, n_, pos_);
          tok.Number = ScanPDFNumber(word, end, digits, point);
          if (end != word.size()) point = word.find('.') != std::string_view::npos;
        } else {
          pos_ += end;
        }
        tok.IsInteger = !point && std::abs(tok.Number) < 2147483648.0;
      } else {
        pdfscan::Word(p_, n_, pos_);
        tok.Kind = tkKeyword;
      }
      break;
    }
  }
  tok.Raw = std::string_view(reinterpret_cast<const char*>(p_ + start), pos_ - start);
}

}  // namespace pw
