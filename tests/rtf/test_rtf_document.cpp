#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/kxBitmap.h"
#include "platform/kxScreen.h"
#include "rtf/kxRTFEngine.h"
#include "rtf/kxRTFFontNames.h"
#include "tests/rtf/rtf_engine_support.h"

using namespace pw;

namespace {

std::string Ascii(const std::u16string& s) { return WideToAnsi(s); }

// An RTF engine writing to memory at a fixed time, with small writers that
// mark where item output lands.
class Rtf : public TkxRTFEngine {
 public:
  Rtf() {
    test::WriteToStream(*this, out);
    SetClock(test::FixedTime);
  }
  std::ostringstream out;
  struct Placed {
    int band, width, height;
    double x, y;
  };
  std::vector<Placed> bitmaps;
  bool markText = false;

 protected:
  void WriteText(TkxTextItem& item) override {
    if (markText) Write("[" + Ascii(item.FirstLine()) + "]");
  }
  void WriteBitmapAt(const TkxBitmap& b, double y, double x) override {
    bitmaps.push_back({CurrentBand(), b.Width(), b.Height(), x, y});
  }
};

// Lengths of the page sizes below at 96 pixels per inch.
bool At96() { return TkxScreen::PPI() == 96; }

const char* const kSection =
    " \\sectd\\pgwsxn11905\\pghsxn16838\\marglsxn0\\margrsxn0\\margtsxn0\\margbsxn0\\headery0\\footery0"
    "\\sectdefaultcl\\pgbrdrhead\\pgbrdrfoot\r\n{";

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

}  // namespace

TEST(RTFDocument, FrameOfAPageWithoutItemsByteForByte) {
  if (!At96()) GTEST_SKIP() << "the expected lengths are those of 96 pixels per inch";
  const std::string expected =
      std::string(
          "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deftab720{\\fonttbl}{\\colortbl;\\red0\\green0\\blue0;}"
          "{\\info{\\author }{\\keywords }{\\doccomm }{\\creatim\\yr2009\\mo3\\dy3\\hr14\\min5}}\\viewkind1"
          "\\paperw11905\\paperh16838\\margl0\\margr0\\margt0\\margb0\\headery0\\footery0") +
      kSection + "}\\sect}";
  Rtf e;
  e.BeginDoc();
  e.EndDoc();
  EXPECT_EQ(e.out.str(), expected);

  // The same document as a file: FileName keeps the path without its
  // extension; the engine's extension is added.
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "pw_rtf_document_test";
  std::filesystem::create_directories(dir);
  Rtf f;
  f.Preferences().SetOutputToUserStream(false);
  f.SetFileName((dir / "frame.final.doc").string());
  EXPECT_EQ(f.FileName(), (dir / "frame.final").string());
  f.BeginDoc();
  EXPECT_EQ(std::filesystem::file_size(dir / "frame.final.rtf"), 0u);  // created empty, written at the end
  f.EndDoc();
  std::ifstream in(dir / "frame.final.rtf", std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, expected);
  std::filesystem::remove_all(dir);
}

TEST(RTFDocument, SectionsFollowEachPagesSettings) {
  if (!At96()) GTEST_SKIP() << "the expected lengths are those of 96 pixels per inch";
  Rtf e;
  e.Preferences().SetProcessAfterEachPage(true);
  e.BeginDoc();
  e.Page().SetOrientation(poLandscape);
  e.NewPage();
  e.Page().SetOrientation(poPortrait);
  e.Page().SetPaperSize(TkxPaperSize::Letter);
  e.Page().SetLeftMargin(1);
  e.Page().SetBinNumber(3);
  e.NewPage();
  e.EndDoc();
  const std::string rtf = e.out.str();
  EXPECT_EQ(Occurrences(rtf, " \\sectd"), 3u);
  EXPECT_EQ(Occurrences(rtf, "}\\sect"), 3u);
  // Paper size of page 1 only; every section its own values.
  EXPECT_EQ(Occurrences(rtf, "\\paperw"), 1u);
  EXPECT_NE(rtf.find("\\paperw11905\\paperh16838"), std::string::npos);
  EXPECT_NE(rtf.find(kSection), std::string::npos);
  EXPECT_NE(rtf.find(" \\sectd\\lndscpsxn\\pgwsxn16838\\pghsxn11905\\marglsxn0"), std::string::npos);
  EXPECT_NE(rtf.find(" \\sectd\\pgwsxn12240\\pghsxn15840\\marglsxn1440\\margrsxn0\\margtsxn0\\margbsxn0"
                     "\\binfsxn3\\binsxn3\\headery0"),
            std::string::npos);
  EXPECT_EQ(Occurrences(rtf, "\\lndscpsxn"), 1u);
}

TEST(RTFDocument, PagesLeftOutHaveNoSection) {
  Rtf e;
  e.Preferences().SetProcessAfterEachPage(true);
  e.SetPagesToRender("2");
  e.BeginDoc();
  e.NewPage();
  e.NewPage();
  e.EndDoc();
  EXPECT_EQ(Occurrences(e.out.str(), " \\sectd"), 1u);
}

TEST(RTFDocument, InformationGroup) {
  struct Case {
    const char16_t *title, *subject, *author, *keywords;
    const char* group;
  };
  const Case cases[] = {
      {u"", u"", u"", u"", "{\\info{\\author }{\\keywords }{\\doccomm }"},
      {u"T{1}", u"", u"A\\B", u"k", "{\\info{\\title T\\{1\\}}{\\author A\\\\B}{\\keywords k}{\\doccomm }"},
      {u"", u"\u0416 caf\u00E9", u"", u"", "{\\info{\\subject \\u1046? caf\xE9}{\\author }{\\keywords }"},
  };
  for (const Case& c : cases) {
    Rtf e;
    e.DocInfo().SetTitle(c.title);
    e.DocInfo().SetSubject(c.subject);
    e.DocInfo().SetAuthor(c.author);
    e.DocInfo().SetKeywords(c.keywords);
    e.BeginDoc();
    e.EndDoc();
    EXPECT_NE(e.out.str().find(c.group), std::string::npos) << c.group << "\n" << e.out.str();
  }
}

TEST(RTFDocument, FontAndColourTables) {
  struct FontCase {
    int n;
    const char* name;
    int charset, acp;
    std::string entry;
  };
  const std::string arialFacts = "\\fswiss\\fprq2{\\*\\panose 020b0604020202020204} Arial{\\*\\falt Liberation Sans};}";
  const FontCase fonts[] = {
      {0, "Arial", 1, 1252, "{\\f0" + arialFacts},
      {1, "Arial", 0, 1252, "{\\f1\\fswiss\\fcharset0" + arialFacts.substr(7)},
      {2, "Times New Roman", 204, 1252,
       "{\\f2\\froman\\fcharset204\\fprq2{\\*\\panose 02020603050405020304} Times New Roman{\\*\\falt Liberation "
       "Serif};}"},
      {0, "Arial", 0, 1251, "{\\f0\\fswiss\\fcharset204" + arialFacts.substr(7)},
      {3, "Arial", 1, 1251, "{\\f3\\fswiss\\fcharset204" + arialFacts.substr(7)},
      {0, "MS Gothic", 0, 932, "{\\f0\\fmodern\\fcharset128\\fprq1{\\*\\panose 020b0609070205080204} MS Gothic;}"},
      {0, "Arial", 238, 1200, "{\\f0\\fswiss\\fcharset0" + arialFacts.substr(7)},
      // A kept name gets the family and pitch its name suggests.
      {0, "PiFont", 2, 1252, "{\\f0\\froman\\fcharset2\\fprq2 PiFont;}"},
      {0, "MyDingbats", 2, 1252, "{\\f0\\ftech\\fcharset2\\fprq2 MyDingbats;}"},
  };
  for (const FontCase& c : fonts) EXPECT_EQ(RTFFontTableEntry(c.n, c.name, c.charset, c.acp), c.entry);
  EXPECT_EQ(RTFColorTableEntry(clBlue), "\\red0\\green0\\blue255;");
  EXPECT_EQ(RTFColorTableEntry(RGBColor(1, 2, 3)), "\\red1\\green2\\blue3;");
  EXPECT_EQ(RTFColorTableEntry(clWindowText), "\\red0\\green0\\blue0;");

  Rtf e;
  TFont arial;
  arial.SetName("Arial");
  arial.SetCharset(ANSI_CHARSET);
  TFont cyrillic = arial;
  cyrillic.SetCharset(RUSSIAN_CHARSET);
  TFont lower = arial;
  lower.SetName("arial");
  TFont courier = arial;
  courier.SetName("Courier New");
  EXPECT_EQ(e.FontNumber(arial), 0);
  EXPECT_EQ(e.FontNumber(cyrillic), 1);
  EXPECT_EQ(e.FontNumber(arial), 0);
  // Names are written as readers spell the family, so spellings of one
  // family share an entry.
  EXPECT_EQ(e.FontNumber(lower), 0);
  EXPECT_EQ(e.FontNumber(courier), 2);
  // Colours numbered from 1 in order of first use, as given.
  EXPECT_EQ(e.ColorNumber(clRed), 1);
  EXPECT_EQ(e.ColorNumber(clBlack), 2);
  EXPECT_EQ(e.ColorNumber(clWindowText), 3);
  EXPECT_EQ(e.ColorNumber(clRed), 1);
}

// Fonts are named by a family that Word and LibreOffice draw with the same
// widths; LibreOffice would otherwise draw a face it lacks (embedded ones,
// Office faces like Calibri or Garamond) in a much wider default face.
TEST(RTFDocument, FontNamesAReaderHas) {
  auto installed = [](const std::string& name) -> std::string {
    return name == "DejaVuSans" ? "DejaVu Sans" : std::string();
  };
  struct Case {
    const char* name;
    TFontPitch pitch;
    TFontCharset charset;
    const char* written;
  } cases[] = {
      {"Arial", fpDefault, ANSI_CHARSET, "Arial"},
      {"ArialMT", fpDefault, ANSI_CHARSET, "Arial"},
      {"Helvetica", fpDefault, ANSI_CHARSET, "Arial"},
      {"TimesNewRomanPSMT", fpDefault, ANSI_CHARSET, "Times New Roman"},
      {"Calibri", fpDefault, ANSI_CHARSET, "Arial"},
      {"Garamond", fpDefault, ANSI_CHARSET, "Times New Roman"},
      {"PalatinoLinotype-Roman", fpDefault, ANSI_CHARSET, "Times New Roman"},
      {"LiberationSerif-Bold", fpDefault, ANSI_CHARSET, "Times New Roman"},
      {"ArialNarrow", fpDefault, ANSI_CHARSET, "Arial Narrow"},
      {"HelveticaNeue-Condensed", fpDefault, ANSI_CHARSET, "Arial Narrow"},
      {"MS-Mincho", fpDefault, SHIFTJIS_CHARSET, "MS Mincho"},
      {"DejaVuSans", fpDefault, ANSI_CHARSET, "DejaVu Sans"},
      {"CMR10", fpDefault, ANSI_CHARSET, "Times New Roman"},
      {"SFRM1095", fpDefault, ANSI_CHARSET, "Times New Roman"},
      {"CMSS10", fpDefault, ANSI_CHARSET, "Arial"},
      {"SFSX1440", fpDefault, ANSI_CHARSET, "Arial"},
      {"CMTT10", fpDefault, ANSI_CHARSET, "Courier New"},
      {"LMRoman10", fpDefault, ANSI_CHARSET, "Times New Roman"},
      {"NimbusSanL", fpDefault, ANSI_CHARSET, "Arial"},
      {"Roboto", fpDefault, ANSI_CHARSET, "Arial"},
      {"SomeFace", fpFixed, ANSI_CHARSET, "Courier New"},
      {"SomeFace", fpDefault, ANSI_CHARSET, "Times New Roman"},
      {"MyDingbats", fpDefault, ANSI_CHARSET, "MyDingbats"},
      {"PiFont", fpDefault, SYMBOL_CHARSET, "PiFont"},
      {"", fpDefault, ANSI_CHARSET, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PortableFontName(c.name, c.pitch, c.charset, installed), c.written) << c.name;
}

TEST(RTFDocument, PageBorderIsASectionProperty) {
  Rtf e;
  e.PageBorder().DrawLeft = true;
  e.PageBorder().DrawBottom = true;
  e.PageBorder().Style = psDash;
  e.PageBorder().Width = 2;
  e.PageBorder().Color = clRed;
  e.BeginDoc();
  e.EndDoc();
  const std::string rtf = e.out.str();
  const std::string w = std::to_string(e.Twips(2));
  const std::string border = "\\brdrdash\\brdrw" + w + "\\brdrcf1";
  EXPECT_NE(rtf.find("\\pgbrdrhead\\pgbrdrfoot\\pgbrdrl" + border + "\\pgbrdrb" + border + "\r\n{"), std::string::npos)
      << rtf;
  EXPECT_NE(rtf.find("{\\colortbl;\\red255\\green0\\blue0;}"), std::string::npos);
  EXPECT_TRUE(e.bitmaps.empty());  // no lines are drawn for it
}

TEST(RTFDocument, BandsGoToHeaderFooterAndBody) {
  Rtf e;
  e.markText = true;
  e.SetMeasurementUnit(muPixels);
  e.SetReferencePoint(rpPage);
  e.Preferences().SetProcessAfterEachPage(true);
  e.BeginDoc();
  const struct {
    void (TkxRTFEngine::*begin)();
    void (TkxRTFEngine::*end)();
    const char16_t* text;
  } bands[] = {{&TkxRTFEngine::BeginHeader, &TkxRTFEngine::EndHeader, u"H"},
               {&TkxRTFEngine::BeginFooter, &TkxRTFEngine::EndFooter, u"F"},
               {&TkxRTFEngine::BeginUnderlay, &TkxRTFEngine::EndUnderlay, u"U"},
               {&TkxRTFEngine::BeginOverlay, &TkxRTFEngine::EndOverlay, u"O"}};
  for (const auto& b : bands) {
    (e.*b.begin)();
    e.TextOut(5, 5, b.text);
    (e.*b.end)();
  }
  e.TextOut(5, 5, u"B1");
  e.NewPage();
  e.TextOut(5, 5, u"B2");
  e.EndDoc();
  const std::string rtf = e.out.str();
  // Header, footer and underlay with page 1 only (RTF repeats the groups);
  // the overlay with every page's body.
  EXPECT_NE(rtf.find("\r\n{[B1][O]{\\header [H][U]}{\\footer [F]}}\\sect"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\r\n{[B2][O]}\\sect}"), std::string::npos) << rtf;
}

TEST(RTFDocument, BackgroundPictureGoesToTheHeaderGroup) {
  struct Case {
    TkxBackgroundDisplayType type;
    double x, y;
  };
  const Case cases[] = {{dtTopLeft, 0, 0},     {dtTopCenter, 40, 0},     {dtTopRight, 80, 0},
                        {dtCenterLeft, 0, 35}, {dtCenter, 40, 35},       {dtCenterRight, 80, 35},
                        {dtBottomLeft, 0, 70}, {dtBottomCenter, 40, 70}, {dtBottomRight, 80, 70}};
  for (const Case& c : cases) {
    const TkxDoublePoint p = BackgroundImagePosition(c.type, 100, 80, 20, 10);
    EXPECT_EQ(p.X, c.x) << c.type;
    EXPECT_EQ(p.Y, c.y) << c.type;
  }

  Rtf e;
  std::vector<std::string> messages;
  e.OnMessageBox = [&](TkxComponent*, const std::string& m) { messages.push_back(m); };
  e.SetBackgroundImageDisplayType(dtBottomRight);
  e.SetBackgroundImageDisplayType(dtTile);
  EXPECT_EQ(e.BackgroundImageDisplayType(), dtBottomRight);
  EXPECT_EQ(messages, std::vector<std::string>{"The RTF Engine does not support Tile display type"});
  e.SetBackgroundImage(TGraphic(TkxBitmap(20, 10)));
  e.BeginDoc();
  ASSERT_EQ(e.bitmaps.size(), 1u);
  const double pageW = e.Page().Width() * e.UnitFactor(), pageH = e.Page().Height() * e.UnitFactor();
  EXPECT_EQ(e.bitmaps[0].band, bnHeader);
  EXPECT_EQ(e.bitmaps[0].width, 20);
  EXPECT_EQ(e.bitmaps[0].height, 10);
  EXPECT_DOUBLE_EQ(e.bitmaps[0].x, pageW - 20);
  EXPECT_DOUBLE_EQ(e.bitmaps[0].y, pageH - 10);
  EXPECT_EQ(e.CurrentBand(), bnBody);
  e.EndDoc();
}

TEST(RTFDocument, PictureFormatsAndEncodingType) {
  struct Case {
    TkxOutputImageFormat format;
    bool accepted;
  };
  const Case cases[] = {{ifBMP, true},      {ifJPEG, true},    {ifGIF, false},   {ifPNG, true},
                        {ifMetafile, true}, {ifCCITT3, false}, {ifCCITT4, false}};
  for (const Case& c : cases) {
    Rtf e;
    std::vector<std::string> messages;
    e.OnMessageBox = [&](TkxComponent*, const std::string& m) { messages.push_back(m); };
    EXPECT_EQ(e.ImageSettings().OutputImageFormat(), ifJPEG);
    e.ImageSettings().SetOutputImageFormat(ifBMP);
    e.ImageSettings().SetOutputImageFormat(c.format);
    EXPECT_EQ(e.ImageSettings().OutputImageFormat(), c.accepted ? c.format : ifBMP) << c.format;
    EXPECT_EQ(messages.size(), c.accepted ? 0u : 1u);
    if (!c.accepted) {
      EXPECT_EQ(messages[0], "The RTF Engine does not support this format");
    }
  }
  Rtf e;
  EXPECT_EQ(e.FileExtension(), "rtf");
  EXPECT_EQ(e.FileDescription(), "Rich Text Format");
  EXPECT_EQ(e.OutputCapabilities(), 63);
  for (TkxRTFEncodingType type : {etPositionalAccuracy, etEaseOfEditing}) {
    e.SetDocumentEncodingType(type);
    e.BeginDoc();
    EXPECT_EQ(e.LineMode(), type == etEaseOfEditing);
    e.EndDoc();
  }
}

TEST(RTFDocument, WriteFailureIsReportedAndClosesTheDocument) {
  Rtf e;
  e.out.setstate(std::ios::badbit);
  e.BeginDoc();
  EXPECT_THROW(e.EndDoc(), EFileWriteError);
  EXPECT_FALSE(e.DocumentOpen());
  e.out.clear();
  e.BeginDoc();  // the engine is usable again
  e.EndDoc();
  EXPECT_EQ(e.EngineStatus(), esEnded);
  EXPECT_EQ(e.out.str().substr(0, 6), "{\\rtf1");
}
