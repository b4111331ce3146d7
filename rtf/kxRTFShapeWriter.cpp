#include "rtf/kxRTFShapeWriter.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace pw {

namespace {

std::string Num(long long v) { return std::to_string(v); }

// English metric units per twip.
constexpr long long kEmuPerTwip = 635;
// Line segments one freeform segment word may count.
constexpr size_t kMaxSegmentRun = 8000;

struct TwipPoint {
  long long X = 0;
  long long Y = 0;
};

int Red(TColor c) { return static_cast<int>(ColorToRGB(c) & 0xFF); }
int Green(TColor c) { return static_cast<int>((ColorToRGB(c) >> 8) & 0xFF); }
int Blue(TColor c) { return static_cast<int>((ColorToRGB(c) >> 16) & 0xFF); }

// Twips of a length in pixels (nearest, halves to even), finite.
long long TwipsOf(double pixels, double twipsPerPixel) {
  const double t = std::nearbyint(pixels * twipsPerPixel);
  constexpr double kLimit = 1e9;
  if (!std::isfinite(t)) return 0;
  return static_cast<long long>(std::clamp(t, -kLimit, kLimit));
}

// A colour as the freeform shape properties take it (0x00BBGGRR).
long long ShapeColor(TColor c) { return static_cast<long long>(ColorToRGB(c)) & 0xFFFFFF; }

std::string ShapeProperty(const char* name, const std::string& value) {
  return std::string("{\\sp{\\sn ") + name + "}{\\sv " + value + "}}";
}

// A filled box no thicker than this (in pixels) is a rule or a border.
constexpr double kRulePixels = 4;

}  // namespace

std::string RTFLineStyle(const TPen& pen, double twipsPerPixel) {
  std::string s;
  switch (pen.Style()) {
    case psDash: s = "\\dplinedash"; break;
    case psDot: s = "\\dplinedot"; break;
    case psDashDot: s = "\\dplinedado"; break;
    case psDashDotDot: s = "\\dplinedadodo"; break;
    case psClear: s = "\\dplinehollow"; break;
    default: s = "\\dplinesolid"; break;
  }
  const TColor c = pen.Color();
  s += "\\dplinecor" + Num(Red(c)) + "\\dplinecog" + Num(Green(c)) + "\\dplinecob" + Num(Blue(c));
  s += "\\dplinew" + Num(TwipsOf(pen.Width(), twipsPerPixel)) + " ";
  return s;
}

std::string RTFFillStyle(const TBrush& brush) {
  int pattern = 1;
  switch (brush.Style()) {
    case bsClear: pattern = 0; break;
    case bsHorizontal: pattern = 14; break;
    case bsVertical: pattern = 15; break;
    case bsFDiagonal: pattern = 16; break;
    case bsBDiagonal: pattern = 17; break;
    case bsCross: pattern = 18; break;
    case bsDiagCross: pattern = 19; break;
    default: pattern = 1; break;
  }
  const TColor c = brush.Color();
  return "\\dpfillfgcr255\\dpfillfgcg255\\dpfillfgcb255\\dpfillbgcr" + Num(Red(c)) + "\\dpfillbgcg" + Num(Green(c)) +
         "\\dpfillbgcb" + Num(Blue(c)) + "\\dpfillpat" + Num(pattern) + " ";
}

TkxRTFShapeWriter::TkxRTFShapeWriter(double twipsPerPixel) : twipsPerPixel_(twipsPerPixel) {}

long long TkxRTFShapeWriter::Twips(double pixels) const { return TwipsOf(pixels, twipsPerPixel_); }

std::string TkxRTFShapeWriter::LineStyle(const TPen& pen) const {
  if (pen.Width() >= 1) return RTFLineStyle(pen, twipsPerPixel_);
  // A hairline stays visible.
  TPen visible = pen;
  visible.SetWidth(1);
  return RTFLineStyle(visible, twipsPerPixel_);
}

std::string TkxRTFShapeWriter::Line(const TkxShapeItem& item) const {
  if (item.Points.size() < 2) return {};
  const long long x0 = Twips(item.Points[0].X), y0 = Twips(item.Points[0].Y);
  const long long x1 = Twips(item.Points[1].X), y1 = Twips(item.Points[1].Y);
  const std::string line = "{\\*\\do\\dobxpage\\dobypage\\dpline\\dpx" + Num(x0) + "\\dpy" + Num(y0) + "\\dpxsize" +
                           Num(x1 - x0) + "\\dpysize" + Num(y1 - y0) + LineStyle(item.Pen) + "}";
  // A line shape runs from its box's top left to its bottom right unless
  // flipped.
  std::string geometry = ShapeProperty("shapeType", "20");
  if (x1 < x0) geometry += ShapeProperty("fFlipH", "1");
  if (y1 < y0) geometry += ShapeProperty("fFlipV", "1");
  return Shape(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1), geometry, nullptr, item.Pen,
               item.LineJoin, item.EndCap, line);
}

std::string TkxRTFShapeWriter::BoxShape(const TkxShapeItem& item, const char* kind, int shapeType) const {
  if (item.Points.size() < 2) return {};
  const long long x0 = Twips(item.Points[0].X), y0 = Twips(item.Points[0].Y);
  const long long x1 = Twips(item.Points[1].X), y1 = Twips(item.Points[1].Y);
  std::string s = "{\\lang1024 {\\*\\do\\dobxpage\\dobypage";
  s += kind;
  s += "\\dpx" + Num(x0) + "\\dpy" + Num(y0) + "\\dpxsize" + Num(x1 - x0) + "\\dpysize" + Num(y1 - y0);
  s += LineStyle(item.Pen);
  if (item.Brush) s += RTFFillStyle(*item.Brush);
  s += "}}";
  // LibreOffice lays positioned text frames over drawing objects of that
  // form and paints them white, cutting every rule, border and outline that
  // passes a line of text. Outlines and rules (thin filled boxes) go out as
  // shapes, which it draws over the frames, with the drawing object as
  // their result; wider filled boxes (cell and highlight backgrounds) stay
  // drawing objects, under the text they back.
  const bool filled = item.Brush && item.Brush->Style() != bsClear;
  const long long thin = Twips(kRulePixels);
  if (filled && std::llabs(x1 - x0) > thin && std::llabs(y1 - y0) > thin) return s;
  return Shape(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1),
               ShapeProperty("shapeType", std::to_string(shapeType)), item.Brush.get(), item.Pen, item.LineJoin,
               item.EndCap, s);
}

std::string TkxRTFShapeWriter::Rectangle(const TkxShapeItem& item) const { return BoxShape(item, "\\dprect", 1); }
std::string TkxRTFShapeWriter::RoundRect(const TkxShapeItem& item) const {
  return BoxShape(item, "\\dprect\\dproundr", 2);
}
std::string TkxRTFShapeWriter::Ellipse(const TkxShapeItem& item) const { return BoxShape(item, "\\dpellipse", 3); }

std::string TkxRTFShapeWriter::DrawingPolygon(const TkxPoints& points, size_t count, const TBrush* brush,
                                              const TPen& pen, bool closed) const {
  std::vector<TwipPoint> pts(count);
  for (size_t i = 0; i < count; ++i) pts[i] = {Twips(points[i].X), Twips(points[i].Y)};
  long long minX = pts[0].X, minY = pts[0].Y, maxX = 0, maxY = 0;
  for (const TwipPoint& p : pts) {
    minX = std::min(minX, p.X);
    minY = std::min(minY, p.Y);
    maxX = std::max(maxX, p.X);
    maxY = std::max(maxY, p.Y);
  }
  std::string s = "{\\lang1024 {\\*\\do\\dobxpage\\dobypage";
  s += closed ? "\\dppolygon" : "\\dppolyline";
  s += "\\dppolycount" + Num(static_cast<long long>(count));
  for (const TwipPoint& p : pts) s += "\\dpptx" + Num(p.X - minX) + "\\dppty" + Num(p.Y - minY);
  s += "\\dpx" + Num(minX) + "\\dpy" + Num(minY) + "\\dpxsize" + Num(maxX - minX) + "\\dpysize" + Num(maxY - minY);
  s += LineStyle(pen);
  if (brush) s += RTFFillStyle(*brush);
  return s + "}}";
}

std::string TkxRTFShapeWriter::Polygon(const TkxPoints& points, int count, const TBrush* brush, const TPen& pen,
                                       bool closed, uint8_t join, uint8_t cap) const {
  if (count <= 0) return {};
  const size_t n = std::min(static_cast<size_t>(count), points.size());
  if (n < 2) return {};
  if (n == 2 && !brush) {
    TkxShapeItem line(shLine);
    line.Pen = pen;
    line.LineJoin = join;
    line.EndCap = cap;
    line.Points.assign(points.begin(), points.begin() + 2);
    return Line(line);
  }
  // Readers that take the drawing-object polygon keep only its first two
  // points, so the figure goes out as a freeform shape, with the
  // drawing-object form as its result for readers of that form only.
  return Freeform(points, n, brush, pen, closed, join, cap, DrawingPolygon(points, n, brush, pen, closed));
}

std::string TkxRTFShapeWriter::Freeform(const TkxPoints& points, size_t n, const TBrush* brush, const TPen& pen,
                                        bool closed, uint8_t join, uint8_t cap, const std::string& result) const {
  std::vector<TwipPoint> pts(n);
  for (size_t i = 0; i < n; ++i) pts[i] = {Twips(points[i].X), Twips(points[i].Y)};
  long long minX = pts[0].X, minY = pts[0].Y, maxX = pts[0].X, maxY = pts[0].Y;
  for (const TwipPoint& p : pts) {
    minX = std::min(minX, p.X);
    minY = std::min(minY, p.Y);
    maxX = std::max(maxX, p.X);
    maxY = std::max(maxY, p.Y);
  }
  const long long w = std::max(1LL, maxX - minX), h = std::max(1LL, maxY - minY);
  std::string s = ShapeProperty("shapeType", "0");
  s += ShapeProperty("geoLeft", "0") + ShapeProperty("geoTop", "0") + ShapeProperty("geoRight", Num(w)) +
       ShapeProperty("geoBottom", Num(h));
  std::string vertices = "8;" + Num(static_cast<long long>(n + (closed ? 1 : 0)));
  for (const TwipPoint& p : pts) {
    vertices += ";(";
    vertices += Num(p.X - minX);
    vertices += ',';
    vertices += Num(p.Y - minY);
    vertices += ')';
  }
  if (closed) vertices += ";(" + Num(pts[0].X - minX) + "," + Num(pts[0].Y - minY) + ")";
  s += ShapeProperty("pVerticies", vertices);
  std::vector<long long> segments{0x4000};
  for (size_t left = n - 1 + (closed ? 1 : 0); left > 0;) {
    const size_t run = std::min(left, kMaxSegmentRun);
    segments.push_back(static_cast<long long>(run));
    left -= run;
  }
  if (closed) segments.push_back(0x6001);
  segments.push_back(0x8000);
  std::string segs = "2;" + Num(static_cast<long long>(segments.size()));
  for (long long v : segments) {
    segs += ';';
    segs += Num(v);
  }
  s += ShapeProperty("pSegmentInfo", segs);
  return Shape(minX, minY, minX + w, minY + h, s, brush, pen, join, cap, result);
}

std::string TkxRTFShapeWriter::Shape(long long left, long long top, long long right, long long bottom,
                                     const std::string& geometry, const TBrush* brush, const TPen& pen, uint8_t join,
                                     uint8_t cap, const std::string& result) const {
  std::string s = "{\\shp{\\*\\shpinst\\shpleft" + Num(left) + "\\shptop" + Num(top) + "\\shpright" + Num(right) +
                  "\\shpbottom" + Num(bottom) +
                  "\\shpfhdr0\\shpbxpage\\shpbxignore\\shpbypage\\shpbyignore\\shpwr3\\shpwrk0\\shpfblwtxt0";
  s += geometry;
  const bool filled = brush && brush->Style() != bsClear;
  s += ShapeProperty("fFilled", filled ? "1" : "0");
  if (filled) s += ShapeProperty("fillColor", Num(ShapeColor(brush->Color())));
  if (pen.Style() == psClear) {
    s += ShapeProperty("fLine", "0");
  } else {
    s += ShapeProperty("lineColor", Num(ShapeColor(pen.Color())));
    s += ShapeProperty("lineWidth", Num(Twips(std::max(1, pen.Width())) * kEmuPerTwip));
    int dashing = 0;
    switch (pen.Style()) {
      case psDash: dashing = 1; break;
      case psDot: dashing = 2; break;
      case psDashDot: dashing = 3; break;
      case psDashDotDot: dashing = 4; break;
      default: break;
    }
    if (dashing) s += ShapeProperty("lineDashing", Num(dashing));
    // Joins: 1 bevel, 2 miter, 3 round here; 0 bevel, 1 miter, 2 round there.
    if (join >= 1 && join <= 3) s += ShapeProperty("lineJoinStyle", Num(join - 1));
    // Caps: 1 round, 2 square, 3 flat here; 0 round, 1 square, 2 flat there.
    if (cap >= 1 && cap <= 3) s += ShapeProperty("lineEndCapStyle", Num(cap - 1));
  }
  s += "}{\\shprslt ";
  s += result;
  s += "}}";
  return s;
}

}  // namespace pw
