#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/kxCustomDocumentEngine.h"
#include "engine/kxCustomPlainsheetEngine.h"
#include "engine/kxMetafileProcessor.h"
#include "engine/kxPagesToRender.h"
#include "platform/kxBitmap.h"
#include "platform/kxScreen.h"

using namespace pw;
using K = TkxItemsToRenderKind;

namespace {

std::string Utf8(const std::u16string& s) { return WideToUtf8(s); }

// An engine that logs what reaches its hooks.
class Probe : public TkxCustomPlainsheetEngine {
 public:
  Probe() {
    Preferences().SetOpenAfterCreate(false);
    Preferences().SetShowSetupDialog(false);
    SetFileName((std::filesystem::temp_directory_path() / "pw_engine_probe.out").string());
    SetFileExtension("out");
  }

  std::vector<std::string> log;
  bool createFile = false;
  bool baseShapes = false;  // let the base draw shapes as bitmaps
  std::unique_ptr<std::ofstream> file;
  std::vector<std::string> opened;
  std::vector<uint32_t> recordTypes;  // of the last processed recording

  using TkxCustomDocumentEngine::DispatchItems;
  using TkxCustomDocumentEngine::WritePageBorder;

 protected:
  void BeginDocOutput() override {
    log.push_back("BeginDocOutput");
    if (createFile) file = CreateOutputFile(OutputFileName());
  }
  void EndDocOutput() override {
    log.push_back("EndDocOutput");
    file.reset();
  }
  void BeginPageOutput() override { log.push_back("BeginPage " + std::to_string(CurrentPageNumber())); }
  void EndPageOutput() override { log.push_back("EndPage"); }
  void WriteText(TkxTextItem& item) override {
    TkxCustomDocumentEngine::WriteText(item);
    log.push_back("Text " + Utf8(item.FirstLine()) + " band" + std::to_string(CurrentBand()));
  }
  void WriteTextBox(TkxTextBoxItem&) override { log.push_back("TextBox"); }
  void WriteParagraph(TkxParagraphItem& p) override { log.push_back("Paragraph " + std::to_string(p.Lines.size())); }
  void WriteImage(TkxImageItem& i) override { log.push_back("Image " + std::to_string(i.ImageIndex)); }
  void WriteImageStream(TkxImageStream&) override { log.push_back("ImageStream"); }
  void WriteTable(TkxTableItem&) override { log.push_back("Table"); }
  void WriteOtherItem(TkxDocumentItem&) override { log.push_back("Other"); }
  void WriteClip(TkxClipItem&) override { log.push_back("Clip"); }
  void WritePath(TkxPathItem&) override { log.push_back("Path"); }
  void WritePolyPolygon(TkxPolyPolygonItem& i) override {
    log.push_back("PolyPolygon");
    if (baseShapes) TkxCustomDocumentEngine::WritePolyPolygon(i);
  }
  void WriteEndOfRecording(TkxEOFItem&) override { log.push_back("EOF"); }
  void WritePolyDraw(TkxPolyDrawItem&) override { log.push_back("PolyDraw"); }
  void WriteLine(TkxShapeItem& i) override {
    if (Shape("Line")) TkxCustomDocumentEngine::WriteLine(i);
  }
  void WriteRectangle(TkxShapeItem& i) override {
    if (Shape("Rectangle")) TkxCustomDocumentEngine::WriteRectangle(i);
  }
  void WriteRoundRect(TkxShapeItem& i) override {
    if (Shape("RoundRect")) TkxCustomDocumentEngine::WriteRoundRect(i);
  }
  void WriteEllipse(TkxShapeItem& i) override {
    if (Shape("Ellipse")) TkxCustomDocumentEngine::WriteEllipse(i);
  }
  void WriteArc(TkxShapeItem& i) override {
    if (Shape("Arc")) TkxCustomDocumentEngine::WriteArc(i);
  }
  void WritePie(TkxShapeItem& i) override {
    if (Shape("Pie")) TkxCustomDocumentEngine::WritePie(i);
  }
  void WriteChord(TkxShapeItem& i) override {
    if (Shape("Chord")) TkxCustomDocumentEngine::WriteChord(i);
  }
  void WritePolyBezier(TkxShapeItem& i) override {
    if (Shape("PolyBezier")) TkxCustomDocumentEngine::WritePolyBezier(i);
  }
  void WritePolygon(const TkxPoints& p, int n, const TBrush* b, const TPen& pen, bool closed) override {
    log.push_back(std::string(closed ? "Polygon " : "Polyline ") + std::to_string(n) + (b ? " filled" : ""));
    if (baseShapes) TkxCustomDocumentEngine::WritePolygon(p, n, b, pen, closed);
  }
  void WritePolyShape(TkxPolyShapeItem& i, bool closed) override {
    log.push_back(closed ? "PolyShape closed" : "PolyShape open");
    if (baseShapes) TkxCustomDocumentEngine::WritePolyShape(i, closed);
  }
  void WriteBitmapAt(const TkxBitmap& b, double y, double x) override {
    char buf[96];
    std::snprintf(buf, sizeof buf, "Bitmap %dx%d at %g,%g", b.Width(), b.Height(), x, y);
    log.push_back(buf);
  }
  void OpenOutputFile(const std::string& f) override { opened.push_back(f); }
  std::unique_ptr<TkxMetafileProcessor> CreateMetafileProcessor() override {
    recordTypes.clear();
    return std::make_unique<Recorder>(*this, recordTypes);
  }

 private:
  // A processor that also notes the record types it is given.
  class Recorder : public TkxMetafileProcessor {
   public:
    Recorder(TkxCustomDocumentEngine& e, std::vector<uint32_t>& types) : TkxMetafileProcessor(e), types_(types) {}
    void ProcessRecord(const TkxEmfRecord& r) override {
      types_.push_back(r.Type());
      TkxMetafileProcessor::ProcessRecord(r);
    }

   private:
    std::vector<uint32_t>& types_;
  };

  // Logs a shape hook; true when the base should draw it.
  bool Shape(const char* name) {
    log.push_back(std::string(name) + " join" + std::to_string(ShapeLineJoin()));
    return baseShapes;
  }
};

// Logs the lifecycle notifications into the probe's log.
void LogEvents(Probe& e) {
  auto add = [&e](const char* name) { return [&e, name](TkxComponent*) { e.log.push_back(name); }; };
  e.OnBeforeBeginDoc = add("OnBeforeBeginDoc");
  e.OnAfterBeginDoc = add("OnAfterBeginDoc");
  e.OnBeforeEndDoc = add("OnBeforeEndDoc");
  e.OnAfterEndDoc = add("OnAfterEndDoc");
  e.OnBeforeBeginPage = add("OnBeforeBeginPage");
  e.OnAfterBeginPage = add("OnAfterBeginPage");
  e.OnBeforeEndPage = add("OnBeforeEndPage");
  e.OnAfterEndPage = add("OnAfterEndPage");
}

size_t Count(const std::vector<std::string>& log, const std::string& entry) {
  return static_cast<size_t>(std::count(log.begin(), log.end(), entry));
}

int PPI() { return TkxScreen::PPI(); }

}  // namespace

TEST(Engine, OperationsWithoutDocumentDoNothing) {
  Probe e;
  LogEvents(e);
  e.SetMeasurementUnit(muPixels);
  e.EndDoc();
  e.NewPage();
  e.SetActivePage(1);
  e.TextOut(10, 10, u"x");
  e.Rectangle(1, 1, 5, 5);
  e.RestoreEngineState(-1);
  EXPECT_EQ(e.SaveEngineState(), -1);
  EXPECT_EQ(e.AddImage(TGraphic(TkxBitmap(2, 2))), -1);
  EXPECT_EQ(e.PageCanvas(), nullptr);
  EXPECT_TRUE(e.log.empty());
  EXPECT_EQ(e.EngineStatus(), esNeverBegun);

  // A second BeginDoc on an open document does nothing.
  e.BeginDoc();
  e.BeginDoc();
  EXPECT_EQ(e.PageCount(), 1);
  EXPECT_EQ(Count(e.log, "OnBeforeBeginDoc"), 1u);
  e.EndDoc();
  EXPECT_FALSE(e.DocumentOpen());
}

TEST(Engine, NotificationOrderAndStatus) {
  const std::vector<std::string> begin = {"OnBeforeBeginDoc", "OnAfterBeginDoc"};
  const std::vector<std::string> page = {"OnBeforeBeginPage", "OnAfterBeginPage", "OnBeforeEndPage", "OnAfterEndPage"};
  const std::vector<std::string> end = {"OnBeforeEndDoc", "OnAfterEndDoc"};
  const std::vector<std::string> newPage = {"NewPage"};
  auto join = [](std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  struct Case {
    bool eachPage;
    int pages;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      // A page is written when the next one begins, the last inside EndDoc.
      {true, 1, join({begin, page, end})},
      {true, 3, join({begin, page, newPage, page, newPage, page, end})},
      // Pages kept until the end are all written inside EndDoc.
      {false, 2, join({begin, newPage, page, page, end})},
  };
  for (const Case& c : cases) {
    Probe e;
    e.Preferences().SetProcessAfterEachPage(c.eachPage);
    LogEvents(e);
    e.BeginDoc();
    EXPECT_EQ(e.EngineStatus(), esBegun);
    for (int n = 2; n <= c.pages; ++n) {
      e.NewPage();
      e.log.push_back("NewPage");
    }
    e.EndDoc();
    std::vector<std::string> events;
    for (const std::string& s : e.log)
      if (s.rfind("On", 0) == 0 || s == "NewPage") events.push_back(s);
    EXPECT_EQ(events, c.expected) << "eachPage " << c.eachPage << " pages " << c.pages;
    EXPECT_EQ(e.EngineStatus(), esEnded);
    EXPECT_FALSE(e.DocumentOpen());
    EXPECT_EQ(e.PageCount(), 0);
  }
}

TEST(Engine, PagesToRenderSelection) {
  struct Case {
    const char* selection;
    std::vector<int> selected;  // of pages 1..6
  };
  const Case cases[] = {
      {"", {1, 2, 3, 4, 5, 6}}, {"2,4-5", {2, 4, 5}}, {"3-1", {}},       {"1 3", {1, 3}},           {"\"2,5\"", {}},
      {"\"6\",x,2", {2, 6}},    {"a-b,4", {4}},       {"2,,4,", {2, 4}}, {"1-2 5-9", {1, 2, 5, 6}},
  };
  for (const Case& c : cases) {
    std::vector<int> got;
    for (int p = 1; p <= 6; ++p)
      if (IsPageSelected(c.selection, p)) got.push_back(p);
    EXPECT_EQ(got, c.selected) << c.selection;
  }
  for (const char* bad : {"5-", "-", "-3", "99999999999", "1-2-3"})
    EXPECT_THROW(IsPageSelected(bad, 7), EConvertError) << bad;
}

TEST(Engine, PagesToRenderOnSixPages) {
  for (bool eachPage : {true, false}) {
    Probe e;
    e.Preferences().SetProcessAfterEachPage(eachPage);
    e.SetMeasurementUnit(muPixels);
    e.SetPagesToRender("2,4-5");
    e.BeginDoc();
    LogEvents(e);
    const std::u16string names[] = {u"p1", u"p2", u"p3", u"p4", u"p5", u"p6"};
    for (int n = 1; n <= 6; ++n) {
      if (n > 1) e.NewPage();
      e.SetActivePage(n);
      e.TextOut(10, 10, names[n - 1]);
    }
    e.EndDoc();
    std::vector<std::string> written;
    for (const std::string& s : e.log)
      if (s.rfind("BeginPage", 0) == 0 || s.rfind("Text", 0) == 0) written.push_back(s);
    const std::vector<std::string> expected = {"BeginPage 2",   "Text p2 band0", "BeginPage 4",
                                               "Text p4 band0", "BeginPage 5",   "Text p5 band0"};
    EXPECT_EQ(written, expected);
    EXPECT_EQ(Count(e.log, "OnBeforeBeginPage"), 3u);
    EXPECT_EQ(Count(e.log, "OnAfterEndPage"), 3u);
  }
}

TEST(Engine, ErrorsGoToHandlerOrAreRaised) {
  struct Case {
    const char* what;
    std::function<void(Probe&)> act;
    std::string message;
  };
  const Case cases[] = {
      {"page 0", [](Probe& e) { e.SetActivePage(0); }, "Invalid Page Number"},
      {"page 2 of 1", [](Probe& e) { e.SetActivePage(2); }, "Invalid Page Number"},
      {"state 7 of 3",
       [](Probe& e) {
         e.SaveEngineState();
         e.SaveEngineState();  // the initial state plus two
         e.RestoreEngineState(7);
       },
       "Not a valid Engine State identifier"},
      {"state -1 of none",
       [](Probe& e) {
         e.ClearEngineStates();
         e.RestoreEngineState(-1);
       },
       "Not a valid Engine State identifier"},
      {"state -2", [](Probe& e) { e.RestoreEngineState(-2); }, "Not a valid Engine State identifier"},
      {"unknown picture",
       [](Probe& e) {
         EXPECT_EQ(e.AddImage(TGraphic::Unknown("GIF", {1, 2})), -1);
       },
       "Unknown Graphics format"},
      {"empty picture", [](Probe& e) { EXPECT_EQ(e.AddImage(TGraphic()), -1); }, "Unknown Graphics format"},
  };
  for (const Case& c : cases) {
    for (bool handler : {true, false}) {
      Probe e;
      e.BeginDoc();
      std::vector<std::string> reported;
      if (handler) e.OnErrorMessage = [&](TkxComponent*, const Exception& x) { reported.push_back(x.what()); };
      if (handler) {
        c.act(e);
        EXPECT_EQ(reported, std::vector<std::string>{c.message}) << c.what;
      } else {
        try {
          c.act(e);
          ADD_FAILURE() << c.what << ": nothing raised";
        } catch (const Exception& x) {
          EXPECT_EQ(x.what(), c.message) << c.what;
        }
      }
      e.EndDoc();
    }
  }
  // Pages written as they are finished cannot be revisited: no error.
  Probe e;
  e.Preferences().SetProcessAfterEachPage(true);
  e.BeginDoc();
  e.SetActivePage(0);
  e.EndDoc();
}

TEST(Engine, EngineStatesRestoreValuesAndDocumentEndRestoresInitial) {
  Probe e;
  e.Font().SetName("Initial");
  e.BeginDoc();
  e.Font().SetName("Second");
  e.Pen().SetWidth(7);
  e.Page().SetLeftMargin(1);
  const int second = e.SaveEngineState();
  EXPECT_EQ(second, 1);
  e.Font().SetName("Third");
  e.Pen().SetWidth(3);
  e.Page().SetLeftMargin(2);
  e.RestoreEngineState(-1);
  EXPECT_EQ(e.Font().Name(), "Second");
  EXPECT_EQ(e.Pen().Width(), 7);
  EXPECT_DOUBLE_EQ(e.Page().LeftMargin(), 1);
  e.RestoreEngineState(0);
  EXPECT_EQ(e.Font().Name(), "Initial");
  e.Font().SetName("Changed");
  e.ImageSettings().SetJPEGQuality(5);
  e.EndDoc();
  EXPECT_EQ(e.Font().Name(), "Initial");
  EXPECT_EQ(e.ImageSettings().JPEGQuality(), 100);
  EXPECT_EQ(e.EngineStateCount(), 0);

  // The initial state may be gone; closing still works.
  e.BeginDoc();
  e.ClearEngineStates();
  e.EndDoc();
  EXPECT_EQ(e.EngineStatus(), esEnded);
}

TEST(Engine, CancelledSetupDialog) {
  Probe e;
  e.Preferences().SetShowSetupDialog(true);
  int shown = 0;
  e.SetupDialog = [&](TkxComponent*) {
    ++shown;
    return kModalCancel;
  };
  e.createFile = true;
  std::filesystem::remove(e.OutputFileName());
  e.BeginDoc();
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(e.EngineStatus(), esSetupCancelled);
  EXPECT_FALSE(e.DocumentOpen());
  EXPECT_NE(e.TOC(), nullptr);
  e.EndDoc();
  EXPECT_TRUE(e.log.empty());
  EXPECT_EQ(e.TOC(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(e.OutputFileName()));
}

TEST(Engine, OutputFileCreationFailureClosesDocument) {
  Probe e;
  e.createFile = true;
  LogEvents(e);
  e.SetFileName("/nonexistent-folder-pw/sub/out.rtf");
  try {
    e.BeginDoc();
    ADD_FAILURE() << "no error";
  } catch (const EFileCreateError& x) {
    EXPECT_STREQ(x.what(),
                 "File could not be created!\r\n\r\nPossible cause: It could be in use by some other application");
  }
  EXPECT_EQ(e.EngineStatus(), esFileCreateFailed);
  EXPECT_FALSE(e.DocumentOpen());
  EXPECT_EQ(Count(e.log, "OnAfterBeginDoc"), 0u);
  EXPECT_TRUE(e.OutputFiles().empty());
  e.EndDoc();  // nothing
  EXPECT_EQ(e.EngineStatus(), esFileCreateFailed);
}

TEST(Engine, AbortEndsDocumentAndDeletesItsFiles) {
  Probe e;
  e.createFile = true;
  e.Preferences().SetOpenAfterCreate(true);
  e.BeginDoc();
  ASSERT_TRUE(std::filesystem::exists(e.OutputFileName()));
  e.Abort();
  e.NewPage();
  EXPECT_FALSE(e.DocumentOpen());
  EXPECT_FALSE(e.AbortRequested());
  EXPECT_FALSE(std::filesystem::exists(e.OutputFileName()));
  EXPECT_FALSE(e.Preferences().OpenAfterCreate());
  EXPECT_TRUE(e.opened.empty());

  // An abort asked for before the document ends it at once.
  e.log.clear();
  e.Abort();
  e.BeginDoc();
  EXPECT_FALSE(e.DocumentOpen());
  EXPECT_EQ(Count(e.log, "BeginDocOutput"), 0u);
  EXPECT_FALSE(e.AbortRequested());

  // Without abort the finished file is opened when asked for.
  e.Preferences().SetOpenAfterCreate(true);
  e.BeginDoc();
  e.EndDoc();
  EXPECT_EQ(e.opened, std::vector<std::string>{e.OutputFileName()});
  std::filesystem::remove(e.OutputFileName());
}

TEST(Engine, MeasureText) {
  Probe e;
  TFont f;
  f.SetName("DejaVu Sans");
  f.SetSize(12);
  const TkxTextSize space = e.MeasureText(u" ", f);
  const TkxTextSize empty = e.MeasureText(u"", f);
  EXPECT_EQ(empty.Width, 1);
  EXPECT_EQ(empty.Height, space.Height);
  EXPECT_GT(space.Height, 0);
  const TkxTextSize abc = e.MeasureText(u"abc", f);
  EXPECT_EQ(e.MeasureText(u"abc\r\n", f).Width, abc.Width);
  EXPECT_GT(abc.Width, space.Width);
  // Measured in the ANSI code page: a character outside it counts as "?".
  EXPECT_EQ(e.MeasureText(u"\u0416", f).Width, e.MeasureText(u"?", f).Width);
}

TEST(Engine, Variables) {
  struct Case {
    const char16_t* text;
    bool calculate;
    bool pageVariables;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"Page <%Pg#%> of <%PgCnt%>", true, true, u"Page 3 of 5"},
      {u"Page <%pg#%> of <%PGCNT%>", true, true, u"Page 3 of 5"},
      {u"Page <%Pg#%> of <%PgCnt%>", false, true, u"Page <%Pg#%> of <%PgCnt%>"},
      {u"Page <%Pg#%>", true, false, u"Page <%Pg#%>"},
      {u"<%ShortDate%> <%ShortTime%>", true, false, u"3/3/2009 2:05 PM"},
      {u"<%LongDate%>, <%LongTime%>", true, false, u"Tuesday, March 3, 2009, 2:05:09 PM"},
      {u"<%Title%>/<%Author%>/<%Subject%>/<%Creator%>", true, false, u"T/A/S/C"},
      {u"<%Who%> and <%who%> <%%> <%a<%b%>", true, false, u"[Who] and [Who] <%%> <%a[b]"},
      {u"", true, true, u""},
  };
  Probe e;
  e.Preferences().SetProcessAfterEachPage(false);
  e.SetClock([] { return TkxDateTime{2009, 3, 3, 14, 5, 9}; });
  e.DocInfo().SetTitle(u"T");
  e.DocInfo().SetAuthor(u"A");
  e.DocInfo().SetSubject(u"S");
  e.DocInfo().SetCreator(u"C");
  e.OnCalcVariables = [](TkxComponent*, const std::u16string& name, std::u16string& value) {
    value = u"[" + name + u"]";
  };
  e.BeginDoc();
  for (int i = 0; i < 4; ++i) e.NewPage();
  e.SetActivePage(3);
  for (const Case& c : cases) {
    e.Preferences().SetCalculateVariables(c.calculate);
    EXPECT_EQ(Utf8(e.CalculateVariablesIn(c.text, c.pageVariables)), Utf8(c.expected)) << Utf8(c.text);
  }
  e.EndDoc();
}

TEST(Engine, UnitsAndReferenceRect) {
  const double ppi = PPI();
  Probe e;
  struct UnitCase {
    TkxUnitType unit;
    double factor;
  };
  for (const UnitCase& c : {UnitCase{muInches, ppi}, UnitCase{muPoints, ppi / 72}, UnitCase{muTwips, ppi / 1440},
                            UnitCase{muMM, ppi / 72 * 2.83464}}) {
    e.SetMeasurementUnit(c.unit);
    EXPECT_DOUBLE_EQ(e.UnitFactor(), c.factor);
    EXPECT_DOUBLE_EQ(e.ToPixelsX(2), 2 * c.factor);
    EXPECT_DOUBLE_EQ(e.Page().UnitFactor(), c.factor);
  }
  // Pixels are meant at the input resolution.
  e.SetMeasurementUnit(muPixels);
  e.SetInputXRes(PPI() * 2);
  e.SetInputYRes(PPI() / 2);
  EXPECT_DOUBLE_EQ(e.ToPixelsX(100), 50);
  EXPECT_DOUBLE_EQ(e.ToPixelsY(100), 200);
  e.SetInputXRes(0);  // ignored
  EXPECT_EQ(e.InputXRes(), PPI() * 2);
  e.SetInputXRes(PPI());
  e.SetInputYRes(PPI());

  e.Page().SetPaperSize(TkxPaperSize::Custom);
  e.Page().SetWidth(1000);
  e.Page().SetHeight(800);
  e.Page().SetLeftMargin(10);
  e.Page().SetRightMargin(20);
  e.Page().SetTopMargin(30);
  e.Page().SetBottomMargin(40);
  e.Page().SetHeaderHeight(50);
  e.Page().SetFooterHeight(60);
  e.BeginDoc();
  struct RectCase {
    TkxReferencePoint rp;
    int band;
    TkxDoubleRect rect;
  };
  const RectCase cases[] = {
      {rpPage, bnBody, {0, 0, 1000, 800}},     {rpMargin, bnBody, {10, 30, 980, 760}},
      {rpBand, bnBody, {10, 80, 980, 700}},    {rpBand, bnHeader, {10, 30, 980, 80}},
      {rpBand, bnFooter, {10, 700, 980, 760}}, {rpBand, bnUnderlay, {10, 30, 980, 760}},
      {rpBand, bnOverlay, {10, 30, 980, 760}},
  };
  for (const RectCase& c : cases) {
    e.SetReferencePoint(c.rp);
    switch (c.band) {
      case bnHeader: e.BeginHeader(); break;
      case bnFooter: e.BeginFooter(); break;
      case bnUnderlay: e.BeginUnderlay(); break;
      case bnOverlay: e.BeginOverlay(); break;
      default: break;
    }
    EXPECT_EQ(e.ReferenceRect(), c.rect) << c.rp << " band " << c.band;
    EXPECT_EQ(e.CurrentBand(), c.band);
    e.EndHeader();
    e.EndFooter();
    e.EndUnderlay();
    e.EndOverlay();
    EXPECT_EQ(e.CurrentBand(), bnBody);
  }
  // Anchors are offset by the rectangle and must lie inside it.
  e.SetReferencePoint(rpBand);
  e.TextOut(0, 0, u"in");
  e.TextOut(969, 0, u"in2");
  e.TextOut(970, 0, u"out");  // right and bottom are exclusive
  e.TextOut(0, 620, u"out");
  e.TextOut(-1, 5, u"out");
  ASSERT_EQ(e.CurrentItemList()->size(), 2u);
  auto* first = dynamic_cast<TkxTextItem*>(e.CurrentItemList()->front().get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->X, 10);
  EXPECT_EQ(first->Y, 80);
  e.EndDoc();
}

TEST(Engine, DrawingApiCreatesItems) {
  Probe e;
  e.SetMeasurementUnit(muPixels);
  e.SetReferencePoint(rpPage);
  e.BeginDoc();
  e.Font().SetName("Arial");
  e.SetTextAngle(-90);
  EXPECT_EQ(e.TextAngle(), 270);
  e.SetTextAngle(0);
  e.SetTextFlag(5);
  e.TextOut(10, 20, u"plain");
  e.Line(1, 1, 5, 5);
  e.Rectangle(1, 1, 5, 5, false);
  e.RoundRect(1, 1, 5, 5, 2, 2);
  e.Ellipse(1, 1, 5, 5);
  e.Polygon({{1, 1}, {5, 1}, {5, 5}});
  e.Polyline({{1, 1}, {5, 1}});
  e.Arc(1, 1, 5, 5, 1, 3, 5, 3);
  e.Chord(1, 1, 5, 5, 1, 3, 5, 3);
  e.Pie(1, 1, 5, 5, 1, 3, 5, 3);
  e.PolyBezier({{1, 1}, {2, 2}, {3, 2}, {4, 1}});
  const TkxItemList& items = *e.CurrentItemList();
  ASSERT_EQ(items.size(), 11u);
  auto* text = dynamic_cast<TkxTextItem*>(items[0].get());
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Font.Name(), "Arial");
  EXPECT_EQ(text->TextFlag, 5);
  const uint8_t types[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const bool filled[] = {false, false, true, true, true, false, false, true, true, false};
  for (int i = 0; i < 10; ++i) {
    auto* shape = dynamic_cast<TkxShapeItem*>(items[i + 1].get());
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->ShapeType, types[i]);
    EXPECT_EQ(shape->Brush != nullptr, filled[i]) << i;
  }
  // Kinds not asked for are not created; line mode sends plain text aside.
  e.SetItemsToRender({K::irText});
  e.Line(1, 1, 2, 2);
  e.StretchDrawImage({1, 1, 3, 3}, TGraphic(TkxBitmap(2, 2)));
  EXPECT_EQ(items.size(), 11u);
  e.SetLineMode(true);
  e.TextOut(1, 1, u"line");
  e.TextBox({1, 1, 50, 50}, u"a\r\nb", 0, 1);
  EXPECT_EQ(items.size(), 12u);
  EXPECT_EQ(e.CurrentLineTextList()->size(), 1u);
  auto* box = dynamic_cast<TkxTextBoxItem*>(items.back().get());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->Lines, (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(box->VerticalAlignment, 1);
  e.EndDoc();
}

TEST(Engine, FormattedTextOutRunsAndStyles) {
  Probe e;
  e.SetMeasurementUnit(muPixels);
  e.SetReferencePoint(rpPage);
  e.BeginDoc();
  e.Font().SetName("DejaVu Sans");
  e.FormattedTextOut(10, 10, u"a<b>bold</B>/<x/>//y/z <i>it<u>u <q>");
  struct Run {
    const char16_t* text;
    int style;
  };
  const Run expected[] = {
      {u"a", 0}, {u"bold", fsBold}, {u"<x>/yz ", 0}, {u"it", fsItalic}, {u"u <q>", fsItalic | fsUnderline}};
  const TkxItemList& items = *e.CurrentItemList();
  ASSERT_EQ(items.size(), std::size(expected));
  double x = 10;
  for (size_t i = 0; i < items.size(); ++i) {
    auto* t = dynamic_cast<TkxTextItem*>(items[i].get());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(Utf8(t->FirstLine()), Utf8(expected[i].text));
    EXPECT_EQ(t->Font.Style(), expected[i].style) << i;
    EXPECT_DOUBLE_EQ(t->X, x);
    x += e.MeasureText(t->FirstLine(), t->Font).Width;
  }
  // Styles the tags left on are switched off again.
  EXPECT_EQ(e.Font().Style(), 0);
  e.EndDoc();
}

TEST(Engine, PicturesAndImageTable) {
  Probe e;
  e.SetMeasurementUnit(muPixels);
  e.SetReferencePoint(rpPage);
  e.Preferences().SetProcessAfterEachPage(true);
  e.BeginDoc();
  e.ImageSettings().FrameImage = true;
  e.Pen().SetWidth(4);
  e.StretchDrawImage({200, 300, 100, 50}, TGraphic(TkxBitmap(4, 3)));
  e.DrawImage(10, 10, TGraphic(TkxBitmap(96, 48)));
  e.DrawImageByIndex({0, 0, 5, 5}, 0);
  e.DrawImageByIndex({0, 0, 5, 5}, 9);  // no such picture
  e.DrawImageStream({0, 0, 5, 5}, 7, {1, 2, 3}, 8);
  const TkxItemList& items = *e.CurrentItemList();
  ASSERT_EQ(items.size(), 4u);
  auto* stretched = dynamic_cast<TkxImageItem*>(items[0].get());
  EXPECT_EQ(stretched->Bounds, (TkxDoubleRect{100, 50, 200, 300}));
  EXPECT_EQ(stretched->Pen.Width(), 4);
  auto* natural = dynamic_cast<TkxImageItem*>(items[1].get());
  EXPECT_DOUBLE_EQ(natural->Width, 96.0 * PPI() / 96);
  EXPECT_DOUBLE_EQ(natural->Height, 48.0 * PPI() / 96);
  EXPECT_EQ(dynamic_cast<TkxImageItem*>(items[2].get())->ImageIndex, 0);
  auto* stream = dynamic_cast<TkxImageStream*>(items[3].get());
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->PixelWidth, 7);
  ASSERT_EQ(e.ImageTable().size(), 3u);
  EXPECT_EQ(e.ImageTable()[2].Stream, &stream->Stream);
  EXPECT_EQ(e.AddImageEx(TGraphic(TkxBitmap(1, 1)), false), 3);
  EXPECT_FALSE(e.Preferences().UseImagesAsResources());
  // Writing the page frees its items, empties stream slots and, without
  // pictures kept as resources, frees the pictures; slots stay.
  e.NewPage();
  ASSERT_EQ(e.ImageTable().size(), 4u);
  for (const TkxImageTableEntry& entry : e.ImageTable()) EXPECT_TRUE(entry.Empty());
  EXPECT_EQ(e.PageItem(1), nullptr);
  e.EndDoc();
}

TEST(Engine, DispatchItemsByClass) {
  Probe e;
  TkxItemList list;
  list.push_back(std::make_unique<TkxTextBoxItem>());
  auto text = std::make_unique<TkxTextItem>();
  text->Lines = {u"t"};
  list.push_back(std::move(text));
  list.push_back(std::make_unique<TkxImageStream>());
  list.push_back(std::make_unique<TkxImageItem>());
  for (uint8_t type = 0; type <= 9; ++type) {
    auto shape = std::make_unique<TkxShapeItem>(type);
    shape->SetPoints(std::vector<TkxDoublePoint>{{0, 0}, {4, 4}, {1, 1}, {2, 2}});
    shape->LineJoin = type;
    list.push_back(std::move(shape));
  }
  list.push_back(std::make_unique<TkxShapeItem>(shPolyBezier));  // no points: nothing
  for (uint8_t first : {shPolygon, shPolyline, shLine}) {
    auto group = std::make_unique<TkxPolyShapeItem>();
    group->Add(std::make_unique<TkxShapeItem>(first));
    list.push_back(std::move(group));
  }
  list.push_back(std::make_unique<TkxPolyShapeItem>());  // no parts: nothing
  list.push_back(std::make_unique<TkxTableItem>(&e, 2, 0, 0));
  list.push_back(std::make_unique<TkxParagraphItem>());
  list.push_back(std::make_unique<TkxClipItem>());
  list.push_back(std::make_unique<TkxPathItem>());
  list.push_back(std::make_unique<TkxPolyPolygonItem>());
  list.push_back(std::make_unique<TkxEOFItem>());
  list.push_back(std::make_unique<TkxPolyDrawItem>());
  list.push_back(std::make_unique<TkxDocumentItem>());
  e.DispatchItems(list);
  const std::vector<std::string> expected = {"TextBox",
                                             "Text t band0",
                                             "ImageStream",
                                             "Image -1",
                                             "Line join0",
                                             "Rectangle join1",
                                             "RoundRect join2",
                                             "Ellipse join3",
                                             "Polygon 4",
                                             "Polyline 4",
                                             "Arc join6",
                                             "Chord join7",
                                             "Pie join8",
                                             "PolyBezier join9",
                                             "PolyShape closed",
                                             "PolyShape open",
                                             "Table",
                                             "Paragraph 0",
                                             "Clip",
                                             "Path",
                                             "PolyPolygon",
                                             "EOF",
                                             "PolyDraw",
                                             "Other"};
  EXPECT_EQ(e.log, expected);
}

TEST(Engine, BaseShapeHooksDrawBitmaps) {
  Probe e;
  e.baseShapes = true;
  auto shape = [](uint8_t type, TkxPoints pts) {
    auto s = std::make_unique<TkxShapeItem>(type);
    s->Points = std::move(pts);
    s->SetBrush(TBrush());
    return s;
  };
  TkxItemList list;
  list.push_back(shape(shRectangle, {{30, 40}, {10, 20}}));
  list.push_back(shape(shPolygon, {{5, 5}, {15, 5}, {10, 12.5}}));
  list.push_back(shape(shEllipse, {{0, 0}, {1e9, 10}}));  // too large to draw: skipped
  list.push_back(shape(shPie, {{0, 0}, {10, 10}}));       // lacks its radial points: skipped
  auto pp = std::make_unique<TkxPolyPolygonItem>();
  const std::vector<int> counts{3, 3};
  const std::vector<TkxDoublePoint> pts{{0, 0}, {8, 0}, {0, 8}, {20, 20}, {28, 20}, {20, 28}};
  ASSERT_TRUE(pp->SetPolygons(counts, pts));
  list.push_back(std::move(pp));
  e.DispatchItems(list);
  std::vector<std::string> bitmaps;
  for (const std::string& s : e.log)
    if (s.rfind("Bitmap", 0) == 0) bitmaps.push_back(s);
  const std::vector<std::string> expected = {"Bitmap 20x20 at 10,20", "Bitmap 12x10 at 5,5", "Bitmap 30x30 at 0,0"};
  EXPECT_EQ(bitmaps, expected);

  // The page border: one line per side drawn, along the margins.
  e.BeginDoc();
  e.log.clear();
  e.PageBorder().DrawLeft = true;
  e.PageBorder().DrawTop = true;
  e.WritePageBorder();
  EXPECT_EQ(e.log.size(), 4u);  // two lines, two bitmaps
  EXPECT_EQ(Count(e.log, "Line join0"), 2u);
  e.EndDoc();
}

TEST(Engine, RecordingIsProcessedAtPageEnd) {
  struct Case {
    int inputY;
    bool replayed;
  };
  for (const Case& c : {Case{PPI(), false}, Case{101, true}}) {
    Probe e;
    e.SetMeasurementUnit(muPixels);
    e.SetInputYRes(c.inputY);
    e.Preferences().SetProcessAfterEachPage(true);
    e.BeginDoc();
    TkxEmfRecorder* canvas = e.PageCanvas();
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas->Width(), static_cast<int>(std::nearbyint(e.PageItem(1)->PageSettings.Width())));
    canvas->Rectangle({10, 10, 50, 50});
    e.EndDoc();
    // The recording ends in one end-of-recording item, written at page end.
    EXPECT_EQ(Count(e.log, "EOF"), 1u);
    EXPECT_EQ(e.PageCanvas(), nullptr);
    ASSERT_GE(e.recordTypes.size(), 3u);
    EXPECT_EQ(e.recordTypes.front(), EMR_HEADER);
    EXPECT_EQ(e.recordTypes.back(), EMR_EOF);
    // A replay onto a fresh recording brackets the drawing with a saved state.
    const bool saved = std::count(e.recordTypes.begin(), e.recordTypes.end(), EMR_SAVEDC) > 0;
    EXPECT_EQ(saved, c.replayed) << c.inputY;
  }
}

TEST(Engine, ActivePageCollectsDrawingUntilTheEnd) {
  Probe e;
  e.SetMeasurementUnit(muPixels);
  e.SetReferencePoint(rpPage);
  e.BeginDoc();
  e.NewPage();
  e.TextOut(1, 1, u"on 2");
  e.SetActivePage(1);
  e.TextOut(1, 1, u"on 1");
  e.PageCanvas()->Rectangle({1, 1, 5, 5});
  e.SetActivePage(2);
  e.EndDoc();
  std::vector<std::string> got;
  for (const std::string& s : e.log)
    if (s.rfind("BeginPage", 0) == 0 || s.rfind("Text", 0) == 0 || s == "EOF") got.push_back(s);
  // Each page's recording was processed once per visit.
  const std::vector<std::string> expected = {
      "BeginPage 1", "EOF", "Text on 1 band0", "EOF", "BeginPage 2", "Text on 2 band0", "EOF", "EOF"};
  EXPECT_EQ(got, expected);
}

TEST(Engine, BandsAreWrittenWithTheirPages) {
  Probe e;
  e.SetMeasurementUnit(muPixels);
  e.SetReferencePoint(rpPage);
  e.Preferences().SetProcessAfterEachPage(true);
  e.BeginDoc();
  e.BeginHeader();
  e.TextOut(1, 1, u"head");
  e.EndHeader();
  e.BeginOverlay();
  e.TextOut(1, 1, u"over");
  e.EndOverlay();
  e.TextOut(1, 1, u"body");
  e.NewPage();
  e.EndDoc();
  std::vector<std::string> texts;
  for (const std::string& s : e.log)
    if (s.rfind("Text", 0) == 0 || s.rfind("BeginPage", 0) == 0) texts.push_back(s);
  // Base capabilities: every band on every page.
  const std::vector<std::string> expected = {"BeginPage 1", "Text head band1", "Text body band0", "Text over band4",
                                             "BeginPage 2", "Text head band1", "Text over band4"};
  EXPECT_EQ(texts, expected);
}

TEST(PlainSheet, FileNameAndTableOfContents) {
  struct Case {
    const char* given;
    const char* stored;
  };
  const Case cases[] = {{"/tmp/out/report.final.rtf", "/tmp/out/report.final"},
                        {"/tmp/out/report", "/tmp/out/report"},
                        {"/tmp/a.b/report", "/tmp/a.b/report"},
                        {"Paperwright.tmp", "Paperwright"},
                        {"", ""}};
  Probe e;
  for (const Case& c : cases) {
    e.SetFileName(c.given);
    EXPECT_EQ(e.FileName(), c.stored) << c.given;
  }
  e.SetFileName("/tmp/out/report.final.rtf");
  e.SetFileExtension("rtf");
  EXPECT_EQ(e.OutputFileName(), "/tmp/out/report.final.rtf");

  EXPECT_EQ(e.AddTOCEntry(u"t", -1, 0, 0, 1), -1);  // no document
  e.BeginDoc();
  e.SetFileName("/elsewhere/x.rtf");
  EXPECT_EQ(e.FileName(), "/tmp/out/report.final");
  EXPECT_EQ(e.AddTOCEntry(u"t", 0, 0, 0, 1), -1);  // no entry 0 yet
  EXPECT_EQ(e.AddTOCEntry(u"t", -1, 0, 0, 1), 0);
  EXPECT_EQ(e.AddTOCEntry(u"t", 0, 0, 0, 2), -1);  // no page 2
  EXPECT_EQ(e.AddTOCEntry(u"t", -2, 0, 0, 1), -1);
  EXPECT_EQ(e.AddTOCLink(u"l", 0, "http://x"), 1);
  EXPECT_EQ(e.AddTOCLink(u"l", 2, "http://x"), -1);
  ASSERT_NE(e.TOC(), nullptr);
  EXPECT_EQ(e.TOC()->size(), 2u);
  e.EndDoc();
  EXPECT_EQ(e.TOC(), nullptr);
}
