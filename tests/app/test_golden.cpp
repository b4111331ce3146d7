// Whole conversions of small documents compared byte for byte with RTF files
// checked in under tests/app/golden/, in both layouts, so that any change to
// where lines, cells, frames and shapes go shows up as a diff.
//
// The clock is fixed and the screen is 96 PPI, so the output depends only on
// the code and the installed fonts (scripts/install-deps.sh). After a change
// that is meant to move things, regenerate the expected files and review the
// diff before committing it:
//
//   PW_UPDATE_GOLDEN=1 build/tests/app_test_golden
//
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "app/pwConversionDriver.h"
#include "app/pwDocumentAdapter.h"
#include "app/pwEngineAdapter.h"
#include "pdf/pdf_builder.h"

using namespace pw;
namespace fs = std::filesystem;

namespace {

const fs::path kGoldenDir = fs::path(PW_SOURCE_DIR) / "tests" / "app" / "golden";

struct QuietView : TpwDriverView {
  std::string messages;
  void ShowMessage(TpwMessageKind, const std::string& text, const std::string&) override { messages += text + "\n"; }
  bool Confirm(const std::string&, const std::string&) override { return false; }
  bool AskPassword(const std::string&, std::string&) override { return false; }
  bool AskSaveName(const std::string&, std::string&) override { return false; }
  void ShowDone(bool, const std::string&, const std::string&) override {}
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Standard fonts given by name only: the reader's faces stand in for them.
const char* kFonts = "/Font << /F1 20 0 R /F2 21 0 R /F3 22 0 R /F4 23 0 R >>";

void AddFonts(pwtest::PdfBuilder& b) {
  b.Object(20, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  b.Object(21, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>");
  b.Object(22, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>");
  b.Object(23, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
}

std::string OnePage(const std::string& mediaBox, const std::string& content) {
  pwtest::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2,
           "<< /Type /Pages /Kids [10 0 R] /Count 1 /MediaBox [" + mediaBox + "] /Resources << " + kFonts + " >> >>");
  b.Object(10, "<< /Type /Page /Parent 2 0 R /Contents 100 0 R >>");
  b.Stream(100, "", content);
  AddFonts(b);
  b.StartXRef(b.XRefTable("/Size 101 /Root 1 0 R"));
  return b.bytes;
}

// A letter: heading, a justified paragraph, a bold word inside a line, a
// subscript, a two-column table with right-aligned figures and a page number.
std::string Letter() {
  return OnePage(
      "0 0 612 792",
      "BT /F2 18 Tf 72 720 Td (Quarterly report) Tj ET\n"
      "BT /F3 11 Tf 72 690 Td (The figures below were taken from the ledger on the last) Tj ET\n"
      "BT /F3 11 Tf 72 677 Td (working day of the quarter and checked by two clerks.) Tj ET\n"
      "BT /F3 11 Tf 72 664 Td (Water use, in m) Tj /F3 7 Tf 4 Ts (3) Tj /F3 11 Tf 0 Ts ( per day, rose by) Tj "
      "/F2 11 Tf ( twelve ) Tj /F3 11 Tf (percent; CO) Tj /F3 7 Tf -2 Ts (2) Tj /F3 11 Tf 0 Ts ( fell.) Tj ET\n"
      "BT /F1 10 Tf 72 630 Td (Item) Tj 300 0 Td (Units) Tj 120 0 Td (Cost) Tj ET\n"
      "BT /F1 10 Tf 72 616 Td (Paper, white) Tj ET BT /F1 10 Tf 383 616 Td (1200) Tj ET "
      "BT /F1 10 Tf 500 616 Td (96.00) Tj ET\n"
      "BT /F1 10 Tf 72 602 Td (Toner cartridges for the second floor printers) Tj ET "
      "BT /F1 10 Tf 394 602 Td (14) Tj ET BT /F1 10 Tf 494 602 Td (812.50) Tj ET\n"
      "BT /F4 9 Tf 72 560 Td (ref: QR-2009/03 {draft}) Tj ET\n"
      "BT /F1 9 Tf 300 40 Td (2) Tj ET\n");
}

// Two columns of different pitch on a landscape page, a turned caption, a
// rule and a filled box (extended conversion draws the last two).
std::string Columns() {
  std::string s = "BT /F3 12 Tf 14 TL 50 540 Td";
  for (int i = 0; i < 6; ++i) s += " (Left column line " + std::to_string(i + 1) + " of the text) '";
  s += " ET\nBT /F1 9 Tf 11 TL 430 540 Td";
  for (int i = 0; i < 8; ++i) s += " (Right column, smaller line " + std::to_string(i + 1) + ") '";
  s += " ET\n";
  s += "BT /F1 10 Tf 0 1 -1 0 780 200 Tm (Turned caption) Tj ET\n";
  s += "0.5 w 50 440 m 740 440 l S\n";
  s += "0.8 0.9 1 rg 50 300 200 80 re f\n";
  s += "BT /F2 14 Tf 60 340 Td (Inside the box) Tj ET\n";
  return OnePage("0 0 792 612", s);
}

struct Case {
  const char* name;
  std::string (*make)();
  bool extended;
};

const Case kCases[] = {
    {"letter", Letter, false},
    {"columns", Columns, true},
};

std::string Convert(const std::string& pdf, bool exact, bool extended, std::string& messages) {
  TpwDocumentAdapter document;
  QuietView view;
  TpwEngineAdapter engine(&view);
  engine.Engine().SetClock([] { return TkxDateTime{2009, 3, 3, 14, 5, 0}; });
  engine.Engine().SetDocumentEncodingType(exact ? etPositionalAccuracy : etEaseOfEditing);
  TpwConversionDriver driver(document, engine, view);
  driver.SetScreenResolution(96, 96);
  const fs::path target = fs::temp_directory_path() / ("pw-golden-" + std::to_string(getpid()) + ".rtf");
  TpwJobSettings& job = driver.Job();
  job.SourceFile = pdf;
  job.TargetFile = target.string();
  job.ExtendedConversion = extended;
  job.ImageFormat = "PNG";
  driver.Next();
  messages = view.messages;
  std::string rtf = driver.Saved() ? ReadAll(target) : std::string();
  fs::remove(target);
  return rtf;
}

// Where two texts part, with a little of both around it.
std::string FirstDifference(const std::string& got, const std::string& want) {
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  const size_t from = at > 80 ? at - 80 : 0;
  return "at byte " + std::to_string(at) + "\n  got:  ..." + got.substr(from, 200) + "\n  want: ..." +
         want.substr(from, 200);
}

void CheckGolden(const std::string& name, const std::string& pdf, bool extended) {
  const bool update = std::getenv("PW_UPDATE_GOLDEN") != nullptr;
  for (bool exact : {false, true}) {
    SCOPED_TRACE(name + (exact ? " exact" : " editing"));
    std::string messages;
    const std::string rtf = Convert(pdf, exact, extended, messages);
    ASSERT_FALSE(rtf.empty()) << messages;
    const fs::path golden = kGoldenDir / (name + (exact ? "-exact.rtf" : "-editing.rtf"));
    if (update) {
      fs::create_directories(kGoldenDir);
      std::ofstream(golden, std::ios::binary) << rtf;
      continue;
    }
    ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; run with PW_UPDATE_GOLDEN=1 to write it";
    const std::string want = ReadAll(golden);
    EXPECT_TRUE(rtf == want) << golden.filename() << " differs " << FirstDifference(rtf, want)
                             << "\n(PW_UPDATE_GOLDEN=1 rewrites the expected files; review their diff)";
  }
}

}  // namespace

TEST(GoldenOutput, BuiltDocumentsInBothLayouts) {
  for (const Case& c : kCases) {
    const fs::path pdf = fs::temp_directory_path() / ("pw-golden-" + std::string(c.name) + ".pdf");
    std::ofstream(pdf, std::ios::binary) << c.make();
    CheckGolden(c.name, pdf.string(), c.extended);
    fs::remove(pdf);
  }
}

// A word processor's own export: embedded subset fonts, a table with ruled
// cells, a bulleted list (made with LibreOffice from office-export.html).
TEST(GoldenOutput, OfficeExportInBothLayouts) {
  CheckGolden("office-export", (kGoldenDir / "office-export.pdf").string(), true);
}
