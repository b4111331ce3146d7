// The graphics interface: what each drawing call leaves in the recording,
// read back through our own enumeration, with positions computed by hand
// from the transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "platform/kxBitmap.h"
#include "platform/kxEmf.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxFontManager.h"
#include "platform/kxGraphics.h"

using namespace pw;

namespace {

constexpr double kPt = 96.0 / 72.0;  // device pixels per point at 96 PPI

std::vector<TkxEmfRecord> OfType(const TkxMetafile& mf, uint32_t type) {
  std::vector<TkxEmfRecord> out;
  for (const auto& r : mf.Records())
    if (r.Type() == type) out.push_back(r);
  return out;
}

std::vector<uint32_t> Types(const TkxMetafile& mf) {
  std::vector<uint32_t> out;
  for (const auto& r : mf.Records())
    if (r.Type() != EMR_HEADER && r.Type() != EMR_EOF) out.push_back(r.Type());
  return out;
}

size_t IndexOf(const std::vector<uint32_t>& v, uint32_t type, size_t from = 0) {
  for (size_t i = from; i < v.size(); ++i)
    if (v[i] == type) return i;
  return v.size();
}

double Ascent(const char* family, int style, double em) {
  const TkxFamilyMetrics m = TkxFontFamily(family).Metrics(style);
  return em * m.CellAscent / m.EmHeight;
}

double Cell(const char* family, int style, double em) {
  const TkxFamilyMetrics m = TkxFontFamily(family).Metrics(style);
  return em * (m.CellAscent + m.CellDescent) / m.EmHeight;
}

TkxBitmap Quad() {  // top row red, green; bottom row blue, white
  TkxBitmap b(2, 2);
  b.SetPixel(0, 0, 0xFFFF0000);
  b.SetPixel(1, 0, 0xFF00FF00);
  b.SetPixel(0, 1, 0xFF0000FF);
  b.SetPixel(1, 1, 0xFFFFFFFF);
  return b;
}

}  // namespace

TEST(GraphicsMatrix, PrependAppendRotateInvert) {
  struct Case {
    const char* name;
    TkxMatrix m;
    TkxPointF in, out;
  };
  TkxMatrix pre, app, rot;
  pre.Translate(10, 0);
  pre.Scale(2, 2);  // prepended: scaling first
  app.Translate(10, 0);
  app.Scale(2, 2, moAppend);  // appended: scaling last
  rot.Rotate(90);
  const Case cases[] = {
      {"prepend", pre, {1, 1}, {12, 2}},
      {"append", app, {1, 1}, {22, 2}},
      {"rotate 90: x axis turns down the device", rot, {1, 0}, {0, 1}},
  };
  for (const Case& c : cases) {
    const TkxPointF p = c.m.Transform(c.in);
    EXPECT_NEAR(p.X, c.out.X, 1e-12) << c.name;
    EXPECT_NEAR(p.Y, c.out.Y, 1e-12) << c.name;
  }
  TkxMatrix m(2, 1, 0.5, 4, 10, 20), inv = m;
  ASSERT_TRUE(inv.Invert());
  const TkxPointF back = inv.Transform(m.Transform({3, -7}));
  EXPECT_NEAR(back.X, 3, 1e-12);
  EXPECT_NEAR(back.Y, -7, 1e-12);
  TkxMatrix singular(1, 2, 2, 4, 0, 0);
  EXPECT_FALSE(singular.Invert());
  EXPECT_EQ(singular, TkxMatrix(1, 2, 2, 4, 0, 0));
}

TEST(GraphicsPath, FiguresJoinCloseAndStartAsGdiPlusDoes) {
  TkxGraphicsPath p;
  p.AddLine(0, 0, 10, 0);
  p.AddLine(10, 0, 10, 10);                             // joined, its first point not repeated
  p.AddBezier({20, 10}, {20, 20}, {30, 20}, {30, 30});  // joined by a line to (20, 10)
  p.CloseFigure();
  p.AddLine(5, 5, 6, 6);  // a new figure after closing
  p.StartFigure();
  p.AddLine(6, 6, 7, 7);  // a new figure although it starts where the last ended
  p.AddRectangle({1, 2, 3, 4});
  EXPECT_EQ(p.Types(),
            (std::vector<uint8_t>{ptStart, ptLine, ptLine, ptLine, ptBezier, ptBezier, ptBezier | ptCloseSubpath,
                                  ptStart, ptLine, ptStart, ptLine, ptStart, ptLine, ptLine, ptLine | ptCloseSubpath}));
  EXPECT_EQ(p.Points()[3], (TkxPointF{20, 10}));
  EXPECT_EQ(p.Points()[13], (TkxPointF{4, 6}));
  EXPECT_EQ(p.Bounds(), (TkxRectF{0, 0, 30, 30}));
}

// A string drawn under the transforms the page renderer sets up lands where
// GDI+ puts it: the top-left of its layout box at the transformed origin, the
// run turned by the transform's rotation, its size the em height in device
// pixels.
TEST(GraphicsText, RunsLandWhereTheTransformPutsThem) {
  const double H = 792;  // page height in points
  const double a12 = Ascent("Arial", fsRegular, 12);
  struct Case {
    const char* name;
    std::function<void(TkxGraphics&)> setup;
    TkxPointF origin;  // world units
    double emSize;
    int style;
    const char* family;
    double x, y;  // expected reference point, device pixels
    int32_t height, escapement;
    double widthScale;  // advances relative to the font's at the recorded size
  };
  const Case cases[] = {
      {"identity", [](TkxGraphics&) {}, {72, 72}, 12, fsRegular, "Arial", 96, 96, -16, 0, 1},
      {"renderer: page translation and text matrix",
       [&](TkxGraphics& g) {
         g.SetTransform(TkxMatrix(1, 0, 0, 1, 0, H));
         g.MultiplyTransform(TkxMatrix(1, 0, 0, 1, 72, -700));
       },
       {0, -a12},
       12,
       fsRegular,
       "Arial",
       72 * kPt,
       (H - 700 - a12) * kPt,
       -16,
       0,
       1},
      {"y-flip, text matrix, un-flip",
       [&](TkxGraphics& g) {
         g.SetTransform(TkxMatrix(1, 0, 0, -1, 0, H));
         g.TranslateTransform(72, 700);
         g.ScaleTransform(1, -1);
       },
       {0, -a12},
       12,
       fsRegular,
       "Arial",
       72 * kPt,
       (H - 700 - a12) * kPt,
       -16,
       0,
       1},
      {"y-flip and a quarter turn counter-clockwise",
       [&](TkxGraphics& g) {
         g.SetTransform(TkxMatrix(1, 0, 0, -1, 0, H));
         g.TranslateTransform(300, 400);
         g.RotateTransform(90);
         g.ScaleTransform(1, -1);
       },
       {0, -a12},
       12,
       fsRegular,
       "Arial",
       (300 - a12) * kPt,
       (H - 400) * kPt,
       -16,
       900,
       1},
      {"y-flip, 30 degrees, scaled by 2",
       [&](TkxGraphics& g) {
         g.SetTransform(TkxMatrix(1, 0, 0, -1, 0, H));
         g.TranslateTransform(100, 500);
         g.RotateTransform(30);
         g.ScaleTransform(2, -2);
       },
       {0, 0},
       12,
       fsRegular,
       "Arial",
       100 * kPt,
       (H - 500) * kPt,
       -32,
       300,
       1},
      {"non-uniform scale: height from y, advances stretched by x/y",
       [](TkxGraphics& g) { g.ScaleTransform(2, 3); },
       {10, 20},
       12,
       fsRegular,
       "Arial",
       20 * kPt,
       60 * kPt,
       -48,
       0,
       2.0 / 3.0},
      {"bold italic", [](TkxGraphics&) {}, {0, 0}, 10, fsBoldItalic, "Times New Roman", 0, 0, -13, 0, 1},
      {"mirrored: recorded upright in the box it covers",
       [&](TkxGraphics& g) { g.SetTransform(TkxMatrix(1, 0, 0, -1, 0, H)); },
       {72, 700},
       12,
       fsRegular,
       "Arial",
       72 * kPt,
       (H - 700) * kPt - Cell("Arial", fsRegular, 16),
       -16,
       0,
       1},
  };
  const std::u16string text = u"H\u00E9llo \u20AC";
  for (const Case& c : cases) {
    TkxEmfRecorder rec(816, 1056, 96);
    TkxGraphics g(rec);
    g.SetPageUnit(unPoint);
    c.setup(g);
    g.DrawString(text, TkxFont(TkxFontFamily(c.family), c.emSize, c.style, unPoint), c.origin,
                 TkxStringFormat::GenericTypographic(), TkxSolidBrush(0xFF102030));
    const TkxMetafile& mf = rec.Close();

    const auto runs = OfType(mf, EMR_EXTTEXTOUTW);
    ASSERT_EQ(runs.size(), 1u) << c.name;
    TkxEmrExtTextOut t;
    ASSERT_TRUE(DecodeExtTextOut(runs[0], t)) << c.name;
    EXPECT_EQ(t.Text, text) << c.name;
    EXPECT_NEAR(t.Reference.x, c.x, 1.0) << c.name;
    EXPECT_NEAR(t.Reference.y, c.y, 1.0) << c.name;
    EXPECT_EQ(t.Options, 0u) << c.name;

    TkxEmrCreateFont f;
    ASSERT_TRUE(DecodeExtCreateFont(OfType(mf, EMR_EXTCREATEFONTINDIRECTW)[0], f)) << c.name;
    const TkxLogFontW& lf = f.LogFont;
    EXPECT_EQ(lf.lfHeight, c.height) << c.name;
    EXPECT_EQ(lf.lfEscapement, c.escapement) << c.name;
    EXPECT_EQ(lf.lfOrientation, c.escapement) << c.name;
    EXPECT_EQ(lf.lfWeight, (c.style & fsBold) ? 700 : 400) << c.name;
    EXPECT_EQ(lf.lfItalic, (c.style & fsItalic) ? 1 : 0) << c.name;
    EXPECT_EQ(lf.lfFaceName, std::u16string(c.family, c.family + std::strlen(c.family))) << c.name;

    // One advance per UTF-16 unit, adding up to the run's width.
    ASSERT_EQ(t.Dx.size(), text.size()) << c.name;
    double sum = 0;
    for (int32_t d : t.Dx) sum += d;
    const double expected = TkxFontManager::Instance().TextWidth(c.family, c.style, -c.height, text) * c.widthScale;
    // The recorded size is the em height rounded to whole pixels.
    EXPECT_NEAR(sum, expected, 1.0 + expected * 0.5 / -c.height) << c.name;

    const auto colors = OfType(mf, EMR_SETTEXTCOLOR);
    ASSERT_EQ(colors.size(), 1u);
    EXPECT_EQ(colors[0].U32(8), 0x302010u) << c.name;
    const auto types = Types(mf);
    // Font selected and colour set before the run; the reference point is the top-left.
    EXPECT_LT(IndexOf(types, EMR_SELECTOBJECT), IndexOf(types, EMR_EXTTEXTOUTW)) << c.name;
    EXPECT_EQ(OfType(mf, EMR_SETTEXTALIGN)[0].U32(8), TA_TOP | TA_LEFT) << c.name;
    EXPECT_EQ(OfType(mf, EMR_SETBKMODE)[0].U32(8), TRANSPARENT) << c.name;
  }
}

TEST(GraphicsText, LayoutRectangleAlignsWrapsAndClips) {
  TkxEmfRecorder rec(400, 400, 96);
  TkxGraphics g(rec);
  g.SetPageUnit(unPixel);
  const TkxFont font(TkxFontFamily("Arial"), 16, fsRegular, unPixel);
  TkxStringFormat centred;
  centred.SetAlignment(saCenter);
  g.DrawString(u"Hello", font, TkxRectF{100, 100, 200, 50}, centred, TkxSolidBrush(0xFF000000));
  TkxStringFormat far;
  far.SetAlignment(saFar);
  g.DrawString(u"one two three four five", font, TkxRectF{10, 200, 90, 100}, far, TkxSolidBrush(0xFF000000));
  const TkxMetafile& mf = rec.Close();

  const auto runs = OfType(mf, EMR_EXTTEXTOUTW);
  ASSERT_GE(runs.size(), 3u);
  TkxEmrExtTextOut t;
  ASSERT_TRUE(DecodeExtTextOut(runs[0], t));
  const double w = g.MeasureString(u"Hello", font, centred).X;
  EXPECT_NEAR(t.Reference.x, 100 + (200 - w) / 2, 1.0);
  EXPECT_EQ(t.Reference.y, 100);
  EXPECT_EQ(t.Options, ETO_CLIPPED);
  EXPECT_EQ(t.Rect, (TkxEmfRectL{100, 100, 300, 150}));

  // Wrapped lines, each flush right (minus the format's padding of em/6),
  // one line spacing apart.
  const TkxFamilyMetrics m = TkxFontFamily("Arial").Metrics(fsRegular);
  const double lineH = 16.0 * m.LineSpacing / m.EmHeight;
  for (size_t i = 1; i < runs.size(); ++i) {
    ASSERT_TRUE(DecodeExtTextOut(runs[i], t));
    const double lw = g.MeasureString(t.Text, font, far).X;
    EXPECT_LE(lw, 90 - 2 * 16.0 / 6 + 1e-9) << i;
    EXPECT_NEAR(t.Reference.x, 100 - 16.0 / 6 - lw, 1.0) << i;
    EXPECT_NEAR(t.Reference.y, 200 + (i - 1) * lineH, 1.0) << i;
  }
}

TEST(GraphicsPaths, FillsRecordPolygonsWithTheFillModeAndNoPen) {
  TkxEmfRecorder rec(400, 400, 96);
  TkxGraphics g(rec);
  g.SetPageUnit(unPoint);
  TkxGraphicsPath hole(fmAlternate);
  hole.AddRectangle({30, 30, 90, 90});
  hole.AddRectangle({60, 60, 30, 30});
  g.FillPath(TkxSolidBrush(0xFF0000FF), hole);
  TkxGraphicsPath tri(fmWinding);
  tri.AddLine(0, 0, 30, 0);
  tri.AddLine(30, 0, 0, 30);
  g.FillPath(TkxSolidBrush(0xFF0000FF), tri);
  TkxGraphicsPath curve;
  curve.AddBezier({0, 0}, {30, 0}, {30, 30}, {0, 30});
  curve.CloseFigure();
  g.FillPath(TkxSolidBrush(0xFF00FF00), curve);
  const TkxMetafile& mf = rec.Close();

  const auto types = Types(mf);
  const std::vector<uint32_t> expected = {EMR_SELECTOBJECT /*null pen*/,
                                          EMR_CREATEBRUSHINDIRECT,
                                          EMR_SELECTOBJECT,
                                          EMR_SETPOLYFILLMODE,
                                          EMR_POLYPOLYGON16,
                                          EMR_SETPOLYFILLMODE,
                                          EMR_POLYGON16,
                                          EMR_CREATEBRUSHINDIRECT,
                                          EMR_SELECTOBJECT,
                                          EMR_DELETEOBJECT,
                                          EMR_SETPOLYFILLMODE,
                                          EMR_BEGINPATH,
                                          EMR_MOVETOEX,
                                          EMR_POLYBEZIERTO16,
                                          EMR_CLOSEFIGURE,
                                          EMR_ENDPATH,
                                          EMR_FILLPATH};
  EXPECT_EQ(types, expected);
  EXPECT_EQ(OfType(mf, EMR_SELECTOBJECT)[0].U32(8), ENHMETA_STOCK_OBJECT | NULL_PEN);
  const auto modes = OfType(mf, EMR_SETPOLYFILLMODE);
  EXPECT_EQ(modes[0].U32(8), ALTERNATE);
  EXPECT_EQ(modes[1].U32(8), WINDING);
  EXPECT_EQ(modes[2].U32(8), ALTERNATE);
  TkxEmrCreateBrush b;
  ASSERT_TRUE(DecodeCreateBrush(OfType(mf, EMR_CREATEBRUSHINDIRECT)[0], b));
  EXPECT_EQ(b.LogBrush, (TkxLogBrush{BS_SOLID, 0xFF0000, 0}));  // blue as COLORREF
  TkxEmrPolyPoly pp;
  ASSERT_TRUE(DecodePolyPoly(OfType(mf, EMR_POLYPOLYGON16)[0], pp));
  EXPECT_EQ(pp.Counts, (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(pp.Points[0], (TkxEmfPointL{40, 40}));
  EXPECT_EQ(pp.Points[2], (TkxEmfPointL{160, 160}));
  EXPECT_EQ(pp.Points[4], (TkxEmfPointL{80, 80}));
  TkxEmrPoly bez;
  ASSERT_TRUE(DecodePoly(OfType(mf, EMR_POLYBEZIERTO16)[0], bez));
  EXPECT_EQ(bez.Points, (std::vector<TkxEmfPointL>{{40, 0}, {40, 40}, {0, 40}}));
  EXPECT_EQ(OfType(mf, EMR_FILLPATH)[0].RectL(8), (TkxEmfRectL{0, 0, 40, 40}));
}

TEST(GraphicsPaths, PensBecomeGeometricPensWithCapsJoinsAndDashStyles) {
  struct Case {
    const char* name;
    double width, worldScale;
    TkxPenLineCap cap;
    TkxPenLineJoin join;
    std::vector<double> dashes;  // empty: solid
    uint32_t style, elpWidth;
  };
  const Case cases[] = {
      {"solid flat miter", 1.5, 1, lcFlat, ljMiter, {}, PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_MITER, 2},
      {"round round, scaled", 3, 2, lcRound, ljRound, {}, PS_GEOMETRIC | PS_ENDCAP_ROUND | PS_JOIN_ROUND, 8},
      {"square bevel", 0.75, 1, lcSquare, ljBevel, {}, PS_GEOMETRIC | PS_ENDCAP_SQUARE | PS_JOIN_BEVEL, 1},
      {"zero width", 0, 1, lcFlat, ljMiter, {}, PS_GEOMETRIC | PS_ENDCAP_FLAT | PS_JOIN_MITER, 1},
      {"dash", 1, 1, lcFlat, ljMiter, {3, 1}, PS_GEOMETRIC | PS_DASH | PS_ENDCAP_FLAT | PS_JOIN_MITER, 1},
      {"dot", 1, 1, lcFlat, ljMiter, {1, 2}, PS_GEOMETRIC | PS_DOT | PS_ENDCAP_FLAT | PS_JOIN_MITER, 1},
      {"dash dot", 1, 1, lcFlat, ljMiter, {3, 1, 1, 1}, PS_GEOMETRIC | PS_DASHDOT | PS_ENDCAP_FLAT | PS_JOIN_MITER, 1},
      {"dash dot dot",
       1,
       1,
       lcFlat,
       ljMiter,
       {4, 1, 1, 1, 1, 1},
       PS_GEOMETRIC | PS_DASHDOTDOT | PS_ENDCAP_FLAT | PS_JOIN_MITER,
       1},
      {"two dashes", 1, 1, lcFlat, ljMiter, {6, 2, 4, 2}, PS_GEOMETRIC | PS_DASH | PS_ENDCAP_FLAT | PS_JOIN_MITER, 1},
  };
  for (const Case& c : cases) {
    TkxEmfRecorder rec(400, 400, 96);
    TkxGraphics g(rec);
    g.SetPageUnit(unPoint);
    g.ScaleTransform(c.worldScale, c.worldScale);
    TkxPen pen(0xFFFF0000, c.width);
    pen.SetLineCap(c.cap, c.cap, c.cap);
    pen.SetLineJoin(c.join);
    pen.SetMiterLimit(4);
    if (!c.dashes.empty()) {
      ASSERT_TRUE(pen.SetDashPattern(c.dashes));
    }
    g.DrawRectangle(pen, {15, 15, 30, 30});
    const TkxMetafile& mf = rec.Close();
    TkxEmrExtCreatePen p;
    ASSERT_TRUE(DecodeExtCreatePen(OfType(mf, EMR_EXTCREATEPEN)[0], p)) << c.name;
    EXPECT_EQ(p.LogPen.PenStyle, c.style) << c.name;
    EXPECT_EQ(p.LogPen.Width, c.elpWidth) << c.name;
    EXPECT_EQ(p.LogPen.Color, 0x0000FFu) << c.name;
    EXPECT_TRUE(p.LogPen.StyleEntries.empty()) << c.name;
    EXPECT_EQ(OfType(mf, EMR_SETMITERLIMIT).size(), c.join == ljMiter ? 1u : 0u) << c.name;
    // A closed outline: no fill, the start point repeated at the end.
    EXPECT_EQ(OfType(mf, EMR_SELECTOBJECT).back().U32(8), ENHMETA_STOCK_OBJECT | NULL_BRUSH) << c.name;
    TkxEmrPoly poly;
    ASSERT_TRUE(DecodePoly(OfType(mf, EMR_POLYGON16)[0], poly)) << c.name;
    ASSERT_EQ(poly.Points.size(), 5u) << c.name;
    EXPECT_EQ(poly.Points.front(), poly.Points.back()) << c.name;
    const int32_t x0 = static_cast<int32_t>(std::lrint(15 * c.worldScale * kPt));
    EXPECT_EQ(poly.Points[0], (TkxEmfPointL{x0, x0})) << c.name;
  }
  TkxPen pen;
  EXPECT_FALSE(pen.SetDashPattern({3, 0}));  // a zero length leaves the pen as it was
  EXPECT_FALSE(pen.SetDashPattern({}));
  EXPECT_EQ(pen.DashStyle(), dsSolid);
}

// Outlines of several figures: a closed figure ends on its start point (once),
// open ones do not, and a figure that rounds onto a single pixel is left out.
TEST(GraphicsPaths, StrokedFiguresCloseOnTheirStartAndDegenerateOnesDrop) {
  auto triangle = [](TkxGraphicsPath& p, double x, bool close) {
    p.AddLine(x, 0, x + 10, 0);
    p.AddLine(x + 10, 0, x, 10);
    if (close) p.CloseFigure();
  };
  TkxGraphicsPath closed;  // two closed triangles, the second already back on its start
  triangle(closed, 0, true);
  closed.AddLine(20, 0, 30, 0);
  closed.AddLine(30, 0, 20, 10);
  closed.AddLine(20, 10, 20, 0);
  closed.CloseFigure();
  TkxGraphicsPath mixed;  // a closed triangle, a speck, an open triangle
  triangle(mixed, 0, true);
  mixed.AddLine(50, 50, 50.2, 50.1);
  mixed.StartFigure();
  triangle(mixed, 20, false);

  TkxEmfRecorder rec(100, 100, 96);
  TkxGraphics g(rec);
  g.SetPageUnit(unPixel);
  const TkxPen pen(0xFF000000, 1);
  g.DrawPath(pen, closed);
  g.DrawPath(pen, mixed);
  const TkxMetafile& mf = rec.Close();
  TkxEmrPolyPoly polygons, polylines;
  ASSERT_TRUE(DecodePolyPoly(OfType(mf, EMR_POLYPOLYGON16).at(0), polygons));
  EXPECT_EQ(polygons.Counts, (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(polygons.Points[3], (TkxEmfPointL{0, 0}));
  EXPECT_EQ(polygons.Points[7], (TkxEmfPointL{20, 0}));
  ASSERT_TRUE(DecodePolyPoly(OfType(mf, EMR_POLYPOLYLINE16).at(0), polylines));
  EXPECT_EQ(polylines.Counts, (std::vector<uint32_t>{4, 3}));
  EXPECT_EQ(polylines.Points[4], (TkxEmfPointL{20, 0}));
  EXPECT_EQ(polylines.Points[6], (TkxEmfPointL{20, 10}));
}

TEST(GraphicsClip, ClipsAreIntersectedAndRestoredWithTheState) {
  TkxEmfRecorder rec(400, 400, 96);
  TkxGraphics g(rec);
  g.SetPageUnit(unPixel);
  const TkxSolidBrush brush(0xFF000000);
  g.SetClip(TkxRectF{10, 20, 100, 50});
  g.FillRectangle(brush, {0, 0, 5, 5});
  const TkxGraphicsSaveToken st = g.Save();
  TkxGraphicsPath tri(fmWinding);
  tri.AddLine(0, 0, 50, 0);
  tri.AddLine(50, 0, 0, 50);
  tri.CloseFigure();
  g.SetClip(tri);
  g.FillRectangle(brush, {0, 0, 5, 5});
  g.Restore(st);
  const TkxGraphicsSaveToken unused = g.Save();  // saved and restored without drawing: nothing recorded
  g.SetClip(TkxRectF{0, 0, 1, 1});
  g.Restore(unused);
  g.FillRectangle(brush, {0, 0, 5, 5});
  g.ResetClip();
  g.FillRectangle(brush, {0, 0, 5, 5});
  const TkxMetafile& mf = rec.Close();

  std::vector<uint32_t> clipAndDraw;
  for (uint32_t t : Types(mf))
    if (t == EMR_INTERSECTCLIPRECT || t == EMR_SELECTCLIPPATH || t == EMR_EXTSELECTCLIPRGN || t == EMR_RECTANGLE)
      clipAndDraw.push_back(t);
  EXPECT_EQ(clipAndDraw, (std::vector<uint32_t>{EMR_INTERSECTCLIPRECT, EMR_RECTANGLE, EMR_SELECTCLIPPATH, EMR_RECTANGLE,
                                                EMR_EXTSELECTCLIPRGN, EMR_INTERSECTCLIPRECT, EMR_RECTANGLE,
                                                EMR_EXTSELECTCLIPRGN, EMR_RECTANGLE}));
  const auto rects = OfType(mf, EMR_INTERSECTCLIPRECT);
  EXPECT_EQ(rects[0].RectL(8), (TkxEmfRectL{10, 20, 110, 70}));
  EXPECT_EQ(rects[1].RectL(8), (TkxEmfRectL{10, 20, 110, 70}));
  EXPECT_EQ(OfType(mf, EMR_SELECTCLIPPATH)[0].U32(8), RGN_AND);
  for (const auto& r : OfType(mf, EMR_EXTSELECTCLIPRGN)) {
    EXPECT_EQ(r.U32(8), 0u);  // no region
    EXPECT_EQ(r.U32(12), RGN_COPY);
  }
  // The clip path bracket carries the triangle, with the path's fill mode.
  TkxEmrPoly tri16;
  ASSERT_TRUE(DecodePoly(OfType(mf, EMR_POLYLINETO16)[0], tri16));
  EXPECT_EQ(tri16.Points, (std::vector<TkxEmfPointL>{{50, 0}, {0, 50}}));
  EXPECT_EQ(OfType(mf, EMR_SETPOLYFILLMODE).back().U32(8), WINDING);
}

TEST(GraphicsState, TokensRestoreTransformUnitAndDropLaterStates) {
  TkxEmfRecorder rec(100, 100, 96);
  TkxGraphics g(rec);
  g.SetPageUnit(unPoint);
  const TkxGraphicsSaveToken outer = g.Save();
  g.TranslateTransform(5, 5);
  const TkxGraphicsSaveToken inner = g.Save();
  g.SetPageUnit(unInch);
  g.ScaleTransform(2, 2);
  g.Restore(12345);  // unknown: nothing happens
  EXPECT_EQ(g.PageUnit(), unInch);
  g.Restore(outer);
  EXPECT_TRUE(g.Transform().IsIdentity());
  EXPECT_EQ(g.PageUnit(), unPoint);
  g.TranslateTransform(1, 1);
  g.Restore(inner);  // dropped with outer
  EXPECT_EQ(g.Transform(), TkxMatrix(1, 0, 0, 1, 1, 1));
}

TEST(GraphicsImages, PicturesBecomeStretchDIBitsWithUprightPixels) {
  const TkxBitmap quad = Quad();
  struct Case {
    const char* name;
    TkxMatrix world;
    TkxRectF src;
    std::vector<uint32_t> pixels;  // of the recorded DIB, row by row from the top
    int32_t x, y, cx, cy;
  };
  const Case cases[] = {
      {"upright", {20, 0, 0, 10, 5, 7}, {0, 0, 2, 2}, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF}, 5, 7, 20, 10},
      {"flipped vertically (the page flip)",
       {20, 0, 0, -10, 5, 17},
       {0, 0, 2, 2},
       {0xFF0000FF, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00},
       5,
       7,
       20,
       10},
      {"mirrored",
       {-20, 0, 0, 10, 25, 7},
       {0, 0, 2, 2},
       {0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF, 0xFF0000FF},
       5,
       7,
       20,
       10},
      {"right column only", {20, 0, 0, 10, 5, 7}, {1, 0, 1, 2}, {0xFF00FF00, 0xFFFFFFFF}, 5, 7, 20, 10},
  };
  for (const Case& c : cases) {
    TkxEmfRecorder rec(100, 100, 96);
    TkxGraphics g(rec);
    g.SetPageUnit(unPixel);
    g.SetTransform(c.world);
    g.DrawImage(quad, {0, 0, 1, 1}, c.src);
    const TkxMetafile& mf = rec.Close();
    const auto recs = OfType(mf, EMR_STRETCHDIBITS);
    ASSERT_EQ(recs.size(), 1u) << c.name;
    TkxEmrStretchDIBits s;
    ASSERT_TRUE(DecodeStretchDIBits(recs[0], s)) << c.name;
    EXPECT_EQ((std::vector<int32_t>{s.xDest, s.yDest, s.cxDest, s.cyDest}),
              (std::vector<int32_t>{c.x, c.y, c.cx, c.cy}))
        << c.name;
    const TkxBitmap dib = TkxBitmap::FromDIB(s.Dib.Bmi, s.Dib.BmiSize, s.Dib.Bits, s.Dib.BitsSize);
    EXPECT_EQ(s.cxSrc, dib.Width()) << c.name;
    EXPECT_EQ(s.cySrc, dib.Height()) << c.name;
    std::vector<uint32_t> px;
    for (int y = 0; y < dib.Height(); ++y)
      for (int x = 0; x < dib.Width(); ++x) px.push_back(dib.Pixel(x, y));
    EXPECT_EQ(px, c.pixels) << c.name;
  }

  // Fully transparent through the colour matrix: nothing; rotated: the
  // bounding box under a clip to the picture's outline.
  TkxEmfRecorder rec(200, 200, 96);
  TkxGraphics g(rec);
  g.SetPageUnit(unPixel);
  TkxColorMatrix cm;
  cm.m[3][3] = 0;
  TkxImageAttributes invisible;
  invisible.SetColorMatrix(cm);
  g.DrawImage(quad, {0, 0, 50, 50}, {0, 0, 2, 2}, unPixel, &invisible);
  EXPECT_EQ(rec.RecordCount(), 1u);
  g.TranslateTransform(100, 100);
  g.RotateTransform(45);
  g.DrawImage(quad, {0, 0, 40, 40}, {0, 0, 2, 2});
  const TkxMetafile& mf = rec.Close();
  const auto types = Types(mf);
  EXPECT_LT(IndexOf(types, EMR_SELECTCLIPPATH), IndexOf(types, EMR_STRETCHDIBITS));
  TkxEmrStretchDIBits s;
  ASSERT_TRUE(DecodeStretchDIBits(OfType(mf, EMR_STRETCHDIBITS)[0], s));
  const double d = 40 * std::sqrt(0.5);  // the square turned by 45 degrees about (100, 100)
  EXPECT_NEAR(s.xDest, 100 - d, 1.0);
  EXPECT_NEAR(s.yDest, 100, 1.0);
  EXPECT_NEAR(s.cxDest, 2 * d, 1.5);
  EXPECT_NEAR(s.cyDest, 2 * d, 1.5);
  // Two pixels blown up twentyfold are resampled at about twice their own
  // resolution, not at the device's: the reader stretches them.
  EXPECT_LE(s.cxSrc, 8);
  EXPECT_LE(s.cySrc, 8);
}

TEST(GraphicsRobustness, InvisibleOrInvalidDrawingRecordsNothing) {
  TkxEmfRecorder rec(100, 100, 96);
  TkxGraphics g(rec);
  TkxGraphicsPath p;
  p.AddRectangle({0, 0, 10, 10});
  g.FillPath(TkxSolidBrush(0x00FF0000), p);  // alpha 0
  g.DrawPath(TkxPen(0x00FF0000, 1), p);
  g.FillPath(TkxSolidBrush(0xFF000000), TkxGraphicsPath());  // empty
  TkxGraphicsPath dot;
  dot.AddLine(3, 3, 3.2, 3.1);  // rounds to one device point
  g.FillPath(TkxSolidBrush(0xFF000000), dot);
  g.DrawString(u"", TkxFont(TkxFontFamily("Arial"), 10), TkxPointF{0, 0}, TkxStringFormat::GenericTypographic(),
               TkxSolidBrush(0xFF000000));
  g.DrawString(u"x", TkxFont(TkxFontFamily(""), 10), TkxPointF{0, 0}, TkxStringFormat::GenericTypographic(),
               TkxSolidBrush(0xFF000000));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  g.SetTransform(TkxMatrix(nan, 0, 0, 1, 0, 0));
  g.FillPath(TkxSolidBrush(0xFF000000), p);
  g.DrawString(u"x", TkxFont(TkxFontFamily("Arial"), 10), TkxPointF{0, 0}, TkxStringFormat::GenericTypographic(),
               TkxSolidBrush(0xFF000000));
  g.DrawImage(Quad(), {0, 0, 1, 1}, {0, 0, 2, 2});
  g.SetTransform(TkxMatrix(1, 0.5, 0, 1, 0, 0));  // sheared, and a picture shrunk to nothing
  g.DrawImage(Quad(), {0, 0, 10, 10}, {0, 0, 1e300, 1e300});
  g.SetTransform(TkxMatrix(0, 0, 0, 0, 0, 0));  // singular
  g.DrawString(u"x", TkxFont(TkxFontFamily("Arial"), 10), TkxPointF{0, 0}, TkxStringFormat::GenericTypographic(),
               TkxSolidBrush(0xFF000000));
  g.SetTransform(TkxMatrix(1e30, 0, 0, 1e30, 0, 0));  // far outside: clamped, not overflowing
  g.FillPath(TkxSolidBrush(0xFF000000), p);
  const TkxMetafile& mf = rec.Close();
  for (uint32_t t : Types(mf))
    EXPECT_TRUE(t == EMR_SELECTOBJECT || t == EMR_CREATEBRUSHINDIRECT || t == EMR_SETPOLYFILLMODE ||
                t == EMR_SETSTRETCHBLTMODE || t == EMR_POLYGON)
        << EmfRecordName(t);
  EXPECT_EQ(OfType(mf, EMR_POLYGON).size(), 1u);  // only the huge square, clamped
}
