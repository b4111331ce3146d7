// Drawing, path and clipping records of page recordings turned into shape
// items: what the page's graphics become (rectangles, rules, polylines,
// polygons, filled rings), cutting to the page and to clips, the text-only
// mode, crowded pages and hostile records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/kxGraphic.h"
#include "engine/kxMetafileDrawingRecords.h"
#include "engine/kxMetafileRecordProcessor.h"
#include "engine/kxMetafileTextRecords.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxGraphics.h"
#include "tests/engine/metafile_target.h"

using namespace pw;

namespace {

using Target = test::TestMetafileTarget;

// A page of 800 x 1000 pixels drawn through the platform graphics, as the
// renderer draws.
struct Page {
  TkxEmfRecorder Rec{800, 1000, 96};
  TkxGraphics G{Rec};
  Target T;

  void Run() {
    const TkxMetafile& m = Rec.Close();
    TkxMetafileRecordProcessor p(T);
    p.ProcessMetafile(m, 0, 0);
  }
  void Raw(TkxEmfRecordWriter w) { Rec.AppendRecord(w.Finish()); }
  // Text from here on in Liberation Sans, 20 pixels to the em.
  void UseSans() { Rec.UseFont(Sans()); }
  static TkxLogFontW Sans() {
    TkxLogFontW font;
    font.lfFaceName = u"Liberation Sans";
    font.lfHeight = -20;
    return font;
  }
};

TkxGraphicsPath RectPath(double x, double y, double w, double h) {
  TkxGraphicsPath p;
  p.AddRectangle({x, y, w, h});
  return p;
}

constexpr uint32_t kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu;

}  // namespace

TEST(DrawingRecords, FillsAndStrokesBecomeTheirShapes) {
  Page pg;
  pg.G.FillPath(TkxSolidBrush(kRed), RectPath(100, 100, 200, 50));  // a box
  pg.G.FillPath(TkxSolidBrush(kBlue), RectPath(100, 300, 400, 1));  // a rule
  pg.G.DrawPath(TkxPen(kRed, 2), RectPath(50, 500, 100, 100));      // a frame
  TkxGraphicsPath zigzag;
  zigzag.AddLines({{10, 700}, {30, 720}, {50, 700}, {70, 720}, {90, 700}, {110, 720}});
  pg.G.DrawPath(TkxPen(kBlue, 1), zigzag);  // one polyline
  TkxGraphicsPath tri;
  tri.AddLines({{400, 500}, {500, 600}, {300, 600}});
  tri.CloseFigure();
  pg.G.FillPath(TkxSolidBrush(kBlue), tri);  // a polygon
  pg.Run();

  const auto shapes = pg.T.Shapes();
  ASSERT_EQ(shapes.size(), 5u);
  EXPECT_EQ(shapes[0]->ShapeType, shRectangle);
  ASSERT_TRUE(shapes[0]->Brush);
  EXPECT_EQ(shapes[0]->Brush->Color(), 0x0000FF);  // red as a TColor
  EXPECT_EQ(shapes[0]->Pen.Style(), psClear);
  EXPECT_DOUBLE_EQ(shapes[0]->Points[0].X, 100);
  EXPECT_DOUBLE_EQ(shapes[0]->Points[1].Y, 150);

  EXPECT_EQ(shapes[1]->ShapeType, shLine);  // thin fill: a line in the fill colour
  EXPECT_EQ(shapes[1]->Pen.Color(), 0xFF0000);
  EXPECT_GE(shapes[1]->Pen.Width(), 1);
  EXPECT_FALSE(shapes[1]->Brush);
  EXPECT_DOUBLE_EQ(shapes[1]->Points[0].Y, shapes[1]->Points[1].Y);
  EXPECT_NEAR(shapes[1]->Points[1].X - shapes[1]->Points[0].X, 400, 1);

  EXPECT_EQ(shapes[2]->ShapeType, shRectangle);  // stroked four-point path
  EXPECT_FALSE(shapes[2]->Brush);
  EXPECT_EQ(shapes[2]->Pen.Width(), 2);

  EXPECT_EQ(shapes[3]->ShapeType, shPolyline);
  EXPECT_EQ(shapes[3]->PointCount(), 6);

  EXPECT_EQ(shapes[4]->ShapeType, shPolygon);
  EXPECT_EQ(shapes[4]->PointCount(), 3);
  EXPECT_TRUE(shapes[4]->Brush);
}

TEST(DrawingRecords, CurvesAreFlattenedAndRingsFilledTogether) {
  Page pg;
  TkxGraphicsPath curve;
  curve.StartFigure();
  curve.AddBezier({100, 100}, {200, 0}, {300, 200}, {400, 100});
  pg.G.DrawPath(TkxPen(kRed, 1), curve);
  TkxGraphicsPath ring;
  ring.AddRectangle({100, 300, 300, 300});
  ring.AddRectangle({200, 400, 100, 100});
  ring.SetFillMode(fmAlternate);
  pg.G.FillPath(TkxSolidBrush(kBlue), ring);
  pg.Run();

  const auto shapes = pg.T.Shapes();
  ASSERT_EQ(shapes.size(), 1u);
  EXPECT_EQ(shapes[0]->ShapeType, shPolyline);
  EXPECT_GT(shapes[0]->PointCount(), 8);
  EXPECT_NEAR(shapes[0]->Points.front().X, 100, 1);
  EXPECT_NEAR(shapes[0]->Points.back().X, 400, 1);
  const auto rings = pg.T.All<TkxPolyPolygonItem>();
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(rings[0]->PolygonCount(), 2);
  EXPECT_TRUE(rings[0]->Alternate);
}

TEST(DrawingRecords, NothingOutsideThePageOrTheClipIsKept) {
  Page pg;
  pg.G.FillPath(TkxSolidBrush(kRed), RectPath(900, 100, 50, 50));    // right of the page
  pg.G.FillPath(TkxSolidBrush(kRed), RectPath(700, 900, 300, 300));  // partly off the page
  pg.G.SetClip(TkxRectF{100, 100, 100, 100});
  // (Fewer than make a crowded page, which keeps its drawing as recorded.)
  static_assert(30 * 30 + 4 <= kMaxPageShapes);
  for (int i = 0; i < 30; ++i)
    for (int j = 0; j < 30; ++j) pg.G.FillPath(TkxSolidBrush(kBlue), RectPath(300 + i * 4, 300 + j * 4, 3, 3));
  pg.G.FillPath(TkxSolidBrush(kBlue), RectPath(150, 150, 200, 10));  // cut at the clip's right
  TkxGraphicsPath line;
  line.AddLine(0, 120, 800, 120);
  pg.G.DrawPath(TkxPen(kBlue, 1), line);  // cut to the clip
  pg.G.ResetClip();
  pg.Run();

  const auto shapes = pg.T.Shapes();
  ASSERT_EQ(shapes.size(), 3u);
  EXPECT_EQ(shapes[0]->ShapeType, shRectangle);
  EXPECT_LE(shapes[0]->Points[1].X, 800);
  EXPECT_LE(shapes[0]->Points[1].Y, 1000);
  EXPECT_EQ(shapes[1]->ShapeType, shRectangle);
  EXPECT_DOUBLE_EQ(shapes[1]->Points[1].X, 200);
  EXPECT_EQ(shapes[2]->ShapeType, shLine);
  // A stroke is cut where its pen no longer reaches into the clip.
  EXPECT_NEAR(shapes[2]->Points[0].X, 100, 2);
  EXPECT_NEAR(shapes[2]->Points[1].X, 200, 2);
}

TEST(DrawingRecords, TextOnlyModeMakesNoShapes) {
  Page pg;
  pg.T.Wanted = {TkxItemsToRenderKind::irText};
  pg.G.FillPath(TkxSolidBrush(kRed), RectPath(100, 100, 200, 50));
  TkxGraphicsPath curve;
  curve.StartFigure();
  curve.AddBezier({100, 100}, {200, 0}, {300, 200}, {400, 100});
  pg.G.DrawPath(TkxPen(kRed, 1), curve);
  pg.Run();
  for (const auto& item : pg.T.Items) {
    EXPECT_FALSE(dynamic_cast<TkxShapeItem*>(item.get()));
    EXPECT_FALSE(dynamic_cast<TkxPathItem*>(item.get()));
  }
}

TEST(DrawingRecords, BlankPaperFillsAreDropped) {
  Page pg;
  pg.G.FillPath(TkxSolidBrush(0xFFFFFFFFu), RectPath(0, 0, 800, 1000));  // the page's background
  pg.G.FillPath(TkxSolidBrush(kRed), RectPath(100, 100, 200, 200));
  pg.G.FillPath(TkxSolidBrush(0xFFFFFFFFu), RectPath(150, 150, 50, 50));  // white over red stays
  pg.Run();
  const auto shapes = pg.T.Shapes();
  ASSERT_EQ(shapes.size(), 2u);
  EXPECT_EQ(shapes[1]->Brush->Color(), 0xFFFFFF);
}

// A page crowded with painting records keeps them as recorded; one whose
// few records make many shapes (a path of many strokes) gets its shapes
// recorded. Either way the drawing is one vector picture, its text stays
// text and its bitmaps pictures of their own.
TEST(DrawingRecords, CrowdedPageBecomesOnePicture) {
  for (const bool manyRecords : {true, false}) {
    SCOPED_TRACE(manyRecords ? "many records" : "many strokes");
    Page pg;
    const int n = static_cast<int>(kMaxPageShapes) + 100;
    TkxGraphicsPath grid;
    for (int i = 0; i < n; ++i) {
      const double x = 10 + (i % 70) * 11, y = 10 + (i / 70) * 11;
      if (manyRecords) {
        pg.G.FillPath(TkxSolidBrush(kRed), RectPath(x, y, 8, 8));
      } else {
        grid.StartFigure();
        grid.AddLines({{x, y}, {x + 8, y + 8}});
      }
    }
    if (!manyRecords) pg.G.DrawPath(TkxPen(kRed, 3), grid);
    TkxBitmap photo(4, 4);
    pg.Rec.StretchDIBits(100, 700, 300, 40, 0, 0, 4, 4, photo.ToDIBHeader(24), photo.ToDIBBits(24), SRCCOPY);
    pg.UseSans();
    pg.Rec.ExtTextOutW({100, 800}, 0, {0, 0, -1, -1}, u"Caption", {}, {});
    pg.Run();
    EXPECT_TRUE(pg.T.Shapes().empty());
    ASSERT_EQ(pg.T.Texts().size(), 1u);
    const auto images = pg.T.All<TkxImageItem>();
    ASSERT_EQ(images.size(), 2u);
    ASSERT_EQ(pg.T.Table.size(), 2u);
    const TkxImageItem* drawing = nullptr;
    for (const TkxImageItem* image : images) {
      ASSERT_GE(image->ImageIndex, 0);
      ASSERT_LT(image->ImageIndex, 2);
      if (pg.T.Table[image->ImageIndex].Picture->Metafile()) drawing = image;
    }
    ASSERT_NE(drawing, nullptr);
    const TGraphic& picture = *pg.T.Table[drawing->ImageIndex].Picture;
    EXPECT_EQ(picture.Width(), static_cast<int>(std::lround(drawing->Width)));
    EXPECT_LT(drawing->X, 11);
    EXPECT_LT(drawing->Width, 801);
    // Vector, written as a metafile whatever the format asked for pictures,
    // and drawing the squares where they were, without the text.
    EXPECT_EQ(drawing->ImageSettings.OutputImageFormat(), ifMetafile);
    const TkxBitmap drawn = RenderGraphic(picture);
    ASSERT_FALSE(drawn.Empty());
    const double sx = drawn.Width() / drawing->Width, sy = drawn.Height() / drawing->Height;
    auto at = [&](double x, double y) {
      return drawn.Pixel(static_cast<int>((x - drawing->X) * sx), static_cast<int>((y - drawing->Y) * sy));
    };
    EXPECT_EQ(at(10 + 11 * 5 + 4, 10 + 11 * 3 + 4) & 0xFFFFFF, 0xFF0000u);  // inside a square
    EXPECT_EQ(at(10 + 11 * 5 + 9.5, 10 + 11 * 3 + 4) >> 24, 0u);            // between squares
    if (manyRecords) {
      EXPECT_EQ(at(110, 810) >> 24, 0u);  // the text is not drawn
    }
  }
}

// A crowded recording cut short (no end record, half a record at the end)
// still gives a picture whole enough for a reader.
TEST(DrawingRecords, CrowdedRecordingCutShortGivesAWholePicture) {
  Page pg;
  for (int i = 0; i < static_cast<int>(kMaxPageShapes) + 10; ++i)
    pg.G.FillPath(TkxSolidBrush(kRed), RectPath(10 + (i % 70) * 11, 10 + (i / 70) * 11, 8, 8));
  std::vector<uint8_t> bytes = pg.Rec.Close().Bytes();
  bytes.resize(bytes.size() - 20);                              // the end record
  bytes.insert(bytes.end(), {EMR_POLYGON16, 0, 0, 0, 200, 0});  // and half a record
  {
    TkxMetafileRecordProcessor p(pg.T);
    p.ProcessRecords(bytes.data(), bytes.size(), 0, 0);
  }
  ASSERT_EQ(pg.T.Table.size(), 1u);
  const TkxMetafile* emf = pg.T.Table[0].Picture->Metafile();
  ASSERT_NE(emf, nullptr);
  uint32_t last = 0;
  emf->EnumerateRecords([&](const TkxEmfRecord& r) {
    last = r.Type();
    return true;
  });
  EXPECT_EQ(last, EMR_EOF);
  const TkxBitmap drawn = RenderGraphic(*pg.T.Table[0].Picture);
  ASSERT_FALSE(drawn.Empty());
  const double sx = drawn.Width() / 800.0, sy = drawn.Height() / 1000.0;
  EXPECT_EQ(drawn.Pixel(static_cast<int>(14 * sx), static_cast<int>(14 * sy)) & 0xFFFFFF, 0xFF0000u);
}

TEST(DrawingRecords, HostileRecordsStayBounded) {
  Page pg;
  // An open path bracket that never ends, a line from nowhere, empty and
  // oversized point lists, extreme coordinates.
  pg.Rec.UsePen({PS_SOLID, 1, 0, 0, 0, {}});
  pg.Rec.LineTo({400, 400});
  pg.Rec.Polyline({{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}, {INT32_MIN, 5}});
  {
    TkxEmfRecordWriter w(EMR_POLYGON);
    w.Rect({0, 0, 0, 0}).U32(1000000);  // a count the record does not hold
    pg.Raw(std::move(w));
  }
  std::vector<TkxEmfPointL> many;
  for (int64_t i = 0; i < 1000000; ++i)
    many.push_back({static_cast<int32_t>(100 + i % 600), static_cast<int32_t>(100 + (i * 7919) % 800)});
  pg.Rec.UseBrush({BS_SOLID, 0x00FF00, 0});
  pg.Rec.Polygon(many);
  pg.Rec.BeginPath();
  pg.Rec.MoveTo({10, 10});
  pg.Rec.LineTo({20, 20});
  pg.Run();

  size_t points = 0;
  for (auto* s : pg.T.Shapes()) {
    points += s->Points.size();
    for (const auto& p : s->Points) {
      EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y));
      EXPECT_GE(p.X, -1);
      EXPECT_LE(p.X, 801);
    }
  }
  EXPECT_LE(points, 2 * kMaxShapePoints);
  // The large polygon is one item that is drawn as a picture.
  EXPECT_EQ(pg.T.All<TkxPolyPolygonItem>().size(), 1u);
}

TEST(DrawingGeometry, ClipsPolylinesAndPolygonsToRectangles) {
  const TkxDoubleRect r{0, 0, 10, 10};
  const auto pieces = ClipPolylineToRect({{-5, 5}, {5, 5}, {5, 15}, {15, 15}, {15, 5}, {8, 5}}, r);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_DOUBLE_EQ(pieces[0].front().X, 0);
  EXPECT_DOUBLE_EQ(pieces[0].back().Y, 10);
  EXPECT_DOUBLE_EQ(pieces[1].front().X, 10);
  EXPECT_DOUBLE_EQ(pieces[1].back().X, 8);
  EXPECT_TRUE(ClipPolylineToRect({{-5, -5}, {-1, 20}}, r).empty());

  const auto poly = ClipPolygonToRect({{-10, -10}, {20, -10}, {20, 20}, {-10, 20}}, r);
  ASSERT_EQ(poly.size(), 4u);
  for (const auto& p : poly) EXPECT_TRUE((p.X == 0 || p.X == 10) && (p.Y == 0 || p.Y == 10));
  EXPECT_TRUE(ClipPolygonToRect({{20, 20}, {30, 20}, {30, 30}}, r).empty());
}

TEST(DrawingRecords, AFilledFigureAndItsOutlineAreOneShape) {
  TkxGraphicsPath tri, otherTri;
  tri.AddLines({{400, 500}, {500, 600}, {300, 600}});
  tri.CloseFigure();
  otherTri.AddLines({{400, 500}, {500, 600}, {310, 600}});
  otherTri.CloseFigure();
  const struct {
    const char* name;
    TkxGraphicsPath fill, outline;
    uint8_t kind;
    size_t shapes;
  } cases[] = {
      {"box", RectPath(100, 100, 200, 50), RectPath(100, 100, 200, 50), shRectangle, 1},
      {"triangle", tri, tri, shPolygon, 1},
      {"another triangle's outline", tri, otherTri, shPolygon, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Page pg;
    pg.G.FillPath(TkxSolidBrush(kRed), c.fill);
    pg.G.DrawPath(TkxPen(kBlue, 1), c.outline);
    pg.Run();
    const auto shapes = pg.T.Shapes();
    ASSERT_EQ(shapes.size(), c.shapes);
    EXPECT_EQ(shapes[0]->ShapeType, c.kind);
    ASSERT_TRUE(shapes[0]->Brush);
    EXPECT_EQ(shapes.back()->Pen.Style(), psSolid);
    EXPECT_EQ(shapes.back()->Pen.Color(), 0xFF0000);  // blue as a TColor
    if (c.shapes == 2) {
      EXPECT_EQ(shapes[0]->Pen.Style(), psClear);
      EXPECT_FALSE(shapes[1]->Brush);
    }
  }
}

TEST(DrawingRecords, FlowingTextIsNotCoveredByFills) {
  // Lines of text flow under the reader's shapes: fills under text lose
  // their fill (outlined ones keep the outline); fills elsewhere stay.
  Page pg;
  pg.T.Line = true;
  pg.G.FillPath(TkxSolidBrush(kRed), RectPath(100, 100, 300, 40));  // under the text
  pg.G.DrawPath(TkxPen(kBlue, 1), RectPath(100, 100, 300, 40));
  pg.G.FillPath(TkxSolidBrush(kBlue), RectPath(100, 500, 300, 40));  // apart from it
  pg.UseSans();
  pg.Rec.SetTextAlign(TA_TOP | TA_LEFT);
  pg.Rec.ExtTextOutW({120, 110}, 0, {0, 0, -1, -1}, u"Hello", {}, {120, 110, 180, 130});
  pg.Run();
  ASSERT_EQ(pg.T.LineItems.size(), 1u);
  const auto shapes = pg.T.Shapes();
  ASSERT_EQ(shapes.size(), 2u);
  EXPECT_FALSE(shapes[0]->Brush);
  EXPECT_EQ(shapes[0]->Pen.Style(), psSolid);
  EXPECT_TRUE(shapes[1]->Brush);
}

TEST(DrawingRecords, FillsUnderAnyOfManyLinesLoseTheirFill) {
  // Lines of very different heights, recorded out of page order: a fill
  // under the lower part of a tall line or under a later short one goes,
  // fills between and below the lines stay.
  Page pg;
  pg.T.Line = true;
  const double tops[] = {160, 250, 405, 600};  // under tall, between, under short, below
  for (double top : tops) pg.G.FillPath(TkxSolidBrush(kRed), RectPath(100, top, 300, 10));
  TkxLogFontW font = Page::Sans();
  pg.Rec.SetTextAlign(TA_TOP | TA_LEFT);
  pg.Rec.UseFont(font);
  pg.Rec.ExtTextOutW({100, 400}, 0, {0, 0, -1, -1}, u"Short", {}, {});
  font.lfHeight = -80;
  pg.Rec.UseFont(font);
  pg.Rec.ExtTextOutW({100, 100}, 0, {0, 0, -1, -1}, u"Tall", {}, {});
  pg.Run();
  ASSERT_EQ(pg.T.LineItems.size(), 2u);
  std::vector<double> kept;
  for (const auto* shape : pg.T.Shapes()) kept.push_back(std::round(shape->Points[0].Y));
  EXPECT_EQ(kept, (std::vector<double>{250, 600}));
}

// Text knows the colour of the box it stands on (what a reader paints its
// frame with): the topmost thing drawn under it, if that is a solid box.
TEST(DrawingRecords, TextKnowsTheBoxItStandsOn) {
  Page pg;
  pg.G.FillPath(TkxSolidBrush(kBlue), RectPath(100, 100, 300, 40));
  pg.G.FillPath(TkxSolidBrush(kRed), RectPath(100, 300, 300, 40));
  TkxBitmap photo(4, 4);
  pg.Rec.StretchDIBits(100, 300, 300, 40, 0, 0, 4, 4, photo.ToDIBHeader(24), photo.ToDIBBits(24), SRCCOPY);
  pg.UseSans();
  pg.Rec.SetTextAlign(TA_TOP | TA_LEFT);
  pg.Rec.ExtTextOutW({120, 110}, 0, {0, 0, -1, -1}, u"On blue", {}, {});
  pg.Rec.ExtTextOutW({120, 310}, 0, {0, 0, -1, -1}, u"On a picture", {}, {});
  pg.Rec.ExtTextOutW({120, 500}, 0, {0, 0, -1, -1}, u"On paper", {}, {});
  pg.Rec.ExtTextOutW({380, 110}, 0, {0, 0, -1, -1}, u"Past the edge", {}, {});
  pg.Run();
  const auto texts = pg.T.Texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0]->Backdrop, TColor(0xFF0000));  // blue, as BGR
  EXPECT_NEAR(texts[0]->BackdropRight, 400, 1);
  EXPECT_EQ(texts[1]->Backdrop, clNone);
  EXPECT_EQ(texts[2]->Backdrop, clNone);
  EXPECT_EQ(texts[3]->Backdrop, clNone);
}

// A line drawn under or through the text just before it, as long as that
// text and in its colour, becomes the text's underline or strikeout; a rule
// that reaches well past its text, or in another colour, stays a shape.
TEST(DrawingRecords, LinesUnderTheirTextBecomeUnderlines) {
  const TkxLogFontW font = Page::Sans();
  // The text's width as the page records it.
  Page probe;
  probe.Rec.UseFont(font);
  probe.Rec.SetTextAlign(TA_TOP | TA_LEFT);
  probe.Rec.ExtTextOutW({200, 100}, 0, {0, 0, -1, -1}, u"Linked", {}, {});
  probe.Run();
  ASSERT_EQ(probe.T.Texts().size(), 1u);
  const TkxTextItem& probed = *probe.T.Texts()[0];
  const double w = MeasureTextRun(probed.Font, probed.FirstLine()).Width;
  ASSERT_GT(w, 20);

  struct Case {
    const char* name;
    double from, to, y;  // the line: shares of the text's width, pixels below its top (font height 20)
    uint32_t color;
    int style;  // the font style expected; -1: the line stays a shape
  };
  const Case cases[] = {
      {"underline", 0, 1, 18, 0xFF000000u, fsUnderline}, {"strikeout", 0, 1, 10, 0xFF000000u, fsStrikeout},
      {"table rule", -1, 3, 18, 0xFF000000u, -1},        {"another colour", 0, 1, 18, kRed, -1},
      {"far below", 0, 1, 40, 0xFF000000u, -1},
  };
  for (const Case& c : cases) {
    for (bool flowing : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (flowing ? " among lines" : " in frames"));
      Page pg;
      pg.T.Line = flowing;
      pg.Rec.UseFont(font);
      pg.Rec.SetTextAlign(TA_TOP | TA_LEFT);
      pg.Rec.ExtTextOutW({200, 100}, 0, {0, 0, -1, -1}, u"Linked", {}, {});
      TkxGraphicsPath path;
      path.AddLines({{200 + c.from * w, 100 + c.y}, {200 + c.to * w, 100 + c.y}});
      pg.G.DrawPath(TkxPen(c.color, 1), path);
      pg.Run();
      TkxTextItem* t = flowing ? pg.T.LineItems.at(0).get() : pg.T.Texts().at(0);
      if (c.style < 0) {
        EXPECT_EQ(t->Font.Style() & (fsUnderline | fsStrikeout), 0);
        EXPECT_EQ(pg.T.Shapes().size(), 1u);
      } else {
        EXPECT_EQ(t->Font.Style() & (fsUnderline | fsStrikeout), c.style);
        EXPECT_TRUE(pg.T.Shapes().empty());
      }
    }
  }
}

// A shape takes the line join and end cap of the pen that draws it, not of
// a pen made after it was selected, and a stock pen has neither.
TEST(DrawingRecords, JoinAndCapComeFromTheSelectedPen) {
  Page pg;
  const uint32_t round = pg.Rec.CreatePen({PS_GEOMETRIC | PS_JOIN_ROUND | PS_ENDCAP_FLAT, 3, BS_SOLID, 0, 0, {}});
  pg.Rec.SelectObject(round);
  pg.Rec.CreatePen({PS_GEOMETRIC | PS_JOIN_BEVEL | PS_ENDCAP_SQUARE, 3, BS_SOLID, 0, 0, {}});  // made, not used
  pg.Rec.Polyline({{10, 10}, {200, 10}, {200, 200}});
  pg.Rec.SelectObject(ENHMETA_STOCK_OBJECT | BLACK_PEN);
  pg.Rec.Polyline({{10, 300}, {200, 300}, {200, 500}});
  pg.Run();

  const auto shapes = pg.T.Shapes();
  ASSERT_EQ(shapes.size(), 2u);
  EXPECT_EQ(shapes[0]->LineJoin, 3);  // round
  EXPECT_EQ(shapes[0]->EndCap, 3);    // flat
  EXPECT_EQ(shapes[1]->LineJoin, 0);
  EXPECT_EQ(shapes[1]->EndCap, 0);
}
