// Text operators: placement of runs, advances, TJ gaps, spacing, the
// double-quote and quote operators, invisible text, rise, scaling and font
// selection.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "pdf/pdf_builder.h"
#include "platform/kxFontManager.h"
#include "platform/kxGraphics.h"
#include "render/kxPageRenderer.h"
#include "render/render_support.h"

using namespace pwtest;

namespace {

// Top of a run whose baseline is at PDF height y (page 792 high, 72 PPI) in
// a family's regular style at size s.
int TopFor(double y, double size, const char* family = "Arial") {
  const pw::TkxFamilyMetrics m = pw::TkxFontFamily(family).Metrics(pw::fsRegular);
  return static_cast<int>(std::lrint(792 - y - size * m.CellAscent / m.EmHeight));
}

}  // namespace

TEST(Text, RunIsPlacedOnItsBaselineInTheSubstituteFamily) {
  Recording r = RenderContent("BT /F1 12 Tf 72 700 Td (Hello) Tj ET");
  ASSERT_EQ(r.Texts.size(), 1u);
  const RecordedText& t = r.Texts[0];
  EXPECT_EQ(Utf8(t.Text), "Hello");
  EXPECT_EQ(Utf8(t.Face), "Arial");
  EXPECT_EQ(t.Height, -12);
  EXPECT_EQ(t.Reference.x, 72);
  EXPECT_NEAR(t.Reference.y, TopFor(700, 12), 1);
  EXPECT_EQ(t.Escapement, 0);
}

TEST(Text, NextRunStartsAtTheAdvanceOfThePrevious) {
  // Helvetica widths: A 667, B 667, space 278 (thousandths of the size).
  // The colour change keeps "Z" a run of its own.
  struct Case {
    const char* content;
    double expectedX;  // start of the run "Z" in points
  } cases[] = {
      {"(A) Tj", 100 + 0.667 * 10},
      {"(AB) Tj", 100 + 1.334 * 10},
      {"2 Tc (AB) Tj", 100 + 1.334 * 10 + 4},
      {"3 Tw (A B) Tj", 100 + (0.667 + 0.278 + 0.667) * 10 + 3},
      {"3 Tw <41> Tj", 100 + 0.667 * 10},
      {"[(A) -500 (B)] TJ", 100 + 1.334 * 10 + 5},
      {"[(A) 250 (B)] TJ", 100 + 1.334 * 10 - 2.5},
      {"[-1000 (A)] TJ", 100 + 0.667 * 10 + 10},
      {"50 Tz (AB) Tj", 100 + 1.334 * 10 * 0.5},
      {"3 Tr (AB) Tj 0 Tr", 100 + 1.334 * 10},
  };
  for (const Case& c : cases) {
    Recording r = RenderContent(std::string("BT /F1 10 Tf 100 500 Td ") + c.content + " 1 0 0 rg (Z) Tj ET");
    ASSERT_FALSE(r.Texts.empty()) << c.content;
    const RecordedText& z = r.Texts.back();
    EXPECT_EQ(Utf8(z.Text), "Z") << c.content;
    EXPECT_NEAR(z.Reference.x, c.expectedX, 1) << c.content;
  }
}

TEST(Text, RunsThatContinueEachOtherAreJoined) {
  // "Hello" is 22.78 wide at 10 points; a word space is 2.78.
  struct Case {
    const char* content;
    const char* texts;
  } cases[] = {
      {"(Hel) Tj (lo) Tj", "Hello"},
      {"(Hello) Tj 25.5 0 Td (World) Tj", "Hello World"},   // a gap of a word space
      {"(Hello ) Tj 25.5 0 Td (World) Tj", "Hello World"},  // the space is there already
      {"(Hello) Tj 23 0 Td (World) Tj", "HelloWorld"},      // a small gap is no space
      {"(Hello) Tj 24.3 0 Td (World) Tj", "Hello World"},   // a tenth of an em and more is one
      {"(Hello) Tj 40 0 Td (World) Tj", "Hello|World"},     // too far apart
      {"(Hello) Tj 10 0 Td (World) Tj", "Hello|World"},     // going back
      {"(Hello) Tj 21.3 0 Td (World) Tj", "HelloWorld"},    // kerned into the previous run
      {"3 Tc (ab) Tj 14.12 0 Td 0 Tc (cd) Tj", "a bcd"},    // the spacing after "b" is no gap
      {"(Hello) Tj 0 -12 Td (World) Tj", "Hello|World"},    // another line
      {"(Hello) Tj 3 Ts (World) Tj", "Hello|World"},        // raised
      {"(Hello) Tj /F2 10 Tf (World) Tj", "Hello|World"},   // another font
      {"(Hello) Tj /F1 12 Tf (World) Tj", "Hello|World"},   // another size
      {"(Hello) Tj 0 0 1 rg (World) Tj", "Hello|World"},    // another colour
      {"(Hello) Tj ET BT /F1 10 Tf 122.78 500 Td (World) Tj", "HelloWorld"},
      {"(Hello) Tj ET 0 0 10 10 re f BT /F1 10 Tf 122.78 500 Td (World) Tj", "Hello|World"},  // drawing between
      {"(Hello) Tj ET q BT /F1 10 Tf 122.78 500 Td (World) Tj ET Q", "Hello|World"},
  };
  for (const Case& c : cases) {
    Recording r = RenderContent(std::string("BT /F1 10 Tf 100 500 Td ") + c.content + " ET");
    EXPECT_EQ(r.JoinedText(), c.texts) << c.content;
  }
}

TEST(Text, WideTJGapsBecomeSpaces) {
  struct Case {
    const char* array;
    const char* text;
  } cases[] = {
      {"[(Hel) -90 (lo)]", "Hello"},                               // kerning
      {"[(Hel) -500 (lo)]", "Hel lo"},                             // a word gap
      {"[(Hel) -60 -60 (lo)]", "Hel lo"},                          // numbers add up
      {"[(Hel) 500 (lo)]", "Hello"},                               // moving left never makes a space
      {"[(a ) -500 (b)]", "a b"},                                  // already a space before
      {"[(a) -500 ( b)]", "a b"},                                  // already a space after
      {"[-500 (ab) -500]", "ab"},                                  // not between two characters
      {"[(a) -101 (b) -99 (c)]", "a bc"}, {"2 Tc [(ab)]", "a b"},  // character spacing reaching a tab stop
      {"1.5 Tc [(a) 200 (b)]", "ab"},                              // spacing that only makes up for kerning
  };
  for (const Case& c : cases) {
    Recording r = RenderContent(std::string("BT /F1 10 Tf 100 500 Td ") + c.array + " TJ ET");
    ASSERT_EQ(r.Texts.size(), 1u) << c.array;
    EXPECT_EQ(Utf8(r.Texts[0].Text), c.text) << c.array;
  }
}

// A gap of more than an em inside one string parts it as if each side had
// been shown on its own: the second part starts where the PDF puts it.
TEST(Text, GapsWiderThanAnEmPartAString) {
  // Helvetica at 10 points: "Hello" is 22.78 wide, a space 2.78.
  struct Case {
    const char* content;
    const char* texts;
    double lastX;  // start of the last run in points
  } cases[] = {
      {"[(Hello) -4166 (World)] TJ", "Hello|World", 100 + 22.78 + 41.66},
      {"20 Tw (Hello World) Tj", "Hello|World", 100 + 22.78 + 2.78 + 20},
      {"[(Hello) -900 (World)] TJ", "Hello World", 100},                           // under an em: a word space
      {"5 Tc 20 Tw (ab cd) Tj", "a b|c d", 100 + (5.56 + 5.56 + 2.78 + 15) + 20},  // letter-spaced words
      // A word space as the number before the first string, after a colour
      // change: the run starts beyond it, and the word before it ends with
      // a space.
      {"(Hello) Tj 1 0 0 rg [-500 (World)] TJ", "Hello |World", 100 + 22.78 + 5},
      {"(Hello) Tj 1 0 0 rg 27.78 0 Td (World) Tj", "Hello |World", 127.78},
      {"(Hello) Tj 1 0 0 rg 27.78 -3 Td (World) Tj", "Hello|World", 127.78},  // on another baseline
  };
  for (const Case& c : cases) {
    Recording r = RenderContent(std::string("BT /F1 10 Tf 100 500 Td ") + c.content + " ET");
    EXPECT_EQ(r.JoinedText(), c.texts) << c.content;
    ASSERT_FALSE(r.Texts.empty()) << c.content;
    EXPECT_NEAR(r.Texts.back().Reference.x, c.lastX, 1) << c.content;
  }
}

// Right-to-left script is drawn in the order it is seen and read in the
// other: its glyphs are turned round, numbers among them keep their order,
// brackets face the other way, left-to-right text stays as it is.
TEST(Text, RightToLeftTextIsPutInReadingOrder) {
  TestPage p;
  p.Resources = "/Font << /F1 5 0 R /H1 20 0 R >>";
  // Codes 1-3: alef, bet, gimel; 4, 5: the digits 1, 2; 6: a space; 7, 8: brackets; 9: A.
  const std::string cmap =
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap 1 begincodespacerange <0000> <FFFF> "
      "endcodespacerange 9 beginbfchar <0001> <05D0> <0002> <05D1> <0003> <05D2> <0004> <0031> <0005> <0032> "
      "<0006> <0020> <0007> <0028> <0008> <0029> <0009> <0041> endbfchar endcmap end end";
  p.Objects = {
      {20,
       "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /ToUnicode 21 0 R /DescendantFonts [<< "
       "/Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) "
       "/Supplement 0 >> /DW 500 >>] >>"},
      {21, "<< /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap + "\nendstream"},
  };
  struct Case {
    const char* codes;  // as drawn, left to right
    const char* text;   // as read
  } cases[] = {
      {"000300020001", "\u05D0\u05D1\u05D2"},
      {"0004000500060002000600030001", "\u05D0\u05D2 \u05D1 12"},
      {"00070002000100080006000900090009", "(\u05D0\u05D1) AAA"},
      {"0009000900060004", "AA 1"},
  };
  for (const Case& c : cases) {
    p.Content = std::string("BT /H1 10 Tf 100 500 Td <") + c.codes + "> Tj ET";
    Recording r = RenderTestPage(p);
    ASSERT_EQ(r.Texts.size(), 1u) << c.codes;
    EXPECT_EQ(Utf8(r.Texts[0].Text), c.text) << c.codes;
  }
}

TEST(Text, QuoteOperatorsMoveToTheNextLine) {
  Recording r = RenderContent("BT /F1 10 Tf 14 TL 100 500 Td (one) Tj (two) ' 4 1 (a b) \" 1 0 0 rg (Z) Tj ET");
  ASSERT_EQ(r.Texts.size(), 4u);
  EXPECT_EQ(r.JoinedText(), "one|two|a b|Z");
  EXPECT_EQ(r.Texts[1].Reference.x, 100);
  EXPECT_NEAR(r.Texts[1].Reference.y, TopFor(486, 10), 1);
  EXPECT_EQ(r.Texts[2].Reference.x, 100);
  EXPECT_NEAR(r.Texts[2].Reference.y, TopFor(472, 10), 1);
  // "a b": three codes with 1 of character spacing each and 4 of word spacing.
  EXPECT_NEAR(r.Texts[3].Reference.x, 100 + (0.556 + 0.278 + 0.556) * 10 + 3 + 4, 1);
}

TEST(Text, RiseScalingAndMatrix) {
  Recording rise = RenderContent("BT /F1 10 Tf 100 500 Td 5 Ts (x) Tj ET");
  ASSERT_EQ(rise.Texts.size(), 1u);
  EXPECT_NEAR(rise.Texts[0].Reference.y, TopFor(505, 10), 1);

  // Tm scales the text: a 2x matrix doubles the size and the position.
  Recording tm = RenderContent("BT /F1 10 Tf 2 0 0 2 50 100 Tm (x) Tj ET");
  ASSERT_EQ(tm.Texts.size(), 1u);
  EXPECT_EQ(tm.Texts[0].Height, -20);
  EXPECT_EQ(tm.Texts[0].Reference.x, 50);

  // A quarter turn counter-clockwise is recorded as an escapement of 90 degrees.
  Recording turned = RenderContent("BT /F1 10 Tf 0 1 -1 0 300 300 Tm (x) Tj ET");
  ASSERT_EQ(turned.Texts.size(), 1u);
  EXPECT_EQ(turned.Texts[0].Escapement, 900);

  // 50 Tz halves the advances inside the run.
  Recording wide = RenderContent("BT /F1 20 Tf 100 500 Td (WW) Tj ET");
  Recording narrow = RenderContent("BT /F1 20 Tf 50 Tz 100 500 Td (WW) Tj ET");
  ASSERT_EQ(wide.Texts.size(), 1u);
  ASSERT_EQ(narrow.Texts.size(), 1u);
  ASSERT_FALSE(wide.Texts[0].Dx.empty());
  EXPECT_NEAR(narrow.Texts[0].Dx[0] * 2, wide.Texts[0].Dx[0], 1);
}

TEST(Text, FontSelection) {
  // An unknown font keeps the current one (with the new size); text before
  // any Tf is drawn in Arial at 10.
  Recording r = RenderContent("BT 100 600 Td (a) Tj /F2 12 Tf (b) Tj /F9 20 Tf (c) Tj /F1 8 Tf (d) Tj ET");
  ASSERT_EQ(r.Texts.size(), 4u);
  EXPECT_EQ(Utf8(r.Texts[0].Face), "Arial");
  EXPECT_EQ(r.Texts[0].Height, -10);
  EXPECT_EQ(Utf8(r.Texts[1].Face), "Times New Roman");
  EXPECT_EQ(Utf8(r.Texts[2].Face), "Times New Roman");
  EXPECT_EQ(r.Texts[2].Height, -20);
  EXPECT_EQ(Utf8(r.Texts[3].Face), "Arial");
  EXPECT_EQ(r.Texts[3].Height, -8);
}

TEST(Text, ColourOfText) {
  struct Case {
    const char* op;
    uint32_t colorRef;  // 0x00BBGGRR
  } cases[] = {
      {"1 0 0 rg", 0x0000FF}, {"0.5 g", 0x808080}, {"1 0 0 0 k", 0xFFFF00}, {"/DeviceRGB cs 0 0 1 sc", 0xFF0000},
      {"0 1 0 RG", 0x000000},  // the stroke colour does not colour text
  };
  for (const Case& c : cases) {
    Recording r = RenderContent(std::string(c.op) + " BT /F1 10 Tf 100 500 Td (x) Tj ET");
    ASSERT_EQ(r.Texts.size(), 1u) << c.op;
    EXPECT_EQ(r.Texts[0].Color, c.colorRef) << c.op;
  }
}

// Scans with an OCR text layer: every page draws its picture and lays
// invisible text (render mode 3) over it, with resources and a form that the
// pages share. Every page records its text.
TEST(Text, InvisibleTextOfEveryPageIsRecorded) {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [10 0 R 11 0 R 12 0 R] /Count 3 /MediaBox [0 0 612 792] >>");
  b.Object(3, "<< /Font << /F1 5 0 R >> /XObject << /Im0 6 0 R /Fm0 7 0 R >> >>");
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  b.Stream(6, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8",
           std::string("\x10\xF0\xF0\x10", 4));
  b.Stream(7, "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources 3 0 R",
           "BT 3 Tr /F1 10 Tf 72 60 Td (shared footer) Tj ET");
  for (int page = 1; page <= 3; ++page) {
    b.Object(9 + page,
             "<< /Type /Page /Parent 2 0 R /Resources 3 0 R /Contents " + std::to_string(19 + page) + " 0 R >>");
    b.Stream(19 + page, "",
             "q 612 0 0 792 0 0 cm /Im0 Do Q BT 3 Tr /F1 12 Tf 72 700 Td (scanned page " + std::to_string(page) +
                 ") Tj ET /Fm0 Do");
  }
  b.StartXRef(b.XRefTable("/Size 30 /Root 1 0 R"));
  for (int page = 1; page <= 3; ++page) {
    Recording r = RenderPdf(b.Data(), 612, 792, page);
    EXPECT_EQ(r.JoinedText(), "scanned page " + std::to_string(page) + "|shared footer") << page;
  }
}

// An embedded font that every page names is loaded once for the document:
// each page draws with its program, and between pages the program is out of
// the font manager's sight (what is measured after a page is measured with
// the fonts a reader of the output has).
TEST(Text, EmbeddedFontSharedByPagesIsSeenOnlyWhileAPageIsDrawn) {
  std::ifstream in("/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf", std::ios::binary);
  const std::string program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (program.empty()) GTEST_SKIP() << "Liberation Serif is not installed";
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [10 0 R 11 0 R] /Count 2 /MediaBox [0 0 612 792] >>");
  b.Object(3, "<< /Font << /F1 5 0 R >> >>");
  b.Object(5,
           "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+PwSharedSerif /FirstChar 32 /LastChar 126 "
           "/FontDescriptor 6 0 R >>");
  b.Object(6, "<< /Type /FontDescriptor /FontName /ABCDEF+PwSharedSerif /Flags 32 /FontFile2 7 0 R >>");
  b.Stream(7, "/Length1 " + std::to_string(program.size()), program);
  for (int page = 1; page <= 2; ++page) {
    // The second page names the same font under another resource name.
    b.Object(9 + page, "<< /Type /Page /Parent 2 0 R /Resources " +
                           std::string(page == 1 ? "3 0 R" : "<< /Font << /G7 5 0 R >> >>") + " /Contents " +
                           std::to_string(19 + page) + " 0 R >>");
    b.Stream(19 + page, "", std::string("BT /") + (page == 1 ? "F1" : "G7") + " 12 Tf 72 700 Td (Page) Tj ET");
  }
  b.StartXRef(b.XRefTable("/Size 30 /Root 1 0 R"));
  pw::TkxExProPDFDocument doc;
  ASSERT_TRUE(doc.LoadFromMemory(b.Data()));
  pw::TkxFontManager& fm = pw::TkxFontManager::Instance();
  for (int page = 1; page <= 2; ++page) {
    pw::TkxEmfRecorder canvas(612, 792, 72);
    doc.RenderPage(page, canvas);
    EXPECT_FALSE(fm.IsInstalledFamily("PwSharedSerif")) << page;
    Recording r = ReadRecording(canvas.Close());
    ASSERT_EQ(r.Texts.size(), 1u) << page;
    EXPECT_EQ(Utf8(r.Texts[0].Text), "Page");
    EXPECT_EQ(Utf8(r.Texts[0].Face), "PwSharedSerif") << page;
  }
}

// A bullet that a symbolic font draws at the code of "!" is read as U+2022
// through the embedded program's glyph names, and drawn in a family that
// has it (the program itself only answers symbol codes).
TEST(Text, SymbolFontBulletDrawnInAFamilyThatHasIt) {
  std::ifstream in(std::string(PW_SOURCE_DIR) + "/tests/render/data/symbol-names.ttf", std::ios::binary);
  const std::string program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(program.empty());
  TestPage p;
  p.Resources = "/Font << /F1 5 0 R /S1 20 0 R >>";
  p.Objects = {{20,
                "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+PwSymbols /FirstChar 32 /LastChar 126 "
                "/FontDescriptor 21 0 R >>"},
               {21, "<< /Type /FontDescriptor /FontName /ABCDEF+PwSymbols /Flags 4 /FontFile2 22 0 R >>"}};
  p.Streams = {{22, "/Length1 " + std::to_string(program.size()), program}};
  p.Content = "BT /S1 10 Tf 72 700 Td (!) Tj /F1 10 Tf ( Item) Tj ET";
  Recording r = RenderTestPage(p);
  ASSERT_EQ(r.Texts.size(), 2u);
  EXPECT_EQ(Utf8(r.Texts[0].Text), "\u2022");
  EXPECT_EQ(Utf8(r.Texts[0].Face), "Arial");
}

// Vertical writing: codes advance down the column, and a run starts half its
// first glyph's width to the left of the column's centre line. Glyphs that a
// producer lays out sideways with one Tj each still join into one run.
TEST(Text, VerticalFonts) {
  TestPage p;
  p.Resources = "/Font << /F1 5 0 R /V1 20 0 R >>";
  p.Objects = {{20,
                "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-V /DescendantFonts [<< /Type "
                "/Font /Subtype /CIDFontType2 /BaseFont /Foo /CIDSystemInfo << /Registry (Adobe) /Ordering "
                "(Identity) /Supplement 0 >> /W [65 [600 600 600]] >>] >>"}};
  p.Content = "BT /V1 10 Tf 100 500 Td <0041> Tj 6 0 Td <0042> Tj 6 0 Td <0043> Tj ET";
  Recording sideways = RenderTestPage(p);
  ASSERT_EQ(sideways.Texts.size(), 1u);
  EXPECT_EQ(Utf8(sideways.Texts[0].Text), "ABC");
  EXPECT_NEAR(sideways.Texts[0].Reference.x, 97, 1);
  EXPECT_NEAR(sideways.Texts[0].Reference.y, TopFor(500, 10), 1);

  p.Content = "BT /V1 10 Tf 100 500 Td <00410042> Tj 1 0 0 rg <0043> Tj ET";
  Recording column = RenderTestPage(p);
  ASSERT_EQ(column.Texts.size(), 2u);
  EXPECT_NEAR(column.Texts[1].Reference.x, column.Texts[0].Reference.x, 1);
  EXPECT_NEAR(column.Texts[1].Reference.y - column.Texts[0].Reference.y, 20, 1);
}
