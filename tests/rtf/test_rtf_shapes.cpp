// Shapes in RTF: the drawing-object words of pens and brushes, each shape's
// group, freeform polygons, and where the engine puts a page's shapes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/kxScreen.h"
#include "rtf/kxRTFEngine.h"
#include "rtf/kxRTFShapeWriter.h"
#include "tests/rtf/rtf_engine_support.h"

using namespace pw;

namespace {

TkxRTFShapeWriter Writer() { return TkxRTFShapeWriter(15); }

TPen Pen(TPenStyle style, int width, TColor color) {
  TPen p;
  p.SetStyle(style);
  p.SetWidth(width);
  p.SetColor(color);
  return p;
}

TBrush Brush(TBrushStyle style, TColor color) {
  TBrush b;
  b.SetColor(color);
  b.SetStyle(style);
  return b;
}

}  // namespace

TEST(RTFShapes, StyleWords) {
  const TkxRTFShapeWriter w = Writer();
  struct PenCase {
    TPenStyle Style;
    int Width;
    const char* Expected;
  };
  const PenCase pens[] = {
      {psSolid, 2, "\\dplinesolid\\dplinecor1\\dplinecog2\\dplinecob3\\dplinew30 "},
      {psDash, 1, "\\dplinedash\\dplinecor1\\dplinecog2\\dplinecob3\\dplinew15 "},
      {psDot, 1, "\\dplinedot\\dplinecor1\\dplinecog2\\dplinecob3\\dplinew15 "},
      {psDashDot, 1, "\\dplinedado\\dplinecor1\\dplinecog2\\dplinecob3\\dplinew15 "},
      {psDashDotDot, 1, "\\dplinedadodo\\dplinecor1\\dplinecog2\\dplinecob3\\dplinew15 "},
      {psClear, 1, "\\dplinehollow\\dplinecor1\\dplinecog2\\dplinecob3\\dplinew15 "},
      {psSolid, 0, "\\dplinesolid\\dplinecor1\\dplinecog2\\dplinecob3\\dplinew15 "},  // a hairline stays
  };
  for (const PenCase& c : pens) EXPECT_EQ(w.LineStyle(Pen(c.Style, c.Width, 0x030201)), c.Expected);

  EXPECT_EQ(RTFFillStyle(Brush(bsSolid, 0x0A0B0C)),
            "\\dpfillfgcr255\\dpfillfgcg255\\dpfillfgcb255\\dpfillbgcr12\\dpfillbgcg11\\dpfillbgcb10\\dpfillpat1 ");
  EXPECT_NE(RTFFillStyle(Brush(bsDiagCross, 0)).find("\\dpfillpat19 "), std::string::npos);
  EXPECT_NE(RTFFillStyle(Brush(bsClear, 0)).find("\\dpfillpat0 "), std::string::npos);
}

// Lines, outlines and rules are shapes with the drawing object as their
// result (LibreOffice draws shapes over positioned text, drawing objects
// under it, cut by it); filled backgrounds stay drawing objects.
TEST(RTFShapes, ShapeGroups) {
  const TkxRTFShapeWriter w = Writer();
  const std::string lineObject =
      "{\\*\\do\\dobxpage\\dobypage\\dpline\\dpx150\\dpy150\\dpxsize1500\\dpysize750"
      "\\dplinesolid\\dplinecor0\\dplinecog0\\dplinecob0\\dplinew15 }";
  TkxShapeItem line(shLine);
  line.Points = {{10, 10}, {110, 60}};
  const std::string l = w.Line(line);
  EXPECT_EQ(l.rfind("{\\shp{\\*\\shpinst\\shpleft150\\shptop150\\shpright1650\\shpbottom900", 0), 0u) << l;
  EXPECT_NE(l.find("{\\sn shapeType}{\\sv 20}"), std::string::npos);
  EXPECT_EQ(l.find("fFlip"), std::string::npos);
  EXPECT_NE(l.find("{\\shprslt " + lineObject + "}}"), std::string::npos) << l;
  // A line drawn up and to the left is the same line, unflipped (a reader
  // turns a box flipped both ways); one drawn up and to the right keeps its
  // box and is flipped upright.
  line.Points = {{110, 60}, {10, 10}};
  EXPECT_EQ(w.Line(line), l);
  line.Points = {{10, 60}, {110, 10}};
  const std::string up = w.Line(line);
  EXPECT_NE(up.find("\\shpleft150\\shptop150\\shpright1650\\shpbottom900"), std::string::npos);
  EXPECT_NE(up.find("{\\sn shapeType}{\\sv 20}}{\\sp{\\sn fFlipV}{\\sv 1}}"), std::string::npos) << up;
  EXPECT_EQ(up.find("fFlipH"), std::string::npos);

  // A filled background: the drawing object alone.
  TkxShapeItem rect(shRectangle);
  rect.Points = {{20, 40}, {10, 20}};
  rect.SetBrush(Brush(bsSolid, 0xFF));
  const std::string r = w.Rectangle(rect);
  EXPECT_EQ(r.rfind("{\\lang1024 {\\*\\do\\dobxpage\\dobypage\\dprect\\dpx300\\dpy600\\dpxsize-150\\dpysize-300", 0),
            0u);
  EXPECT_NE(r.find("\\dpfillbgcr255\\dpfillbgcg0\\dpfillbgcb0"), std::string::npos);
  EXPECT_EQ(r.substr(r.size() - 2), "}}");
  // A rule (a filled box a pixel high) and an outline are rectangle shapes.
  rect.Points = {{10, 20}, {200, 21}};
  const std::string rule = w.Rectangle(rect);
  EXPECT_EQ(rule.rfind("{\\shp{", 0), 0u) << rule;
  EXPECT_NE(rule.find("{\\sn shapeType}{\\sv 1}}{\\sp{\\sn fFilled}{\\sv 1}}{\\sp{\\sn fillColor}{\\sv 255}}"),
            std::string::npos)
      << rule;
  EXPECT_NE(rule.find("{\\shprslt {\\lang1024 {\\*\\do\\dobxpage\\dobypage\\dprect"), std::string::npos);
  TkxShapeItem outline(shRectangle);
  outline.Points = {{20, 40}, {10, 20}};
  EXPECT_NE(w.Rectangle(outline).find("{\\sn fFilled}{\\sv 0}"), std::string::npos);

  TkxShapeItem round(shRoundRect);
  round.Points = {{0, 0}, {10, 10}, {2, 2}};
  const std::string rr = w.RoundRect(round);
  EXPECT_NE(rr.find("{\\sn shapeType}{\\sv 2}"), std::string::npos);
  EXPECT_NE(rr.find("\\dprect\\dproundr\\dpx0"), std::string::npos);
  TkxShapeItem ellipse(shEllipse);
  ellipse.Points = {{0, 0}, {10, 10}};
  const std::string el = w.Ellipse(ellipse);
  EXPECT_NE(el.find("{\\sn shapeType}{\\sv 3}"), std::string::npos);
  EXPECT_NE(el.find("\\dpellipse\\dpx0"), std::string::npos);
  EXPECT_EQ(w.Ellipse(TkxShapeItem(shEllipse)), "");  // no points
}

TEST(RTFShapes, PolygonsAreFreeformShapesWithTheDrawingObjectAsResult) {
  const TkxRTFShapeWriter w = Writer();
  const TkxPoints tri{{10, 10}, {20, 30}, {0, 30}};
  const TBrush fill = Brush(bsSolid, 0x00FF00);
  const std::string s = w.Polygon(tri, 3, &fill, Pen(psDash, 1, 0xFF), true, 3, 1);
  EXPECT_EQ(s.rfind("{\\shp{\\*\\shpinst\\shpleft0\\shptop150\\shpright300\\shpbottom450", 0), 0u);
  EXPECT_NE(s.find("{\\sn pVerticies}{\\sv 8;4;(150,0);(300,300);(0,300);(150,0)}"), std::string::npos);
  EXPECT_NE(s.find("{\\sn pSegmentInfo}{\\sv 2;4;16384;3;24577;32768}"), std::string::npos);
  EXPECT_NE(s.find("{\\sn fillColor}{\\sv 65280}"), std::string::npos);
  EXPECT_NE(s.find("{\\sn lineColor}{\\sv 255}"), std::string::npos);
  EXPECT_NE(s.find("{\\sn lineWidth}{\\sv 9525}"), std::string::npos);
  EXPECT_NE(s.find("{\\sn lineDashing}{\\sv 1}"), std::string::npos);
  EXPECT_NE(s.find("{\\sn lineJoinStyle}{\\sv 2}"), std::string::npos);
  EXPECT_NE(s.find("{\\shprslt {\\lang1024 {\\*\\do\\dobxpage\\dobypage\\dppolygon\\dppolycount3"
                   "\\dpptx150\\dppty0\\dpptx300\\dppty300\\dpptx0\\dppty300\\dpx0\\dpy150\\dpxsize300\\dpysize300"),
            std::string::npos);

  const std::string open = w.Polygon(tri, 3, nullptr, Pen(psSolid, 1, 0), false, 0, 0);
  EXPECT_NE(open.find("{\\sv 2;3;16384;2;32768}"), std::string::npos);
  EXPECT_NE(open.find("{\\sn fFilled}{\\sv 0}"), std::string::npos);
  EXPECT_NE(open.find("\\dppolyline"), std::string::npos);
  // Two points make a line; no points make nothing.
  EXPECT_NE(w.Polygon(tri, 2, nullptr, Pen(psSolid, 1, 0), false, 0, 0).find("{\\sn shapeType}{\\sv 20}"),
            std::string::npos);
  EXPECT_EQ(w.Polygon(tri, 0, nullptr, Pen(psSolid, 1, 0), false, 0, 0), "");
}

TEST(RTFShapes, PageShapesGoTogetherAtThePageEnd) {
  if (TkxScreen::PPI() != 96) GTEST_SKIP() << "the expected lengths are those of 96 pixels per inch";
  for (TkxRTFEncodingType type : {etPositionalAccuracy, etEaseOfEditing}) {
    TkxRTFEngine e;
    std::ostringstream out;
    test::WriteToStream(e, out);
    e.SetDocumentEncodingType(type);
    e.SetMeasurementUnit(muPixels);
    e.BeginDoc();
    e.Line(10, 10, 110, 60);
    e.TextOut(96, 96, u"Hello");
    e.Rectangle(10, 10, 50, 50, true);
    e.NewPage();
    e.Polygon({{10, 10}, {20, 30}, {0, 30}}, true);
    e.EndDoc();
    const std::string rtf = out.str();
    const size_t firstSect = rtf.find("}\\sect");
    const size_t shapes = rtf.find("{\\pard \\sl-1 {\\shp{\\*\\shpinst\\shpleft150\\shptop150");
    ASSERT_NE(shapes, std::string::npos) << type;
    // Positioned text comes first, to lie over the shapes; flowing lines
    // come after the shapes' paragraph at the page's top.
    if (type == etPositionalAccuracy)
      EXPECT_LT(rtf.find("Hello"), shapes);
    else
      EXPECT_GT(rtf.find("Hello"), shapes);
    EXPECT_LT(shapes, firstSect);
    EXPECT_LT(rtf.find("\\dprect", shapes), firstSect);
    EXPECT_GT(rtf.find("\\shpleft0\\shptop150"), firstSect);
  }
}
