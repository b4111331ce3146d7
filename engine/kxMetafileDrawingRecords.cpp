#include "engine/kxMetafileDrawingRecords.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/kxGraphic.h"
#include "engine/kxImageSettings.h"
#include "engine/kxMetafileTextRecords.h"
#include "platform/kxEmfRecorder.h"

namespace pw {

namespace {

// GDI point types of EMR_POLYDRAW.
constexpr uint8_t kPtCloseFigure = 1, kPtLineTo = 2, kPtBezierTo = 4, kPtMoveTo = 6;
constexpr uint32_t kR2Nop = 11;
// Page assumed when the recording has no usable header (pixels).
constexpr double kDefaultPageExtent = 20000;
// Filled rectangles thinner than this (pixels) are rules: written as lines.
constexpr double kRuleThickness = 2.5;
// Many figures of one fill are told apart (or not) by their boxes only
// up to this count.
constexpr size_t kMaxSeparableFigures = 256;
// Largest picture a crowded page's shapes are drawn into.
constexpr double kMaxFlattenPixels = 8000;

bool Finite(const TkxDoublePoint& p) { return std::isfinite(p.X) && std::isfinite(p.Y); }

TkxDoubleRect EmptyRect() { return {0, 0, -1, -1}; }
bool IsEmpty(const TkxDoubleRect& r) { return !(r.Right > r.Left) || !(r.Bottom > r.Top); }

TkxDoubleRect Intersect(const TkxDoubleRect& a, const TkxDoubleRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

TkxDoubleRect Normalized(const TkxDoublePoint& a, const TkxDoublePoint& b) {
  return {std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)};
}

TkxDoubleRect Inflated(const TkxDoubleRect& r, double d) { return {r.Left - d, r.Top - d, r.Right + d, r.Bottom + d}; }

bool Within(const TkxDoubleRect& inner, const TkxDoubleRect& outer) {
  return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right &&
         inner.Bottom <= outer.Bottom;
}

bool Overlap(const TkxDoubleRect& a, const TkxDoubleRect& b) {
  return a.Left <= b.Right && b.Left <= a.Right && a.Top <= b.Bottom && b.Top <= a.Bottom;
}

TkxDoubleRect BoundsOf(const std::vector<TkxDoublePoint>& pts) {
  if (pts.empty()) return EmptyRect();
  TkxDoubleRect r{pts[0].X, pts[0].Y, pts[0].X, pts[0].Y};
  for (const TkxDoublePoint& p : pts) {
    r.Left = std::min(r.Left, p.X);
    r.Top = std::min(r.Top, p.Y);
    r.Right = std::max(r.Right, p.X);
    r.Bottom = std::max(r.Bottom, p.Y);
  }
  return r;
}

// Drops points that are not finite and points that repeat the one before.
void Clean(std::vector<TkxDoublePoint>& pts) {
  size_t n = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    if (!Finite(pts[i])) continue;
    if (n > 0 && std::fabs(pts[i].X - pts[n - 1].X) < 1e-9 && std::fabs(pts[i].Y - pts[n - 1].Y) < 1e-9) continue;
    pts[n++] = pts[i];
  }
  pts.resize(n);
}

// A closed figure that is an axis-aligned rectangle (four corners, the
// closing point repeated or not).
bool AsRectangle(std::vector<TkxDoublePoint> pts, TkxDoubleRect& out) {
  if (pts.size() == 5 && pts.front().X == pts.back().X && pts.front().Y == pts.back().Y) pts.pop_back();
  if (pts.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    const TkxDoublePoint& a = pts[i];
    const TkxDoublePoint& b = pts[(i + 1) % 4];
    if (std::fabs(a.X - b.X) > 1e-6 && std::fabs(a.Y - b.Y) > 1e-6) return false;
  }
  out = BoundsOf(pts);
  // Four corners on two x and two y values, not a folded line.
  for (const TkxDoublePoint& p : pts)
    if ((std::fabs(p.X - out.Left) > 1e-6 && std::fabs(p.X - out.Right) > 1e-6) ||
        (std::fabs(p.Y - out.Top) > 1e-6 && std::fabs(p.Y - out.Bottom) > 1e-6))
      return false;
  return true;
}

void FlattenBezierStep(const TkxDoublePoint& p0, const TkxDoublePoint& c1, const TkxDoublePoint& c2,
                       const TkxDoublePoint& p3, int depth, std::vector<TkxDoublePoint>& out) {
  // Distance of the control points from the chord, measured along the
  // larger coordinate difference (cheap and bounded).
  const double d1 = std::fabs(c1.X + c1.X - p0.X - c2.X) + std::fabs(c1.Y + c1.Y - p0.Y - c2.Y);
  const double d2 = std::fabs(c2.X + c2.X - c1.X - p3.X) + std::fabs(c2.Y + c2.Y - c1.Y - p3.Y);
  if (depth >= 10 || d1 + d2 < 0.4) {
    out.push_back(p3);
    return;
  }
  auto mid = [](const TkxDoublePoint& a, const TkxDoublePoint& b) {
    return TkxDoublePoint{(a.X + b.X) / 2, (a.Y + b.Y) / 2};
  };
  const TkxDoublePoint a = mid(p0, c1), b = mid(c1, c2), c = mid(c2, p3);
  const TkxDoublePoint ab = mid(a, b), bc = mid(b, c), m = mid(ab, bc);
  FlattenBezierStep(p0, a, ab, m, depth + 1, out);
  FlattenBezierStep(m, bc, c, p3, depth + 1, out);
}

// Points of a Bézier run (start point, then three per segment) as a polyline.
std::vector<TkxDoublePoint> FlattenRun(const TkxDoublePoint& start, const std::vector<TkxDoublePoint>& pts,
                                       size_t from) {
  std::vector<TkxDoublePoint> out{start};
  TkxDoublePoint cur = start;
  for (size_t i = from; i + 2 < pts.size(); i += 3) {
    FlattenBezier(cur, pts[i], pts[i + 1], pts[i + 2], out);
    cur = pts[i + 2];
  }
  return out;
}

// An ellipse in its box as a polygon.
std::vector<TkxDoublePoint> EllipsePolygon(const TkxDoubleRect& r) {
  const double cx = (r.Left + r.Right) / 2, cy = (r.Top + r.Bottom) / 2;
  const double rx = r.Width() / 2, ry = r.Height() / 2;
  std::vector<TkxDoublePoint> out;
  constexpr int kSteps = 48;
  for (int i = 0; i < kSteps; ++i) {
    const double a = 2 * M_PI * i / kSteps;
    out.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
  }
  return out;
}

// What a drawing record does.
enum class TkxDrawingKind : uint8_t {
  dkOther,      // no drawing record
  dkFigure,     // draws a figure of its own (or adds it to the open path)
  dkFigureTo,   // draws on from the current position
  dkPathPaint,  // fills or strokes the path
  dkPathBracket,
  dkClip,
  dkBlit,  // a bitmap, left to the picture handlers
};

TkxDrawingKind DrawingKind(uint32_t type) {
  switch (type) {
    case EMR_POLYBEZIER:
    case EMR_POLYGON:
    case EMR_POLYLINE:
    case EMR_POLYBEZIER16:
    case EMR_POLYGON16:
    case EMR_POLYLINE16:
    case EMR_POLYPOLYLINE:
    case EMR_POLYPOLYGON:
    case EMR_POLYPOLYLINE16:
    case EMR_POLYPOLYGON16:
    case EMR_POLYDRAW:
    case EMR_POLYDRAW16:
    case EMR_RECTANGLE:
    case EMR_ROUNDRECT:
    case EMR_ELLIPSE:
    case EMR_ARC:
    case EMR_CHORD:
    case EMR_PIE:
    case EMR_FILLRGN: return TkxDrawingKind::dkFigure;
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
    case EMR_LINETO: return TkxDrawingKind::dkFigureTo;
    case EMR_FILLPATH:
    case EMR_STROKEANDFILLPATH:
    case EMR_STROKEPATH: return TkxDrawingKind::dkPathPaint;
    case EMR_BEGINPATH:
    case EMR_ENDPATH:
    case EMR_CLOSEFIGURE:
    case EMR_ABORTPATH: return TkxDrawingKind::dkPathBracket;
    case EMR_SELECTCLIPPATH:
    case EMR_EXTSELECTCLIPRGN: return TkxDrawingKind::dkClip;
    case EMR_BITBLT:
    case EMR_STRETCHBLT:
    case EMR_MASKBLT:
    case EMR_STRETCHDIBITS:
    case EMR_SETDIBITSTODEVICE: return TkxDrawingKind::dkBlit;
    default: return TkxDrawingKind::dkOther;
  }
}

}  // namespace

// ---- Helpers shared with the engine's bitmap drawing ----------------------------------

TkxCanvasPen CanvasPenOf(const TPen& pen) {
  TkxCanvasPen p;
  p.Color = ColorRefToARGB(static_cast<uint32_t>(ColorToRGB(pen.Color())));
  p.Width = pen.Width();
  p.Style = pen.Style() <= psInsideFrame ? static_cast<TkxPenStyle>(pen.Style()) : TkxPenStyle::Solid;
  return p;
}

TkxCanvasBrush CanvasBrushOf(const TBrush* brush) {
  TkxCanvasBrush b;
  if (!brush) {
    b.Style = TkxBrushStyle::Clear;
    return b;
  }
  b.Color = ColorRefToARGB(static_cast<uint32_t>(ColorToRGB(brush->Color())));
  b.Style = static_cast<TkxBrushStyle>(brush->Style());
  return b;
}

std::vector<TkxCanvasPoint> CanvasPointsOf(const TkxPoints& points, size_t count) {
  std::vector<TkxCanvasPoint> out;
  count = std::min(count, points.size());
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) out.push_back({points[i].X, points[i].Y});
  return out;
}

bool DrawShapeOnCanvas(TkxBitmapCanvas& canvas, const TkxDocumentItem& item) {
  if (auto* poly = dynamic_cast<const TkxPolyShapeItem*>(&item)) {
    for (const auto& part : poly->Parts)
      if (part) DrawShapeOnCanvas(canvas, *part);
    return true;
  }
  if (auto* pp = dynamic_cast<const TkxPolyPolygonItem*>(&item)) {
    canvas.Pen = CanvasPenOf(pp->Pen);
    canvas.Brush = CanvasBrushOf(pp->Brush.get());
    canvas.FillMode = pp->Alternate ? TkxFillMode::Alternate : TkxFillMode::Winding;
    std::vector<int> counts;
    if (pp->Counts.size() > 1) counts.assign(pp->Counts.begin() + 1, pp->Counts.end());
    canvas.PolyPolygon(CanvasPointsOf(pp->Points, pp->Points.size()), counts);
    return true;
  }
  auto* shape = dynamic_cast<const TkxShapeItem*>(&item);
  if (!shape) return false;
  const TkxPoints& pts = shape->Points;
  const uint8_t type = shape->ShapeType;
  const size_t need = type == shArc || type == shChord || type == shPie ? 4 : type == shRoundRect ? 3 : 2;
  if (pts.size() < need) return true;
  canvas.Pen = CanvasPenOf(shape->Pen);
  canvas.Brush = CanvasBrushOf(shape->Brush.get());
  const double l = std::min(pts[0].X, pts[1].X), t = std::min(pts[0].Y, pts[1].Y);
  const double r = std::max(pts[0].X, pts[1].X), b = std::max(pts[0].Y, pts[1].Y);
  switch (type) {
    case shLine: canvas.Line(pts[0].X, pts[0].Y, pts[1].X, pts[1].Y); break;
    case shRectangle: canvas.Rectangle(l, t, r, b); break;
    case shRoundRect: canvas.RoundRect(l, t, r, b, pts[2].X, pts[2].Y); break;
    case shEllipse: canvas.Ellipse(l, t, r, b); break;
    case shArc: canvas.Arc(l, t, r, b, pts[2].X, pts[2].Y, pts[3].X, pts[3].Y); break;
    case shChord: canvas.Chord(l, t, r, b, pts[2].X, pts[2].Y, pts[3].X, pts[3].Y); break;
    case shPie: canvas.Pie(l, t, r, b, pts[2].X, pts[2].Y, pts[3].X, pts[3].Y); break;
    case shPolygon: canvas.Polygon(CanvasPointsOf(pts, pts.size())); break;
    case shPolyline: canvas.Polyline(CanvasPointsOf(pts, pts.size())); break;
    case shPolyBezier: canvas.PolyBezier(CanvasPointsOf(pts, pts.size())); break;
    default: break;
  }
  return true;
}

namespace {

// The shape kinds a crowded page's drawing is recorded with as they are
// (box shapes other than rectangles only come from foreign recordings).
bool RecordableShape(const TkxDocumentItem& item) {
  if (auto* poly = dynamic_cast<const TkxPolyShapeItem*>(&item)) {
    for (const auto& part : poly->Parts)
      if (part && !RecordableShape(*part)) return false;
    return true;
  }
  if (dynamic_cast<const TkxPolyPolygonItem*>(&item)) return true;
  auto* shape = dynamic_cast<const TkxShapeItem*>(&item);
  if (!shape) return false;
  switch (shape->ShapeType) {
    case shLine:
    case shRectangle:
    case shPolygon:
    case shPolyline:
    case shPolyBezier: return true;
    default: return false;
  }
}

// Records shapes the way the bitmap canvas draws them (round caps and
// joins, the fill rule of the last poly-polygon) in engine pixels, with
// origin at the recording's top left. (Whole pixels, as the page itself
// was recorded: readers make dashes of a length in units, so a finer unit
// would draw them solid.)
class TkxShapeRecording {
 public:
  TkxShapeRecording(TkxEmfRecorder& emf, const TkxDoublePoint& origin) : emf_(emf), origin_(origin) {
    emf_.SetPolyFillMode(ALTERNATE);
    emf_.SetBkMode(TRANSPARENT);  // hatches without a background, as the canvas draws them
  }

  void Draw(const TkxDocumentItem& item) {
    if (auto* poly = dynamic_cast<const TkxPolyShapeItem*>(&item)) {
      for (const auto& part : poly->Parts)
        if (part) Draw(*part);
      return;
    }
    if (auto* pp = dynamic_cast<const TkxPolyPolygonItem*>(&item)) {
      Use(pp->Pen, pp->Brush.get());
      emf_.SetPolyFillMode(pp->Alternate ? ALTERNATE : WINDING);
      std::vector<uint32_t> counts;
      size_t total = 0;
      for (size_t i = 1; i < pp->Counts.size(); ++i) {
        const int c = pp->Counts[i];
        if (c <= 0) continue;
        const size_t n = std::min(static_cast<size_t>(c), pp->Points.size() - total);
        if (n == 0) break;
        counts.push_back(static_cast<uint32_t>(n));
        total += n;
      }
      if (!counts.empty()) emf_.PolyPolygon(counts, Points(pp->Points, total));
      return;
    }
    auto* shape = dynamic_cast<const TkxShapeItem*>(&item);
    if (!shape || shape->Points.size() < 2) return;
    Use(shape->Pen, shape->Brush.get());
    const TkxPoints& pts = shape->Points;
    switch (shape->ShapeType) {
      case shLine: emf_.Polyline(Points(pts, 2)); break;
      case shRectangle: {
        const TkxDoublePoint a = pts[0], b = pts[1];
        emf_.Polygon(Points({a, {b.X, a.Y}, b, {a.X, b.Y}}, 4));
        break;
      }
      case shPolygon: emf_.Polygon(Points(pts, pts.size())); break;
      case shPolyline: emf_.Polyline(Points(pts, pts.size())); break;
      case shPolyBezier:
        // A Bézier run is one point and three per curve.
        if (pts.size() >= 4) emf_.PolyBezier(Points(pts, 1 + (pts.size() - 1) / 3 * 3));
        break;
      default: break;
    }
  }

 private:
  void Use(const TPen& pen, const TBrush* brush) {
    TkxLogPenEx p;
    if (pen.Style() == psClear) {
      p.PenStyle = PS_NULL;
      p.Width = 0;
    } else {
      uint32_t style = PS_SOLID;
      switch (pen.Style()) {
        case psDash: style = PS_DASH; break;
        case psDot: style = PS_DOT; break;
        case psDashDot: style = PS_DASHDOT; break;
        case psDashDotDot: style = PS_DASHDOTDOT; break;
        default: break;
      }
      p.PenStyle = PS_GEOMETRIC | style | PS_ENDCAP_ROUND | PS_JOIN_ROUND;
      p.Width = static_cast<uint32_t>(std::clamp(pen.Width(), 1, 1 << 16));
      p.Color = static_cast<uint32_t>(ColorToRGB(pen.Color())) & 0xFFFFFF;
    }
    emf_.UsePen(p);
    TkxLogBrush b;
    if (!brush || brush->Style() == bsClear) {
      b.Style = BS_NULL;
    } else {
      b.Color = static_cast<uint32_t>(ColorToRGB(brush->Color())) & 0xFFFFFF;
      if (brush->Style() != bsSolid) {
        b.Style = BS_HATCHED;
        b.Hatch = static_cast<uint32_t>(brush->Style() - bsHorizontal);
      }
    }
    emf_.UseBrush(b);
  }

  std::vector<TkxEmfPointL> Points(const TkxPoints& pts, size_t count) const {
    std::vector<TkxEmfPointL> out;
    count = std::min(count, pts.size());
    out.reserve(count);
    // (The shapes lie within the page; the bounds only keep a hostile
    // value from overflowing.)
    auto unit = [](double v) { return static_cast<int32_t>(std::lrint(std::clamp(v, -1e9, 1e9))); };
    for (size_t i = 0; i < count; ++i) out.push_back({unit(pts[i].X - origin_.X), unit(pts[i].Y - origin_.Y)});
    return out;
  }

  TkxEmfRecorder& emf_;
  TkxDoublePoint origin_;
};

}  // namespace

void FlattenBezier(const TkxDoublePoint& p0, const TkxDoublePoint& c1, const TkxDoublePoint& c2,
                   const TkxDoublePoint& p3, std::vector<TkxDoublePoint>& out) {
  if (!Finite(p0) || !Finite(c1) || !Finite(c2) || !Finite(p3)) return;
  FlattenBezierStep(p0, c1, c2, p3, 0, out);
}

std::vector<TkxDoublePoint> ClipPolygonToRect(const std::vector<TkxDoublePoint>& polygon, const TkxDoubleRect& r) {
  std::vector<TkxDoublePoint> cur = polygon, next;
  // One pass per edge: keep what lies on the inner side, with the crossings.
  for (int edge = 0; edge < 4 && !cur.empty(); ++edge) {
    auto inside = [&](const TkxDoublePoint& p) {
      switch (edge) {
        case 0: return p.X >= r.Left;
        case 1: return p.X <= r.Right;
        case 2: return p.Y >= r.Top;
        default: return p.Y <= r.Bottom;
      }
    };
    auto cross = [&](const TkxDoublePoint& a, const TkxDoublePoint& b) {
      const double v = edge == 0 ? r.Left : edge == 1 ? r.Right : edge == 2 ? r.Top : r.Bottom;
      if (edge < 2) {
        const double t = (v - a.X) / (b.X - a.X);
        return TkxDoublePoint{v, a.Y + t * (b.Y - a.Y)};
      }
      const double t = (v - a.Y) / (b.Y - a.Y);
      return TkxDoublePoint{a.X + t * (b.X - a.X), v};
    };
    next.clear();
    for (size_t i = 0; i < cur.size(); ++i) {
      const TkxDoublePoint& a = cur[i];
      const TkxDoublePoint& b = cur[(i + 1) % cur.size()];
      const bool ia = inside(a), ib = inside(b);
      if (ia) next.push_back(a);
      if (ia != ib) next.push_back(cross(a, b));
    }
    cur.swap(next);
  }
  Clean(cur);
  if (cur.size() > 1 && cur.front().X == cur.back().X && cur.front().Y == cur.back().Y) cur.pop_back();
  return cur;
}

std::vector<std::vector<TkxDoublePoint>> ClipPolylineToRect(const std::vector<TkxDoublePoint>& line,
                                                            const TkxDoubleRect& r) {
  std::vector<std::vector<TkxDoublePoint>> pieces;
  std::vector<TkxDoublePoint> piece;
  auto flush = [&] {
    Clean(piece);
    if (piece.size() >= 2) pieces.push_back(std::move(piece));
    piece.clear();
  };
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    const TkxDoublePoint a = line[i], b = line[i + 1];
    // Liang-Barsky: the part of the segment a + t (b - a), 0 <= t <= 1, inside.
    double t0 = 0, t1 = 1;
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.X - r.Left, r.Right - a.X, a.Y - r.Top, r.Bottom - a.Y};
    bool visible = true;
    for (int k = 0; k < 4 && visible; ++k) {
      if (p[k] == 0) {
        if (q[k] < 0) visible = false;
      } else {
        const double t = q[k] / p[k];
        if (p[k] < 0)
          t0 = std::max(t0, t);
        else
          t1 = std::min(t1, t);
        if (t0 > t1) visible = false;
      }
    }
    if (!visible) {
      flush();
      continue;
    }
    const TkxDoublePoint s{a.X + t0 * dx, a.Y + t0 * dy}, e{a.X + t1 * dx, a.Y + t1 * dy};
    if (t0 > 0) flush();
    if (piece.empty()) piece.push_back(s);
    piece.push_back(e);
    if (t1 < 1) flush();
  }
  flush();
  return pieces;
}

// ---- The drawing -------------------------------------------------------------------------

TkxMetafileDrawing::TkxMetafileDrawing(TkxMetafileState& state) : st_(state) {}

bool TkxMetafileDrawing::Wanted() const { return st_.RenderShapes; }

TkxDoublePoint TkxMetafileDrawing::P(double x, double y) const {
  TkxDoublePoint p = st_.ConvertPoint(x, y);
  p.X += st_.OffsetX;
  p.Y += st_.OffsetY;
  return p;
}

TkxDoublePoint TkxMetafileDrawing::CurrentPoint() const { return P(st_.CurrentX, st_.CurrentY); }

void TkxMetafileDrawing::SetCurrent(const TkxEmfPointL& p) {
  st_.CurrentX = p.x;
  st_.CurrentY = p.y;
  st_.TextAdvance = 0;
}

TkxDoubleRect TkxMetafileDrawing::VisibleRect() const {
  TkxDoubleRect r = havePage_ ? page_
                              : TkxDoubleRect{st_.OffsetX, st_.OffsetY, st_.OffsetX + kDefaultPageExtent,
                                              st_.OffsetY + kDefaultPageExtent};
  if (clip_.Active) r = Intersect(r, clip_.Rect);
  return r;
}

bool TkxMetafileDrawing::NothingVisible() const { return IsEmpty(VisibleRect()); }

bool TkxMetafileDrawing::ProcessRecord(const TkxEmfRecord& r) {
  if (!st_.RenderShapes && !st_.RenderImages) {
    // Text only: nothing drawn is wanted, but text may follow the position.
    if (FollowPosition(r)) return true;
    // Region clips and bitmaps still go to the picture handlers.
    const TkxDrawingKind kind = DrawingKind(r.Type());
    return kind != TkxDrawingKind::dkOther && kind != TkxDrawingKind::dkBlit && r.Type() != EMR_EXTSELECTCLIPRGN;
  }
  if (copying_) {
    if (IsBlitRecord(r.Type())) return false;  // pictures go their own way
    Copy(r);
    // Paths and clip regions are followed as on any page (pictures are cut
    // to the clip), only their painting is left to the copy; a figure
    // painted at once is not looked at beyond the position it leaves.
    if (!inPath_ && !IsPathOrClipRecord(r.Type())) {
      PlaceCopy();
      FollowPosition(r);
      return true;
    }
  }
  switch (r.Type()) {
    case EMR_POLYBEZIER:
    case EMR_POLYGON:
    case EMR_POLYLINE:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
    case EMR_POLYBEZIER16:
    case EMR_POLYGON16:
    case EMR_POLYLINE16:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16: Poly(r); return true;
    case EMR_POLYPOLYLINE:
    case EMR_POLYPOLYGON:
    case EMR_POLYPOLYLINE16:
    case EMR_POLYPOLYGON16: PolyPoly(r); return true;
    case EMR_POLYDRAW:
    case EMR_POLYDRAW16: PolyDraw(r); return true;
    case EMR_LINETO: LineTo(r); return true;
    case EMR_RECTANGLE: Rectangle(r); return true;
    case EMR_ROUNDRECT:
    case EMR_ELLIPSE:
    case EMR_ARC:
    case EMR_CHORD:
    case EMR_PIE: BoxShape(r); return true;
    case EMR_FILLRGN: FillRegion(r); return true;
    case EMR_BEGINPATH:
    case EMR_ENDPATH:
    case EMR_CLOSEFIGURE:
    case EMR_ABORTPATH:
    case EMR_FILLPATH:
    case EMR_STROKEANDFILLPATH:
    case EMR_STROKEPATH:
    case EMR_SELECTCLIPPATH: PathRecord(r); return true;
    case EMR_EXTSELECTCLIPRGN: SelectClipRegion(r); return true;
    default: return false;
  }
}

void TkxMetafileDrawing::TrackStateRecord(const TkxEmfRecord& r) {
  if (copying_) Copy(r);
  switch (r.Type()) {
    case EMR_HEADER: {
      TkxEmrHeader h;
      if (!DecodeHeader(r, h) || !(st_.DevicePixelsPerMMX > 0) || !(st_.DevicePixelsPerMMY > 0)) break;
      // The frame (.01 mm, inclusive) in recording pixels.
      const double l = h.Frame.left * st_.DevicePixelsPerMMX / 100.0;
      const double t = h.Frame.top * st_.DevicePixelsPerMMY / 100.0;
      const double rr = (h.Frame.right + 1.0) * st_.DevicePixelsPerMMX / 100.0;
      const double b = (h.Frame.bottom + 1.0) * st_.DevicePixelsPerMMY / 100.0;
      frame_ = {l * st_.Rx() + st_.OffsetX, t * st_.Ry() + st_.OffsetY, rr * st_.Rx() + st_.OffsetX,
                b * st_.Ry() + st_.OffsetY};
      // A pixel in from every edge: drawing that reaches past the paper
      // stays on it once lengths are rounded in the document.
      page_ = {l * st_.Rx() + st_.OffsetX + 1, t * st_.Ry() + st_.OffsetY + 1, rr * st_.Rx() + st_.OffsetX - 1,
               b * st_.Ry() + st_.OffsetY - 1};
      havePage_ = !IsEmpty(page_) && std::isfinite(page_.Right) && std::isfinite(page_.Bottom);
      break;
    }
    case EMR_SAVEDC: savedClips_.push_back(clip_); break;
    case EMR_RESTOREDC: {
      if (!r.Has(0, 12) || savedClips_.empty()) break;
      const int32_t n = r.I32(8);
      const int64_t count = static_cast<int64_t>(savedClips_.size());
      const int64_t index = n < 0 ? count + n : n;
      if (n == 0 || index < 0 || index >= count) break;
      clip_ = savedClips_[static_cast<size_t>(index)];
      savedClips_.resize(static_cast<size_t>(index));
      break;
    }
    case EMR_MOVETOEX:
      if (inPath_ && r.Has(0, 16)) {
        if (!path_.empty() && path_.back().Points.size() == 1 && !path_.back().Closed) path_.pop_back();
        path_.push_back({{CurrentPoint()}, false});
      }
      break;
    case EMR_INTERSECTCLIPRECT:
      if (r.Has(0, 24)) {
        const TkxDoubleRect c = st_.ConvertRect(r.RectL(8));
        IntersectClip(
            Normalized({c.Left + st_.OffsetX, c.Top + st_.OffsetY}, {c.Right + st_.OffsetX, c.Bottom + st_.OffsetY}),
            false);
      }
      break;
    case EMR_EOF:
      // A path left open at the end is dropped with the page.
      inPath_ = false;
      path_.clear();
      if (st_.Target().LineMode()) UncoverFlowingText();
      FinishCopy();
      FlattenCrowdedPage();
      painted_.clear();
      break;
    default: break;
  }
}

// ---- Clipping ------------------------------------------------------------------------------

void TkxMetafileDrawing::IntersectClip(const TkxDoubleRect& rect, bool replace) {
  if (replace || !clip_.Active) {
    clip_.Rect = rect;
  } else {
    clip_.Rect = Intersect(clip_.Rect, rect);
  }
  clip_.Active = true;
}

void TkxMetafileDrawing::SelectClipRegion(const TkxEmfRecord& r) {
  TkxEmrExtSelectClipRgn rec;
  if (!DecodeExtSelectClipRgn(r, rec)) return;
  if (!rec.HasRegion) {
    if (rec.RegionMode == RGN_COPY) clip_ = TkxClip{};
    st_.ClipRect = TkxDoubleRect{};
    if (Wanted()) {
      auto item = std::make_unique<TkxClipItem>();
      item->Mode = kClipRemove;
      st_.AppendItem(std::move(item));
    }
    return;
  }
  st_.ClipActive = true;
  st_.ClipSeen = true;
  auto device = [&](const TkxEmfRectL& d) {
    return TkxDoubleRect{d.left * st_.Rx() + st_.OffsetX, d.top * st_.Ry() + st_.OffsetY,
                         d.right * st_.Rx() + st_.OffsetX, d.bottom * st_.Ry() + st_.OffsetY};
  };
  const TkxDoubleRect bounds = device(rec.Region.Bounds);
  switch (rec.RegionMode) {
    case RGN_COPY: IntersectClip(bounds, true); break;
    case RGN_AND: IntersectClip(bounds, false); break;
    case RGN_OR:
      if (clip_.Active)
        IntersectClip({std::min(clip_.Rect.Left, bounds.Left), std::min(clip_.Rect.Top, bounds.Top),
                       std::max(clip_.Rect.Right, bounds.Right), std::max(clip_.Rect.Bottom, bounds.Bottom)},
                      true);
      break;
    default: break;  // XOR and DIFF never shrink the area beyond its box
  }
  if (!Wanted()) return;
  auto item = std::make_unique<TkxClipItem>();
  item->Mode = kClipSetRects;
  item->RegionMode = static_cast<int>(rec.RegionMode);
  item->Pen = st_.Pen;
  item->Brush = st_.Brush;
  auto add = [&](const TkxDoubleRect& d) {
    item->Points.push_back({std::nearbyint(d.Left), std::nearbyint(d.Top)});
    item->Points.push_back({std::nearbyint(d.Right), std::nearbyint(d.Bottom)});
  };
  add(bounds);
  for (size_t i = 1; i < rec.Region.Rects.size(); ++i) add(device(rec.Region.Rects[i]));
  st_.AppendItem(std::move(item));
}

// ---- Paths ---------------------------------------------------------------------------------

std::vector<TkxDoublePoint>& TkxMetafileDrawing::OpenFigure() {
  if (path_.empty() || path_.back().Closed) {
    // After a closed figure the next one starts where that one began, as
    // the current position returns there.
    TkxDoublePoint start = CurrentPoint();
    if (!path_.empty() && !path_.back().Points.empty()) start = path_.back().Points.front();
    path_.push_back({{start}, false});
  }
  return path_.back().Points;
}

void TkxMetafileDrawing::PathRecord(const TkxEmfRecord& r) {
  int action = paBeginPath;
  switch (r.Type()) {
    case EMR_BEGINPATH:
      inPath_ = true;
      path_.clear();
      action = paBeginPath;
      break;
    case EMR_ENDPATH:
      inPath_ = false;
      action = paEndPath;
      break;
    case EMR_CLOSEFIGURE:
      if (!path_.empty()) path_.back().Closed = true;
      action = paCloseFigure;
      break;
    case EMR_ABORTPATH:
      inPath_ = false;
      path_.clear();
      action = paAbortPath;
      break;
    case EMR_FILLPATH: action = paFillPath; break;
    case EMR_STROKEANDFILLPATH: action = paStrokeAndFillPath; break;
    case EMR_STROKEPATH: action = paStrokePath; break;
    case EMR_SELECTCLIPPATH: action = paSelectClipPath; break;
    default: return;
  }
  const bool paints = action == paFillPath || action == paStrokeAndFillPath || action == paStrokePath;
  if (Wanted()) {
    auto item = std::make_unique<TkxPathItem>(action);
    if (paints) {
      item->SetPen(st_.Pen);
      item->SetBrush(st_.Brush);
    }
    if (action == paFillPath || action == paStrokeAndFillPath) item->Flag = st_.PolyFillMode == ALTERNATE ? 1 : 0;
    if (action == paSelectClipPath) item->Flag = static_cast<uint8_t>(r.U32(8));
    st_.AppendItem(std::move(item));
  }
  if (paints) {
    inPath_ = false;
    std::vector<TkxMetaFigure> figures;
    figures.swap(path_);
    // Filling closes every figure.
    if (action != paStrokePath)
      for (TkxMetaFigure& f : figures) f.Closed = true;
    Paint(std::move(figures), action != paStrokePath, action != paFillPath, st_.PolyFillMode == ALTERNATE);
  } else if (action == paSelectClipPath) {
    inPath_ = false;
    std::vector<TkxDoublePoint> all;
    for (const TkxMetaFigure& f : path_) all.insert(all.end(), f.Points.begin(), f.Points.end());
    Clean(all);
    const uint32_t mode = r.Has(0, 12) ? r.U32(8) : RGN_AND;
    const TkxDoubleRect box = all.empty() ? TkxDoubleRect{0, 0, 0, 0} : BoundsOf(all);
    if (mode == RGN_COPY)
      IntersectClip(box, true);
    else if (mode == RGN_AND)
      IntersectClip(box, false);
    path_.clear();
  }
}

void TkxMetafileDrawing::AddFigures(std::vector<TkxMetaFigure> figures, bool fill, bool stroke, bool evenOdd) {
  if (inPath_) {
    for (TkxMetaFigure& f : figures) path_.push_back(std::move(f));
    return;
  }
  Paint(std::move(figures), fill, stroke, evenOdd);
}

// ---- Records -------------------------------------------------------------------------------

void TkxMetafileDrawing::Poly(const TkxEmfRecord& r) {
  TkxEmrPoly rec;
  if (!DecodePoly(r, rec) || rec.Points.empty()) return;
  std::vector<TkxDoublePoint> pts;
  pts.reserve(rec.Points.size());
  for (const TkxEmfPointL& p : rec.Points) pts.push_back(P(p.x, p.y));
  switch (r.Type()) {
    case EMR_POLYGON:
    case EMR_POLYGON16: AddFigures({{std::move(pts), true}}, true, true, st_.PolyFillMode == ALTERNATE); break;
    case EMR_POLYLINE:
    case EMR_POLYLINE16: AddFigures({{std::move(pts), false}}, false, true, false); break;
    case EMR_POLYBEZIER:
    case EMR_POLYBEZIER16: AddFigures({{FlattenRun(pts[0], pts, 1), false}}, false, true, false); break;
    case EMR_POLYLINETO:
    case EMR_POLYLINETO16:
    case EMR_POLYBEZIERTO:
    case EMR_POLYBEZIERTO16: {
      const bool bezier = r.Type() == EMR_POLYBEZIERTO || r.Type() == EMR_POLYBEZIERTO16;
      if (inPath_) {
        std::vector<TkxDoublePoint>& fig = OpenFigure();
        if (bezier) {
          std::vector<TkxDoublePoint> flat = FlattenRun(fig.back(), pts, 0);
          fig.insert(fig.end(), flat.begin() + 1, flat.end());
        } else {
          fig.insert(fig.end(), pts.begin(), pts.end());
        }
      } else {
        const TkxDoublePoint start = CurrentPoint();
        std::vector<TkxDoublePoint> line = bezier ? FlattenRun(start, pts, 0) : std::vector<TkxDoublePoint>{start};
        if (!bezier) line.insert(line.end(), pts.begin(), pts.end());
        Paint({{std::move(line), false}}, false, true, false);
      }
      SetCurrent(rec.Points.back());
      break;
    }
    default: break;
  }
}

void TkxMetafileDrawing::PolyPoly(const TkxEmfRecord& r) {
  if (!Wanted() && !inPath_) return;
  TkxEmrPolyPoly rec;
  if (!DecodePolyPoly(r, rec)) return;
  const bool polygon = r.Type() == EMR_POLYPOLYGON || r.Type() == EMR_POLYPOLYGON16;
  std::vector<TkxMetaFigure> figures;
  size_t at = 0;
  for (uint32_t count : rec.Counts) {
    TkxMetaFigure f;
    f.Closed = polygon;
    for (uint32_t i = 0; i < count && at < rec.Points.size(); ++i, ++at)
      f.Points.push_back(P(rec.Points[at].x, rec.Points[at].y));
    if (!f.Points.empty()) figures.push_back(std::move(f));
  }
  AddFigures(std::move(figures), polygon, true, st_.PolyFillMode == ALTERNATE);
}

void TkxMetafileDrawing::PolyDraw(const TkxEmfRecord& r) {
  if (!Wanted() && !inPath_) return;
  TkxEmrPolyDraw rec;
  if (!DecodePolyDraw(r, rec) || rec.Points.empty()) return;
  const size_t n = std::min(rec.Points.size(), rec.Types.size());
  std::vector<TkxMetaFigure> figures;
  TkxDoublePoint cur = CurrentPoint();
  auto open = [&]() -> std::vector<TkxDoublePoint>& {
    if (figures.empty() || figures.back().Closed) figures.push_back({{cur}, false});
    return figures.back().Points;
  };
  for (size_t i = 0; i < n; ++i) {
    const uint8_t type = rec.Types[i] & ~kPtCloseFigure;
    const TkxDoublePoint p = P(rec.Points[i].x, rec.Points[i].y);
    if (type == kPtMoveTo) {
      figures.push_back({{p}, false});
    } else if (type == kPtLineTo) {
      open().push_back(p);
    } else if (type == kPtBezierTo && i + 2 < n) {
      std::vector<TkxDoublePoint>& fig = open();
      FlattenBezier(fig.back(), p, P(rec.Points[i + 1].x, rec.Points[i + 1].y),
                    P(rec.Points[i + 2].x, rec.Points[i + 2].y), fig);
      i += 2;
    } else {
      break;  // a broken point list ends the figure set
    }
    cur = figures.empty() ? p : figures.back().Points.back();
    if ((rec.Types[i] & kPtCloseFigure) && !figures.empty()) figures.back().Closed = true;
  }
  SetCurrent(rec.Points[std::min(n, rec.Points.size()) - 1]);
  AddFigures(std::move(figures), false, true, false);
}

void TkxMetafileDrawing::LineTo(const TkxEmfRecord& r) {
  if (!r.Has(0, 16)) return;
  const TkxEmfPointL to{r.I32(8), r.I32(12)};
  if (inPath_) {
    OpenFigure().push_back(P(to.x, to.y));
  } else if (Wanted()) {
    Paint({{{CurrentPoint(), P(to.x, to.y)}, false}}, false, true, false);
  }
  SetCurrent(to);
}

void TkxMetafileDrawing::Rectangle(const TkxEmfRecord& r) {
  if ((!Wanted() && !inPath_) || !r.Has(0, 24)) return;
  const TkxEmfRectL b = r.RectL(8);
  std::vector<TkxDoublePoint> pts{P(b.left, b.top), P(b.right, b.top), P(b.right, b.bottom), P(b.left, b.bottom)};
  if (inPath_) {
    path_.push_back({std::move(pts), true});
    return;
  }
  const TPen saved = st_.Pen;
  if (st_.Rop2 == kR2Nop) st_.Pen.SetColor(st_.BkColor);
  Paint({{std::move(pts), true}}, true, true, false);
  st_.Pen = saved;
}

void TkxMetafileDrawing::BoxShape(const TkxEmfRecord& r) {
  if ((!Wanted() && !inPath_) || !r.Has(0, 24)) return;
  const TkxEmfRectL b = r.RectL(8);
  const TkxDoublePoint a = P(b.left, b.top), c = P(b.right, b.bottom);
  const TkxDoubleRect box = Normalized(a, c);
  if (inPath_) {
    // Only whole ellipses take part in paths here.
    if (r.Type() == EMR_ELLIPSE) path_.push_back({EllipsePolygon(box), true});
    return;
  }
  if (!std::isfinite(box.Left) || !std::isfinite(box.Right) || !std::isfinite(box.Top) || !std::isfinite(box.Bottom))
    return;
  if (!Overlap(Inflated(box, st_.Pen.Width()), VisibleRect())) return;
  painted_.push_back(Inflated(box, st_.Pen.Width()));
  uint8_t kind = shEllipse;
  std::vector<TkxDoublePoint> pts{a, c};
  switch (r.Type()) {
    case EMR_ROUNDRECT: {
      if (!r.Has(0, 32)) return;
      kind = shRoundRect;
      const TkxDoublePoint corner = st_.ConvertVector(r.I32(24), r.I32(28));
      const TkxDoublePoint zero = st_.ConvertVector(0, 0);
      pts.push_back({std::fabs(corner.X - zero.X), std::fabs(corner.Y - zero.Y)});
      break;
    }
    case EMR_ELLIPSE: kind = shEllipse; break;
    case EMR_ARC:
    case EMR_CHORD:
    case EMR_PIE:
      if (!r.Has(0, 40)) return;
      kind = r.Type() == EMR_ARC ? shArc : r.Type() == EMR_CHORD ? shChord : shPie;
      pts.push_back(P(r.I32(24), r.I32(28)));
      pts.push_back(P(r.I32(32), r.I32(36)));
      break;
    default: return;
  }
  const bool filled = kind != shArc && st_.Brush.Style() != bsClear;
  auto shape = NewShape(kind, filled, true);
  shape->SetPoints(pts);
  AppendShape(std::move(shape));
}

void TkxMetafileDrawing::FillRegion(const TkxEmfRecord& r) {
  if (!Wanted() || !r.Has(0, 32)) return;
  const TkxGDIOBJ* o = nullptr;
  const uint32_t handle = r.U32(28);
  if (handle > 0 && handle <= st_.Objects.size()) o = &st_.Objects[handle - 1];
  if (!o || o->Kind != goBrush) return;
  const TkxEmfRectL b = r.Bounds();
  const TkxDoubleRect box{b.left * st_.Rx() + st_.OffsetX, b.top * st_.Ry() + st_.OffsetY,
                          b.right * st_.Rx() + st_.OffsetX, b.bottom * st_.Ry() + st_.OffsetY};
  const TBrush savedBrush = st_.Brush;
  const TPen savedPen = st_.Pen;
  st_.Brush = o->Brush;
  st_.Pen.SetStyle(psClear);
  Paint({{{{box.Left, box.Top}, {box.Right, box.Top}, {box.Right, box.Bottom}, {box.Left, box.Bottom}}, true}}, true,
        false, false);
  st_.Brush = savedBrush;
  st_.Pen = savedPen;
}

// ---- Painting ------------------------------------------------------------------------------

std::unique_ptr<TkxShapeItem> TkxMetafileDrawing::NewShape(uint8_t kind, bool withBrush, bool withPen) const {
  auto shape = std::make_unique<TkxShapeItem>(kind);
  if (withBrush) shape->SetBrush(st_.Brush);
  shape->Pen = st_.Pen;
  if (!withPen) shape->Pen.SetStyle(psClear);
  // A hairline stays visible.
  if (shape->Pen.Width() < 1) shape->Pen.SetWidth(1);
  // The join and cap of the pen that draws the shape, not of whatever pen
  // was created last.
  shape->LineJoin = st_.PenLineJoin;
  shape->EndCap = st_.PenEndCap;
  return shape;
}

TkxShapeItem* TkxMetafileDrawing::LastShape() const {
  TkxItemList* list = st_.Target().ItemList();
  if (!list || list->empty()) return nullptr;
  return dynamic_cast<TkxShapeItem*>(list->back().get());
}

bool TkxMetafileDrawing::OutlineLastFill(uint8_t kind, const std::vector<TkxDoublePoint>& points) {
  // A figure filled and then outlined (a path both filled and stroked) is
  // one shape with both, as the reader draws a shape's outline over its
  // fill: half the objects, and nothing between the two.
  TkxShapeItem* last = LastShape();
  if (!last || last->ShapeType != kind || !last->Brush || last->Pen.Style() != psClear || last->Points != points)
    return false;
  const std::unique_ptr<TkxShapeItem> pen = NewShape(kind, false, true);
  last->Pen = pen->Pen;
  last->LineJoin = pen->LineJoin;
  last->EndCap = pen->EndCap;
  return true;
}

bool TkxMetafileDrawing::FillsBlankPaper(const TkxDoubleRect& box) const {
  if (st_.Brush.Style() != bsSolid || (ColorToRGB(st_.Brush.Color()) & 0xFFFFFF) != 0xFFFFFF) return false;
  for (const TkxDoubleRect& r : painted_)
    if (Overlap(r, box)) return false;
  if (const TkxItemList* list = st_.Target().ItemList())
    for (const TkxDocumentItemPtr& item : *list)
      if (auto* image = dynamic_cast<const TkxImageItem*>(item.get()))
        if (Overlap(Normalized({image->X, image->Y}, {image->X + image->Width, image->Y + image->Height}), box))
          return false;
  return true;
}

void TkxMetafileDrawing::AppendShape(std::unique_ptr<TkxDocumentItem> item) {
  if (const auto* line = dynamic_cast<const TkxShapeItem*>(item.get()); line && DecorateText(*line)) return;
  ++shapeCount_;
  st_.AppendItem(std::move(item));
}

namespace {

// How many of the latest items a line looks back through for its text.
constexpr size_t kDecorationLookback = 16;
// Where a line lies under or through text, in shares of the text's height
// from its top, and how much further than the text it may reach (in ems).
constexpr double kUnderlineFrom = 0.75, kUnderlineTo = 1.35;
constexpr double kStrikeoutFrom = 0.35, kStrikeoutTo = 0.7;
constexpr double kDecorationReachEm = 0.5;
constexpr double kDecorationOverlapEm = 0.3;
// The line may be thicker than a hairline by this share of the text height.
constexpr double kDecorationThickness = 0.2;

}  // namespace

bool TkxMetafileDrawing::DecorateText(const TkxShapeItem& line) {
  if (line.ShapeType != shLine || line.Brush || line.Points.size() != 2 || line.Pen.Style() != psSolid) return false;
  const TkxDoublePoint a = line.Points[0], b = line.Points[1];
  if (std::fabs(a.Y - b.Y) > 0.5) return false;
  const double x0 = std::min(a.X, b.X), x1 = std::max(a.X, b.X), y = (a.Y + b.Y) / 2;
  if (x1 - x0 < 2) return false;

  // The latest text items, newest first.
  std::vector<TkxTextItem*> recent;
  if (st_.Target().LineMode()) {
    if (TkxTextItemList* list = st_.Target().LineTextList())
      for (size_t i = list->size(); i-- > 0 && recent.size() < kDecorationLookback;)
        if ((*list)[i]) recent.push_back((*list)[i].get());
  } else if (TkxItemList* list = st_.Target().ItemList()) {
    for (size_t i = list->size(), seen = 0; i-- > 0 && seen < kDecorationLookback; ++seen)
      if (auto* t = dynamic_cast<TkxTextItem*>((*list)[i].get())) recent.push_back(t);
  }
  std::vector<TkxTextItem*> marked;
  TkxFontStyle style = fsUnderline;
  double from = std::numeric_limits<double>::max(), to = std::numeric_limits<double>::lowest();
  for (TkxTextItem* t : recent) {
    const double h = std::fabs(static_cast<double>(t->Font.Height()));
    if (t->Angle != 0 || h <= 0 || t->FirstLine().empty()) continue;
    if (ColorToRGB(t->Font.Color()) != ColorToRGB(line.Pen.Color())) continue;
    if (line.Pen.Width() > std::max(2.0, kDecorationThickness * h)) continue;
    const double share = (y - t->Y) / h;
    TkxFontStyle kind;
    if (share >= kUnderlineFrom && share <= kUnderlineTo) {
      kind = fsUnderline;
    } else if (share >= kStrikeoutFrom && share < kStrikeoutTo) {
      kind = fsStrikeout;
    } else {
      continue;
    }
    double w = 0;
    for (double adv : t->CharAdvances) w += adv;
    if (w <= 0) w = MeasureTextRun(t->Font, t->FirstLine()).Width;
    const double reach = kDecorationReachEm * h;
    // Beside the line (a trailing space may reach a little under it).
    if (t->X + w <= x0 + kDecorationOverlapEm * h || t->X >= x1 - kDecorationOverlapEm * h) continue;
    // Text that reaches well past the line is more than the line marks.
    if (t->X < x0 - reach || t->X + w > x1 + reach) return false;
    if (!marked.empty() && kind != style) return false;
    style = kind;
    marked.push_back(t);
    from = std::min(from, t->X);
    to = std::max(to, t->X + w);
  }
  if (marked.empty()) return false;
  // The line ends about where its text does.
  const double em = std::fabs(static_cast<double>(marked.front()->Font.Height()));
  if (std::fabs(from - x0) > kDecorationReachEm * em || std::fabs(to - x1) > kDecorationReachEm * em) return false;
  for (TkxTextItem* t : marked) t->Font.SetStyle(t->Font.Style() | style);
  return true;
}

void TkxMetafileDrawing::Paint(std::vector<TkxMetaFigure> figures, bool fill, bool stroke, bool evenOdd) {
  if (!Wanted()) return;
  if (copying_) {
    PlaceCopy();
    return;
  }
  fill = fill && st_.Brush.Style() != bsClear;
  stroke = stroke && st_.Pen.Style() != psClear;
  if (!fill && !stroke) return;
  const TkxDoubleRect visible = VisibleRect();
  if (IsEmpty(visible)) return;
  TkxDoubleRect box = EmptyRect();
  bool any = false;
  for (TkxMetaFigure& f : figures) {
    Clean(f.Points);
    if (f.Points.empty()) continue;
    const TkxDoubleRect b = BoundsOf(f.Points);
    box = any ? TkxDoubleRect{std::min(box.Left, b.Left), std::min(box.Top, b.Top), std::max(box.Right, b.Right),
                              std::max(box.Bottom, b.Bottom)}
              : b;
    any = true;
  }
  if (!any) return;
  const double pad = stroke ? std::max(1, st_.Pen.Width()) / 2.0 + 1 : 0;
  const TkxDoubleRect reach = Inflated(box, pad);
  if (!Overlap(reach, visible)) return;
  const bool inside = Within(reach, visible);
  if (fill && !stroke && FillsBlankPaper(box)) return;
  painted_.push_back(Intersect(reach, visible));
  if (fill) PaintFill(figures, visible, evenOdd, stroke && inside);
  if (stroke && !(fill && inside)) PaintStroke(figures, Inflated(visible, pad));
}

void TkxMetafileDrawing::PaintRect(const TkxDoubleRect& r, bool withPen) {
  const double w = r.Width(), h = r.Height();
  if (!withPen && (w < kRuleThickness || h < kRuleThickness)) {
    if (w <= 0 && h <= 0) return;
    // A rule: a line through the middle, as thick as the rectangle.
    auto line = NewShape(shLine, false, true);
    line->Pen.SetStyle(psSolid);
    line->Pen.SetColor(st_.Brush.Color());
    line->EndCap = 3;
    if (w >= h) {
      const double y = (r.Top + r.Bottom) / 2;
      line->Pen.SetWidth(std::max(1, static_cast<int>(std::lround(h))));
      line->SetPoints(std::vector<TkxDoublePoint>{{r.Left, y}, {r.Right, y}});
    } else {
      const double x = (r.Left + r.Right) / 2;
      line->Pen.SetWidth(std::max(1, static_cast<int>(std::lround(w))));
      line->SetPoints(std::vector<TkxDoublePoint>{{x, r.Top}, {x, r.Bottom}});
    }
    AppendShape(std::move(line));
    return;
  }
  auto rect = NewShape(shRectangle, true, withPen);
  rect->SetPoints(std::vector<TkxDoublePoint>{{r.Left, r.Top}, {r.Right, r.Bottom}});
  AppendShape(std::move(rect));
}

void TkxMetafileDrawing::PaintFill(std::vector<TkxMetaFigure>& figures, const TkxDoubleRect& visible, bool evenOdd,
                                   bool withPen) {
  std::vector<std::vector<TkxDoublePoint>> polys;
  for (TkxMetaFigure& f : figures) {
    if (f.Points.size() < 2) continue;
    const TkxDoubleRect b = BoundsOf(f.Points);
    if (!Overlap(b, visible)) continue;
    std::vector<TkxDoublePoint> p = Within(b, visible) ? f.Points : ClipPolygonToRect(f.Points, visible);
    if (p.size() >= 2) polys.push_back(std::move(p));
  }
  if (polys.empty()) return;
  // Figures apart from each other are shapes of their own; figures that
  // overlap (holes, rings) are filled together as a picture.
  bool apart = polys.size() == 1;
  if (!apart && polys.size() <= kMaxSeparableFigures) {
    std::vector<TkxDoubleRect> boxes;
    for (const auto& p : polys) boxes.push_back(BoundsOf(p));
    apart = true;
    for (size_t i = 0; i < boxes.size() && apart; ++i)
      for (size_t j = i + 1; j < boxes.size() && apart; ++j)
        if (Overlap(boxes[i], boxes[j])) apart = false;
  }
  size_t total = 0;
  for (const auto& p : polys) total += p.size();
  if (apart && total <= kMaxShapePoints * std::max<size_t>(1, polys.size())) {
    for (auto& p : polys) {
      TkxDoubleRect r;
      const TkxDoubleRect b = BoundsOf(p);
      // Rectangles, and figures thinner than a pixel (rules whose sides
      // met when they were recorded), are boxes.
      if (AsRectangle(p, r) || b.Width() < 1 || b.Height() < 1) {
        PaintRect(AsRectangle(p, r) ? r : b, withPen);
        continue;
      }
      if (p.size() < 3) continue;
      if (p.size() > kMaxShapePoints) {
        auto pp = std::make_unique<TkxPolyPolygonItem>();
        pp->SetBrush(st_.Brush);
        pp->Pen = st_.Pen;
        if (!withPen) pp->Pen.SetStyle(psClear);
        pp->Alternate = evenOdd;
        const int count = static_cast<int>(p.size());
        pp->SetPolygons(std::span<const int>(&count, 1), p);
        AppendShape(std::move(pp));
        continue;
      }
      auto shape = NewShape(shPolygon, true, withPen);
      shape->SetPoints(p);
      AppendShape(std::move(shape));
    }
    return;
  }
  auto pp = std::make_unique<TkxPolyPolygonItem>();
  pp->SetBrush(st_.Brush);
  pp->Pen = st_.Pen;
  if (!withPen) pp->Pen.SetStyle(psClear);
  pp->Alternate = evenOdd;
  std::vector<int> counts;
  std::vector<TkxDoublePoint> all;
  for (const auto& p : polys) {
    counts.push_back(static_cast<int>(p.size()));
    all.insert(all.end(), p.begin(), p.end());
  }
  pp->SetPolygons(counts, all);
  AppendShape(std::move(pp));
}

void TkxMetafileDrawing::PaintStroke(const std::vector<TkxMetaFigure>& figures, const TkxDoubleRect& visible) {
  for (const TkxMetaFigure& f : figures) {
    if (f.Points.size() < 2) continue;
    std::vector<TkxDoublePoint> pts = f.Points;
    const TkxDoubleRect b = BoundsOf(pts);
    if (!Overlap(b, visible)) continue;
    const bool inside = Within(b, visible);
    if (inside && f.Closed) {
      TkxDoubleRect r;
      if (AsRectangle(pts, r)) {
        std::vector<TkxDoublePoint> corners{{r.Left, r.Top}, {r.Right, r.Bottom}};
        if (OutlineLastFill(shRectangle, corners)) continue;
        auto rect = NewShape(shRectangle, false, true);
        rect->SetPoints(std::move(corners));
        AppendShape(std::move(rect));
        continue;
      }
    }
    if (f.Closed && !(pts.front().X == pts.back().X && pts.front().Y == pts.back().Y)) pts.push_back(pts.front());
    std::vector<std::vector<TkxDoublePoint>> pieces;
    if (inside)
      pieces.push_back(std::move(pts));
    else
      pieces = ClipPolylineToRect(pts, visible);
    for (auto& piece : pieces) {
      if (piece.size() < 2) continue;
      if (piece.size() == 2) {
        auto line = NewShape(shLine, false, true);
        line->SetPoints(piece);
        AppendShape(std::move(line));
      } else if (piece.size() > kMaxShapePoints) {
        auto group = std::make_unique<TkxPolyShapeItem>();
        auto part = NewShape(shPolyline, false, true);
        part->SetPoints(piece);
        group->Add(std::move(part));
        AppendShape(std::move(group));
      } else {
        const bool closed = inside && f.Closed;
        if (closed) piece.pop_back();
        if (closed && OutlineLastFill(shPolygon, piece)) continue;
        auto shape = NewShape(closed ? shPolygon : shPolyline, false, true);
        shape->SetPoints(piece);
        AppendShape(std::move(shape));
      }
    }
  }
}

// ---- Text among fills -----------------------------------------------------------------------

void TkxMetafileDrawing::UncoverFlowingText() {
  TkxItemList* list = st_.Target().ItemList();
  const TkxTextItemList* texts = st_.Target().LineTextList();
  if (!list || !texts || texts->empty()) return;
  std::vector<TkxDoubleRect> boxes;
  boxes.reserve(texts->size());
  for (const auto& t : *texts) {
    if (!t) continue;
    const double h = std::fabs(static_cast<double>(t->Font.Height()));
    double w = 0;
    for (double a : t->CharAdvances) w += a;
    if (w <= 0) w = h * 0.5 * static_cast<double>(t->FirstLine().size());
    boxes.push_back({t->X, t->Y, t->X + w, t->Y + h});
  }
  // A box with an undefined edge overlaps nothing; the rest sorted by their
  // top, so that a shape looks only at the lines near its own rows.
  std::erase_if(boxes, [](const TkxDoubleRect& b) {
    return std::isnan(b.Left) || std::isnan(b.Top) || std::isnan(b.Right) || std::isnan(b.Bottom);
  });
  std::sort(boxes.begin(), boxes.end(), [](const TkxDoubleRect& a, const TkxDoubleRect& b) { return a.Top < b.Top; });
  double tallest = 0;
  for (const TkxDoubleRect& b : boxes) tallest = std::max(tallest, b.Bottom - b.Top);
  auto byTop = [](const TkxDoubleRect& b, double top) { return b.Top < top; };
  // Shapes sit in front of flowing lines in the reader: a fill under text
  // would hide it, so such a fill is left out (its outline stays).
  for (TkxDocumentItemPtr& item : *list) {
    auto* shape = dynamic_cast<TkxShapeItem*>(item.get());
    if (!shape || !shape->Brush || shape->Points.size() < 2) continue;
    const size_t n = shape->ShapeType == shPolygon ? shape->Points.size() : 2;
    TkxDoubleRect box{shape->Points[0].X, shape->Points[0].Y, shape->Points[0].X, shape->Points[0].Y};
    for (size_t i = 0; i < n; ++i) {
      const TkxDoublePoint& p = shape->Points[i];
      box = {std::min(box.Left, p.X), std::min(box.Top, p.Y), std::max(box.Right, p.X), std::max(box.Bottom, p.Y)};
    }
    box = Inflated(box, -1);
    // Lines that start more than the tallest line above the box end above it
    // (the margin covers rounding); the exact test decides.
    const double from = box.Top - tallest - 1 - std::fabs(box.Top) * 1e-9;
    bool covers = false;
    for (auto it = std::lower_bound(boxes.begin(), boxes.end(), from, byTop);
         it != boxes.end() && !(it->Top > box.Bottom); ++it)
      if (Overlap(*it, box)) {
        covers = true;
        break;
      }
    if (!covers) continue;
    if (shape->Pen.Style() == psClear) {
      item.reset();
      --shapeCount_;
    } else {
      shape->Brush.reset();
    }
  }
  std::erase(*list, nullptr);
}

// ---- Crowded pages -------------------------------------------------------------------------

void TkxMetafileDrawing::FlattenCrowdedPage() {
  if (shapeCount_ <= kMaxPageShapes) return;
  TkxItemList* list = st_.Target().ItemList();
  TkxImageTable* table = st_.Target().ImageTable();
  shapeCount_ = 0;
  if (!list || !table) return;
  auto isShape = [](const TkxDocumentItem* item) {
    return dynamic_cast<const TkxShapeItem*>(item) || dynamic_cast<const TkxPolyShapeItem*>(item) ||
           dynamic_cast<const TkxPolyPolygonItem*>(item);
  };
  auto pointsOf = [](const TkxDocumentItem* item, auto&& fn) {
    if (auto* s = dynamic_cast<const TkxShapeItem*>(item)) {
      // Box shapes: the first two points are the box; the rest are not points.
      const size_t n =
          s->ShapeType == shRoundRect || s->ShapeType == shArc || s->ShapeType == shChord || s->ShapeType == shPie
              ? std::min<size_t>(2, s->Points.size())
              : s->Points.size();
      for (size_t i = 0; i < n; ++i) fn(s->Points[i], s->Pen.Width());
    } else if (auto* g = dynamic_cast<const TkxPolyShapeItem*>(item)) {
      for (const auto& part : g->Parts)
        if (part)
          for (const TkxDoublePoint& p : part->Points) fn(p, part->Pen.Width());
    } else if (auto* pp = dynamic_cast<const TkxPolyPolygonItem*>(item)) {
      for (const TkxDoublePoint& p : pp->Points) fn(p, pp->Pen.Width());
    }
  };
  TkxDoubleRect box = EmptyRect();
  bool any = false;
  size_t first = list->size();
  for (size_t i = 0; i < list->size(); ++i) {
    if (!isShape((*list)[i].get())) continue;
    first = std::min(first, i);
    pointsOf((*list)[i].get(), [&](const TkxDoublePoint& p, int w) {
      const TkxDoubleRect b = Inflated({p.X, p.Y, p.X, p.Y}, w / 2.0 + 1);
      box = any ? TkxDoubleRect{std::min(box.Left, b.Left), std::min(box.Top, b.Top), std::max(box.Right, b.Right),
                                std::max(box.Bottom, b.Bottom)}
                : b;
      any = true;
    });
  }
  if (!any) return;
  if (havePage_) box = Intersect(box, page_);
  box = {std::floor(box.Left), std::floor(box.Top), std::ceil(box.Right), std::ceil(box.Bottom)};
  if (IsEmpty(box) || box.Width() > kMaxFlattenPixels || box.Height() > kMaxFlattenPixels) return;
  // The drawing stays vector where its shapes can be recorded as they are:
  // a metafile picture costs little to make, and the reader scales it
  // without blur. Otherwise it is drawn into a bitmap.
  bool recordable = true;
  for (size_t i = first; i < list->size() && recordable; ++i)
    if ((*list)[i] && isShape((*list)[i].get())) recordable = RecordableShape(*(*list)[i]);
  const int width = static_cast<int>(box.Width()), height = static_cast<int>(box.Height());
  std::unique_ptr<TkxEmfRecorder> emf;
  std::unique_ptr<TkxShapeRecording> recording;
  TkxBitmap bitmap;
  std::unique_ptr<TkxBitmapCanvas> canvas;
  if (recordable) {
    emf = std::make_unique<TkxEmfRecorder>(width, height);
    recording = std::make_unique<TkxShapeRecording>(*emf, TkxDoublePoint{box.Left, box.Top});
  } else {
    bitmap = TkxBitmap(width, height, true);
    canvas = std::make_unique<TkxBitmapCanvas>(bitmap);
    canvas->SetOrigin(-box.Left, -box.Top);
  }
  TkxItemList kept;
  kept.reserve(list->size());
  for (size_t i = 0; i < list->size(); ++i) {
    TkxDocumentItemPtr& item = (*list)[i];
    if (i == first) kept.push_back(nullptr);  // the picture's place
    if (item && isShape(item.get())) {
      if (recording)
        recording->Draw(*item);
      else
        DrawShapeOnCanvas(*canvas, *item);
      continue;
    }
    kept.push_back(std::move(item));
  }
  canvas.reset();
  auto image = std::make_unique<TkxImageItem>(TkxDoublePoint{box.Left, box.Top}, TkxDoublePoint{box.Right, box.Bottom});
  if (const TkxImageSettings* settings = st_.Target().ImageSettings()) image->ImageSettings = *settings;
  image->ImageIndex = static_cast<int>(table->size());
  TkxImageTableEntry entry;
  if (emf) {
    // Whatever the format asked for pictures: a drawing is no photograph.
    image->ImageSettings.SetOutputImageFormat(ifMetafile);
    entry.Picture = std::make_unique<TGraphic>(emf->TakeMetafile());
  } else {
    entry.Picture = std::make_unique<TGraphic>(std::move(bitmap));
  }
  table->push_back(std::move(entry));
  for (TkxDocumentItemPtr& item : kept)
    if (!item) {
      item = std::move(image);
      break;
    }
  list->swap(kept);
}

// ---- Drawing kept as recorded --------------------------------------------------------------

namespace {

// An EMR_EOF without a palette.
constexpr uint32_t kEofSize = 20;

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool TkxMetafileDrawing::FollowPosition(const TkxEmfRecord& r) {
  switch (r.Type()) {
    case EMR_POLYLINETO:
    case EMR_POLYLINETO16:
    case EMR_POLYBEZIERTO:
    case EMR_POLYBEZIERTO16: {
      TkxEmrPoly rec;
      if (DecodePoly(r, rec) && !rec.Points.empty()) SetCurrent(rec.Points.back());
      return true;
    }
    case EMR_LINETO:
      if (r.Has(0, 16)) SetCurrent({r.I32(8), r.I32(12)});
      return true;
    default: return false;
  }
}

bool TkxMetafileDrawing::IsBlitRecord(uint32_t type) { return DrawingKind(type) == TkxDrawingKind::dkBlit; }

bool TkxMetafileDrawing::IsPathOrClipRecord(uint32_t type) {
  const TkxDrawingKind kind = DrawingKind(type);
  return kind == TkxDrawingKind::dkPathPaint || kind == TkxDrawingKind::dkPathBracket || kind == TkxDrawingKind::dkClip;
}

void TkxMetafileDrawing::ChooseCopying(const uint8_t* data, size_t size) {
  copying_ = false;
  copy_.clear();
  copiedRecords_ = 0;
  copyPlace_ = nullptr;
  if (!Wanted() || !data) return;
  // A plain walk over the record sizes: every page is looked at.
  auto u32 = [data](size_t at) {
    return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
           uint32_t(data[at + 3]) << 24;
  };
  size_t painting = 0;
  for (size_t at = 0; at + 8 <= size && painting <= kMaxPageShapes;) {
    const uint32_t length = u32(at + 4);
    if (length < 8 || length > size - at) break;
    const TkxDrawingKind kind = DrawingKind(u32(at));
    if (kind == TkxDrawingKind::dkFigure || kind == TkxDrawingKind::dkPathPaint) ++painting;
    at += length;
  }
  copying_ = painting > kMaxPageShapes;
  if (copying_) copy_.reserve(size);
}

void TkxMetafileDrawing::Copy(const TkxEmfRecord& r) {
  // Text is written as text, and pictures as pictures of their own.
  if (IsBlitRecord(r.Type())) return;
  switch (r.Type()) {
    case EMR_EXTTEXTOUTA:
    case EMR_EXTTEXTOUTW:
    case EMR_POLYTEXTOUTA:
    case EMR_POLYTEXTOUTW:
    case EMR_SMALLTEXTOUT:
    case EMR_PLGBLT:
    case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT:
    case EMR_GDICOMMENT: return;
    default: break;
  }
  // The header comes first and once.
  if ((r.Type() == EMR_HEADER) != copy_.empty() || r.Size() < 8 || !r.Data()) return;
  copy_.insert(copy_.end(), r.Data(), r.Data() + r.Size());
  ++copiedRecords_;
}

void TkxMetafileDrawing::PlaceCopy() {
  if (copyPlace_ || !copying_ || IsEmpty(frame_)) return;
  auto image = std::make_unique<TkxImageItem>(TkxDoublePoint{frame_.Left, frame_.Top},
                                              TkxDoublePoint{frame_.Right, frame_.Bottom});
  if (const TkxImageSettings* settings = st_.Target().ImageSettings()) image->ImageSettings = *settings;
  // Whatever the format asked for pictures: a drawing is no photograph.
  image->ImageSettings.SetOutputImageFormat(ifMetafile);
  copyPlace_ = image.get();
  // Under everything else on the page: a page's drawing starts with its
  // backgrounds, which would hide the pictures drawn before them.
  if (TkxItemList* list = st_.Target().ItemList()) list->insert(list->begin(), std::move(image));
}

void TkxMetafileDrawing::FinishCopy() {
  if (!copying_) return;
  copying_ = false;
  std::vector<uint8_t> bytes;
  bytes.swap(copy_);
  const TkxDocumentItem* place = copyPlace_;
  copyPlace_ = nullptr;
  TkxItemList* list = st_.Target().ItemList();
  if (!place || !list) return;
  auto it =
      std::find_if(list->begin(), list->end(), [place](const TkxDocumentItemPtr& item) { return item.get() == place; });
  if (it == list->end()) return;
  TkxImageTable* table = st_.Target().ImageTable();
  // A recording cut short gets the end record it lacks.
  const bool ended = bytes.size() >= kEofSize && bytes[bytes.size() - kEofSize] == EMR_EOF &&
                     bytes[bytes.size() - kEofSize + 4] == kEofSize;
  if (!ended && bytes.size() >= 88) {
    TkxEmfRecordWriter eof(EMR_EOF);
    eof.U32(0).U32(16).U32(kEofSize);  // no palette; nSizeLast = the record's size
    const std::span<const uint8_t> record = eof.FinishInPlace();
    bytes.insert(bytes.end(), record.begin(), record.end());
    ++copiedRecords_;
  }
  std::unique_ptr<TGraphic> picture;
  if (table && bytes.size() >= 88 && bytes.size() <= UINT32_MAX) {
    PutU32(bytes, 48, static_cast<uint32_t>(bytes.size()));
    PutU32(bytes, 52, copiedRecords_);
    try {
      picture = std::make_unique<TGraphic>(TkxMetafile(std::move(bytes)));
    } catch (const EInvalidMetafile&) {
      picture.reset();
    }
  }
  if (!picture) {
    list->erase(it);
    return;
  }
  auto* image = static_cast<TkxImageItem*>(it->get());
  image->ImageIndex = static_cast<int>(table->size());
  TkxImageTableEntry entry;
  entry.Picture = std::move(picture);
  table->push_back(std::move(entry));
}

}  // namespace pw
