#include "platform/kxGraphics.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

#include "pdf/kxClasses.h"
#include "platform/kxBitmap.h"

namespace pw {

namespace {

// Device coordinates are clamped far inside the 32-bit range so that sums of
// coordinates and bounds never overflow.
constexpr double kMaxDevice = double(1 << 26);

bool Finite(double v) { return std::isfinite(v); }

bool FiniteMatrix(const TkxMatrix& m) {
  return Finite(m.M11) && Finite(m.M12) && Finite(m.M21) && Finite(m.M22) && Finite(m.DX) && Finite(m.DY);
}

int32_t Dev(double v) {
  if (!Finite(v)) return 0;
  v = std::clamp(v, -kMaxDevice, kMaxDevice);
  return static_cast<int32_t>(std::lrint(v));  // halves to the even neighbour
}

TkxEmfPointL DevPt(const TkxPointF& p) { return {Dev(p.X), Dev(p.Y)}; }

uint8_t Alpha(uint32_t argb) { return static_cast<uint8_t>(argb >> 24); }

// The figures of a path in device pixels: figures of fewer than two distinct
// points are dropped, and a line point that rounds onto its predecessor is
// merged with it.
TkxEmfPath ToDevicePath(const TkxGraphicsPath& path, const TkxMatrix& m, bool& hasBezier) {
  TkxEmfPath out;
  hasBezier = false;
  const auto& pts = path.Points();
  const auto& types = path.Types();
  out.Points.reserve(pts.size());
  out.Types.reserve(pts.size());
  size_t i = 0;
  while (i < pts.size()) {
    size_t end = i + 1;
    while (end < pts.size() && (types[end] & 0x7F) != ptStart) ++end;
    // Each figure is written in place and taken back when degenerate.
    const size_t first = out.Points.size();
    bool bezier = false;
    for (size_t k = i; k < end; ++k) {
      const TkxEmfPointL p = DevPt(m.Transform(pts[k]));
      const uint8_t kind = k == i ? ptStart : (types[k] & 0x7F);
      if (kind == ptLine && out.Points.size() > first && out.Points.back() == p) {
        out.Types.back() |= (types[k] & ptCloseSubpath);
        continue;
      }
      if (kind == ptBezier) bezier = true;
      out.Points.push_back(p);
      out.Types.push_back(static_cast<uint8_t>(kind | (types[k] & ptCloseSubpath)));
    }
    const auto figure = out.Points.begin() + static_cast<std::ptrdiff_t>(first);
    const bool degenerate = out.Points.size() - first < 2 ||
                            std::all_of(figure, out.Points.end(), [&](const auto& p) { return p == *figure; });
    if (degenerate) {
      out.Points.resize(first);
      out.Types.resize(first);
    } else {
      hasBezier = hasBezier || bezier;
    }
    i = end;
  }
  return out;
}

// The point counts of a path's figures, and whether each is closed; with
// closing, a closed figure not already ending on its start point gets that
// point once more (into pts, the figures' points one after the other).
std::vector<uint32_t> FigureCounts(const TkxEmfPath& p, bool closing, std::vector<TkxEmfPointL>* pts = nullptr,
                                   bool* allClosed = nullptr) {
  std::vector<uint32_t> counts;
  if (allClosed) *allClosed = true;
  for (size_t i = 0; i < p.Points.size();) {
    size_t end = i + 1;
    while (end < p.Points.size() && (p.Types[end] & 0x7F) != ptStart) ++end;
    bool closed = false;
    for (size_t k = i; k < end; ++k) closed = closed || (p.Types[k] & ptCloseSubpath);
    const bool reclose = closing && closed && !(p.Points[end - 1] == p.Points[i]);
    if (pts) {
      pts->insert(pts->end(), p.Points.begin() + static_cast<std::ptrdiff_t>(i),
                  p.Points.begin() + static_cast<std::ptrdiff_t>(end));
      if (reclose) pts->push_back(p.Points[i]);
    }
    counts.push_back(static_cast<uint32_t>(end - i + (reclose ? 1 : 0)));
    if (allClosed) *allClosed = *allClosed && closed;
    i = end;
  }
  return counts;
}

TkxEmfRectL PathBounds(const TkxEmfPath& p) {
  if (p.Points.empty()) return {0, 0, -1, -1};
  TkxEmfRectL r{p.Points[0].x, p.Points[0].y, p.Points[0].x, p.Points[0].y};
  for (const auto& q : p.Points) {
    r.left = std::min(r.left, q.x);
    r.top = std::min(r.top, q.y);
    r.right = std::max(r.right, q.x);
    r.bottom = std::max(r.bottom, q.y);
  }
  return r;
}

// An axis-aligned rectangle drawn as one straight figure of four corners.
bool AsRectangle(const TkxEmfPath& p, TkxEmfRectL& r) {
  std::vector<TkxEmfPointL> q = p.Points;
  if (q.size() == 5 && q[4] == q[0]) q.pop_back();
  if (q.size() != 4) return false;
  for (size_t i = 1; i < p.Types.size(); ++i)
    if ((p.Types[i] & 0x7F) != ptLine) return false;
  for (size_t i = 0; i < 4; ++i) {
    const auto& a = q[i];
    const auto& b = q[(i + 1) % 4];
    const bool horizontal = a.y == b.y, vertical = a.x == b.x;
    if (horizontal == vertical) return false;
    const auto& c = q[(i + 2) % 4];
    const bool nextHorizontal = b.y == c.y;
    if (nextHorizontal == horizontal) return false;
  }
  r = PathBounds({q, {}});
  return true;
}

std::vector<TkxPointF> Corners(const TkxMatrix& m, const TkxRectF& r) {
  return {m.Transform({r.X, r.Y}), m.Transform({r.Right(), r.Y}), m.Transform({r.Right(), r.Bottom()}),
          m.Transform({r.X, r.Bottom()})};
}

TkxEmfRectL CornerBounds(std::span<const TkxPointF> c) {
  double l = c[0].X, t = c[0].Y, r = l, b = t;
  for (const auto& p : c) {
    l = std::min(l, p.X);
    t = std::min(t, p.Y);
    r = std::max(r, p.X);
    b = std::max(b, p.Y);
  }
  return {Dev(std::floor(l)), Dev(std::floor(t)), Dev(std::ceil(r)), Dev(std::ceil(b))};
}

// A translucent colour as it shows over the paper: the recording's pens and
// brushes have no alpha, and a highlight drawn at 30 % must not come out as
// a solid block of its colour.
uint32_t OverPaper(uint32_t argb) { return (argb >> 24) == 255 ? argb : OverWhite(PremultiplyARGB(argb)); }

// The predefined pen style closest to a dash pattern (lengths in pen widths):
// dashes of at most 1.5 widths count as dots.
uint32_t DashStyleFor(const std::vector<double>& pattern) {
  if (pattern.empty()) return PS_SOLID;
  size_t dashes = 0, dots = 0;
  for (size_t i = 0; i < pattern.size(); i += 2) (pattern[i] <= 1.5 ? dots : dashes)++;
  if (dashes == 0) return PS_DOT;
  if (dots == 0 || dashes > 1) return PS_DASH;
  if (dots == 1) return PS_DASHDOT;
  return PS_DASHDOTDOT;
}

}  // namespace

// ---- TkxMatrix -----------------------------------------------------------------

void TkxMatrix::SetElements(double m11, double m12, double m21, double m22, double dx, double dy) {
  M11 = m11;
  M12 = m12;
  M21 = m21;
  M22 = m22;
  DX = dx;
  DY = dy;
}

TkxMatrix TkxMatrix::Product(const TkxMatrix& a, const TkxMatrix& b) {
  return {a.M11 * b.M11 + a.M12 * b.M21, a.M11 * b.M12 + a.M12 * b.M22,      a.M21 * b.M11 + a.M22 * b.M21,
          a.M21 * b.M12 + a.M22 * b.M22, a.DX * b.M11 + a.DY * b.M21 + b.DX, a.DX * b.M12 + a.DY * b.M22 + b.DY};
}

void TkxMatrix::Multiply(const TkxMatrix& m, TkxMatrixOrder order) {
  *this = order == moPrepend ? Product(m, *this) : Product(*this, m);
}

void TkxMatrix::Translate(double dx, double dy, TkxMatrixOrder order) {
  Multiply(TkxMatrix(1, 0, 0, 1, dx, dy), order);
}

void TkxMatrix::Scale(double sx, double sy, TkxMatrixOrder order) { Multiply(TkxMatrix(sx, 0, 0, sy, 0, 0), order); }

void TkxMatrix::Rotate(double degrees, TkxMatrixOrder order) {
  const double a = degrees * std::numbers::pi / 180.0;
  const double c = std::cos(a), s = std::sin(a);
  Multiply(TkxMatrix(c, s, -s, c, 0, 0), order);
}

bool TkxMatrix::Invert() {
  const double det = Determinant();
  if (det == 0 || !Finite(det)) return false;
  const TkxMatrix m = *this;
  M11 = m.M22 / det;
  M12 = -m.M12 / det;
  M21 = -m.M21 / det;
  M22 = m.M11 / det;
  DX = (m.M21 * m.DY - m.M22 * m.DX) / det;
  DY = (m.M12 * m.DX - m.M11 * m.DY) / det;
  return true;
}

bool TkxMatrix::IsIdentity() const { return *this == TkxMatrix(); }

// ---- TkxGraphicsPath ---------------------------------------------------------------

void TkxGraphicsPath::AddPoint(const TkxPointF& p, uint8_t type) {
  points_.push_back(p);
  types_.push_back(type);
}

void TkxGraphicsPath::CloseFigure() {
  if (!types_.empty() && !newFigure_) types_.back() |= ptCloseSubpath;
  newFigure_ = true;
}

void TkxGraphicsPath::AddLines(const std::vector<TkxPointF>& points) {
  for (size_t i = 0; i < points.size(); ++i) {
    const TkxPointF& p = points[i];
    if (newFigure_) {
      AddPoint(p, ptStart);
      newFigure_ = false;
    } else if (i > 0 || !(points_.back() == p)) {
      AddPoint(p, ptLine);
    }
  }
}

void TkxGraphicsPath::AddLine(double x1, double y1, double x2, double y2) { AddLines({{x1, y1}, {x2, y2}}); }

void TkxGraphicsPath::AddBezier(const TkxPointF& p1, const TkxPointF& c1, const TkxPointF& c2, const TkxPointF& p2) {
  if (newFigure_) {
    AddPoint(p1, ptStart);
    newFigure_ = false;
  } else if (!(points_.back() == p1)) {
    AddPoint(p1, ptLine);
  }
  AddPoint(c1, ptBezier);
  AddPoint(c2, ptBezier);
  AddPoint(p2, ptBezier);
}

void TkxGraphicsPath::AddRectangle(const TkxRectF& r) {
  AddPoint({r.X, r.Y}, ptStart);
  AddPoint({r.Right(), r.Y}, ptLine);
  AddPoint({r.Right(), r.Bottom()}, ptLine);
  AddPoint({r.X, r.Bottom()}, ptLine | ptCloseSubpath);
  newFigure_ = true;
}

void TkxGraphicsPath::Reset() {
  points_.clear();
  types_.clear();
  newFigure_ = true;
}

TkxRectF TkxGraphicsPath::Bounds(const TkxMatrix* m) const {
  if (points_.empty()) return {};
  double l = INFINITY, t = INFINITY, r = -INFINITY, b = -INFINITY;
  for (const auto& p0 : points_) {
    const TkxPointF p = m ? m->Transform(p0) : p0;
    l = std::min(l, p.X);
    t = std::min(t, p.Y);
    r = std::max(r, p.X);
    b = std::max(b, p.Y);
  }
  return {l, t, r - l, b - t};
}

// ---- Pens, formats, attributes ---------------------------------------------------------

void TkxPen::SetLineCap(TkxPenLineCap start, TkxPenLineCap end, TkxPenLineCap dash) {
  startCap_ = start;
  endCap_ = end;
  dashCap_ = dash;
}

void TkxPen::SetDashStyle(TkxDashStyle style) {
  if (style == dsCustom && dashPattern_.empty()) return;
  dashStyle_ = style;
}

std::vector<double> TkxPen::DashPattern() const {
  switch (dashStyle_) {
    case dsDash: return {3, 1};
    case dsDot: return {1, 1};
    case dsDashDot: return {3, 1, 1, 1};
    case dsDashDotDot: return {3, 1, 1, 1, 1, 1};
    case dsCustom: return dashPattern_;
    default: return {};
  }
}

bool TkxPen::SetDashPattern(const std::vector<double>& pattern) {
  if (pattern.empty()) return false;
  for (double v : pattern)
    if (!(v > 0) || !Finite(v)) return false;
  dashPattern_ = pattern;
  dashStyle_ = dsCustom;
  return true;
}

TkxStringFormat TkxStringFormat::GenericTypographic() {
  TkxStringFormat f;
  f.flags_ = sffNoWrap | sffNoClip;
  f.typographic_ = true;
  return f;
}

double TkxImageAttributes::Alpha() const {
  if (!matrix_) return 1.0;
  // An opaque pixel's alpha after the matrix: a*m[3][3] + m[4][3], a = 1.
  const double a = static_cast<double>(matrix_->m[3][3]) + matrix_->m[4][3];
  return Finite(a) ? std::clamp(a, 0.0, 1.0) : 0.0;
}

TkxFamilyMetrics TkxFontFamily::Metrics(int style) const {
  if (!Valid()) return {};
  return TkxFontManager::Instance().FamilyMetrics(name_, style & fsBoldItalic);
}

// ---- TkxGraphics ---------------------------------------------------------------------

TkxGraphics::TkxGraphics(TkxEmfRecorder& canvas) : canvas_(canvas) {}

void TkxGraphics::SetPageUnit(TkxUnit unit) {
  if (unit >= unDisplay && unit <= unMillimeter) st_.pageUnit = unit;
}

void TkxGraphics::SetPageScale(double scale) {
  if (scale > 0 && Finite(scale)) st_.pageScale = scale;
}

double TkxGraphics::UnitToPixels(TkxUnit unit) const {
  const double dpi = canvas_.PPI();
  switch (unit) {
    case unPoint: return dpi / 72.0;
    case unInch: return dpi;
    case unDocument: return dpi / 300.0;
    case unMillimeter: return dpi / 25.4;
    default: return 1.0;
  }
}

TkxMatrix TkxGraphics::DeviceTransform() const {
  const double k = UnitToPixels(st_.pageUnit) * st_.pageScale;
  return TkxMatrix::Product(st_.world, TkxMatrix(k, 0, 0, k, 0, 0));
}

double TkxGraphics::FontSizeInWorld(const TkxFont& font) const {
  if (font.Unit() == unWorld) return font.Size();
  return font.Size() * UnitToPixels(font.Unit()) / (UnitToPixels(st_.pageUnit) * st_.pageScale);
}

TkxGraphicsSaveToken TkxGraphics::Save() {
  const TkxGraphicsSaveToken token = nextToken_++;
  saved_.emplace_back(token, st_);
  return token;
}

void TkxGraphics::Restore(TkxGraphicsSaveToken token) {
  for (size_t i = saved_.size(); i-- > 0;) {
    if (saved_[i].first == token) {
      st_ = saved_[i].second;
      saved_.resize(i);
      return;
    }
  }
}

// ---- Clipping ----

void TkxGraphics::AddClipStep(TkxEmfClipStepPtr step, TkxCombineMode mode) {
  if (mode == cmReplace)
    st_.clip = {std::move(step)};
  else if (mode == cmIntersect)
    st_.clip.push_back(std::move(step));
}

bool TkxGraphics::ClipBounds(TkxEmfRectL& box) const {
  if (st_.clip.empty()) return false;
  box = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  for (const TkxEmfClipStepPtr& step : st_.clip) {
    TkxEmfRectL r = step->Rect;
    if (!step->IsRect) {
      if (step->Path.Empty()) continue;
      r = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
      for (const TkxEmfPointL& p : step->Path.Points) {
        r.left = std::min(r.left, p.x), r.top = std::min(r.top, p.y);
        r.right = std::max(r.right, p.x), r.bottom = std::max(r.bottom, p.y);
      }
    }
    box.left = std::max(box.left, r.left), box.top = std::max(box.top, r.top);
    box.right = std::min(box.right, r.right), box.bottom = std::min(box.bottom, r.bottom);
  }
  return true;
}

void TkxGraphics::SetClip(const TkxGraphicsPath& path, TkxCombineMode mode) {
  if (mode != cmReplace && mode != cmIntersect) return;
  const TkxMatrix m = DeviceTransform();
  auto step = std::make_shared<TkxEmfClipStep>();
  bool hasBezier = false;
  if (FiniteMatrix(m)) step->Path = ToDevicePath(path, m, hasBezier);
  step->FillMode = path.FillMode() == fmWinding ? WINDING : ALTERNATE;
  if (step->Path.Empty()) {
    // Nothing is left visible.
    step->IsRect = true;
    step->Rect = {0, 0, 0, 0};
  } else if (!hasBezier && FigureCounts(step->Path, false).size() == 1 && AsRectangle(step->Path, step->Rect)) {
    step->IsRect = true;
    step->Path = {};
  }
  AddClipStep(std::move(step), mode);
}

void TkxGraphics::SetClip(const TkxRectF& rect, TkxCombineMode mode) {
  TkxGraphicsPath p;
  p.AddRectangle(rect);
  SetClip(p, mode);
}

// ---- Paths ----

void TkxGraphics::FillDevicePath(const TkxSolidBrush& brush, const TkxGraphicsPath& path, const TkxMatrix& m) {
  if (Alpha(brush.Color()) == 0 || !FiniteMatrix(m)) return;
  bool hasBezier = false;
  const TkxEmfPath dp = ToDevicePath(path, m, hasBezier);
  if (dp.Empty()) return;
  canvas_.SyncClip(st_.clip);
  canvas_.SelectStockObject(NULL_PEN);
  canvas_.UseBrush({BS_SOLID, ColorRefFromARGB(OverPaper(brush.Color())), 0});
  canvas_.SetPolyFillMode(path.FillMode() == fmWinding ? WINDING : ALTERNATE);
  if (hasBezier) {
    canvas_.BeginPath();
    canvas_.PathGeometry(dp);
    canvas_.EndPath();
    canvas_.FillPath(PathBounds(dp));
    return;
  }
  const std::vector<uint32_t> counts = FigureCounts(dp, false);
  if (counts.size() == 1)
    canvas_.Polygon(dp.Points);
  else
    canvas_.PolyPolygon(counts, dp.Points);
}

void TkxGraphics::StrokeDevicePath(const TkxPen& pen, const TkxGraphicsPath& path, const TkxMatrix& m) {
  if (Alpha(pen.Color()) == 0 || !FiniteMatrix(m) || !Finite(pen.Width())) return;
  bool hasBezier = false;
  const TkxEmfPath dp = ToDevicePath(path, m, hasBezier);
  if (dp.Empty()) return;

  // The pen in device pixels: its width scales with the transform's area
  // factor; a zero width draws one pixel wide.
  const double wDev = std::abs(pen.Width()) * std::sqrt(std::abs(m.Determinant()));
  TkxLogPenEx lp;
  lp.Width = static_cast<uint32_t>(std::clamp<double>(std::lrint(wDev), 1, 1 << 20));
  lp.Color = ColorRefFromARGB(OverPaper(pen.Color()));
  uint32_t style = PS_GEOMETRIC;
  switch (pen.EndCap()) {
    case lcRound: style |= PS_ENDCAP_ROUND; break;
    case lcSquare: style |= PS_ENDCAP_SQUARE; break;
    default: style |= PS_ENDCAP_FLAT; break;
  }
  switch (pen.LineJoin()) {
    case ljRound: style |= PS_JOIN_ROUND; break;
    case ljBevel: style |= PS_JOIN_BEVEL; break;
    default: style |= PS_JOIN_MITER; break;
  }
  // Dashes become the nearest predefined pen style: readers of the recording
  // (the metafile processor, LibreOffice) know those, not user styles.
  style |= DashStyleFor(pen.DashPattern());
  lp.PenStyle = style;

  canvas_.SyncClip(st_.clip);
  canvas_.UsePen(lp);
  if ((style & PS_JOIN_MASK) == PS_JOIN_MITER) canvas_.SetMiterLimit(static_cast<float>(pen.MiterLimit()));
  if (hasBezier) {
    canvas_.BeginPath();
    canvas_.PathGeometry(dp);
    canvas_.EndPath();
    canvas_.StrokePath(PathBounds(dp));
    return;
  }
  // A closed figure ends on its start point, so that readers which do not
  // close polygons themselves still draw the closing edge.
  std::vector<TkxEmfPointL> pts;
  pts.reserve(dp.Points.size() + 1);
  bool allClosed = true;
  const std::vector<uint32_t> counts = FigureCounts(dp, true, &pts, &allClosed);
  if (allClosed) {
    canvas_.SelectStockObject(NULL_BRUSH);
    if (counts.size() == 1)
      canvas_.Polygon(pts);
    else
      canvas_.PolyPolygon(counts, pts);
  } else if (counts.size() == 1) {
    canvas_.Polyline(pts);
  } else {
    canvas_.PolyPolyline(counts, pts);
  }
}

void TkxGraphics::FillPath(const TkxSolidBrush& brush, const TkxGraphicsPath& path) {
  FillDevicePath(brush, path, DeviceTransform());
}

void TkxGraphics::DrawPath(const TkxPen& pen, const TkxGraphicsPath& path) {
  StrokeDevicePath(pen, path, DeviceTransform());
}

void TkxGraphics::FillRectangle(const TkxSolidBrush& brush, const TkxRectF& rect) {
  const TkxMatrix m = DeviceTransform();
  if (Alpha(brush.Color()) == 0 || !FiniteMatrix(m)) return;
  if (m.M12 == 0 && m.M21 == 0) {
    const std::vector<TkxPointF> c = Corners(m, rect);
    const TkxEmfRectL r{Dev(std::min(c[0].X, c[2].X)), Dev(std::min(c[0].Y, c[2].Y)), Dev(std::max(c[0].X, c[2].X)),
                        Dev(std::max(c[0].Y, c[2].Y))};
    if (r.right == r.left || r.bottom == r.top) return;
    canvas_.SyncClip(st_.clip);
    canvas_.SelectStockObject(NULL_PEN);
    canvas_.UseBrush({BS_SOLID, ColorRefFromARGB(OverPaper(brush.Color())), 0});
    canvas_.Rectangle(r);
    return;
  }
  TkxGraphicsPath p;
  p.AddRectangle(rect);
  FillDevicePath(brush, p, m);
}

void TkxGraphics::DrawRectangle(const TkxPen& pen, const TkxRectF& rect) {
  TkxGraphicsPath p;
  p.AddRectangle(rect);
  StrokeDevicePath(pen, p, DeviceTransform());
}

void TkxGraphics::DrawLine(const TkxPen& pen, double x1, double y1, double x2, double y2) {
  TkxGraphicsPath p;
  p.AddLine(x1, y1, x2, y2);
  StrokeDevicePath(pen, p, DeviceTransform());
}

// ---- Text ----

const TkxGraphics::RecentFace& TkxGraphics::FaceOf(const TkxFont& font, int style) {
  const std::string& family = font.Family().Name();
  for (size_t i = 0; i < recentCount_; ++i)
    if (recentFaces_[i].Style == style && recentFaces_[i].Family == family) return recentFaces_[i];
  RecentFace& f = recentFaces_[recentNext_];
  recentNext_ = (recentNext_ + 1) % kRecentFaces;
  recentCount_ = std::min(recentCount_ + 1, kRecentFaces);
  f.Family = family;
  f.Style = style;
  f.Metrics = font.Family().Metrics(style);
  f.FaceName = Utf8ToWide(family);
  if (f.FaceName.size() > 31) f.FaceName.resize(31);
  return f;
}

void TkxGraphics::DrawTextLine(std::u16string_view text, const TkxFont& font, const TkxPointF& topLeft,
                               const TkxSolidBrush& brush, const TkxEmfRectL* clipRect) {
  if (text.empty() || !font.Family().Valid()) return;
  const TkxMatrix m = DeviceTransform();
  const double emWorld = FontSizeInWorld(font);
  if (!FiniteMatrix(m) || !(emWorld > 0) || !Finite(emWorld) || !Finite(topLeft.X) || !Finite(topLeft.Y)) return;

  // The run's frame on the device: baseline direction b, downward direction d.
  const TkxPointF vx = m.TransformVector({1, 0});
  const double sx = std::hypot(vx.X, vx.Y);
  if (!(sx > 1e-12)) return;
  const double sy = m.Determinant() / sx;  // negative: mirrored text
  if (!(std::abs(sy) > 1e-12)) return;
  const TkxPointF b{vx.X / sx, vx.Y / sx};
  const TkxPointF d{-b.Y, b.X};
  const double emPx = emWorld * std::abs(sy);
  if (!(emPx < kMaxDevice)) return;

  const std::string& family = font.Family().Name();
  const int style = font.Style();
  const RecentFace& face = FaceOf(font, style);
  const TkxFamilyMetrics& fm = face.Metrics;
  const double cellPx = fm.EmHeight > 0 ? emPx * (fm.CellAscent + fm.CellDescent) / fm.EmHeight : emPx * 1.15;

  TkxLogFontW& lf = runFont_;
  {
    std::u16string name = std::move(lf.lfFaceName);
    lf = TkxLogFontW{};
    lf.lfFaceName = std::move(name);
  }
  lf.lfHeight = -static_cast<int32_t>(std::max<long>(1, std::lrint(emPx)));
  const double angle = std::atan2(vx.Y, vx.X);  // clockwise on the device
  int32_t esc = static_cast<int32_t>(std::lrint(-angle * 1800.0 / std::numbers::pi)) % 3600;
  if (esc < 0) esc += 3600;
  lf.lfEscapement = lf.lfOrientation = esc;
  lf.lfWeight = (style & fsBold) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = (style & fsItalic) ? 1 : 0;
  lf.lfUnderline = (style & fsUnderline) ? 1 : 0;
  lf.lfStrikeOut = (style & fsStrikeout) ? 1 : 0;
  lf.lfCharSet = 1;  // DEFAULT_CHARSET: the face decides
  lf.lfFaceName = face.FaceName;

  // Advances laid out at the exact size, stretched by a horizontal scale,
  // rounded so that the rounding error never adds up along the run.
  std::vector<double>& adv = runAdvances_;
  TkxFontManager::Instance().CharAdvances(family, style & fsBoldItalic, emPx, text, adv);
  const double ratio = sx / std::abs(sy);
  std::vector<int32_t>& dx = runDx_;
  dx.assign(text.size(), 0);
  double cum = 0;
  long prev = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    cum += (i < adv.size() ? adv[i] : 0) * ratio;
    const long now = std::lrint(std::clamp(cum, -kMaxDevice, kMaxDevice));
    dx[i] = static_cast<int32_t>(now - prev);
    prev = now;
  }
  const double width = static_cast<double>(prev);

  TkxPointF ref = m.Transform(topLeft);
  if (sy < 0) {
    // Mirrored glyphs cannot be recorded; the run is recorded upright in the
    // box the mirrored run covers.
    ref = {ref.X - d.X * cellPx, ref.Y - d.Y * cellPx};
  }
  const TkxPointF box[] = {ref,
                           {ref.X + b.X * width, ref.Y + b.Y * width},
                           {ref.X + d.X * cellPx, ref.Y + d.Y * cellPx},
                           {ref.X + b.X * width + d.X * cellPx, ref.Y + b.Y * width + d.Y * cellPx}};
  const TkxEmfRectL bounds = CornerBounds(box);

  canvas_.SyncClip(st_.clip);
  canvas_.SetBkMode(TRANSPARENT);
  canvas_.SetTextAlign(TA_TOP | TA_LEFT | TA_NOUPDATECP);
  canvas_.UseFont(lf);
  canvas_.SetTextColor(ColorRefFromARGB(brush.Color()));
  canvas_.ExtTextOutW(DevPt(ref), clipRect ? ETO_CLIPPED : 0, clipRect ? *clipRect : TkxEmfRectL{0, 0, -1, -1}, text,
                      dx, bounds);
}

namespace {

double LineHeight(const TkxFamilyMetrics& fm, double em) {
  return fm.EmHeight > 0 && fm.LineSpacing > 0 ? em * fm.LineSpacing / fm.EmHeight : em * 1.15;
}

}  // namespace

void TkxGraphics::DrawString(std::u16string_view text, const TkxFont& font, const TkxPointF& origin,
                             const TkxStringFormat& format, const TkxSolidBrush& brush) {
  if (text.empty() || !font.Family().Valid()) return;
  const double em = FontSizeInWorld(font);
  if (!(em > 0) || !Finite(em)) return;
  double x = origin.X, y = origin.Y;
  if (format.Alignment() != saNear || format.LineAlignment() != saNear || !format.Typographic()) {
    const TkxPointF size = MeasureString(text, font, format);
    const double pad = format.Typographic() ? 0 : em / 6;
    if (format.Alignment() == saNear)
      x += pad;
    else if (format.Alignment() == saCenter)
      x -= size.X / 2;
    else
      x -= size.X + pad;
    if (format.LineAlignment() == saCenter)
      y -= size.Y / 2;
    else if (format.LineAlignment() == saFar)
      y -= size.Y;
  }
  DrawTextLine(text, font, {x, y}, brush, nullptr);
}

TkxPointF TkxGraphics::MeasureString(std::u16string_view text, const TkxFont& font, const TkxStringFormat&) const {
  if (!font.Family().Valid()) return {};
  const double em = FontSizeInWorld(font);
  if (!(em > 0) || !Finite(em)) return {};
  const TkxFamilyMetrics fm = font.Family().Metrics(font.Style());
  const double w = TkxFontManager::Instance().TextWidth(font.Family().Name(), font.Style() & fsBoldItalic, em, text);
  return {w, LineHeight(fm, em)};
}

void TkxGraphics::DrawString(std::u16string_view text, const TkxFont& font, const TkxRectF& layout,
                             const TkxStringFormat& format, const TkxSolidBrush& brush) {
  if (text.empty() || !font.Family().Valid()) return;
  const double em = FontSizeInWorld(font);
  if (!(em > 0) || !Finite(em)) return;
  const std::string& family = font.Family().Name();
  const int style = font.Style() & fsBoldItalic;
  const TkxFamilyMetrics fm = font.Family().Metrics(font.Style());
  const double lineH = LineHeight(fm, em);
  const double pad = format.Typographic() ? 0 : em / 6;
  const double avail = layout.Width - 2 * pad;
  auto width = [&](std::u16string_view s) { return TkxFontManager::Instance().TextWidth(family, style, em, s); };

  // Lines: broken at line feeds, then at spaces where a line is too wide.
  std::vector<std::u16string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find(u'\n', start);
    if (nl == std::u16string_view::npos) nl = text.size();
    std::u16string para(text.substr(start, nl - start));
    if (!para.empty() && para.back() == u'\r') para.pop_back();
    if ((format.Flags() & sffNoWrap) || !(avail > 0) || width(para) <= avail) {
      lines.push_back(para);
    } else {
      std::u16string line;
      size_t i = 0;
      while (i < para.size()) {
        size_t sp = para.find(u' ', i);
        if (sp == std::u16string::npos) sp = para.size();
        const std::u16string word = para.substr(i, sp - i);
        const std::u16string candidate = line.empty() ? word : line + u' ' + word;
        if (!line.empty() && width(candidate) > avail) {
          lines.push_back(line);
          line = word;
        } else {
          line = candidate;
        }
        i = sp + 1;
      }
      lines.push_back(line);
    }
    start = nl + 1;
  }

  const double total = lineH * static_cast<double>(lines.size());
  double y = layout.Y;
  if (format.LineAlignment() == saCenter)
    y += (layout.Height - total) / 2;
  else if (format.LineAlignment() == saFar)
    y += layout.Height - total;

  // Clipping to the layout rectangle travels with each run when the
  // rectangle stays a rectangle on the device.
  const TkxMatrix m = DeviceTransform();
  std::optional<TkxEmfRectL> clip;
  if (!(format.Flags() & sffNoClip) && m.M12 == 0 && m.M21 == 0 && layout.Width > 0 && layout.Height > 0) {
    const std::vector<TkxPointF> c = Corners(m, layout);
    clip = TkxEmfRectL{Dev(std::min(c[0].X, c[2].X)), Dev(std::min(c[0].Y, c[2].Y)), Dev(std::max(c[0].X, c[2].X)),
                       Dev(std::max(c[0].Y, c[2].Y))};
  }
  for (const std::u16string& line : lines) {
    if (!line.empty()) {
      const double w = width(line);
      double x = layout.X + pad;
      if (format.Alignment() == saCenter)
        x = layout.X + (layout.Width - w) / 2;
      else if (format.Alignment() == saFar)
        x = layout.Right() - pad - w;
      DrawTextLine(line, font, {x, y}, brush, clip ? &*clip : nullptr);
    }
    y += lineH;
  }
}

// ---- Pictures ----

void TkxGraphics::DrawImage(const TkxBitmap& image, const TkxRectF& dest, const TkxRectF& src, TkxUnit,
                            const TkxImageAttributes* attributes) {
  if (image.Empty()) return;
  if (attributes && attributes->Alpha() < 0.5 / 255) return;
  const TkxMatrix m = DeviceTransform();
  if (!FiniteMatrix(m) || !Finite(dest.X) || !Finite(dest.Y) || !Finite(dest.Width) || !Finite(dest.Height)) return;
  if (!Finite(src.X) || !Finite(src.Y) || !Finite(src.Width) || !Finite(src.Height)) return;
  if (dest.Width == 0 || dest.Height == 0 || src.Width == 0 || src.Height == 0) return;

  // The source part, in whole pixels inside the picture.
  const int sx0 = static_cast<int>(std::clamp(std::floor(std::min(src.X, src.Right())), 0.0, double(image.Width())));
  const int sy0 = static_cast<int>(std::clamp(std::floor(std::min(src.Y, src.Bottom())), 0.0, double(image.Height())));
  const int sx1 = static_cast<int>(std::clamp(std::ceil(std::max(src.X, src.Right())), 0.0, double(image.Width())));
  const int sy1 = static_cast<int>(std::clamp(std::ceil(std::max(src.Y, src.Bottom())), 0.0, double(image.Height())));
  const int sw = sx1 - sx0, sh = sy1 - sy0;
  if (sw <= 0 || sh <= 0) return;

  const std::vector<TkxPointF> c = Corners(m, dest);
  const TkxEmfRectL box = CornerBounds(c);
  const bool axisAligned = std::abs(c[1].Y - c[0].Y) < 1e-6 && std::abs(c[3].X - c[0].X) < 1e-6;
  canvas_.SyncClip(st_.clip);
  canvas_.SetStretchBltMode(COLORONCOLOR);

  if (axisAligned) {
    // Mirroring and cropping are done on the pixels, so the record always
    // carries a positive destination size.
    const bool flipX = (c[1].X < c[0].X) != (src.Width < 0);
    const bool flipY = (c[3].Y < c[0].Y) != (src.Height < 0);
    const int32_t l = Dev(std::min(c[0].X, c[1].X)), r = Dev(std::max(c[0].X, c[1].X));
    const int32_t t = Dev(std::min(c[0].Y, c[3].Y)), b = Dev(std::max(c[0].Y, c[3].Y));
    const TkxBitmap* pic = &image;
    TkxBitmap part;
    if (flipX || flipY || sw != image.Width() || sh != image.Height()) {
      part = TkxBitmap(sw, sh, image.HasAlpha());
      for (int y = 0; y < sh; ++y) {
        const uint32_t* from = image.Scanline(sy0 + (flipY ? sh - 1 - y : y)) + sx0;
        uint32_t* to = part.Scanline(y);
        for (int x = 0; x < sw; ++x) to[x] = from[flipX ? sw - 1 - x : x];
      }
      pic = &part;
    }
    canvas_.StretchDIBits(l, t, std::max(r - l, 1), std::max(b - t, 1), 0, 0, sw, sh, pic->ToDIBHeader(24),
                          pic->ToDIBBits(24));
    return;
  }

  if (!(std::abs(m.Determinant()) > 1e-12)) return;
  // Rotated or sheared: the picture is resampled into its device bounding box
  // (at about its own resolution) and recorded under a clip to its outline.
  const double bw = std::max<double>(box.right - box.left, 1), bh = std::max<double>(box.bottom - box.top, 1);
  // A picture blown up more than twice over gains nothing from device
  // resolution: it is resampled at twice its own, and the reader stretches
  // that (a few pixels spread over a page would otherwise become millions).
  const double ratio = std::sqrt(double(sw) * sh / (bw * bh));
  double k = ratio >= 0.5 ? std::min(std::max(ratio, 1.0), 4.0) : 2 * ratio;
  while (k > 1 && bw * bh * k * k > 16e6) k /= 2;
  const int ow = std::max(1, static_cast<int>(std::ceil(bw * k))),
            oh = std::max(1, static_cast<int>(std::ceil(bh * k)));
  if (ow > kMaxBitmapDimension || oh > kMaxBitmapDimension || int64_t(ow) * oh > 64 * 1024 * 1024) return;
  TkxBitmap out(ow, oh, true);
  bool drawn = false;
  {
    cairo_surface_t* dst = cairo_image_surface_create_for_data(out.Bits(), CAIRO_FORMAT_ARGB32, ow, oh, out.Stride());
    cairo_surface_t* srcSurf = cairo_image_surface_create_for_data(
        const_cast<uint8_t*>(image.Bits()), image.HasAlpha() ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, image.Width(),
        image.Height(), image.Stride());
    cairo_t* cr = cairo_create(dst);
    cairo_scale(cr, k, k);
    cairo_translate(cr, -box.left, -box.top);
    cairo_matrix_t cm;
    cairo_matrix_init(&cm, m.M11, m.M12, m.M21, m.M22, m.DX, m.DY);
    cairo_transform(cr, &cm);
    cairo_translate(cr, dest.X, dest.Y);
    cairo_scale(cr, dest.Width / src.Width, dest.Height / src.Height);
    cairo_translate(cr, -src.X, -src.Y);
    cairo_rectangle(cr, sx0, sy0, sw, sh);
    cairo_clip(cr);
    // A transform cairo cannot invert leaves the context in error, and an
    // erring context hands out a fresh pattern as its source that nobody
    // frees: such a picture is left out.
    if (cairo_status(cr) == CAIRO_STATUS_SUCCESS) {
      cairo_set_source_surface(cr, srcSurf, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
      cairo_paint(cr);
      drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    }
    cairo_destroy(cr);
    cairo_surface_destroy(srcSurf);
    cairo_surface_flush(dst);
    cairo_surface_destroy(dst);
  }
  if (!drawn) return;
  out.SetHasAlpha(false);

  TkxEmfPath outline;
  for (size_t i = 0; i < 4; ++i) {
    outline.Points.push_back(DevPt(c[i]));
    outline.Types.push_back(i == 0 ? ptStart : i == 3 ? (ptLine | ptCloseSubpath) : ptLine);
  }
  canvas_.SelectStockObject(NULL_PEN);
  canvas_.SelectStockObject(NULL_BRUSH);
  canvas_.SetPolyFillMode(ALTERNATE);
  canvas_.BeginPath();
  canvas_.PathGeometry(outline);
  canvas_.EndPath();
  canvas_.SelectClipPath(RGN_AND);
  canvas_.StretchDIBits(box.left, box.top, static_cast<int32_t>(bw), static_cast<int32_t>(bh), 0, 0, ow, oh,
                        out.ToDIBHeader(24), out.ToDIBBits(24));
  canvas_.InvalidateClip();
}

bool TkxGraphics::DrawJPEG(const std::vector<uint8_t>& jpeg, int width, int height, const TkxRectF& dest,
                           const TkxImageAttributes* attributes) {
  if (jpeg.empty() || width <= 0 || height <= 0) return true;
  if (attributes && attributes->Alpha() < 0.5 / 255) return true;
  const TkxMatrix m = DeviceTransform();
  if (!FiniteMatrix(m) || !Finite(dest.X) || !Finite(dest.Y) || !Finite(dest.Width) || !Finite(dest.Height))
    return true;
  if (dest.Width == 0 || dest.Height == 0) return true;
  const std::vector<TkxPointF> c = Corners(m, dest);
  const bool axisAligned = std::abs(c[1].Y - c[0].Y) < 1e-6 && std::abs(c[3].X - c[0].X) < 1e-6;
  if (!axisAligned || c[1].X < c[0].X || c[3].Y < c[0].Y) return false;
  const int32_t l = Dev(c[0].X), r = Dev(c[1].X), t = Dev(c[0].Y), b = Dev(c[3].Y);
  canvas_.SyncClip(st_.clip);
  canvas_.SetStretchBltMode(COLORONCOLOR);
  std::vector<uint8_t> header(40, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 40);
  put(4, static_cast<uint32_t>(width));
  put(8, static_cast<uint32_t>(height));
  header[12] = 1;  // planes
  put(16, 4);      // BI_JPEG
  put(20, static_cast<uint32_t>(jpeg.size()));
  canvas_.StretchDIBits(l, t, std::max(r - l, 1), std::max(b - t, 1), 0, 0, width, height, header, jpeg);
  return true;
}

}  // namespace pw
