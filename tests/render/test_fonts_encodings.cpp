// Font objects of a page: names and style, widths, and the decoding of shown
// strings into UTF-16 through encodings, glyph names, ToUnicode maps, CMaps
// and character-collection data. Fixtures are small handwritten documents.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "pdf/kxPDFDoc.h"
#include "pdf/pdf_builder.h"
#include "platform/kxFontManager.h"
#include "render/kxCMap.h"
#include "render/kxGlyphList.h"
#include "render/kxPDFFontObject.h"
#include "resources/kxResources.h"

using namespace pw;

namespace {

struct Obj {
  Obj(int n, std::string body) : Number(n), Body(std::move(body)) {}
  Obj(int n, std::string entries, std::string data)
      : Number(n), Body(std::move(entries)), StreamData(std::move(data)), IsStream(true) {}
  int Number;
  std::string Body;  // object text; for a stream its dictionary entries without << >>
  std::string StreamData;
  bool IsStream = false;
};

Obj Stream(int n, std::string entries, std::string data) { return Obj(n, std::move(entries), std::move(data)); }

// A one-page document whose /Font resources name object 20 as /F1; the
// fonts are loaded from the page as the interpreter loads them, and live in
// the fixture with the document.
struct FontFixture {
  TkxPDFDocument doc;
  TkxPDFFontList list;

  TkxPDFFontObject& Load(const std::string& fontDict, const std::vector<Obj>& objects = {}) {
    pwtest::PdfBuilder b;
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.Object(2, "<< /Type /Pages /Kids [10 0 R] /Count 1 /MediaBox [0 0 612 792] >>");
    b.Object(10, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 20 0 R >> >> >>");
    b.Object(20, fontDict);
    int highest = 20;
    for (const Obj& o : objects) {
      if (o.IsStream)
        b.Stream(o.Number, o.Body, o.StreamData);
      else
        b.Object(o.Number, o.Body);
      highest = std::max(highest, o.Number);
    }
    size_t xref = b.XRefTable("/Size " + std::to_string(highest + 1) + " /Root 1 0 R");
    b.StartXRef(xref);
    EXPECT_TRUE(doc.LoadFromMemory(b.Data()));
    LoadPageFonts(doc, FontResources(), list);
    EXPECT_EQ(list.Count(), 1);
    static TkxPDFFontObject empty;
    return list.Count() ? *list.Get(0) : empty;
  }

  TkxPDFObject* FontResources() {
    TkxPDFDictObject* page = doc.GetPageDict(1);
    TkxPDFDictObject* res = page ? AsDict(doc.Resolve(page->Lookup("/Resources"))) : nullptr;
    return res ? res->Lookup("/Font") : nullptr;
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* kToUnicode =
    "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
    "1 begincodespacerange <00> <FF> endcodespacerange\n"
    // several entries on one line, CR line ends, ligature and surrogate pair
    "3 beginbfchar <10> <00660069> <11> <D83DDE00>\r<12> <>\rendbfchar\n"
    "2 beginbfrange <20> <22> <0041> <30> <32> [<0058> <0059005A>] endbfrange\n"
    "endcmap CMapName currentdict /CMap defineresource pop end end\n";

}  // namespace

// ---------------------------------------------------------------------------
// Simple fonts: one byte per code.

TEST(FontDecoding, SimpleFonts) {
  struct Case {
    const char* what;
    std::string font;
    std::vector<Obj> objects;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"WinAnsi",
       "<< /Type /Font /Subtype /TrueType /BaseFont /Arial /Encoding /WinAnsiEncoding >>",
       {},
       "\x80\x93"
       "A\xE9",
       u"\u20AC\u201CA\u00E9"},
      {"no encoding on Type 1: StandardEncoding",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
       {},
       "don't`",
       u"don\u2019t\u2018"},
      {"no encoding on TrueType: WinAnsi",
       "<< /Type /Font /Subtype /TrueType /BaseFont /Verdana >>",
       {},
       "don't\x95",
       u"don't\u2022"},
      {"MacRoman",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /MacRomanEncoding >>",
       {},
       "\xA5\x8E",
       u"\u2022\u00E9"},
      {"Standard",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /StandardEncoding >>",
       {},
       "\xE1\xAE",
       u"\u00C6\uFB01"},
      {"PDFDoc",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /PDFDocEncoding >>",
       {},
       "\x80\xA0",
       u"\u2022\u20AC"},
      {"Differences with glyph names",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Foo /Encoding << /BaseEncoding /WinAnsiEncoding "
       "/Differences [65 /bullet /uni20AC /u1F600 /f_i /a.sc /g17 /uni0066006C] >> >>",
       {},
       "ABCDEFGHI",
       u"\u2022\u20AC\U0001F600fiaFflHI"},
      {"Differences from a reference",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Foo /Encoding 30 0 R >>",
       {{30, "<< /Type /Encoding /Differences [ 97 /alpha /beta ] >>"}},
       "abc",
       u"\u03B1\u03B2c"},
      {"Symbol built-in", "<< /Type /Font /Subtype /Type1 /BaseFont /Symbol >>", {}, "ap\xA5", u"\u03B1\u03C0\u221E"},
      {"ZapfDingbats built-in",
       "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>",
       {},
       "!\x6C",
       u"\u2701\u25CF"},
      {"symbolic TrueType: codes stand for themselves",
       "<< /Type /Font /Subtype /TrueType /BaseFont /Wingdings /FontDescriptor 30 0 R >>",
       {{30, "<< /Type /FontDescriptor /FontName /Wingdings /Flags 4 >>"}},
       "l\xA7",
       u"l\u00A7"},
      {"ToUnicode: ligature, surrogate pair, empty, ranges",
       "<< /Type /Font /Subtype /TrueType /BaseFont /Foo /ToUnicode 30 0 R >>",
       {Stream(30, "", kToUnicode)},
       std::string("\x10\x11\x12\x20\x22\x30\x31\x32\x33", 9),
       u"fi\U0001F600ACXYZ23"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FontFixture fx;
    TkxPDFFontObject& f = fx.Load(c.font, c.objects);
    TkxDecodedText t = f.Decode(c.bytes);
    EXPECT_EQ(t.Text, c.text);
    ASSERT_EQ(t.Chars.size(), c.bytes.size());
    uint32_t at = 0;
    for (size_t i = 0; i < t.Chars.size(); ++i) {
      EXPECT_EQ(t.Chars[i].CodeLength, 1);
      EXPECT_EQ(t.Chars[i].Code, static_cast<uint8_t>(c.bytes[i]));
      EXPECT_EQ(t.Chars[i].TextStart, at);
      at += t.Chars[i].TextLength;
    }
    EXPECT_EQ(at, t.Text.size());
  }
}

// ---------------------------------------------------------------------------
// Composite fonts: codes by the CMap's code-space ranges.

TEST(FontDecoding, CompositeFonts) {
  constexpr uint32_t kAny = UINT32_MAX;
  auto type0 = [](const std::string& encoding, const std::string& ordering, const std::string& extra = "") {
    return "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding " + encoding + " " + extra +
           " /DescendantFonts [<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Foo /CIDSystemInfo << /Registry "
           "(Adobe) /Ordering (" +
           ordering + ") /Supplement 0 >> >>] >>";
  };
  const char* toUnicode =
      "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
      "1 beginbfrange <0003> <0005> <0041> endbfrange\n";
  struct Case {
    const char* what;
    std::string font;
    std::vector<Obj> objects;
    std::string bytes;
    std::u16string text;
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> cids;  // kAny: not checked
  } cases[] = {
      {"Identity-H with ToUnicode",
       type0("/Identity-H", "Identity", "/ToUnicode 30 0 R"),
       {Stream(30, "", toUnicode)},
       std::string("\x00\x03\x00\x05", 4),
       u"AC",
       {2, 2},
       {3, 5}},
      {"Identity-H, Adobe-Japan1 CIDs",
       type0("/Identity-H", "Japan1"),
       {},
       std::string("\x00\x22\x00\x01", 4),
       u"A ",
       {2, 2},
       {34, 1}},
      {"Identity-H without data: the code itself",
       type0("/Identity-H", "Identity"),
       {},
       std::string("\x00\x41\x20\xAC", 4),
       u"A\u20AC",
       {2, 2},
       {0x41, 0x20AC}},
      {"90ms-RKSJ-H, one and two bytes",
       type0("/90ms-RKSJ-H", "Japan1"),
       {},
       "A\x82\xA0\xB1",
       u"A\u3042\uFF71",
       {1, 2, 1},
       {264, 843, kAny}},
      {"UniJIS-UCS2-H: codes are Unicode",
       type0("/UniJIS-UCS2-H", "Japan1"),
       {},
       std::string("\x30\x42\x4E\x00", 4),
       u"\u3042\u4E00",
       {2, 2},
       {843, kAny}},
      {"GBK-EUC-H", type0("/GBK-EUC-H", "GB1"), {}, "a\xC4\xE3", u"a\u4F60", {1, 2}, {kAny, kAny}},
      {"ToUnicode hex with a stray byte: skipped, not read as 0",
       type0("/Identity-H", "Identity", "/ToUnicode 30 0 R"),
       {Stream(30, "", "1 begincodespacerange <0000> <FFFF> endcodespacerange 1 beginbfchar <0003> <00z41> endbfchar")},
       std::string("\x00\x03", 2),
       u"A",
       {2},
       {3}},
      {"embedded CMap inheriting Identity-H",
       type0("30 0 R", "Identity"),
       {Stream(30, "/Type /CMap /UseCMap /Identity-H", "1 begincidchar <0041> 7 endcidchar")},
       std::string("\x00\x41\x00\x42", 4),
       u"AB",
       {2, 2},
       {7, 0x42}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FontFixture fx;
    TkxPDFFontObject& f = fx.Load(c.font, c.objects);
    EXPECT_TRUE(f.Composite());
    TkxDecodedText t = f.Decode(c.bytes);
    ASSERT_EQ(t.Chars.size(), c.lengths.size());
    for (size_t i = 0; i < t.Chars.size(); ++i) {
      EXPECT_EQ(t.Chars[i].CodeLength, c.lengths[i]) << i;
      if (c.cids[i] != kAny) {
        EXPECT_EQ(t.Chars[i].CID, c.cids[i]) << i;
      }
    }
    EXPECT_EQ(t.Text, c.text);
  }
}

TEST(FontDecoding, ShownStringOperands) {
  FontFixture fx;
  TkxPDFFontObject& f = fx.Load("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  struct Case {
    const char* token;
    std::u16string text;
  } cases[] = {
      {"(a\\tb)", u"a\tb"},   {"(a\\qb)", u"aqb"},
      {"(\\101)", u"A"},      {"(\\f)", u"\f"},
      {"(\\0533)", u"+3"},    {"(a\\\nb)", u"ab"},
      {"(x(y)z)", u"x(y)z"},  {"<41 42 4>", u"AB@"},
      {"[(a\\tb)]", u"a\tb"}, {"[(Hel) -500 <6C6F>]", u"Hello"},
      {"/Name", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(f.DecodeShownString(c.token).Text, c.text) << c.token;

  TkxDecodedText t = f.DecodeShownString("[ 100 (Hel) -500 (lo) 20 ]");
  ASSERT_EQ(t.Chars.size(), 5u);
  EXPECT_EQ(t.LeadingAdjustment, 100);
  EXPECT_EQ(t.Chars[2].Adjustment, -500);
  EXPECT_EQ(t.Chars[4].Adjustment, 20);
  // Hello in Helvetica at 10 points: 2278 thousandths; the TJ numbers move by -(100 - 500 + 20) / 1000 * 10.
  EXPECT_NEAR(t.Advance(10, 0, 0, 1.0, false), 22.78, 1e-9);
  EXPECT_NEAR(t.Advance(10, 0, 0, 1.0, true), 22.78 + 3.8, 1e-9);

  TkxPDFArrayObject arr;
  arr.Add(std::make_unique<TkxPDFStringObject>("(a b)"));
  arr.AddInteger(-250);
  TkxDecodedText o = f.DecodeObject(&arr);
  EXPECT_EQ(o.Text, u"a b");
  EXPECT_EQ(o.Chars[2].Adjustment, -250);
  EXPECT_TRUE(o.Chars[1].WordSpace);
  // Word spacing applies to the space only, char spacing to every code, Tz scales all.
  EXPECT_NEAR(o.Advance(10, 1, 2, 0.5, false), (f.CodeWidth('a') * 2 + f.CodeWidth(' ')) / 100 * 0.5 + 1.5 + 1, 1e-9);
}

// ---------------------------------------------------------------------------
// Widths

TEST(FontWidths, SimpleAndComposite) {
  struct Case {
    const char* what;
    std::string font;
    std::vector<Obj> objects;
    std::vector<std::pair<uint32_t, double>> widths;  // code or CID -> advance
  } cases[] = {
      {"own /Widths, MissingWidth outside",
       "<< /Type /Font /Subtype /TrueType /BaseFont /Helvetica /FirstChar 65 /LastChar 66 /Widths [500 600] "
       "/FontDescriptor 30 0 R >>",
       {{30, "<< /Type /FontDescriptor /FontName /Helvetica /Flags 32 /MissingWidth 250 >>"}},
       {{'A', 500}, {'B', 600}, {'C', 250}, {'@', 250}}},
      {"Helvetica without widths",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
       {},
       {{'H', 722}, {'e', 556}, {'l', 222}, {'o', 556}, {' ', 278}}},
      {"Helvetica-Bold", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>", {}, {{'i', 278}, {'m', 889}}},
      {"Times-Roman", "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>", {}, {{'A', 722}, {'i', 278}}},
      {"Courier-Oblique", "<< /Type /Font /Subtype /Type1 /BaseFont /Courier-Oblique >>", {}, {{'i', 600}, {'W', 600}}},
      {"Symbol", "<< /Type /Font /Subtype /Type1 /BaseFont /Symbol >>", {}, {{'a', 631}}},
      {"WinAnsi on Times: widths by glyph name",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>",
       {},
       {{0x97, 1000}, {0xE9, 444}}},
      {"/W both forms, /DW",
       "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /DescendantFonts [<< /Subtype "
       "/CIDFontType2 /DW 800 /W [1 [500 600 700] 10 20 300] >>] >>",
       {},
       {{1, 500}, {2, 600}, {3, 700}, {4, 800}, {15, 300}, {21, 800}}},
      {"/DW defaults to 1000",
       "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /DescendantFonts [<< /Subtype "
       "/CIDFontType2 >>] >>",
       {},
       {{5, 1000}}},
      {"absurd /W CIDs",
       "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /Subtype "
       "/CIDFontType2 /W [0 4294967295 500 -5 [1 2] 4294967290 [9 9 9 9 9 9 9 9]] >>] >>",
       {},
       {{4000000000u, 500}, {0, 500}}},
      {"Type 3 through FontMatrix",
       "<< /Type /Font /Subtype /Type3 /FontMatrix [0.01 0 0 0.01 0 0] /FirstChar 65 /LastChar 66 /Widths [50 "
       "70.5] /Encoding << /Differences [65 /A /B] >> /CharProcs << >> /FontBBox [0 0 100 100] /Resources << >> >>",
       {},
       {{'A', 500}, {'B', 705}, {'C', 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FontFixture fx;
    TkxPDFFontObject& f = fx.Load(c.font, c.objects);
    for (auto [code, w] : c.widths) EXPECT_DOUBLE_EQ(f.CodeWidth(code), w) << code;
  }
  // The per-code advances carry into decoded text.
  FontFixture fx;
  TkxPDFFontObject& f = fx.Load("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  TkxDecodedText t = f.Decode("Hello");
  EXPECT_DOUBLE_EQ(t.WidthSum(), 2278);
  EXPECT_NEAR(t.Advance(12, 0, 0), 27.336, 1e-9);
}

TEST(FontWidths, PublishedWidthTable) {
  FontFixture fx;
  TkxPDFFontObject& f = fx.Load(
      "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /Subtype /CIDFontType2 /W [1 [500 "
      "600 700] 70000 [5]] >>] >>");
  EXPECT_EQ(f.FirstWidthIndex, 1);
  ASSERT_EQ(f.Widths.size(), 65536u);
  EXPECT_EQ(f.Widths[0], 0);
  EXPECT_EQ(f.Widths[3], 700);
  EXPECT_DOUBLE_EQ(f.CodeWidth(70000), 5);
}

TEST(FontWidths, VerticalMetrics) {
  FontFixture fx;
  TkxPDFFontObject& f = fx.Load(
      "<< /Type /Font /Subtype /Type0 /Encoding /Identity-V /DescendantFonts [<< /Subtype /CIDFontType2 /W [65 "
      "[600 400]] /DW2 [900 -800] /W2 [65 [-500 100 700] 70 80 -300 1 2] >>] >>");
  TkxDecodedText t = f.Decode(std::string("\x00\x41\x00\x42\x00\x48", 6));
  ASSERT_EQ(t.Chars.size(), 3u);
  EXPECT_TRUE(t.Vertical);
  const double expected[3][3] = {{-500, 100, 700}, {-800, 200, 900}, {-300, 1, 2}};  // W1, Vx, Vy
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(t.Chars[i].W1, expected[i][0]) << i;
    EXPECT_DOUBLE_EQ(t.Chars[i].Vx, expected[i][1]) << i;
    EXPECT_DOUBLE_EQ(t.Chars[i].Vy, expected[i][2]) << i;
  }
  EXPECT_DOUBLE_EQ(t.VerticalAdvance(10, 1, 0), -16 + 3);
}

// ---------------------------------------------------------------------------
// Names, style and embedding

TEST(FontNames, BaseNameStyleAndEmbedding) {
  struct Case {
    std::string font;
    std::vector<Obj> objects;
    const char* base;
    const char* fontName;
    bool bold, italic;
    int embed;
  } cases[] = {
      {"<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Arial,BoldItalic /FontDescriptor 30 0 R >>",
       {{30, "<< /Type /FontDescriptor /Flags 32 /FontFile2 31 0 R >>"}, Stream(31, "", "junk")},
       "Arial",
       "Arial,BoldItalic",
       true,
       true,
       esEmbeddedSubset},
      {"<< /Type /Font /Subtype /Type1 /BaseFont /Times-BoldItalic >>",
       {},
       "Times",
       "Times-BoldItalic",
       true,
       true,
       esNotEmbedded},
      {"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Oblique >>",
       {},
       "Helvetica",
       "Helvetica-Oblique",
       false,
       true,
       esNotEmbedded},
      {"<< /Type /Font /Subtype /Type1 /BaseFont /Times-Bold >>",
       {},
       "Times",
       "Times-Bold",
       true,
       false,
       esNotEmbedded},
      {"<< /Type /Font /Subtype /Type1 /BaseFont /Courier-BoldOblique >>",
       {},
       "Courier",
       "Courier-BoldOblique",
       true,
       true,
       esNotEmbedded},
      {"<< /Type /Font /Subtype /Type1 /BaseFont /CMR10 /FontDescriptor 30 0 R >>",
       {{30, "<< /Type /FontDescriptor /Flags 4 /FontFile 31 0 R >>"}, Stream(31, "", "junk")},
       "CMR10",
       "CMR10",
       false,
       false,
       esEmbedded},
      {"<< /Type /Font /Subtype /TrueType /BaseFont /Monotype#20Corsiva,Bold >>",
       {},
       "Monotype Corsiva",
       "Monotype Corsiva,Bold",
       false,
       true,
       esNotEmbedded},
      {"<< /Type /Font /Subtype /TrueType /BaseFont /Garamond /FontDescriptor 30 0 R >>",
       {{30, "<< /Type /FontDescriptor /Flags 262208 >>"}},
       "Garamond",
       "Garamond",
       true,
       true,
       esNotEmbedded},
      {"<< /Type /Font /Subtype /Type0 /BaseFont /XYZABC+Calibri-Bold /Encoding /Identity-H /DescendantFonts "
       "[<< /Subtype /CIDFontType2 /FontDescriptor 30 0 R >>] >>",
       {{30, "<< /Type /FontDescriptor /Flags 32 /FontFile3 31 0 R >>"}, Stream(31, "/Subtype /OpenType", "junk")},
       "Calibri",
       "Calibri-Bold",
       true,
       false,
       esEmbeddedSubset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.font);
    FontFixture fx;
    TkxPDFFontObject& f = fx.Load(c.font, c.objects);
    EXPECT_EQ(f.BaseFontName, c.base);
    EXPECT_EQ(f.FontName, c.fontName);
    EXPECT_EQ(f.Bold, c.bold);
    EXPECT_EQ(f.Italic, c.italic);
    EXPECT_EQ(f.EmbedState, c.embed);
    EXPECT_FALSE(f.Installed);  // "junk" is no program FreeType opens
    EXPECT_EQ(f.ResourceName, "/F1");
  }
  EXPECT_EQ(StripSubsetPrefix("ABCDEF+Calibri"), "Calibri");
  EXPECT_EQ(FamilyFromFontName("TimesNewRomanPS-BoldMT"), "TimesNewRomanPS");
  EXPECT_EQ(StyleFromFontName("Helvetica-BoldOblique"), fsBoldItalic);
  // TeX's names say their style in a few letters.
  const std::pair<const char*, int> tex[] = {
      {"CMBX12", fsBold},         {"CMTI10", fsItalic},    {"CMMI10", fsItalic},       {"CMSL10", fsItalic},
      {"SFBI1095", fsBoldItalic}, {"SFSX1440", fsBold},    {"CMBXTI10", fsBoldItalic}, {"CMR10", fsRegular},
      {"CMSY10", fsRegular},      {"SFRM1095", fsRegular}, {"CMTT10", fsRegular},      {"CMSS10", fsRegular},
      {"SFProText", fsRegular}};
  for (const auto& [name, style] : tex) EXPECT_EQ(StyleFromFontName(name), style) << name;
}

// An embedded TrueType program is registered under the PDF family name for
// as long as its font object lives, and an Identity-H font without ToUnicode
// reads its text from the program's cmap.
TEST(FontNames, EmbeddedProgramRegisteredUnderPdfName) {
  const std::string ttf = ReadFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
  if (ttf.empty()) GTEST_SKIP() << "DejaVuSans.ttf is not installed";
  auto& fm = TkxFontManager::Instance();
  const std::string family = "PwTestEmbeddedFamily";
  ASSERT_FALSE(fm.GetFace(family, fsBold)->Registered());
  {
    FontFixture fx;
    TkxPDFFontObject& f =
        fx.Load("<< /Type /Font /Subtype /Type0 /BaseFont /ABCDEF+" + family +
                    ",Bold /Encoding /Identity-H /DescendantFonts "
                    "[<< /Subtype /CIDFontType2 /CIDToGIDMap /Identity /FontDescriptor 30 0 R >>] >>",
                {{30, "<< /Type /FontDescriptor /Flags 32 /FontFile2 31 0 R >>"}, Stream(31, "", ttf)});
    EXPECT_EQ(f.EmbedState, esEmbeddedSubset);
    EXPECT_TRUE(f.Installed);
    EXPECT_EQ(f.InstalledName, family);
    auto face = fm.GetFace(family, fsBold);
    ASSERT_TRUE(face);
    EXPECT_TRUE(face->Registered());
    EXPECT_EQ(face->FamilyName(), family);
    EXPECT_TRUE(fm.IsInstalledFamily(family));

    const unsigned a = face->GlyphIndex(U'A'), e = face->GlyphIndex(U'\u00E9');
    ASSERT_GT(a, 0u);
    std::string bytes{static_cast<char>(a >> 8), static_cast<char>(a & 0xFF), static_cast<char>(e >> 8),
                      static_cast<char>(e & 0xFF)};
    EXPECT_EQ(f.Decode(bytes).Text, u"A\u00E9");

    // The same font loaded again (a form's resources) shares the registration.
    TkxPDFFontList& list = fx.list;
    LoadPageFonts(fx.doc, fx.FontResources(), list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Get(1)->Installed);
    list.Get(1)->ResourceName = "/F2";
    EXPECT_EQ(list.Find("F2"), list.Get(1));
    EXPECT_EQ(list.Find("/F#32"), list.Get(1));
    EXPECT_EQ(list.Find("/F3"), nullptr);
  }
  EXPECT_FALSE(fm.GetFace(family, fsBold)->Registered());
}

// An embedded Type 1 program with no encoding in the PDF decodes through the
// program's own built-in encoding (TeX math fonts depend on it); /Differences
// still apply on top of it.
TEST(FontDecoding, EmbeddedType1BuiltInEncoding) {
  const std::string t1 = ReadFile("/usr/share/fonts/type1/urw-base35/StandardSymbolsPS.t1");
  if (t1.empty()) GTEST_SKIP() << "StandardSymbolsPS.t1 is not installed";
  struct Case {
    std::string encoding;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"", "ab", u"\u03B1\u03B2"},
      {"/Encoding << /Differences [98 /A] >>", "ab", u"\u03B1A"},
      {"/Encoding /WinAnsiEncoding", "ab", u"ab"},  // a named base encoding wins
  };
  for (const auto& c : cases) {
    FontFixture fx;
    TkxPDFFontObject& f = fx.Load(
        "<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+MathSymbols " + c.encoding + " /FontDescriptor 30 0 R >>",
        {{30, "<< /Type /FontDescriptor /Flags 4 /FontFile 31 0 R >>"},
         Stream(31, "/Length1 0 /Length2 0 /Length3 0", t1)});
    EXPECT_EQ(f.Decode(c.bytes).Text, c.text) << c.encoding;
  }
}

// Fonts that leave out what their codes mean (no /ToUnicode, no /Encoding,
// a symbolic flag) are read through the embedded program's own glyph names
// and character maps. The programs are small fixtures (data/make_test_fonts.py):
// glyphs 1 to 8 are H, e, l, o, space, bullet, a check mark and an fi ligature.
TEST(FontDecoding, TextFromTheEmbeddedProgram) {
  const std::string data = std::string(PW_SOURCE_DIR) + "/tests/render/data/";
  const std::string named = ReadFile(data + "symbol-names.ttf"), unnamed = ReadFile(data + "symbol-nonames.ttf"),
                    noCmap = ReadFile(data + "plain-nocmap.ttf");
  ASSERT_FALSE(named.empty() || unnamed.empty() || noCmap.empty());
  const std::string symbolic =
      "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+PwSymbols /FirstChar 32 /LastChar 126 "
      "/FontDescriptor 30 0 R >>";
  std::string nonSymbolic = symbolic;
  nonSymbolic.insert(nonSymbolic.find("/FontDescriptor"), "/Encoding /WinAnsiEncoding ");
  auto type0 = [](const std::string& extra) {
    return "<< /Type /Font /Subtype /Type0 /BaseFont /ABCDEF+PwGlyphs /Encoding /Identity-H /DescendantFonts [<< "
           "/Type /Font /Subtype /CIDFontType2 /BaseFont /ABCDEF+PwGlyphs /CIDSystemInfo << /Registry (Adobe) "
           "/Ordering (Identity) /Supplement 0 >> /FontDescriptor 30 0 R " +
           extra + " >>] >>";
  };
  const auto gids = [](std::initializer_list<int> ids) {
    std::string b;
    for (int id : ids) b += {static_cast<char>(id >> 8), static_cast<char>(id & 0xFF)};
    return b;
  };
  const std::string descriptor = "<< /Type /FontDescriptor /FontName /ABCDEF+PwSymbols /Flags 4 /FontFile2 31 0 R >>";
  struct Case {
    const char* what;
    std::string font;
    std::string program;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"symbolic TrueType: glyph names give the bullet and the check mark", symbolic, named, "!3Hello",
       u"\u2022\u2713Hello"},
      {"symbolic TrueType without glyph names: codes stand for themselves", symbolic, unnamed, "!Hello", u"!Hello"},
      {"WinAnsi TrueType: a code WinAnsi leaves unnamed", nonSymbolic, named, "\x01!", u"fi!"},
      {"CID TrueType without cmap: glyph names", type0(""), noCmap, gids({1, 2, 3, 3, 4, 5, 6}), u"Hello \u2022"},
      {"CID TrueType with a symbol cmap only: its codes", type0(""), unnamed, gids({1, 2, 3, 3, 4}), u"Hello"},
      {"CID TrueType through a CIDToGIDMap", type0("/CIDToGIDMap 32 0 R"), noCmap, gids({0x48, 0x49}), u"He"},
  };
  std::string cidToGid(2 * 0x4A, '\0');
  cidToGid[2 * 0x48 + 1] = 1;
  cidToGid[2 * 0x49 + 1] = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FontFixture fx;
    TkxPDFFontObject& f = fx.Load(c.font, {{30, descriptor},
                                           Stream(31, "/Length1 " + std::to_string(c.program.size()), c.program),
                                           Stream(32, "", cidToGid)});
    EXPECT_EQ(f.Decode(c.bytes).Text, c.text);
  }
}

// The dingbat names ("a1" ... "a191") are the dingbats of ZapfDingbats only;
// a Type 3 font whose /Differences name its glyphs a1, a2 ... keeps its codes.
TEST(FontDecoding, DingbatNamesOnlyInDingbatFonts) {
  struct Case {
    const char* what;
    std::string font;
    std::u16string text;
  } cases[] = {
      {"Type 3",
       "<< /Type /Font /Subtype /Type3 /FontMatrix [0.001 0 0 0.001 0 0] /FontBBox [0 0 1 1] /CharProcs << >> "
       "/Resources << >> /FirstChar 65 /LastChar 67 /Widths [500 500 500] /Encoding << /Type /Encoding "
       "/Differences [65 /a1 /a71 /bullet] >> >>",
       u"AB\u2022"},
      {"ZapfDingbats",
       "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats /Encoding << /Differences [65 /a1 /a71 "
       "/bullet] >> >>",
       u"\u2701\u25CF\u2022"},
  };
  for (const Case& c : cases) {
    FontFixture fx;
    EXPECT_EQ(fx.Load(c.font).Decode("ABC").Text, c.text) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Hostile and damaged input

TEST(FontDecoding, HostileCMapsAndDamagedParts) {
  // A ToUnicode map with huge ranges, an embedded CMap that names itself as
  // its parent, a CMap with no code-space ranges, and a broken stream.
  const char* hugeToUnicode =
      "beginbfrange <00000000> <FFFFFFFF> <0041> <0000> <FFFF> [<0042>] endbfrange\n"
      "beginbfchar <0001> <0043> endbfchar";
  FontFixture fx;
  TkxPDFFontObject& f = fx.Load(
      "<< /Type /Font /Subtype /Type0 /Encoding 30 0 R /ToUnicode 31 0 R /DescendantFonts [<< /Subtype "
      "/CIDFontType2 /W 32 0 R >>] >>",
      {Stream(30, "/Type /CMap /UseCMap 30 0 R", "begincidrange <00000000> <ffffffff> 0 <0000> <ffff> 0 endcidrange"),
       Stream(31, "", hugeToUnicode),
       {32, "[0 4294967295 1 2 [3] (x) /y]"}});
  TkxDecodedText t = f.Decode(std::string("\x00\x00\x00\x01", 4));
  ASSERT_EQ(t.Chars.size(), 2u);  // no code-space ranges: two bytes per code
  EXPECT_EQ(t.Text, u"BC");
  EXPECT_EQ(t.Chars[1].CID, 1u);

  FontFixture broken;
  TkxPDFFontObject& g = broken.Load(
      "<< /Type /Font /Subtype /TrueType /BaseFont /Arial /Encoding /WinAnsiEncoding /ToUnicode 30 0 R "
      "/Widths 31 0 R /FirstChar 32 >>",
      {Stream(30, "/Filter /FlateDecode", "not deflated"), {31, "[250 (x) 300]"}});
  EXPECT_EQ(g.Decode("A!\"").Text, u"A!\"");
  EXPECT_DOUBLE_EQ(g.CodeWidth(' '), 250);
  EXPECT_DOUBLE_EQ(g.CodeWidth('!'), 0);
  EXPECT_DOUBLE_EQ(g.CodeWidth('"'), 300);
}

TEST(CMaps, PredefinedAndCollections) {
  EXPECT_EQ(TkxCMap::Predefined("NoSuchCMap"), nullptr);
  auto rksj = TkxCMap::Predefined("90ms-RKSJ-V");
  ASSERT_TRUE(rksj);
  EXPECT_TRUE(rksj->Vertical());
  EXPECT_EQ(rksj->Ordering(), "Japan1");
  EXPECT_EQ(rksj->CIDOf({0x41, 1}), 264u);  // from the -H map it uses
  EXPECT_NE(rksj->CIDOf({0x8141, 2}), TkxCMap::Predefined("90ms-RKSJ-H")->CIDOf({0x8141, 2}));  // vertical comma
  EXPECT_EQ(rksj->CIDOf({0x0041, 2}), 0u);                                                      // <0041> is not <41>
  EXPECT_TRUE(TkxCMap::Identity(true)->Vertical());
  for (const char* name :
       {"UniGB-UCS2-H", "ETen-B5-H", "UniCNS-UCS2-H", "KSCms-UHC-H", "UniKS-UCS2-H", "UniJIS-UTF16-V", "GBK-EUC-V"})
    EXPECT_TRUE(TkxCMap::Predefined(name)) << name;

  struct {
    const char* ordering;
    uint32_t cid;
    char32_t cp;
  } cases[] = {
      {"Japan1", 34, U'A'}, {"Japan1", 843, U'\u3042'}, {"GB1", 34, U'A'}, {"CNS1", 34, U'A'}, {"Korea1", 34, U'A'}};
  for (const auto& c : cases) {
    auto t = TkxCIDToUnicode::ForOrdering(c.ordering);
    ASSERT_TRUE(t) << c.ordering;
    EXPECT_EQ(t->Lookup(c.cid), c.cp) << c.ordering << " " << c.cid;
  }
  EXPECT_EQ(TkxCIDToUnicode::ForOrdering("Identity"), nullptr);
  // Radicals and compatibility ideographs share CIDs with the unified
  // ideographs (U+2ED8 and U+9752, U+2ED1 and U+9577); text means the latter.
  auto uni = TkxCMap::Predefined("UniJIS-UTF16-H");
  auto japan = TkxCIDToUnicode::ForOrdering("Japan1");
  for (char32_t cp : {U'\u9752', U'\u9577'}) EXPECT_EQ(japan->Lookup(uni->CIDOf({cp, 2})), cp);
}

TEST(Resources, GlyphListAndPack) {
  EXPECT_GT(ResourceNames().size(), 100u);
  auto glyphs = LoadResource("kxpdfglyph");
  ASSERT_TRUE(glyphs);
  EXPECT_NE(glyphs->find("\nA;0041"), std::string::npos);
  EXPECT_FALSE(LoadResource("nothing"));
  struct {
    const char* name;
    std::u16string text;
  } cases[] = {{"A", u"A"},
               {"Euro", u"\u20AC"},
               {"a1", u""},
               {"uni00E9", u"\u00E9"},
               {"uni00e9", u"\u00E9"},
               {"u1F600", u"\U0001F600"},
               {"uniD800", u""},
               {"f_f_i", u"ffi"},
               {"e.sc", u"e"},
               {"dalethatafpatah", u"\u05D3\u05B2"},
               {"g123", u""},
               {".notdef", u""}};
  for (const auto& c : cases) EXPECT_EQ(GlyphNameToUnicode(c.name), c.text) << c.name;
  // The dingbat names are a dingbat font's only.
  EXPECT_EQ(GlyphNameToUnicode("a1", true), u"\u2701");
  EXPECT_EQ(GlyphNameToUnicode("a71", true), u"\u25CF");
  EXPECT_EQ(GlyphNameToUnicode("A", true), u"A");
}

// Every font of every page of a few corpus files loads and decodes all its
// one- and two-byte codes.
TEST(FontCorpus, EveryFontLoadsAndDecodes) {
  const std::string dir = std::string(PW_SOURCE_DIR) + "/../shared/corpus/";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "corpus not present";
  int fonts = 0, composite = 0, withText = 0;
  for (const char* name :
       {"pm-identity-cmap.pdf", "pm-matplotlib-type3.pdf", "latex-minimal.pdf", "google-doc.pdf", "arabic.pdf",
        "writer-trivial.pdf", "pdfkit.pdf", "reportlab-overlay.pdf", "latex-4-pages.pdf", "pm-font-size-test.pdf"}) {
    if (!std::filesystem::exists(dir + name)) continue;
    SCOPED_TRACE(name);
    TkxPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromFile(dir + name));
    for (int p = 1; p <= doc.PageCount(); ++p) {
      TkxPDFDictObject* page = doc.GetPageDict(p);
      TkxPDFDictObject* res = page ? AsDict(doc.Resolve(page->Lookup("/Resources"))) : nullptr;
      if (!res) continue;
      TkxPDFFontList list;
      LoadPageFonts(doc, res->Lookup("/Font"), list);
      for (int i = 0; i < list.Count(); ++i) {
        const TkxPDFFontObject* f = list.Get(i);
        ++fonts;
        EXPECT_EQ(f->BaseFontName.find('+'), std::string::npos);
        std::string all;
        for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
        if (f->Composite()) {
          ++composite;
          all.clear();
          for (int c = 0; c < 512; ++c) all += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
        }
        TkxDecodedText t = f->Decode(all);
        EXPECT_FALSE(t.Chars.empty());
        if (!t.Text.empty()) ++withText;
      }
    }
  }
  EXPECT_GT(fonts, 0);
  EXPECT_EQ(withText, fonts);
  RecordProperty("fonts", fonts);
  RecordProperty("composite", composite);
}
