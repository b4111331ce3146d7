// The text writer behind the RTF engine: whole documents through the engine.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "platform/kxEmf.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxScreen.h"
#include "rtf/kxRTFEngine.h"
#include "tests/rtf/rtf_engine_support.h"

using namespace pw;

namespace {

TFont MakeFont() {
  TFont f;
  f.SetPixelsPerInch(96);
  f.SetName("Arial");
  f.SetSize(12);
  f.SetColor(clBlack);
  f.SetCharset(ANSI_CHARSET);
  return f;
}

}  // namespace

TEST(RTFText, HelloDocumentThroughTheEngineByteForByte) {
  if (TkxScreen::PPI() != 96) GTEST_SKIP() << "the expected lengths are those of 96 pixels per inch";
  const std::string head =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss\\fcharset0\\fprq2{\\*\\panose "
      "020b0604020202020204} Arial{\\*\\falt Liberation Sans};}}{\\colortbl;\\red0\\green0\\blue0;}"
      "{\\info{\\author }{\\keywords }{\\doccomm }{\\creatim\\yr2009\\mo3\\dy3\\hr14\\min5}}\\viewkind1"
      "\\paperw11905\\paperh16838\\margl0\\margr0\\margt0\\margb0\\headery0\\footery0"
      " \\sectd\\pgwsxn11905\\pghsxn16838\\marglsxn0\\margrsxn0\\margtsxn0\\margbsxn0\\headery0\\footery0"
      "\\sectdefaultcl\\pgbrdrhead\\pgbrdrfoot\r\n{";
  struct Case {
    TkxRTFEncodingType type;
    std::string text;
  };
  const Case cases[] = {
      {etPositionalAccuracy, "{\\pard\\pvpg\\phpg\\posy1440\\posx1440\\absw938\\overlay {\\f0\\cf1\\fs24 Hello}\\par}"},
      {etEaseOfEditing, "{\\pard \\sl-1448\\par}{\\pard \\sl-0\\ri-1440\\tx1455{\\tab\\f0\\cf1\\fs24 Hello}\\par }"},
  };
  for (const Case& c : cases) {
    TkxRTFEngine e;
    std::ostringstream out;
    test::WriteToStream(e, out);
    e.SetClock(test::FixedTime);
    e.SetDocumentEncodingType(c.type);
    e.SetMeasurementUnit(muPixels);
    e.BeginDoc();
    e.Font() = MakeFont();
    e.TextOut(96, 96, u"Hello");
    e.EndDoc();
    EXPECT_EQ(out.str(), head + c.text + "}\\sect}") << c.type;
  }
}

TEST(RTFText, EngineWritesRepeatedTextOnEveryPageAndPageFieldsInTheHeader) {
  TkxRTFEngine e;
  std::ostringstream out;
  test::WriteToStream(e, out);
  e.SetMeasurementUnit(muPixels);
  // Band text outside the band's height is not taken.
  e.Page().SetHeaderHeight(40);
  e.BeginDoc();
  e.Font() = MakeFont();
  e.BeginHeader();
  e.TextOut(10, 10, u"Page <%Pg#%>");
  e.EndHeader();
  e.TextOut(50, 50, u"Same");
  e.NewPage();
  e.TextOut(50, 50, u"Same");
  e.EndDoc();
  const std::string rtf = out.str();
  size_t count = 0;
  for (size_t at = 0; (at = rtf.find(" Same}\\par}", at)) != std::string::npos; ++at) ++count;
  EXPECT_EQ(count, 2u) << rtf;
  EXPECT_NE(rtf.find("{\\header {\\pard\\pvpg\\phpg"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find(" Page {\\field{\\*\\fldinst { PAGE }}}\\par}"), std::string::npos) << rtf;
}

TEST(RTFText, CanvasTextEndsUpInTheFileInBothEncodingTypes) {
  for (TkxRTFEncodingType type : {etPositionalAccuracy, etEaseOfEditing}) {
    TkxRTFEngine e;
    std::ostringstream out;
    test::WriteToStream(e, out);
    e.SetDocumentEncodingType(type);
    e.SetMeasurementUnit(muPixels);
    e.Page().SetLeftMargin(96);
    e.Page().SetTopMargin(48);
    e.BeginDoc();
    TkxEmfRecorder* canvas = e.PageCanvas();
    ASSERT_NE(canvas, nullptr);
    TkxLogFontW f;
    f.lfFaceName = u"Courier New";
    f.lfHeight = -16;
    canvas->UseFont(f);
    canvas->SetTextColor(0x0000FF);  // red
    canvas->ExtTextOutW({10, 20}, 0, {0, 0, -1, -1}, u"Drawn", {}, {10, 20, 60, 36});
    e.EndDoc();
    const std::string rtf = out.str();
    EXPECT_NE(rtf.find("{\\f0\\fmodern\\fcharset0\\fprq1{\\*\\panose 02070309020205020404} Courier New{\\*\\falt "
                       "Liberation Mono};}"),
              std::string::npos)
        << rtf;
    EXPECT_NE(rtf.find("\\red255\\green0\\blue0;"), std::string::npos) << rtf;
    // Colour 1 is the page border's black.
    EXPECT_NE(rtf.find("\\f0\\cf2\\fs24 Drawn"), std::string::npos) << rtf;
    const double twips = 1440.0 / TkxScreen::PPI();
    if (type == etPositionalAccuracy) {
      // Moved by the margins: 106 pixels across.
      const std::string posx = "\\posx" + std::to_string(static_cast<long long>(std::nearbyint(106 * twips)));
      EXPECT_NE(rtf.find(posx), std::string::npos) << rtf;
    } else {
      EXPECT_NE(rtf.find("{\\tab\\f0\\cf2\\fs24 Drawn}\\par }"), std::string::npos) << rtf;
    }
    EXPECT_EQ(rtf.back(), '}');
  }
}

// A table made through the drawing API: rows with their heights, cell
// borders and backgrounds as the cell handler leaves them, each cell's text
// in its own cell, the first row placed where the table starts.
TEST(RTFText, TablesBecomeTableRows) {
  TkxRTFEngine e;
  std::ostringstream out;
  test::WriteToStream(e, out);
  e.SetClock(test::FixedTime);
  e.SetMeasurementUnit(muPixels);
  e.OnCellDraw = [](TkxComponent*, int row, int column, TPen&, TBrush& brush, TFont&, TkxFrame& frame,
                    TkxHAlignment& align) {
    if (row == 1 && column == 0) {
      brush.SetColor(clRed);
      brush.SetStyle(bsSolid);
      frame.DrawLeft = false;
      align = haCenter;
    }
  };
  e.BeginDoc();
  e.Font() = MakeFont();
  e.Brush().SetStyle(bsClear);
  TkxColumnList* columns = e.BeginTable(2, 96, 192);
  ASSERT_NE(columns, nullptr);
  (*columns)[0]->Width = 96;
  (*columns)[1]->Width = 192;
  e.NewTableRow(24.0);
  e.TableCellText(0, u"Name");
  e.TableCellText(1, u"Value {1}");
  e.NewTableRow(24.0);
  e.TableCellText(1, u"second");
  e.EndTable();
  e.EndDoc();
  const std::string rtf = out.str();

  const size_t first = rtf.find("\\trowd"), second = rtf.find("\\trowd", first + 1);
  ASSERT_NE(second, std::string::npos) << rtf;
  const std::string row1 = rtf.substr(first, second - first), row2 = rtf.substr(second);
  EXPECT_NE(row1.find("\\trrh360\\trql\\trkeep\\tphpg\\tposx1440\\tpvpg\\tposy2880"), std::string::npos) << row1;
  EXPECT_NE(row1.find("\\clbrdrl\\brdrs"), std::string::npos) << row1;
  EXPECT_NE(row1.find("\\clshdng0\\clcfpat2\\clcbpat2"), std::string::npos) << row1;
  EXPECT_NE(row1.find("\\cellx1440"), std::string::npos) << row1;
  EXPECT_NE(row1.find("\\cellx4320"), std::string::npos) << row1;
  EXPECT_NE(row1.find("\\pard\\intbl\\pvpg\\phpg\\posx1440\\posy2880"), std::string::npos) << row1;
  EXPECT_NE(row1.find(" Name}\\cell\\pard\\intbl"), std::string::npos) << row1;
  EXPECT_NE(row1.find(" Value \\{1\\}}\\cell} \\pard\\intbl{\\row}"), std::string::npos) << row1;
  // Row two's first cell: red, no left border, centred, empty; placed below row one.
  EXPECT_EQ(row2.find("\\clbrdrl"), row2.find("\\clbrdrl", row2.find("\\cellx1440")));
  EXPECT_NE(row2.find("\\clcbpat3\\clvertalc\\cellx1440"), std::string::npos) << row2;
  EXPECT_NE(row2.find("\\posy3240\\qc"), std::string::npos) << row2;
  EXPECT_NE(row2.find(" second}\\cell"), std::string::npos) << row2;
  EXPECT_NE(rtf.find("{\\row}\\pard}"), std::string::npos);
  int depth = 0;
  for (char c : rtf) depth += c == '{' ? 1 : c == '}' ? -1 : 0;
  EXPECT_EQ(depth, 0);
}
