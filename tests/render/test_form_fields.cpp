// Form fields and annotation appearances drawn after the page content:
// appearance streams fitted onto their rectangles and state selection, the
// direct drawing of values (alignment, inheritance, multi-line, choices,
// check marks), hidden widgets, and hostile field trees.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "pdf/kxPDFDoc.h"
#include "pdf/kxPDFObjects.h"
#include "platform/kxFontManager.h"
#include "render/kxFormFields.h"
#include "render/kxPageRenderer.h"
#include "render/render_support.h"

using namespace pwtest;

namespace {

struct FormPage {
  std::string Content;              // page content
  std::vector<std::string> Annots;  // references ("20 0 R")
  std::string AcroForm = "<< /Fields [] /DR << /Font << /Helv 5 0 R /ZaDb 7 0 R >> >> >>";
  std::vector<std::pair<int, std::string>> Objects;  // numbers from 20 up
  std::vector<TestPage::Stream> Streams;
};

Recording RenderForm(const FormPage& p) {
  TestPage page;
  page.Content = p.Content;
  page.Resources = "/Font << /F1 5 0 R >>";
  page.CatalogExtra = p.AcroForm.empty() ? "" : "/AcroForm " + p.AcroForm;
  page.PageExtra = "/Annots [";
  for (const std::string& a : p.Annots) page.PageExtra += a + " ";
  page.PageExtra += "]";
  page.Objects = p.Objects;
  page.Objects.emplace_back(7, "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>");
  page.Streams = p.Streams;
  return RenderTestPage(page);
}

// A one-widget page: the widget is object 20.
Recording RenderWidget(const std::string& widget, std::vector<TestPage::Stream> streams = {},
                       std::vector<std::pair<int, std::string>> objects = {}) {
  FormPage p;
  p.Annots = {"20 0 R"};
  p.Objects = std::move(objects);
  p.Objects.emplace_back(20, widget);
  p.Streams = std::move(streams);
  return RenderForm(p);
}

const RecordedText* FindText(const Recording& r, const std::string& text) {
  for (const RecordedText& t : r.Texts)
    if (Utf8(t.Text) == text) return &t;
  return nullptr;
}

double WidthOf(const char* family, double size, const std::u16string& text) {
  return pw::TkxFontManager::Instance().TextWidth(family, pw::fsRegular, size, text);
}

}  // namespace

TEST(FormFields, KindsFontNamesAndColours) {
  EXPECT_EQ(pw::FieldKind("/Btn", 0x10000), pw::fkPushButton);
  EXPECT_EQ(pw::FieldKind("/Btn", 0x8000), pw::fkRadioButton);
  EXPECT_EQ(pw::FieldKind("/Btn", 0), pw::fkCheckBox);
  EXPECT_EQ(pw::FieldKind("/Btn", -1), pw::fkCheckBox);
  EXPECT_EQ(pw::FieldKind("Tx", 4096), pw::fkText);
  EXPECT_EQ(pw::FieldKind("/Ch", 0), pw::fkOther);
  EXPECT_EQ(pw::FieldKind("/Sig", 0), pw::fkSignature);
  EXPECT_EQ(pw::FieldKind("", 0), pw::fkOther);

  const std::pair<const char*, const char*> names[] = {
      {"Times-Roman", "Times New Roman"},
      {"TimesNewRomanPSMT", "Times New Roman"},
      {"Helvetica", "Arial"},
      {"Courier", "Courier New"},
      {"SymbolPSMT", "Symbol"},
      {"Times-Bold", "Times New Roman"},
      {"ABCDEF+CourierNewPSMT", "Courier New"},
      {"Helvetica-BoldOblique", "Arial"},
      {"NoSuchFontAnywhere", "Arial"},
  };
  for (const auto& [name, family] : names) EXPECT_EQ(pw::MapFieldFontName(name), family) << name;

  pw::TkxPDFDocument doc;
  auto colour = [&doc](std::vector<double> comps, uint32_t& argb) {
    pw::TkxPDFArrayObject a;
    for (double c : comps) {
      auto r = std::make_unique<pw::TkxPDFRealObject>(c);
      a.Add(std::move(r));
    }
    return pw::ColorFromArray(doc, &a, argb);
  };
  uint32_t argb = 0;
  EXPECT_TRUE(colour({1, 0, 0}, argb));
  EXPECT_EQ(argb, 0xFFFF0000u);
  EXPECT_TRUE(colour({0.5}, argb));
  EXPECT_EQ(argb, 0xFF808080u);
  EXPECT_TRUE(colour({0, 0, 0, 1}, argb));  // CMYK black
  EXPECT_EQ(argb, 0xFF000000u);
  EXPECT_TRUE(colour({0, 1}, argb));  // not a colour: black
  EXPECT_EQ(argb, 0xFF000000u);
  EXPECT_FALSE(colour({}, argb));  // transparent
}

TEST(FormFields, TextFieldWithoutAppearanceDrawsItsValueAligned) {
  // Rect 100..300 x 700..720; Helvetica is drawn with Arial.
  const double width = WidthOf("Arial", 12, u"Hello");
  struct Case {
    int q;
    double left;
  } cases[] = {{0, 102}, {1, 100 + (200 - width) / 2}, {2, 300 - 2 - width}};
  for (const Case& c : cases) {
    Recording r = RenderWidget("<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [100 700 300 720] /V (Hello) /Q " +
                               std::to_string(c.q) + " /DA (/Helv 12 Tf 0 g) >>");
    const RecordedText* t = FindText(r, "Hello");
    ASSERT_NE(t, nullptr) << c.q;
    EXPECT_EQ(Utf8(t->Face), "Arial");
    EXPECT_EQ(t->Height, -12);
    EXPECT_NEAR(t->Reference.x, c.left, 1.5) << c.q;
    // Within the rectangle (y from 72 to 92 on the canvas).
    EXPECT_GE(t->Reference.y, 72);
    EXPECT_LE(t->Reference.y + 12, 93);
  }
  // Colour, font and size from the default appearance; a UTF-16 value.
  Recording r = RenderWidget(
      "<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [100 700 300 720] /V <FEFF004800E9> "
      "/DA (1 0 0 rg /TiRo 10 Tf) >>");
  const RecordedText* t = FindText(r, "H\xC3\xA9");
  ASSERT_NE(t, nullptr) << r.JoinedText();
  EXPECT_EQ(Utf8(t->Face), "Times New Roman");
  EXPECT_EQ(t->Height, -10);
  EXPECT_EQ(t->Color, 0x0000FFu);  // COLORREF of red
}

TEST(FormFields, WidgetTakesItsFieldsEntriesFromItsParents) {
  FormPage p;
  p.Annots = {"20 0 R"};
  p.Objects = {
      {20, "<< /Type /Annot /Subtype /Widget /Parent 21 0 R /Rect [100 700 300 720] >>"},
      {21, "<< /T (child) /Parent 22 0 R /V (From the parent) >>"},
      {22, "<< /T (root) /FT /Tx /DA (/Helv 9 Tf 0 g) /Q 1 >>"},
  };
  Recording r = RenderForm(p);
  const RecordedText* t = FindText(r, "From the parent");
  ASSERT_NE(t, nullptr) << r.JoinedText();
  EXPECT_EQ(t->Height, -9);
}

TEST(FormFields, AppearanceIsFittedOntoTheRectangle) {
  // The appearance's box 0 0 100 20 goes onto the rectangle 200 600 300 620;
  // a /Matrix turning it a quarter makes its box 20 x 100, squeezed to fit.
  const std::string ap = "BT /F1 10 Tf 2 5 Td (Field) Tj ET";
  Recording r = RenderWidget(
      "<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [200 600 300 620] /V (ignored) /AP << /N 30 0 R >> >>",
      {{30, "/Type /XObject /Subtype /Form /BBox [0 0 100 20] /Resources << /Font << /F1 5 0 R >> >>", ap}});
  const RecordedText* t = FindText(r, "Field");
  ASSERT_NE(t, nullptr) << r.JoinedText();
  EXPECT_EQ(FindText(r, "ignored"), nullptr);
  EXPECT_EQ(t->Reference.x, 202);
  EXPECT_NEAR(t->Reference.y, 792 - 605 - 10 * 0.905, 1.5);

  Recording turned =
      RenderWidget("<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [200 600 220 700] /AP << /N 30 0 R >> >>",
                   {{30,
                     "/Type /XObject /Subtype /Form /BBox [0 0 100 20] /Matrix [0 1 -1 0 0 0] /Resources << /Font << "
                     "/F1 5 0 R >> >>",
                     ap}});
  const RecordedText* u = FindText(turned, "Field");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->Escapement, 900);  // running upwards

  // An appearance without resources finds its font among the form's.
  FormPage p;
  p.AcroForm = "<< /Fields [20 0 R] /DR << /Font << /TiRo 6 0 R >> >> >>";
  p.Annots = {"20 0 R"};
  p.Objects = {{20, "<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [200 600 300 620] /AP << /N 30 0 R >> >>"}};
  p.Streams = {{30, "/Type /XObject /Subtype /Form /BBox [0 0 100 20]", "BT /TiRo 10 Tf 2 5 Td (Serif) Tj ET"}};
  Recording serif = RenderForm(p);
  ASSERT_EQ(serif.Texts.size(), 1u);
  EXPECT_EQ(Utf8(serif.Texts[0].Face), "Times New Roman");
}

TEST(FormFields, ButtonStateChoosesTheAppearance) {
  const std::vector<TestPage::Stream> states = {
      {30, "/Type /XObject /Subtype /Form /BBox [0 0 20 20] /Resources << /Font << /F1 5 0 R >> >>",
       "BT /F1 8 Tf 2 5 Td (ON) Tj ET"},
      {31, "/Type /XObject /Subtype /Form /BBox [0 0 20 20] /Resources << /Font << /F1 5 0 R >> >>",
       "BT /F1 8 Tf 2 5 Td (OFF) Tj ET"},
  };
  struct Case {
    std::string entries;
    const char* shown;
  } cases[] = {
      {"/AS /Yes", "ON"},
      {"/AS /Off", "OFF"},
      {"/V /Yes", "ON"},   // no /AS: the value names the state
      {"/AS /Maybe", ""},  // a state without an appearance shows nothing
  };
  for (const Case& c : cases) {
    Recording r = RenderWidget("<< /Type /Annot /Subtype /Widget /FT /Btn /Rect [100 100 120 120] " + c.entries +
                                   " /AP << /N << /Yes 30 0 R /Off 31 0 R >> >> >>",
                               states);
    EXPECT_EQ(r.JoinedText(), c.shown) << c.entries;
  }
}

TEST(FormFields, CheckBoxesAndRadioButtonsWithoutAppearance) {
  const std::string check = "\xE2\x9C\x94";  // ZapfDingbats "4"
  struct Case {
    std::string entries;
    std::string shown;
  } cases[] = {
      {"/FT /Btn /V /Yes /MK << /CA (4) >>", check},
      {"/FT /Btn /V /On", check},  // any on state, the default caption
      {"/FT /Btn /V /Off /MK << /CA (4) >>", ""},
      {"/FT /Btn /AS /Off /V /Yes", ""},                    // the widget's own state decides
      {"/FT /Btn /Ff 32768 /V /A /AS /A", "\xE2\x97\x8F"},  // radio: ZapfDingbats "l"
      {"/FT /Btn /Ff 32768 /V /A", ""},                     // a radio button without a state
  };
  for (const Case& c : cases) {
    Recording r = RenderWidget("<< /Type /Annot /Subtype /Widget /Rect [100 100 120 120] /DA (/ZaDb 0 Tf 0 g) " +
                               c.entries + " >>");
    EXPECT_EQ(r.JoinedText(), c.shown) << c.entries;
  }
  // Background and border of the appearance characteristics.
  Recording r = RenderWidget(
      "<< /Type /Annot /Subtype /Widget /Rect [100 100 120 120] /FT /Btn /V /Off "
      "/MK << /BG [0 0 1] /BC [1 0 0] >> >>");
  EXPECT_EQ(r.Filled(), 1u);
  EXPECT_EQ(r.Stroked(), 1u);
  ASSERT_FALSE(r.BrushColors.empty());
  EXPECT_EQ(r.BrushColors.back(), 0xFF0000u);  // COLORREF of blue
  Recording clear =
      RenderWidget("<< /Type /Annot /Subtype /Widget /Rect [100 100 120 120] /FT /Btn /V /Off /MK << /BG [] >> >>");
  EXPECT_EQ(clear.Filled(), 0u);
}

TEST(FormFields, MultilineCombAndPasswordFields) {
  // Lines at breaks and wrapped at the width, top down.
  Recording r = RenderWidget(
      "<< /Type /Annot /Subtype /Widget /FT /Tx /Ff 4096 /Rect [100 500 200 700] /DA (/Helv 10 Tf 0 g) "
      "/V (First line\\rand a second line that is too long for the box) >>");
  ASSERT_GE(r.Texts.size(), 3u) << r.JoinedText();
  EXPECT_EQ(Utf8(r.Texts[0].Text), "First line");
  std::string rest;
  for (size_t i = 1; i < r.Texts.size(); ++i) {
    EXPECT_GT(r.Texts[i].Reference.y, r.Texts[i - 1].Reference.y);
    EXPECT_LE(WidthOf("Arial", 10, r.Texts[i].Text), 96.5);
    if (i > 1) rest += ' ';
    rest += Utf8(r.Texts[i].Text);
  }
  EXPECT_EQ(rest, "and a second line that is too long for the box");

  // Lines that do not fit the box are not drawn.
  Recording cut = RenderWidget(
      "<< /Type /Annot /Subtype /Widget /FT /Tx /Ff 4096 /Rect [100 500 200 530] /DA (/Helv 10 Tf 0 g) "
      "/V (one\\rtwo\\rthree\\rfour\\rfive\\rsix) >>");
  EXPECT_LT(cut.Texts.size(), 4u);

  Recording password = RenderWidget(
      "<< /Type /Annot /Subtype /Widget /FT /Tx /Ff 8192 /Rect [100 500 200 520] /DA (/Helv 10 Tf 0 g) /V (secret) >>");
  EXPECT_EQ(password.JoinedText(), "******");

  Recording comb = RenderWidget(
      "<< /Type /Annot /Subtype /Widget /FT /Tx /Ff 16777216 /MaxLen 4 /Rect [100 500 200 520] "
      "/DA (/Helv 10 Tf 0 g) /V (1234) >>");
  EXPECT_EQ(comb.JoinedText(), "1234");
}

TEST(FormFields, ChoiceFieldsShowTheirDisplayTexts) {
  const std::string opt = "/Opt [[(e1) (Display one)] [(e2) (Display two)] (Plain)]";
  Recording combo = RenderWidget("<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 131072 " + opt +
                                 " /V (e2) /Rect [100 500 300 520] /DA (/Helv 10 Tf 0 g) >>");
  EXPECT_EQ(combo.JoinedText(), "Display two");
  Recording byIndex = RenderWidget("<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 131072 " + opt +
                                   " /I [2] /Rect [100 500 300 520] /DA (/Helv 10 Tf 0 g) >>");
  EXPECT_EQ(byIndex.JoinedText(), "Plain");
  // A list box shows its options from the top index, the chosen one highlighted.
  Recording list = RenderWidget("<< /Type /Annot /Subtype /Widget /FT /Ch " + opt +
                                " /V (e2) /TI 1 /Rect [100 400 300 520] /DA (/Helv 10 Tf 0 g) >>");
  EXPECT_EQ(list.JoinedText(), "Display two|Plain");
  EXPECT_EQ(list.Filled(), 1u);
}

TEST(FormFields, FormsAskingForNewAppearancesGetTheirValuesDrawn) {
  // An empty stored appearance, as word processors write with NeedAppearances.
  FormPage p;
  p.AcroForm = "<< /Fields [20 0 R] /NeedAppearances true /DR << /Font << /Helv 5 0 R >> >> >>";
  p.Annots = {"20 0 R"};
  p.Objects = {{20,
                "<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [100 700 300 720] /V (Alice) "
                "/DA (/Helv 11 Tf 0 g) /AP << /N 30 0 R >> >>"}};
  p.Streams = {{30, "/Type /XObject /Subtype /Form /BBox [0 0 200 20]", "/Tx BMC EMC"}};
  EXPECT_EQ(RenderForm(p).JoinedText(), "Alice");
  // Without the request the stored appearance is what a viewer shows.
  p.AcroForm = "<< /Fields [20 0 R] >>";
  EXPECT_EQ(RenderForm(p).JoinedText(), "");
}

TEST(FormFields, HiddenWidgetsAndOtherAnnotations) {
  const std::vector<TestPage::Stream> ap = {
      {30, "/Type /XObject /Subtype /Form /BBox [0 0 100 20] /Resources << /Font << /F1 5 0 R >> >>",
       "BT /F1 8 Tf 2 5 Td (Shown) Tj ET"}};
  struct Case {
    std::string annot;
    bool shown;
  } cases[] = {
      {"/Subtype /Widget /F 4", true},   {"/Subtype /Widget /F 2", false},  // hidden
      {"/Subtype /Widget /F 32", false},                                    // not shown on screen
      {"/Subtype /FreeText", true},                                         // typewriter text
      {"/Subtype /Stamp", true},         {"/Subtype /Text", false},         // a note's icon
      {"/Subtype /Link", false},         {"/Subtype /FreeText /F 2", false},
  };
  for (const Case& c : cases) {
    Recording r = RenderWidget("<< /Type /Annot " + c.annot + " /Rect [100 700 200 720] /AP << /N 30 0 R >> >>", ap);
    EXPECT_EQ(r.JoinedText() == "Shown", c.shown) << c.annot;
  }
  // Lines an appearance scrolls out of its rectangle are not drawn.
  Recording scrolled =
      RenderWidget("<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [100 700 200 720] /AP << /N 30 0 R >> >>",
                   {{30, "/Type /XObject /Subtype /Form /BBox [0 0 100 20] /Resources << /Font << /F1 5 0 R >> >>",
                     "BT /F1 8 Tf 2 5 Td (Visible) Tj 0 -40 Td (Scrolled) Tj 0 -400 Td (Far) Tj ET"}});
  EXPECT_EQ(scrolled.JoinedText(), "Visible");
}

TEST(FormFields, HostileFieldTreesEndCleanly) {
  FormPage p;
  p.Annots = {"20 0 R", "21 0 R", "22 0 R", "23 0 R", "24 0 R", "25 0 R", "26 0 R"};
  p.Objects = {
      // Parents in a cycle.
      {20, "<< /Type /Annot /Subtype /Widget /Parent 27 0 R /Rect [10 10 100 30] /DA (/Helv 8 Tf) >>"},
      {27, "<< /Parent 28 0 R >>"},
      {28, "<< /Parent 27 0 R /FT /Tx /V (cyclic) >>"},
      // Kids in a cycle (a field listed among the annotations).
      {21, "<< /Type /Annot /Subtype /Widget /Kids [29 0 R] >>"},
      {29, "<< /Type /Annot /Subtype /Widget /Kids [21 0 R 29 0 R] /FT /Tx /V (kid) /Rect [10 40 100 60] >>"},
      // No rectangle, a rectangle of garbage, one beyond any page.
      {22, "<< /Type /Annot /Subtype /Widget /FT /Tx /V (norect) >>"},
      {23, "<< /Type /Annot /Subtype /Widget /FT /Tx /V (bad) /Rect [(a) 1 2 3] >>"},
      {24, "<< /Type /Annot /Subtype /Widget /FT /Tx /V (huge) /Rect [0 0 1e300 1e300] >>"},
      // An appearance that draws itself, and one with a bad filter.
      {25, "<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [10 70 100 90] /AP << /N 30 0 R >> >>"},
      {26, "<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [10 100 100 120] /AP << /N 31 0 R >> >>"},
  };
  p.Streams = {
      {30, "/Type /XObject /Subtype /Form /BBox [0 0 90 20] /Resources << /XObject << /Me 30 0 R >> >>",
       "/Me Do /Me Do"},
      {31, "/Type /XObject /Subtype /Form /BBox [0 0 90 20] /Filter /FlateDecode", "not deflated"},
  };
  Recording r = RenderForm(p);
  EXPECT_EQ(r.JoinedText(), "cyclic|kid");
}

TEST(FormFields, CorpusFormsShowTheirValues) {
  const std::filesystem::path corpus = std::filesystem::path(PW_SOURCE_DIR) / "../shared/corpus";
  struct Case {
    const char* file;
    std::vector<std::string> words;
  } cases[] = {
      {"writer-form.pdf", {"Alice", "Bob"}},
      {"pdfbox/pdfbox-acroform.pdf", {"Heinz Mustermann", "Venus"}},
      {"pdfbox/pdfbox-AlignmentTests.pdf", {"AlignLeft"}},
  };
  for (const Case& c : cases) {
    const std::filesystem::path file = corpus / c.file;
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "corpus not present";
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Recording r = RenderPdf(bytes);
    const std::string all = r.JoinedText(" ");
    for (const std::string& w : c.words) EXPECT_NE(all.find(w), std::string::npos) << c.file << ": " << w;
  }
}
