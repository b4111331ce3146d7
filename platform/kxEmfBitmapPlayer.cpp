#include "platform/kxEmfBitmapPlayer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <vector>

#include "pdf/kxClasses.h"
#include "platform/kxBitmap.h"
#include "platform/kxEmfDeviceContext.h"
#include "platform/kxFontManager.h"

namespace pw {

namespace {

struct PenObj {
  uint32_t style = PS_SOLID;  // whole PenStyle value
  double width = 1;           // logical units; 0 = one device pixel
  uint32_t color = 0;
  std::vector<double> dashes;  // user style, logical units
};

struct BrushObj {
  uint32_t style = BS_SOLID;
  uint32_t color = 0xFFFFFF;
  uint32_t hatch = 0;
  std::shared_ptr<TkxBitmap> pattern;
};

struct FontObj {
  TkxLogFontW lf;
};

struct GdiObject {
  enum Kind { None, Pen, Brush, Font, Other } kind = None;
  PenObj pen;
  BrushObj brush;
  FontObj font;
};

struct PathOp {
  enum Kind { Move, Line, Curve, Close } kind;
  TkxPointF p[3];
};

struct ClipStep {
  std::vector<PathOp> path;  // device pixels
  bool evenOdd = false;
  bool exclude = false;
};

struct DcState {
  TkxEmfDcTransform xf;
  PenObj pen;
  BrushObj brush;
  FontObj font;
  uint32_t textColor = 0, bkColor = 0xFFFFFF, bkMode = OPAQUE, textAlign = 0, polyFill = ALTERNATE;
  double miter = 10;
  TkxEmfPointL cur;
  std::vector<ClipStep> clip;
  bool clipAll = false;  // an empty clip region: nothing shows
};

void SetColor(cairo_t* cr, uint32_t colorRef) {
  cairo_set_source_rgb(cr, (colorRef & 0xFF) / 255.0, ((colorRef >> 8) & 0xFF) / 255.0,
                       ((colorRef >> 16) & 0xFF) / 255.0);
}

class BitmapPlayer {
 public:
  BitmapPlayer(const TkxMetafile& src, TkxBitmap& bmp, const TkxRectF& dest) : bmp_(bmp) {
    surface_ = cairo_image_surface_create_for_data(
        bmp.Bits(), bmp.HasAlpha() ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, bmp.Width(), bmp.Height(), bmp.Stride());
    cr_ = cairo_create(surface_);
    double l, t, r, b;
    src.FramePixels(l, t, r, b);
    const double ax = r > l ? dest.Width / (r - l) : 1, ay = b > t ? dest.Height / (b - t) : 1;
    cairo_matrix_init(&base_, ax, 0, 0, ay, dest.X - l * ax, dest.Y - t * ay);
    st_.xf.pxPerMMX = src.PixelsPerMMX();
    st_.xf.pxPerMMY = src.PixelsPerMMY();
    st_.pen = PenObj{};
    st_.brush = BrushObj{};
  }
  ~BitmapPlayer() {
    cairo_destroy(cr_);
    cairo_surface_flush(surface_);
    cairo_surface_destroy(surface_);
    if (!bmp_.HasAlpha()) bmp_.NormalizeOpaque();
  }

  void Run(const TkxMetafile& src) {
    src.EnumerateRecords([&](const TkxEmfRecord& r) {
      try {
        Record(r);
      } catch (const std::exception&) {
        // A record that cannot be drawn (a broken bitmap, say) is skipped.
      }
      // A context in an error state draws nothing more: start a fresh one
      // (the drawing state lives here, not in the context).
      if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr_);
        cr_ = cairo_create(surface_);
      }
      return true;
    });
  }

 private:
  // ---- geometry ----
  TkxPointF Dev(double x, double y) const { return st_.xf.Full().Transform({x, y}); }
  TkxPointF Dev(const TkxEmfPointL& p) const { return Dev(p.x, p.y); }
  double DevScale() const { return std::sqrt(std::abs(st_.xf.Full().Determinant())); }

  void Emit(const PathOp& op) {
    if (inPath_)
      pathOps_.push_back(op);
    else
      drawOps_.push_back(op);
  }
  void MoveTo(const TkxPointF& p) { Emit({PathOp::Move, {p}}); }
  void LineTo(const TkxPointF& p) { Emit({PathOp::Line, {p}}); }
  void CurveTo(const TkxPointF& a, const TkxPointF& b, const TkxPointF& c) { Emit({PathOp::Curve, {a, b, c}}); }
  void Close() { Emit({PathOp::Close, {}}); }

  static void BuildPath(cairo_t* cr, const std::vector<PathOp>& ops) {
    cairo_new_path(cr);
    for (const auto& op : ops) {
      switch (op.kind) {
        case PathOp::Move: cairo_move_to(cr, op.p[0].X, op.p[0].Y); break;
        case PathOp::Line: cairo_line_to(cr, op.p[0].X, op.p[0].Y); break;
        case PathOp::Curve: cairo_curve_to(cr, op.p[0].X, op.p[0].Y, op.p[1].X, op.p[1].Y, op.p[2].X, op.p[2].Y); break;
        case PathOp::Close: cairo_close_path(cr); break;
      }
    }
  }

  // Ellipse quarter arcs as Béziers in logical space, then to the device.
  void EllipseOps(double l, double t, double r, double b, bool move = true) {
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    ArcOps(cx, cy, rx, ry, 0, -2 * std::numbers::pi, move);
    Close();
  }
  // From angle a0 to a1 (radians, y down; decreasing angles run counter-clockwise on the device).
  void ArcOps(double cx, double cy, double rx, double ry, double a0, double a1, bool move) {
    const int n = std::max(1, static_cast<int>(std::ceil(std::abs(a1 - a0) / (std::numbers::pi / 2) - 1e-9)));
    const double step = (a1 - a0) / n;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    auto pt = [&](double a) { return TkxPointF{cx + rx * std::cos(a), cy + ry * std::sin(a)}; };
    if (move)
      MoveTo(Dev(pt(a0).X, pt(a0).Y));
    else
      LineTo(Dev(pt(a0).X, pt(a0).Y));
    for (int i = 0; i < n; ++i) {
      const double s = a0 + i * step, e = s + step;
      const TkxPointF p0 = pt(s), p3 = pt(e);
      const TkxPointF c1{p0.X - k * rx * std::sin(s), p0.Y + k * ry * std::cos(s)};
      const TkxPointF c2{p3.X + k * rx * std::sin(e), p3.Y - k * ry * std::cos(e)};
      CurveTo(Dev(c1.X, c1.Y), Dev(c2.X, c2.Y), Dev(p3.X, p3.Y));
    }
  }
  void ArcShape(const TkxEmfRecord& r, int kind /*0 arc,1 chord,2 pie,3 arcto*/) {
    const TkxEmfRectL b = r.RectL(8);
    const TkxEmfPointL s = r.PointL(24), e = r.PointL(32);
    const double l = b.left, t = b.top, r2 = b.right, b2 = b.bottom;  // record values may be extreme
    const double cx = (l + r2) / 2, cy = (t + b2) / 2, rx = (r2 - l) / 2, ry = (b2 - t) / 2;
    if (rx == 0 || ry == 0) return;
    const double a0 = std::atan2((s.y - cy) / ry, (s.x - cx) / rx);
    double a1 = std::atan2((e.y - cy) / ry, (e.x - cx) / rx);
    while (a1 >= a0) a1 -= 2 * std::numbers::pi;  // counter-clockwise on the device
    if (kind == 3) {
      // A line from the current position to the arc's start, then the arc.
      if (!inPath_ || pathOps_.empty()) MoveTo(Dev(st_.cur));
      ArcOps(cx, cy, rx, ry, a0, a1, false);
      const TkxPointF end{cx + rx * std::cos(a1), cy + ry * std::sin(a1)};
      st_.cur = {RoundToEmfCoordinate(end.X), RoundToEmfCoordinate(end.Y)};
      return;
    }
    if (kind == 2) {
      MoveTo(Dev(cx, cy));
      ArcOps(cx, cy, rx, ry, a0, a1, false);
    } else {
      ArcOps(cx, cy, rx, ry, a0, a1, true);
    }
    if (kind != 0) Close();
  }

  // ---- clipping, pens and brushes ----
  void ApplyClip() {
    cairo_reset_clip(cr_);
    cairo_set_matrix(cr_, &base_);
    if (st_.clipAll) {
      cairo_new_path(cr_);
      cairo_rectangle(cr_, 0, 0, 0, 0);
      cairo_clip(cr_);
      return;
    }
    for (const ClipStep& s : st_.clip) {
      BuildPath(cr_, s.path);
      if (s.exclude) {
        cairo_rectangle(cr_, -1e7, -1e7, 2e7, 2e7);
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
      } else {
        cairo_set_fill_rule(cr_, s.evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
      }
      cairo_clip(cr_);
    }
  }

  bool SetBrush(const BrushObj& b) {
    if (b.style == BS_NULL) return false;
    if (b.pattern && !b.pattern->Empty()) {
      cairo_surface_t* s = cairo_image_surface_create_for_data(
          b.pattern->Bits(), CAIRO_FORMAT_RGB24, b.pattern->Width(), b.pattern->Height(), b.pattern->Stride());
      cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
      cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
      cairo_set_source(cr_, p);
      cairo_pattern_destroy(p);
      cairo_surface_destroy(s);
      return true;
    }
    SetColor(cr_, b.color);
    return true;
  }

  bool SetPen() {
    const PenObj& p = st_.pen;
    const uint32_t kind = p.style & PS_STYLE_MASK;
    if (kind == PS_NULL) return false;
    const bool geometric = (p.style & PS_TYPE_MASK) == PS_GEOMETRIC;
    const double w = geometric && p.width > 0 ? p.width * DevScale() : 1.0;
    cairo_set_line_width(cr_, std::max(w, 1.0));
    if (geometric) {
      const uint32_t cap = p.style & PS_ENDCAP_MASK, join = p.style & PS_JOIN_MASK;
      cairo_set_line_cap(cr_, cap == PS_ENDCAP_FLAT     ? CAIRO_LINE_CAP_BUTT
                              : cap == PS_ENDCAP_SQUARE ? CAIRO_LINE_CAP_SQUARE
                                                        : CAIRO_LINE_CAP_ROUND);
      cairo_set_line_join(cr_, join == PS_JOIN_MITER   ? CAIRO_LINE_JOIN_MITER
                               : join == PS_JOIN_BEVEL ? CAIRO_LINE_JOIN_BEVEL
                                                       : CAIRO_LINE_JOIN_ROUND);
    } else {
      cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
      cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    }
    cairo_set_miter_limit(cr_, std::max(st_.miter, 1.0));
    std::vector<double> d;
    const double unit = std::max(w, 1.0);
    switch (kind) {
      case PS_DASH: d = geometric ? std::vector<double>{3 * unit, unit} : std::vector<double>{18, 6}; break;
      case PS_DOT: d = geometric ? std::vector<double>{unit, unit} : std::vector<double>{3, 3}; break;
      case PS_DASHDOT:
        d = geometric ? std::vector<double>{3 * unit, unit, unit, unit} : std::vector<double>{9, 6, 3, 6};
        break;
      case PS_DASHDOTDOT:
        d = geometric ? std::vector<double>{3 * unit, unit, unit, unit, unit, unit}
                      : std::vector<double>{9, 3, 3, 3, 3, 3};
        break;
      case PS_ALTERNATE: d = {1, 1}; break;
      case PS_USERSTYLE:
        for (double v : p.dashes) d.push_back(std::max(v * (geometric ? DevScale() : 1.0), 0.0));
        break;
      default: break;
    }
    double sum = 0;
    for (double v : d) sum += v;
    if (!d.empty() && sum > 0)
      cairo_set_dash(cr_, d.data(), static_cast<int>(d.size()), 0);
    else
      cairo_set_dash(cr_, nullptr, 0, 0);
    SetColor(cr_, p.color);
    return true;
  }

  // Fills and/or strokes the collected drawing ops.
  void Paint(bool fill, bool stroke, std::vector<PathOp>& ops) {
    if (ops.empty()) return;
    ApplyClip();
    if (fill && st_.brush.style != BS_NULL) {
      BuildPath(cr_, ops);
      cairo_set_fill_rule(cr_, st_.polyFill == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
      if (SetBrush(st_.brush)) cairo_fill(cr_);
    }
    if (stroke && SetPen()) {
      BuildPath(cr_, ops);
      cairo_stroke(cr_);
    }
    cairo_new_path(cr_);
    ops.clear();
  }
  void PaintDraw(bool fill, bool stroke) { Paint(fill, stroke, drawOps_); }

  // ---- records ----
  void Poly(const TkxEmfRecord& r) {
    TkxEmrPoly p;
    if (!DecodePoly(r, p) || p.Points.empty()) return;
    const uint32_t t = IsPoly16(r.Type()) ? r.Type() - EMR_POLYBEZIER16 + EMR_POLYBEZIER : r.Type();
    const auto& pts = p.Points;
    switch (t) {
      case EMR_POLYGON:
      case EMR_POLYLINE:
        MoveTo(Dev(pts[0]));
        for (size_t i = 1; i < pts.size(); ++i) LineTo(Dev(pts[i]));
        if (t == EMR_POLYGON) Close();
        if (!inPath_) PaintDraw(t == EMR_POLYGON, true);
        break;
      case EMR_POLYBEZIER:
        MoveTo(Dev(pts[0]));
        for (size_t i = 1; i + 2 < pts.size(); i += 3) CurveTo(Dev(pts[i]), Dev(pts[i + 1]), Dev(pts[i + 2]));
        if (!inPath_) PaintDraw(false, true);
        break;
      case EMR_POLYLINETO:
      case EMR_POLYBEZIERTO:
        if (!inPath_ || pathOps_.empty()) MoveTo(Dev(st_.cur));
        if (t == EMR_POLYLINETO) {
          for (const auto& q : pts) LineTo(Dev(q));
          st_.cur = pts.back();
        } else {
          size_t i = 0;
          for (; i + 2 < pts.size(); i += 3) CurveTo(Dev(pts[i]), Dev(pts[i + 1]), Dev(pts[i + 2]));
          if (i > 0) st_.cur = pts[i - 1];
        }
        if (!inPath_) PaintDraw(false, true);
        break;
      default: break;
    }
  }

  void PolyPoly(const TkxEmfRecord& r) {
    TkxEmrPolyPoly p;
    if (!DecodePolyPoly(r, p)) return;
    const bool polygon = r.Type() == EMR_POLYPOLYGON || r.Type() == EMR_POLYPOLYGON16;
    size_t k = 0;
    for (uint32_t c : p.Counts) {
      for (uint32_t i = 0; i < c; ++i, ++k) {
        if (i == 0)
          MoveTo(Dev(p.Points[k]));
        else
          LineTo(Dev(p.Points[k]));
      }
      if (polygon && c > 0) Close();
    }
    if (!inPath_) PaintDraw(polygon, true);
  }

  void PolyDraw(const TkxEmfRecord& r) {
    TkxEmrPolyDraw p;
    if (!DecodePolyDraw(r, p)) return;
    if (!inPath_ || pathOps_.empty()) MoveTo(Dev(st_.cur));
    for (size_t i = 0; i < p.Points.size(); ++i) {
      const uint8_t t = p.Types[i] & ~1u;
      if (t == 6)
        MoveTo(Dev(p.Points[i]));
      else if (t == 2)
        LineTo(Dev(p.Points[i]));
      else if (t == 4 && i + 2 < p.Points.size()) {
        CurveTo(Dev(p.Points[i]), Dev(p.Points[i + 1]), Dev(p.Points[i + 2]));
        i += 2;
      }
      if (p.Types[std::min(i, p.Points.size() - 1)] & 1) Close();
      st_.cur = p.Points[std::min(i, p.Points.size() - 1)];
    }
    if (!inPath_) PaintDraw(false, true);
  }

  void Dib(const TkxEmfDib& dib, double xDest, double yDest, double cxDest, double cyDest, double xSrc, double ySrc,
           double cxSrc, double cySrc, uint32_t rop) {
    if (!dib.Present()) {
      PatBlt(xDest, yDest, cxDest, cyDest, rop);
      return;
    }
    // JPEG bits (BI_JPEG) are a picture of their own, read from the top.
    const bool jpeg = dib.BmiSize >= 40 && dib.Bmi[16] == 4 && !dib.Bmi[17] && !dib.Bmi[18] && !dib.Bmi[19];
    TkxDIBInfo info;
    if (jpeg)
      info.TopDown = true;
    else
      info = TkxBitmap::ReadDIBInfo(dib.Bmi, dib.BmiSize);
    TkxBitmap pic = TkxBitmap::FromDIB(dib.Bmi, dib.BmiSize, dib.Bits, dib.BitsSize);
    pic.SetHasAlpha(false);
    if (rop == NOTSRCCOPY) {
      for (int y = 0; y < pic.Height(); ++y)
        for (uint32_t *p = pic.Scanline(y), *e = p + pic.Width(); p < e; ++p) *p = ~*p | 0xFF000000u;
    }
    // A bottom-up DIB's source rectangle is measured from its last row.
    if (!info.TopDown) ySrc = pic.Height() - ySrc - cySrc;
    const TkxMatrix full = st_.xf.Full();
    const double det = full.Determinant();
    if (cxSrc == 0 || cySrc == 0 || cxDest == 0 || cyDest == 0 || !IsFiniteMatrix(full) || !std::isfinite(det) ||
        std::abs(det) < 1e-12)
      return;
    ApplyClip();
    cairo_matrix_t m;
    cairo_matrix_init(&m, full.M11, full.M12, full.M21, full.M22, full.DX, full.DY);
    cairo_transform(cr_, &m);
    cairo_rectangle(cr_, xDest, yDest, cxDest, cyDest);
    cairo_clip(cr_);
    cairo_translate(cr_, xDest, yDest);
    cairo_scale(cr_, cxDest / cxSrc, cyDest / cySrc);
    cairo_translate(cr_, -xSrc, -ySrc);
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(pic.Bits(), CAIRO_FORMAT_RGB24, pic.Width(), pic.Height(), pic.Stride());
    cairo_set_source_surface(cr_, s, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
    switch (rop) {
      case SRCAND: cairo_set_operator(cr_, CAIRO_OPERATOR_MULTIPLY); break;
      case SRCPAINT: cairo_set_operator(cr_, CAIRO_OPERATOR_LIGHTEN); break;
      case SRCINVERT: cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE); break;
      default: break;
    }
    cairo_paint(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    cairo_surface_destroy(s);
    cairo_set_matrix(cr_, &base_);
  }

  void PatBlt(double x, double y, double cx, double cy, uint32_t rop) {
    const TkxPointF a = Dev(x, y), b = Dev(x + cx, y), c = Dev(x + cx, y + cy), d = Dev(x, y + cy);
    std::vector<PathOp> ops = {
        {PathOp::Move, {a}}, {PathOp::Line, {b}}, {PathOp::Line, {c}}, {PathOp::Line, {d}}, {PathOp::Close, {}}};
    ApplyClip();
    BuildPath(cr_, ops);
    if (rop == BLACKNESS)
      cairo_set_source_rgb(cr_, 0, 0, 0);
    else if (rop == WHITENESS)
      cairo_set_source_rgb(cr_, 1, 1, 1);
    else if (rop == DSTINVERT) {
      cairo_set_source_rgb(cr_, 1, 1, 1);
      cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE);
    } else if (!SetBrush(st_.brush)) {
      cairo_new_path(cr_);
      return;
    }
    cairo_fill(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
  }

  void FillRegion(const TkxEmfRegion& reg, const BrushObj& brush) {
    ApplyClip();
    cairo_new_path(cr_);
    for (const auto& q : reg.Rects)
      cairo_rectangle(cr_, q.left, q.top, double(q.right) - q.left, double(q.bottom) - q.top);
    if (SetBrush(brush)) cairo_fill(cr_);
    cairo_new_path(cr_);
  }

  void ClipWith(std::vector<PathOp> ops, bool evenOdd, uint32_t mode) {
    if (mode == RGN_COPY) {
      st_.clip.clear();
      st_.clipAll = false;
    }
    if (mode == RGN_AND || mode == RGN_COPY)
      st_.clip.push_back({std::move(ops), evenOdd, false});
    else if (mode == RGN_DIFF)
      st_.clip.push_back({std::move(ops), evenOdd, true});
    else if (mode == RGN_OR) {
      // A union cannot be kept as a list of intersections; showing more is
      // the safer error.
      st_.clip.clear();
      st_.clipAll = false;
    }
  }

  static std::vector<PathOp> RectOps(double l, double t, double r, double b) {
    return {{PathOp::Move, {{l, t}}},
            {PathOp::Line, {{r, t}}},
            {PathOp::Line, {{r, b}}},
            {PathOp::Line, {{l, b}}},
            {PathOp::Close, {}}};
  }

  void Text(const TkxEmfRecord& r) {
    TkxEmrExtTextOut t;
    if (!DecodeExtTextOut(r, t)) return;
    const TkxLogFontW& lf = st_.font.lf;
    const int style = (lf.lfWeight >= 600 ? fsBold : 0) | (lf.lfItalic ? fsItalic : 0);
    const std::string family = lf.lfFaceName.empty() ? std::string("Arial") : WideToUtf8(lf.lfFaceName);
    TkxFontManager& fm = TkxFontManager::Instance();
    const TkxFontFacePtr face = fm.GetFace(family, style);
    if (!face) return;
    const TkxFaceDesignMetrics& dm = face->Design();
    const TkxMatrix full = st_.xf.Full();
    if (!IsFiniteMatrix(full)) return;
    const double scale = DevScale();
    double emLogical = lf.lfHeight != 0 ? EmPixelsFor(dm, lf.lfHeight) : EmPixelsFor(dm, 0);
    const double em = emLogical * scale;
    if (!(em > 0) || em > 1e5) return;
    const double upm = dm.UnitsPerEm > 0 ? dm.UnitsPerEm : 1000;
    const double ascent = em * dm.WinAscent / upm, descent = em * dm.WinDescent / upm;

    // Baseline direction on the device from the escapement (counter-clockwise).
    const double theta = lf.lfEscapement * std::numbers::pi / 1800.0;
    const TkxPointF b{std::cos(theta), -std::sin(theta)};
    const TkxPointF d{-b.Y, b.X};
    const double xScale = std::hypot(full.M11, full.M12);

    // Advances along the baseline in device pixels.
    std::u16string text = t.Text;
    std::vector<double> adv(text.size(), 0);
    if (!t.Dx.empty()) {
      const size_t step = (t.Options & ETO_PDY) ? 2 : 1;
      for (size_t i = 0; i < text.size() && i * step < t.Dx.size(); ++i) adv[i] = t.Dx[i * step] * xScale;
    } else if (!(t.Options & ETO_GLYPH_INDEX)) {
      adv = fm.CharAdvances(family, style, em, text);
    }
    double width = 0;
    for (double a : adv) width += a;

    const bool updateCP = (st_.textAlign & TA_UPDATECP) != 0;
    TkxPointF ref = updateCP ? Dev(st_.cur) : Dev(t.Reference);
    const uint32_t halign = st_.textAlign & 6, valign = st_.textAlign & 24;
    double along = 0;
    if (halign == TA_CENTER)
      along = -width / 2;
    else if (halign == TA_RIGHT)
      along = -width;
    double down = ascent;  // TA_TOP: the baseline lies one ascent below the reference
    if (valign == TA_BASELINE)
      down = 0;
    else if (valign == TA_BOTTOM)
      down = -descent;
    TkxPointF origin{ref.X + b.X * along + d.X * down, ref.Y + b.Y * along + d.Y * down};
    if (updateCP) {
      const double advLogical = xScale > 0 ? width / xScale : 0;
      st_.cur.x = RoundToEmfCoordinate(st_.cur.x + (halign == TA_RIGHT ? -advLogical : advLogical));
    }

    ApplyClip();
    if ((t.Options & ETO_OPAQUE) && !(t.Rect == TkxEmfRectL{0, 0, -1, -1})) {
      const TkxEmfRectL q = t.Rect;
      std::vector<PathOp> ops = {{PathOp::Move, {Dev(q.left, q.top)}},
                                 {PathOp::Line, {Dev(q.right, q.top)}},
                                 {PathOp::Line, {Dev(q.right, q.bottom)}},
                                 {PathOp::Line, {Dev(q.left, q.bottom)}},
                                 {PathOp::Close, {}}};
      BuildPath(cr_, ops);
      SetColor(cr_, st_.bkColor);
      cairo_fill(cr_);
    }
    if (t.Options & ETO_CLIPPED) {
      const TkxEmfRectL q = t.Rect;
      std::vector<PathOp> ops = {{PathOp::Move, {Dev(q.left, q.top)}},
                                 {PathOp::Line, {Dev(q.right, q.top)}},
                                 {PathOp::Line, {Dev(q.right, q.bottom)}},
                                 {PathOp::Line, {Dev(q.left, q.bottom)}},
                                 {PathOp::Close, {}}};
      BuildPath(cr_, ops);
      cairo_clip(cr_);
    }
    if (st_.bkMode == OPAQUE && !(t.Options & ETO_OPAQUE)) {
      const TkxPointF top{origin.X - d.X * ascent, origin.Y - d.Y * ascent};
      cairo_new_path(cr_);
      cairo_move_to(cr_, top.X, top.Y);
      cairo_rel_line_to(cr_, b.X * width, b.Y * width);
      cairo_rel_line_to(cr_, d.X * (ascent + descent), d.Y * (ascent + descent));
      cairo_rel_line_to(cr_, -b.X * width, -b.Y * width);
      cairo_close_path(cr_);
      SetColor(cr_, st_.bkColor);
      cairo_fill(cr_);
    }

    std::vector<cairo_glyph_t> glyphs;
    double pos = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      char32_t cp = text[i];
      double a = adv[i];
      if (!(t.Options & ETO_GLYPH_INDEX) && cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() &&
          text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        a += adv[i + 1];
        ++i;
      }
      const unsigned g = (t.Options & ETO_GLYPH_INDEX) ? static_cast<unsigned>(cp) : face->GlyphIndex(cp);
      glyphs.push_back({g, origin.X + b.X * pos, origin.Y + b.Y * pos});
      pos += a;
    }
    cairo_font_face_t* cf = face->CairoFace();
    if (cf) {
      cairo_set_font_face(cr_, cf);
      cairo_matrix_t fmx;
      cairo_matrix_init_scale(&fmx, em, em);
      cairo_matrix_rotate(&fmx, -theta);
      cairo_set_font_matrix(cr_, &fmx);
      SetColor(cr_, st_.textColor);
      cairo_show_glyphs(cr_, glyphs.data(), static_cast<int>(glyphs.size()));
      cairo_set_font_face(cr_, nullptr);
      cairo_font_face_destroy(cf);
    }
    // Underline and strike-out as bars along the baseline.
    auto bar = [&](double offsetDown, double thickness) {
      const TkxPointF s{origin.X + d.X * offsetDown, origin.Y + d.Y * offsetDown};
      cairo_new_path(cr_);
      cairo_move_to(cr_, s.X, s.Y);
      cairo_rel_line_to(cr_, b.X * width, b.Y * width);
      cairo_set_line_width(cr_, std::max(thickness, 1.0));
      cairo_set_dash(cr_, nullptr, 0, 0);
      cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
      SetColor(cr_, st_.textColor);
      cairo_stroke(cr_);
    };
    if (lf.lfUnderline) bar(-em * dm.UnderlinePosition / upm, em * std::max(dm.UnderlineThickness, 1) / upm);
    if (lf.lfStrikeOut)
      bar(-em * (dm.StrikeoutPosition ? dm.StrikeoutPosition : upm / 4) / upm,
          em * std::max(dm.StrikeoutSize, 1) / upm);
  }

  void Record(const TkxEmfRecord& r) {
    if (st_.xf.Apply(r)) return;
    const uint32_t type = r.Type();
    switch (type) {
      case EMR_SAVEDC: saved_.push_back(st_); break;
      case EMR_RESTOREDC: {
        const size_t k = RestoreCount(r.I32(8), saved_.size());
        if (k == 0) break;
        st_ = saved_[saved_.size() - k];
        saved_.resize(saved_.size() - k);
        break;
      }
      case EMR_SETTEXTCOLOR: st_.textColor = r.U32(8); break;
      case EMR_SETBKCOLOR: st_.bkColor = r.U32(8); break;
      case EMR_SETBKMODE: st_.bkMode = r.U32(8); break;
      case EMR_SETTEXTALIGN: st_.textAlign = r.U32(8); break;
      case EMR_SETPOLYFILLMODE: st_.polyFill = r.U32(8); break;
      case EMR_SETMITERLIMIT: {
        const float f = r.F32(8);
        st_.miter = std::isfinite(f) && f >= 1 && f < 1e6 ? f : 10.0;
        break;
      }
      case EMR_MOVETOEX:
        st_.cur = r.PointL(8);
        if (inPath_) MoveTo(Dev(st_.cur));
        break;
      case EMR_LINETO:
        if (!inPath_ || pathOps_.empty()) MoveTo(Dev(st_.cur));
        st_.cur = r.PointL(8);
        LineTo(Dev(st_.cur));
        if (!inPath_) PaintDraw(false, true);
        break;
      // Objects.
      case EMR_CREATEPEN: {
        TkxEmrCreatePen p;
        if (!DecodeCreatePen(r, p)) break;
        GdiObject& o = objects_[p.ihPen];
        o = GdiObject{};
        o.kind = GdiObject::Pen;
        o.pen.style = p.Style & PS_STYLE_MASK;
        if (p.Width.x > 0) o.pen.style |= PS_GEOMETRIC | PS_ENDCAP_ROUND | PS_JOIN_ROUND;
        o.pen.width = p.Width.x;
        o.pen.color = p.Color;
        break;
      }
      case EMR_EXTCREATEPEN: {
        TkxEmrExtCreatePen p;
        if (!DecodeExtCreatePen(r, p)) break;
        GdiObject& o = objects_[p.ihPen];
        o = GdiObject{};
        o.kind = GdiObject::Pen;
        o.pen.style = p.LogPen.PenStyle;
        o.pen.width = p.LogPen.Width;
        o.pen.color = p.LogPen.Color;
        if (p.LogPen.BrushStyle == BS_NULL) o.pen.style = (o.pen.style & ~PS_STYLE_MASK) | PS_NULL;
        for (uint32_t v : p.LogPen.StyleEntries) o.pen.dashes.push_back(v);
        break;
      }
      case EMR_CREATEBRUSHINDIRECT: {
        TkxEmrCreateBrush b;
        if (!DecodeCreateBrush(r, b)) break;
        GdiObject& o = objects_[b.ihBrush];
        o = GdiObject{};
        o.kind = GdiObject::Brush;
        o.brush.style = b.LogBrush.Style == BS_NULL ? BS_NULL : BS_SOLID;
        o.brush.color = b.LogBrush.Color;
        o.brush.hatch = b.LogBrush.Hatch;
        break;
      }
      case EMR_CREATEMONOBRUSH:
      case EMR_CREATEDIBPATTERNBRUSHPT: {
        if (!r.Has(0, 32)) break;
        TkxEmfDib dib;
        const uint32_t offBmi = r.U32(16), cbBmi = r.U32(20), offBits = r.U32(24), cbBits = r.U32(28);
        if (!r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) break;
        GdiObject& o = objects_[r.U32(8)];
        o = GdiObject{};
        o.kind = GdiObject::Brush;
        o.brush.pattern =
            std::make_shared<TkxBitmap>(TkxBitmap::FromDIB(r.Data() + offBmi, cbBmi, r.Data() + offBits, cbBits));
        o.brush.pattern->SetHasAlpha(false);
        break;
      }
      case EMR_EXTCREATEFONTINDIRECTW: {
        TkxEmrCreateFont f;
        if (!DecodeExtCreateFont(r, f)) break;
        GdiObject& o = objects_[f.ihFont];
        o = GdiObject{};
        o.kind = GdiObject::Font;
        o.font.lf = f.LogFont;
        break;
      }
      case EMR_CREATEPALETTE:
      case EMR_CREATECOLORSPACE:
      case EMR_CREATECOLORSPACEW: objects_[r.U32(8)] = GdiObject{GdiObject::Other, {}, {}, {}}; break;
      case EMR_SELECTOBJECT: {
        const uint32_t h = r.U32(8);
        if (h & ENHMETA_STOCK_OBJECT) {
          const uint32_t i = h & ~ENHMETA_STOCK_OBJECT;
          static const uint32_t grays[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
          if (i <= BLACK_BRUSH)
            st_.brush = BrushObj{BS_SOLID, grays[i], 0, nullptr};
          else if (i == NULL_BRUSH)
            st_.brush = BrushObj{BS_NULL, 0, 0, nullptr};
          else if (i == DC_BRUSH)
            st_.brush = BrushObj{};
          else if (i == WHITE_PEN)
            st_.pen = PenObj{PS_SOLID, 0, 0xFFFFFF, {}};
          else if (i == BLACK_PEN || i == DC_PEN)
            st_.pen = PenObj{PS_SOLID, 0, 0, {}};
          else if (i == NULL_PEN)
            st_.pen = PenObj{PS_NULL, 0, 0, {}};
          else if (i >= OEM_FIXED_FONT && i <= DEFAULT_GUI_FONT && i != DEFAULT_PALETTE)
            st_.font = FontObj{};
          break;
        }
        auto it = objects_.find(h);
        if (it == objects_.end()) break;
        if (it->second.kind == GdiObject::Pen)
          st_.pen = it->second.pen;
        else if (it->second.kind == GdiObject::Brush)
          st_.brush = it->second.brush;
        else if (it->second.kind == GdiObject::Font)
          st_.font = it->second.font;
        break;
      }
      case EMR_DELETEOBJECT: objects_.erase(r.U32(8)); break;
      // Drawing.
      case EMR_POLYBEZIER:
      case EMR_POLYGON:
      case EMR_POLYLINE:
      case EMR_POLYBEZIERTO:
      case EMR_POLYLINETO:
      case EMR_POLYBEZIER16:
      case EMR_POLYGON16:
      case EMR_POLYLINE16:
      case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16: Poly(r); break;
      case EMR_POLYPOLYLINE:
      case EMR_POLYPOLYGON:
      case EMR_POLYPOLYLINE16:
      case EMR_POLYPOLYGON16: PolyPoly(r); break;
      case EMR_POLYDRAW:
      case EMR_POLYDRAW16: PolyDraw(r); break;
      case EMR_RECTANGLE: {
        if (!r.Has(8, 16)) break;
        const TkxEmfRectL q = r.RectL(8);
        MoveTo(Dev(q.left, q.top));
        LineTo(Dev(q.right, q.top));
        LineTo(Dev(q.right, q.bottom));
        LineTo(Dev(q.left, q.bottom));
        Close();
        if (!inPath_) PaintDraw(true, true);
        break;
      }
      case EMR_ROUNDRECT: {
        if (!r.Has(8, 24)) break;
        const TkxEmfRectL q = r.RectL(8);
        const double l = q.left, t = q.top, rr = q.right, bb = q.bottom;
        const double rx = std::min(std::abs(double(r.I32(24))) / 2, std::abs(rr - l) / 2);
        const double ry = std::min(std::abs(double(r.I32(28))) / 2, std::abs(bb - t) / 2);
        const double pi = std::numbers::pi;
        ArcOps(rr - rx, t + ry, rx, ry, 0, -pi / 2, true);
        ArcOps(l + rx, t + ry, rx, ry, -pi / 2, -pi, false);
        ArcOps(l + rx, bb - ry, rx, ry, -pi, -3 * pi / 2, false);
        ArcOps(rr - rx, bb - ry, rx, ry, -3 * pi / 2, -2 * pi, false);
        Close();
        if (!inPath_) PaintDraw(true, true);
        break;
      }
      case EMR_ELLIPSE: {
        if (!r.Has(8, 16)) break;
        const TkxEmfRectL q = r.RectL(8);
        EllipseOps(q.left, q.top, q.right, q.bottom);
        if (!inPath_) PaintDraw(true, true);
        break;
      }
      case EMR_ARC:
      case EMR_CHORD:
      case EMR_PIE:
      case EMR_ARCTO:
        if (!r.Has(8, 32)) break;
        ArcShape(r, type == EMR_ARC ? 0 : type == EMR_CHORD ? 1 : type == EMR_PIE ? 2 : 3);
        if (!inPath_) PaintDraw(type == EMR_CHORD || type == EMR_PIE, true);
        break;
      // Paths.
      case EMR_BEGINPATH:
        inPath_ = true;
        pathOps_.clear();
        break;
      case EMR_ENDPATH: inPath_ = false; break;
      case EMR_ABORTPATH:
        inPath_ = false;
        pathOps_.clear();
        break;
      case EMR_CLOSEFIGURE:
        if (inPath_) Close();
        break;
      case EMR_FILLPATH:
      case EMR_STROKEPATH:
      case EMR_STROKEANDFILLPATH:
        inPath_ = false;
        Paint(type != EMR_STROKEPATH, type != EMR_FILLPATH, pathOps_);
        break;
      case EMR_SELECTCLIPPATH:
        inPath_ = false;
        ClipWith(std::move(pathOps_), st_.polyFill == ALTERNATE, r.U32(8));
        pathOps_.clear();
        break;
      // Clipping.
      case EMR_EXTSELECTCLIPRGN: {
        TkxEmrExtSelectClipRgn c;
        if (!DecodeExtSelectClipRgn(r, c)) break;
        if (!c.HasRegion) {
          if (c.RegionMode == RGN_COPY) {
            st_.clip.clear();
            st_.clipAll = false;
          }
          break;
        }
        std::vector<PathOp> ops;
        for (const auto& q : c.Region.Rects) {
          auto rect = RectOps(q.left, q.top, q.right, q.bottom);
          ops.insert(ops.end(), rect.begin(), rect.end());
        }
        if (ops.empty() && (c.RegionMode == RGN_AND || c.RegionMode == RGN_COPY)) {
          st_.clip.clear();
          st_.clipAll = true;
          break;
        }
        ClipWith(std::move(ops), false, c.RegionMode);
        break;
      }
      case EMR_INTERSECTCLIPRECT:
      case EMR_EXCLUDECLIPRECT: {
        if (!r.Has(8, 16)) break;
        const TkxEmfRectL q = r.RectL(8);
        std::vector<PathOp> ops = {{PathOp::Move, {Dev(q.left, q.top)}},
                                   {PathOp::Line, {Dev(q.right, q.top)}},
                                   {PathOp::Line, {Dev(q.right, q.bottom)}},
                                   {PathOp::Line, {Dev(q.left, q.bottom)}},
                                   {PathOp::Close, {}}};
        ClipWith(std::move(ops), false, type == EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        break;
      }
      // Text and pictures.
      case EMR_EXTTEXTOUTW:
      case EMR_EXTTEXTOUTA: Text(r); break;
      case EMR_STRETCHDIBITS: {
        TkxEmrStretchDIBits s;
        if (!DecodeStretchDIBits(r, s)) break;
        Dib(s.Dib, s.xDest, s.yDest, s.cxDest, s.cyDest, s.xSrc, s.ySrc, s.cxSrc, s.cySrc, s.Rop);
        break;
      }
      case EMR_BITBLT:
      case EMR_STRETCHBLT: {
        TkxEmrBitBlt s;
        if (!DecodeBitBlt(r, s)) break;
        Dib(s.Dib, s.xDest, s.yDest, s.cxDest, s.cyDest, s.xSrc, s.ySrc, s.cxSrc, s.cySrc, s.Rop);
        break;
      }
      case EMR_SETDIBITSTODEVICE: {
        TkxEmrSetDIBitsToDevice s;
        if (!DecodeSetDIBitsToDevice(r, s) || !s.Dib.Present()) break;
        Dib(s.Dib, s.xDest, s.yDest, s.cxSrc, s.cySrc, s.xSrc, s.ySrc, s.cxSrc, s.cySrc, SRCCOPY);
        break;
      }
      case EMR_FILLRGN:
      case EMR_PAINTRGN: {
        const size_t regOff = type == EMR_FILLRGN ? 32 : 28;
        TkxEmfRegion reg;
        if (!r.Has(8, 20) || !DecodeRegion(r, regOff, r.U32(24), reg)) break;
        BrushObj brush = st_.brush;
        if (type == EMR_FILLRGN) {
          auto it = objects_.find(r.U32(28));
          if (it == objects_.end() || it->second.kind != GdiObject::Brush) break;
          brush = it->second.brush;
        }
        FillRegion(reg, brush);
        break;
      }
      default: break;
    }
  }

  TkxBitmap& bmp_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  cairo_matrix_t base_;
  DcState st_;
  std::vector<DcState> saved_;
  std::map<uint32_t, GdiObject> objects_;
  bool inPath_ = false;
  std::vector<PathOp> pathOps_, drawOps_;
};

}  // namespace

void PlayMetafile(const TkxMetafile& src, TkxBitmap& bitmap, const TkxRectF& dest) {
  if (src.Empty() || bitmap.Empty()) return;
  if (!(std::abs(dest.Width) > 0) || !(std::abs(dest.Height) > 0) || !std::isfinite(dest.X) || !std::isfinite(dest.Y) ||
      !std::isfinite(dest.Width) || !std::isfinite(dest.Height))
    return;
  BitmapPlayer player(src, bitmap, dest);
  player.Run(src);
}

}  // namespace pw
