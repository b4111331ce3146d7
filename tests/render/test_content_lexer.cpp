// Tokens and operands of content streams.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "render/kxContentLexer.h"

using namespace pw;

namespace {

// Operands and operators rendered as text: numbers as %g, names with "/",
// strings as (bytes), arrays in [ ], dictionaries in << >>, operators bare.
std::string Show(const TkxOperand& o) {
  switch (o.Kind) {
    case okNumberOperand: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%g", o.Number);
      return buf;
    }
    case okNameOperand: return o.Text;
    case okStringOperand: return std::string(1, o.Hex ? '<' : '(').append(o.Text).append(1, o.Hex ? '>' : ')');
    case okBoolOperand: return o.Bool ? "true" : "false";
    case okNullOperand: return "null";
    case okArrayOperand:
    case okDictOperand: {
      std::string s = o.IsArray() ? "[" : "<<";
      for (size_t i = 0; i < o.Items.size(); ++i) {
        if (i) s += ' ';
        s += Show(o.Items[i]);
      }
      return s + (o.IsArray() ? "]" : ">>");
    }
  }
  return "?";
}

std::string Tokens(const std::string& content) {
  TkxOperandReader r(reinterpret_cast<const uint8_t*>(content.data()), content.size());
  TkxOperand operand;
  std::string op, out;
  bool isOp = false;
  while (r.Next(operand, op, isOp)) {
    if (!out.empty()) out += ' ';
    out += isOp ? op : Show(operand);
  }
  return out;
}

}  // namespace

TEST(ContentLexer, TokenTable) {
  struct Case {
    std::string in, out;
  } cases[] = {
      // White space: NUL, TAB, LF, FF, CR and space all separate tokens.
      {std::string("1\t0 0\f1\r0\0000 RG\t\n", 16), "1 0 0 1 0 0 RG"},
      // Comments run to the end of the line, outside strings only.
      {"1 g % 0.5 g\n2 w", "1 g 2 w"},
      {"(a%b) Tj", "(a%b) Tj"},
      {"%only a comment", ""},
      // Numbers: "." decimal mark, leading point, signs, doubled signs.
      {"-.5 +3 4. 0.25 --2", "-0.5 3 4 0.25 -2"},
      // Delimiters end words: names and numbers run into each other.
      {"/F1 12(x)Tj", "/F1 12 (x) Tj"},
      {"/A/B[1 2]0 d", "/A /B [1 2] 0 d"},
      {"/Na#20me#2", "/Na me#2"},
      // Literal strings: nesting, escapes, octal, line continuation, EOL normalisation.
      {"(a(b)c) Tj", "(a(b)c) Tj"},
      {"(a\\)b) Tj", "(a)b) Tj"},
      {"(\\101\\7\\0123) Tj", "(A\x07\n3) Tj"},
      {"(a\\\nb\\\r\nc) Tj", "(abc) Tj"},
      {"(x\r\ny\rz) Tj", "(x\ny\nz) Tj"},
      {"(\\q\\(\\\\) Tj", "(q(\\) Tj"},
      // Hexadecimal strings: white space skipped, odd digit padded with 0.
      {"<48 65 6c6C 6>Tj", "<Hell`> Tj"},
      // Arrays and dictionaries nest; true, false and null are values.
      {"[(A) -250 (B)] TJ", "[(A) -250 (B)] TJ"},
      {"/Span <</MCID 3 /K [true null]>> BDC", "/Span <</MCID 3 /K [true null]>> BDC"},
      // Stray closers are skipped; operators inside arrays are dropped.
      {") } 1 ] w", "1 w"},
      {"[1 q 2] 0 d", "[1 2] 0 d"},
      // Everything ends at the end of the data.
      {"(open string", "(open string)"},
      {"[1 2 (x", "[1 2 (x)]"},
      {"<<", "<<>>"},
      {"<4142", "<AB>"},
      {"/", "/"},
  };
  for (const Case& c : cases) EXPECT_EQ(Tokens(c.in), c.out) << "input: " << c.in;
}

TEST(ContentLexer, ArrayRawTextKeepsTheSource) {
  const std::string content = "BT [(Hel) -500 <6C6F>] TJ ET";
  TkxOperandReader r(reinterpret_cast<const uint8_t*>(content.data()), content.size());
  TkxOperand operand;
  std::string op;
  bool isOp = false;
  ASSERT_TRUE(r.Next(operand, op, isOp));
  ASSERT_TRUE(isOp);
  ASSERT_TRUE(r.Next(operand, op, isOp));
  ASSERT_FALSE(isOp);
  EXPECT_EQ(operand.Raw, "[(Hel) -500 <6C6F>]");
  ASSERT_EQ(operand.Items.size(), 3u);
  EXPECT_EQ(operand.Items[0].Raw, "(Hel)");
  EXPECT_EQ(operand.Items[2].Text, "lo");
  EXPECT_TRUE(operand.Items[2].Hex);
}

TEST(ContentLexer, NumbersIgnoreTheLocale) {
  // A locale with a decimal comma must not change how "0.5" reads.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  const bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
  bool ok = false;
  EXPECT_DOUBLE_EQ(ParsePDFNumber("0.5", &ok), 0.5);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(ParsePDFNumber("12.75"), 12.75);
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!switched) GTEST_SKIP() << "no locale with a decimal comma installed";
}

TEST(ContentLexer, NumberForms) {
  struct Case {
    const char* text;
    double value;
    bool valid;
  } cases[] = {
      {"0", 0, true},        {"-12", -12, true}, {"+.5", 0.5, true}, {"3.", 3, true},
      {"1.2.3", 1.2, false}, {"-", 0, false},    {"5x", 5, false},   {"--1", -1, true},
  };
  for (const Case& c : cases) {
    bool ok = !c.valid;
    EXPECT_DOUBLE_EQ(ParsePDFNumber(c.text, &ok), c.value) << c.text;
    EXPECT_EQ(ok, c.valid) << c.text;
  }
}

TEST(ContentLexer, DeepNestingIsBounded) {
  std::string content(100000, '[');
  content += " 1 w";
  EXPECT_EQ(Tokens(content).substr(0, 1), "[");  // one operand, read to the end without recursion trouble
  // Levels beyond the limit are read and dropped; what follows is intact.
  std::string nested = std::string(40, '[') + "1" + std::string(40, ']') + " 2 w";
  const size_t kept = TkxOperandReader::kMaxNesting + 1;
  EXPECT_EQ(Tokens(nested), std::string(kept, '[') + std::string(kept, ']') + " 2 w");
}
