#include "rtf/kxRTFShapeWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace pw {

namespace {

std::string Num(long long v) { return std::to_string(v); }

// Appends a number in place: a freeform shape with many points makes no
// temporary string per coordinate.
void Put(std::string& s, long long v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  s.append(buf, r.ptr);
}

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

// A colour as the three words of a drawing object: prefix and "r", "g", "b".
void PutColorWords(std::string& s, std::string_view prefix, TColor c) {
  for (const auto& [letter, value] : {std::pair{'r', Red(c)}, {'g', Green(c)}, {'b', Blue(c)}}) {
    s += prefix;
    s += letter;
    Put(s, value);
  }
}

// Twips of a length in pixels (nearest, halves to even), finite.
long long TwipsOf(double pixels, double twipsPerPixel) {
  const double t = std::nearbyint(pixels * twipsPerPixel);
  constexpr double kLimit = 1e9;
  if (!std::isfinite(t)) return 0;
  return static_cast<long long>(std::clamp(t, -kLimit, kLimit));
}

// A colour as the freeform shape properties take it (0x00BBGGRR).
long long ShapeColor(TColor c) { return static_cast<long long>(ColorToRGB(c)) & 0xFFFFFF; }

// The opening of a shape property up to its value; CloseProperty ends it.
void OpenProperty(std::string& s, const char* name) {
  s += "{\\sp{\\sn ";
  s += name;
  s += "}{\\sv ";
}
void CloseProperty(std::string& s) { s += "}}"; }

void PutProperty(std::string& s, const char* name, std::string_view value) {
  OpenProperty(s, name);
  s += value;
  CloseProperty(s);
}
void PutProperty(std::string& s, const char* name, long long value) {
  OpenProperty(s, name);
  Put(s, value);
  CloseProperty(s);
}

std::string ShapeProperty(const char* name, const std::string& value) {
  std::string s;
  PutProperty(s, name, value);
  return s;
}

// A filled box no thicker than this (in pixels) is a rule or a border.
constexpr double kRulePixels = 4;

}  // namespace

namespace {

void PutLineStyle(std::string& s, const TPen& pen, double twipsPerPixel) {
  switch (pen.Style()) {
    case psDash: s += "\\dplinedash"; break;
    case psDot: s += "\\dplinedot"; break;
    case psDashDot: s += "\\dplinedado"; break;
    case psDashDotDot: s += "\\dplinedadodo"; break;
    case psClear: s += "\\dplinehollow"; break;
    default: s += "\\dplinesolid"; break;
  }
  PutColorWords(s, "\\dplineco", pen.Color());
  s += "\\dplinew";
  Put(s, TwipsOf(pen.Width(), twipsPerPixel));
  s += ' ';
}

void PutFillStyle(std::string& s, const TBrush& brush) {
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
  s += "\\dpfillfgcr255\\dpfillfgcg255\\dpfillfgcb255";
  PutColorWords(s, "\\dpfillbgc", brush.Color());
  s += "\\dpfillpat";
  Put(s, pattern);
  s += ' ';
}

}  // namespace

std::string RTFLineStyle(const TPen& pen, double twipsPerPixel) {
  std::string s;
  PutLineStyle(s, pen, twipsPerPixel);
  return s;
}

std::string RTFFillStyle(const TBrush& brush) {
  std::string s;
  PutFillStyle(s, brush);
  return s;
}

TkxRTFShapeWriter::TkxRTFShapeWriter(double twipsPerPixel) : twipsPerPixel_(twipsPerPixel) {}

long long TkxRTFShapeWriter::Twips(double pixels) const { return TwipsOf(pixels, twipsPerPixel_); }

std::string TkxRTFShapeWriter::LineStyle(const TPen& pen) const {
  std::string s;
  PutShapeLineStyle(s, pen);
  return s;
}

void TkxRTFShapeWriter::PutShapeLineStyle(std::string& s, const TPen& pen) const {
  if (pen.Width() >= 1) return PutLineStyle(s, pen, twipsPerPixel_);
  // A hairline stays visible.
  TPen visible = pen;
  visible.SetWidth(1);
  PutLineStyle(s, visible, twipsPerPixel_);
}

std::string TkxRTFShapeWriter::Line(const TkxShapeItem& item) const {
  if (item.Points.size() < 2) return {};
  long long x0 = Twips(item.Points[0].X), y0 = Twips(item.Points[0].Y);
  long long x1 = Twips(item.Points[1].X), y1 = Twips(item.Points[1].Y);
  // A line drawn up and to the left is the same line drawn down and to the
  // right; flipped both ways, LibreOffice would turn its box by a quarter.
  if (x1 < x0 && y1 < y0) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
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

// A figure's points in twips and the text of every coordinate relative to
// the figure's top left, made once for both forms the figure is written in.
struct TkxTwipFigure {
  std::vector<TwipPoint> Points;
  long long MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
  // Every coordinate's digits, x and y in turn, then kCopyWidth spare bytes.
  std::string Digits;
  std::vector<uint32_t> Ends;  // where each coordinate's digits end
  // A coordinate is copied as this many bytes, whatever its length (one
  // move, no call), and the next one's copy writes over the rest. Points
  // are clamped to a billion twips, so a coordinate has at most 10 digits.
  static constexpr size_t kCopyWidth = 16;
};

namespace {

// Copies coordinate k to p, which has kCopyWidth bytes of room beyond it.
char* PutCoordinate(char* p, const TkxTwipFigure& f, size_t k) {
  const uint32_t from = k ? f.Ends[k - 1] : 0;
  std::memcpy(p, f.Digits.data() + from, TkxTwipFigure::kCopyWidth);
  return p + (f.Ends[k] - from);
}

// A control word of known length: copied as a constant number of bytes.
template <size_t N>
char* PutWord(char* p, const char (&word)[N]) {
  std::memcpy(p, word, N - 1);
  return p + N - 1;
}

// Writes through p into s, which has room for it; s is cut to what was written.
template <typename Fill>
void AppendBounded(std::string& s, size_t room, Fill&& fill) {
  const size_t at = s.size();
  s.resize(at + room);
  char* end = fill(s.data() + at);
  s.resize(static_cast<size_t>(end - s.data()));
}

}  // namespace

void TkxRTFShapeWriter::PutDrawingPolygon(std::string& s, const TkxTwipFigure& f, const TBrush* brush, const TPen& pen,
                                          bool closed) const {
  const size_t count = f.Points.size();
  const long long maxX = std::max(0LL, f.MaxX), maxY = std::max(0LL, f.MaxY);
  s += "{\\lang1024 {\\*\\do\\dobxpage\\dobypage";
  s += closed ? "\\dppolygon" : "\\dppolyline";
  s += "\\dppolycount";
  Put(s, static_cast<long long>(count));
  AppendBounded(s, f.Digits.size() + count * 12, [&](char* p) {
    for (size_t i = 0; i < count; ++i) {
      p = PutWord(p, "\\dpptx");
      p = PutCoordinate(p, f, 2 * i);
      p = PutWord(p, "\\dppty");
      p = PutCoordinate(p, f, 2 * i + 1);
    }
    return p;
  });
  s += "\\dpx";
  Put(s, f.MinX);
  s += "\\dpy";
  Put(s, f.MinY);
  s += "\\dpxsize";
  Put(s, maxX - f.MinX);
  s += "\\dpysize";
  Put(s, maxY - f.MinY);
  PutShapeLineStyle(s, pen);
  if (brush) PutFillStyle(s, *brush);
  s += "}}";
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
  TkxTwipFigure f;
  f.Points.resize(n);
  for (size_t i = 0; i < n; ++i) f.Points[i] = {Twips(points[i].X), Twips(points[i].Y)};
  f.MinX = f.MaxX = f.Points[0].X;
  f.MinY = f.MaxY = f.Points[0].Y;
  for (const TwipPoint& p : f.Points) {
    f.MinX = std::min(f.MinX, p.X);
    f.MinY = std::min(f.MinY, p.Y);
    f.MaxX = std::max(f.MaxX, p.X);
    f.MaxY = std::max(f.MaxY, p.Y);
  }
  constexpr size_t kDigits = 21;  // the longest long long, with its sign
  f.Digits.resize(n * 2 * kDigits);
  f.Ends.reserve(n * 2);
  char* p = f.Digits.data();
  for (const TwipPoint& q : f.Points) {
    p = std::to_chars(p, p + kDigits, q.X - f.MinX).ptr;
    f.Ends.push_back(static_cast<uint32_t>(p - f.Digits.data()));
    p = std::to_chars(p, p + kDigits, q.Y - f.MinY).ptr;
    f.Ends.push_back(static_cast<uint32_t>(p - f.Digits.data()));
  }
  f.Digits.resize(static_cast<size_t>(p - f.Digits.data()) + TkxTwipFigure::kCopyWidth);
  // Readers that take the drawing-object polygon keep only its first two
  // points, so the figure goes out as a freeform shape, with the
  // drawing-object form as its result for readers of that form only.
  // Both go into one string, sized for them at once.
  const long long w = std::max(1LL, f.MaxX - f.MinX), h = std::max(1LL, f.MaxY - f.MinY);
  std::string s;
  s.reserve(1024 + 2 * f.Digits.size() + n * 16);
  OpenShape(s, f.MinX, f.MinY, f.MinX + w, f.MinY + h);
  PutFreeformGeometry(s, f, w, h, closed);
  CloseShape(s, brush, pen, join, cap);
  PutDrawingPolygon(s, f, brush, pen, closed);
  s += "}}";
  return s;
}

void TkxRTFShapeWriter::PutFreeformGeometry(std::string& s, const TkxTwipFigure& f, long long w, long long h,
                                            bool closed) const {
  const size_t n = f.Points.size();
  PutProperty(s, "shapeType", "0");
  PutProperty(s, "geoLeft", "0");
  PutProperty(s, "geoTop", "0");
  PutProperty(s, "geoRight", w);
  PutProperty(s, "geoBottom", h);
  OpenProperty(s, "pVerticies");
  s += "8;";
  Put(s, static_cast<long long>(n + (closed ? 1 : 0)));
  AppendBounded(s, f.Digits.size() + n * 4 + 4 + 2 * 21, [&](char* p) {
    auto vertex = [&](size_t i) {
      p = PutWord(p, ";(");
      p = PutCoordinate(p, f, 2 * i);
      *p++ = ',';
      p = PutCoordinate(p, f, 2 * i + 1);
      *p++ = ')';
    };
    for (size_t i = 0; i < n; ++i) vertex(i);
    if (closed) vertex(0);
    return p;
  });
  CloseProperty(s);
  OpenProperty(s, "pSegmentInfo");
  s += "2;";
  // The segment words: a start, runs of line segments, a close when the
  // figure is closed, an end.
  const size_t lines = n - 1 + (closed ? 1 : 0);
  const size_t runs = (lines + kMaxSegmentRun - 1) / kMaxSegmentRun;
  Put(s, static_cast<long long>(2 + runs + (closed ? 1 : 0)));
  s += ";16384";
  for (size_t left = lines; left > 0;) {
    const size_t run = std::min(left, kMaxSegmentRun);
    s += ';';
    Put(s, static_cast<long long>(run));
    left -= run;
  }
  if (closed) s += ";24577";
  s += ";32768";
  CloseProperty(s);
}

void TkxRTFShapeWriter::OpenShape(std::string& s, long long left, long long top, long long right,
                                  long long bottom) const {
  s += "{\\shp{\\*\\shpinst\\shpleft";
  Put(s, left);
  s += "\\shptop";
  Put(s, top);
  s += "\\shpright";
  Put(s, right);
  s += "\\shpbottom";
  Put(s, bottom);
  s += "\\shpfhdr0\\shpbxpage\\shpbxignore\\shpbypage\\shpbyignore\\shpwr3\\shpwrk0\\shpfblwtxt0";
}

void TkxRTFShapeWriter::CloseShape(std::string& s, const TBrush* brush, const TPen& pen, uint8_t join,
                                   uint8_t cap) const {
  const bool filled = brush && brush->Style() != bsClear;
  PutProperty(s, "fFilled", filled ? "1" : "0");
  if (filled) PutProperty(s, "fillColor", ShapeColor(brush->Color()));
  if (pen.Style() == psClear) {
    PutProperty(s, "fLine", "0");
  } else {
    PutProperty(s, "lineColor", ShapeColor(pen.Color()));
    PutProperty(s, "lineWidth", Twips(std::max(1, pen.Width())) * kEmuPerTwip);
    int dashing = 0;
    switch (pen.Style()) {
      case psDash: dashing = 1; break;
      case psDot: dashing = 2; break;
      case psDashDot: dashing = 3; break;
      case psDashDotDot: dashing = 4; break;
      default: break;
    }
    if (dashing) PutProperty(s, "lineDashing", dashing);
    // Joins: 1 bevel, 2 miter, 3 round here; 0 bevel, 1 miter, 2 round there.
    if (join >= 1 && join <= 3) PutProperty(s, "lineJoinStyle", join - 1);
    // Caps: 1 round, 2 square, 3 flat here; 0 round, 1 square, 2 flat there.
    if (cap >= 1 && cap <= 3) PutProperty(s, "lineEndCapStyle", cap - 1);
  }
  s += "}{\\shprslt ";
}

std::string TkxRTFShapeWriter::Shape(long long left, long long top, long long right, long long bottom,
                                     const std::string& geometry, const TBrush* brush, const TPen& pen, uint8_t join,
                                     uint8_t cap, const std::string& result) const {
  std::string s;
  s.reserve(512 + geometry.size() + result.size());
  OpenShape(s, left, top, right, bottom);
  s += geometry;
  CloseShape(s, brush, pen, join, cap);
  s += result;
  s += "}}";
  return s;
}

}  // namespace pw
