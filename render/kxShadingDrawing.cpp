#include "render/kxShadingDrawing.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "pdf/kxCstPDFDoc.h"
#include "pdf/kxPDFObjects.h"
#include "platform/kxBitmap.h"
#include "render/kxContentLexer.h"
#include "render/kxGraphicsState.h"

namespace pw {

namespace {

// What a shading's tree of functions may hold, in sample entries.
constexpr size_t kMaxTreeSamples = size_t(4) << 20;
constexpr int kGradientStops = 64;
// The picture is drawn at this many pixels per canvas pixel, within a
// bounded number of pixels: a gradient is smooth, and the reader draws its
// picture smoothed, so finer pixels would only cost time and bytes.
constexpr double kOversample = 1;
constexpr double kMaxPicturePixels = 8e6;

TkxPDFObject* R(TkxCustomPDFDocument& doc, const TkxPDFObject* o) { return doc.Resolve(const_cast<TkxPDFObject*>(o)); }

const TkxPDFDictObject* DictOf(TkxCustomPDFDocument& doc, const TkxPDFObject* o) {
  TkxPDFObject* r = R(doc, o);
  if (const TkxPDFDictObject* d = AsDict(r)) return d;
  if (const TkxPDFStreamObject* s = AsStream(r)) return s->Dict.get();
  return nullptr;
}

std::vector<double> Numbers(TkxCustomPDFDocument& doc, const TkxPDFObject* o, size_t limit = 64) {
  std::vector<double> out;
  const TkxPDFArrayObject* a = AsArray(R(doc, o));
  if (!a) return out;
  for (int i = 0; i < a->Count() && out.size() < limit; ++i) {
    const double v = NumberValue(R(doc, a->Get(i)), std::nan(""));
    if (!std::isfinite(v)) return {};
    out.push_back(v);
  }
  return out;
}

// Device-pixel rectangle as doubles.
struct Box {
  double L = 0, T = 0, R = 0, B = 0;
  bool Empty() const { return !(R > L) || !(B > T); }
};

Box Intersect(const Box& a, const Box& b) {
  return {std::max(a.L, b.L), std::max(a.T, b.T), std::min(a.R, b.R), std::min(a.B, b.B)};
}

}  // namespace

// ---- Functions ------------------------------------------------------------------------

bool TkxShadingFunction::Load(TkxCustomPDFDocument& doc, const TkxPDFObject* obj) {
  functions_.clear();
  TkxPDFObject* resolved = R(doc, obj);
  if (const TkxPDFArrayObject* a = AsArray(resolved)) {
    // One tree budget shared by the functions of the array.
    const int count = std::min(a->Count(), 32);
    for (int i = 0; i < count; ++i) {
      auto f = TkxPDFFunction::Load(doc, a->Get(i), 0, kMaxTreeSamples / size_t(count));
      if (!f) return false;
      functions_.push_back(std::move(f));
    }
    perOutput_ = true;
  } else {
    auto f = TkxPDFFunction::Load(doc, resolved, 0, kMaxTreeSamples);
    if (!f) return false;
    functions_.push_back(std::move(f));
    perOutput_ = false;
  }
  if (functions_.empty()) return false;
  domain0_ = functions_[0]->Domain[0];
  domain1_ = functions_[0]->Domain[1];
  return true;
}

std::vector<double> TkxShadingFunction::Evaluate(double t) const {
  if (!std::isfinite(t)) t = domain0_;
  t = std::clamp(t, std::min(domain0_, domain1_), std::max(domain0_, domain1_));
  if (!perOutput_) return functions_.empty() ? std::vector<double>{} : functions_[0]->Evaluate({t});
  std::vector<double> out;
  for (const auto& f : functions_) {
    const std::vector<double> v = f->Evaluate({t});
    out.push_back(v.empty() ? 0 : v[0]);
  }
  return out;
}

bool TkxShadingFunction::Knots(std::vector<double>& knots) const {
  knots.clear();
  for (const auto& f : functions_)
    if (!f || !f->PiecewiseLinear(knots)) return false;
  knots.push_back(domain0_);
  knots.push_back(domain1_);
  for (double k : knots)
    if (!std::isfinite(k)) return false;
  std::sort(knots.begin(), knots.end());
  knots.erase(std::unique(knots.begin(), knots.end()), knots.end());
  return true;
}

// ---- Shadings ------------------------------------------------------------------------

bool PaintShading(TkxCustomPDFDocument& doc, const TkxPDFObject* shading, TkxGraphics& g,
                  const TkxMatrix& shadingToWorld) {
  const TkxPDFDictObject* d = DictOf(doc, shading);
  if (!d) return false;
  const int type = static_cast<int>(IntValue(R(doc, d->Lookup("/ShadingType")), 0));
  if (type < 1 || type > 3) return false;  // meshes are not painted
  const TkxColorSpace cs = ResolveColorSpaceObject(doc, d->Lookup("/ColorSpace"));
  TkxShadingFunction fn;
  if (!fn.Load(doc, d->Lookup("/Function"))) return false;
  std::vector<double> coords = Numbers(doc, d->Lookup("/Coords"));
  if ((type == 2 && coords.size() < 4) || (type == 3 && coords.size() < 6)) return false;
  double t0 = fn.Domain0(), t1 = fn.Domain1();
  if (type != 1) {
    const std::vector<double> domain = Numbers(doc, d->Lookup("/Domain"));
    if (domain.size() >= 2) t0 = domain[0], t1 = domain[1];
  }
  const std::vector<double> extendValues = [&] {
    std::vector<double> e;
    if (const TkxPDFArrayObject* a = AsArray(R(doc, d->Lookup("/Extend"))))
      for (int i = 0; i < a->Count() && i < 2; ++i) {
        const TkxPDFObject* v = R(doc, a->Get(i));
        e.push_back(IsBoolean(v) && static_cast<const TkxPDFBooleanObject*>(v)->Value ? 1 : 0);
      }
    return e;
  }();
  const bool extend =
      !extendValues.empty() && (extendValues[0] != 0 || (extendValues.size() > 1 && extendValues[1] != 0));

  auto rgbAt = [&](double t, uint32_t& rgb) {
    const std::vector<double> c = fn.Evaluate(t);
    return cs.ToRGB(c, rgb);
  };

  // The area: the page within the clip, within the shading's box.
  // World space to device pixels: the page unit's scale alone (the world
  // transform in force is already part of shadingToWorld).
  const TkxMatrix world = g.Transform();
  g.ResetTransform();
  const TkxMatrix unit = g.DeviceTransform();
  g.SetTransform(world);
  const TkxMatrix toDevice = TkxMatrix::Product(shadingToWorld, unit);
  const TkxEmfRecorder& canvas = g.Canvas();
  Box area{0, 0, static_cast<double>(canvas.Width()), static_cast<double>(canvas.Height())};
  TkxEmfRectL clip;
  if (g.ClipBounds(clip))
    area = Intersect(area, {double(clip.left), double(clip.top), double(clip.right), double(clip.bottom)});
  const std::vector<double> bbox = Numbers(doc, d->Lookup("/BBox"));
  if (bbox.size() >= 4) {
    Box b{1e300, 1e300, -1e300, -1e300};
    for (const auto& [x, y] :
         {std::pair{bbox[0], bbox[1]}, {bbox[2], bbox[1]}, {bbox[2], bbox[3]}, {bbox[0], bbox[3]}}) {
      const TkxPointF p = toDevice.Transform({x, y});
      b = {std::min(b.L, p.X), std::min(b.T, p.Y), std::max(b.R, p.X), std::max(b.B, p.Y)};
    }
    area = Intersect(area, b);
  }
  area = {std::floor(area.L), std::floor(area.T), std::ceil(area.R), std::ceil(area.B)};
  if (area.Empty() ||
      !std::isfinite(toDevice.M11 + toDevice.M12 + toDevice.M21 + toDevice.M22 + toDevice.DX + toDevice.DY))
    return false;
  double k = kOversample;
  while (k > 0.25 && (area.R - area.L) * (area.B - area.T) * k * k > kMaxPicturePixels) k /= 2;
  const int w = std::max(1, static_cast<int>(std::lround((area.R - area.L) * k)));
  const int h = std::max(1, static_cast<int>(std::lround((area.B - area.T) * k)));
  if (w > kMaxBitmapDimension || h > kMaxBitmapDimension) return false;

  TkxBitmap picture(w, h, true);
  bool shaped = false;  // cut to a clip that is no rectangle
  {
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(picture.Bits(), CAIRO_FORMAT_ARGB32, w, h, picture.Stride());
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, k, k);
    cairo_translate(cr, -area.L, -area.T);
    // A clip of another shape than a rectangle (the outline of a shape
    // filled with a gradient) cuts the picture itself: outside it the
    // picture is left transparent and comes out as the paper, where readers
    // would show the gradient's whole bounding box.
    for (const TkxEmfClipStepPtr& step : g.Clip()) {
      if (!step) continue;
      if (step->IsRect) {
        cairo_rectangle(cr, step->Rect.left, step->Rect.top, double(step->Rect.right) - step->Rect.left,
                        double(step->Rect.bottom) - step->Rect.top);
      } else {
        const TkxEmfPath& path = step->Path;
        const size_t n = std::min(path.Points.size(), path.Types.size());
        for (size_t i = 0; i < n; ++i) {
          const double x = path.Points[i].x, y = path.Points[i].y;
          const uint8_t type = path.Types[i] & 0x7F;
          if (type == 3 && i + 2 < n) {
            cairo_curve_to(cr, x, y, path.Points[i + 1].x, path.Points[i + 1].y, path.Points[i + 2].x,
                           path.Points[i + 2].y);
            i += 2;
          } else if (type == 0 || !cairo_has_current_point(cr)) {
            cairo_move_to(cr, x, y);
          } else {
            cairo_line_to(cr, x, y);
          }
          if (path.Types[i] & 0x80) cairo_close_path(cr);
        }
        shaped = true;
      }
      cairo_set_fill_rule(cr, step->FillMode == WINDING ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
      cairo_clip(cr);
    }
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_matrix_t m;
    cairo_matrix_init(&m, toDevice.M11, toDevice.M12, toDevice.M21, toDevice.M22, toDevice.DX, toDevice.DY);
    cairo_pattern_t* pattern = nullptr;
    if (type == 1) {
      uint32_t rgb = 0;
      if (rgbAt((t0 + t1) / 2, rgb))
        pattern =
            cairo_pattern_create_rgb(((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
    } else {
      if (std::fabs(toDevice.Determinant()) > 1e-12) cairo_transform(cr, &m);
      pattern = type == 2 ? cairo_pattern_create_linear(coords[0], coords[1], coords[2], coords[3])
                          : cairo_pattern_create_radial(coords[0], coords[1], std::max(0.0, coords[2]), coords[3],
                                                        coords[4], std::max(0.0, coords[5]));
      // A colour that runs straight between bends, in a space where colours
      // mix as their components do, is exact with a stop at every bend, and
      // few stops are cheap to draw; any other is sampled evenly.
      std::vector<double> knots;
      std::vector<std::pair<double, double>> stops;  // (offset, shading value)
      if ((cs.Kind == csDeviceGray || cs.Kind == csDeviceRGB) && t1 != t0 && fn.Knots(knots) &&
          knots.size() <= static_cast<size_t>(kGradientStops)) {
        // A bend may also be a step: a stop for each side of it.
        const double eps = (t1 > t0 ? 1e-9 : -1e-9) * std::max(1.0, std::fabs(t1 - t0));
        stops.push_back({0, t0});
        for (double k : knots) {
          const double f = (k - t0) / (t1 - t0);
          if (!(f > 0 && f < 1)) continue;
          stops.push_back({f, k - eps});
          stops.push_back({f, k + eps});
        }
        stops.push_back({1, t1});
        std::stable_sort(stops.begin(), stops.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      } else {
        for (int i = 0; i <= kGradientStops; ++i) {
          const double f = static_cast<double>(i) / kGradientStops;
          stops.push_back({f, t0 + f * (t1 - t0)});
        }
      }
      for (const auto& [f, t] : stops) {
        uint32_t rgb = 0;
        if (!rgbAt(t, rgb)) continue;
        cairo_pattern_add_color_stop_rgb(pattern, f, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                                         (rgb & 0xFF) / 255.0);
      }
      cairo_pattern_set_extend(pattern, extend ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
    }
    if (pattern && cairo_pattern_status(pattern) == CAIRO_STATUS_SUCCESS) {
      cairo_set_source(cr, pattern);
      cairo_paint(cr);
    }
    if (pattern) cairo_pattern_destroy(pattern);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
  }
  picture.SetHasAlpha(shaped);

  // Drawn in device pixels: world space scaled to them alone.
  const TkxGraphicsSaveToken saved = g.Save();
  g.ResetTransform();
  if (unit.M11 > 0 && unit.M22 > 0) {
    g.DrawImage(picture,
                {area.L / unit.M11, area.T / unit.M22, (area.R - area.L) / unit.M11, (area.B - area.T) / unit.M22},
                {0, 0, static_cast<double>(w), static_cast<double>(h)});
  }
  g.Restore(saved);
  return true;
}

namespace {

// What a tiling pattern's cell paints, read from its content: the area its
// fills and strokes cover (in pattern space, overlaps counted twice) and the
// fill colours it sets.
struct TkxCellPainting {
  double Area = 0;
  bool Painted = false;
  double Sum[3] = {0, 0, 0};
  int Colors = 0;
};

TkxCellPainting ReadCellPainting(const std::vector<uint8_t>& bytes) {
  TkxCellPainting cell;
  using Point = TkxPointF;
  struct State {
    TkxMatrix Ctm;
    double LineWidth = 1;
  };
  State st;
  std::vector<State> saved;
  std::vector<std::vector<Point>> path;
  Point current{0, 0};
  auto place = [&](double x, double y) { return st.Ctm.Transform({x, y}); };
  auto lineTo = [&](const Point& p) {
    if (path.empty()) path.push_back({current});
    path.back().push_back(p);
    current = p;
  };
  auto curveTo = [&](const Point& a, const Point& b, const Point& c) {
    const Point p0 = current;
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i) {
      const double t = double(i) / kSteps, u = 1 - t;
      const double k0 = u * u * u, k1 = 3 * u * u * t, k2 = 3 * u * t * t, k3 = t * t * t;
      lineTo({k0 * p0.X + k1 * a.X + k2 * b.X + k3 * c.X, k0 * p0.Y + k1 * a.Y + k2 * b.Y + k3 * c.Y});
    }
  };
  auto paint = [&](bool fill, bool stroke, bool close) {
    const double scale = std::sqrt(std::fabs(st.Ctm.Determinant()));
    for (const std::vector<Point>& f : path) {
      if (f.size() < 2) continue;
      if (fill) {
        double twice = 0;
        for (size_t i = 0; i < f.size(); ++i) {
          const Point& a = f[i];
          const Point& b = f[(i + 1) % f.size()];
          twice += a.X * b.Y - b.X * a.Y;
        }
        cell.Area += std::fabs(twice) / 2;
      }
      if (stroke) {
        double length = 0;
        const size_t edges = close ? f.size() : f.size() - 1;
        for (size_t i = 0; i < edges; ++i) {
          const Point& a = f[i];
          const Point& b = f[(i + 1) % f.size()];
          length += std::hypot(b.X - a.X, b.Y - a.Y);
        }
        cell.Area += length * std::max(st.LineWidth * scale, 0.0);
      }
      cell.Painted = true;
    }
    path.clear();
  };
  std::vector<double> operands;
  TkxOperandReader reader(bytes.data(), std::min<size_t>(bytes.size(), 1 << 20));
  TkxOperand operand;
  std::string token;
  bool isOperator = false;
  while (reader.Next(operand, token, isOperator)) {
    if (!isOperator) {
      if (operand.IsNumber()) {
        operands.push_back(operand.Number);
        continue;
      }
      token.clear();  // any other operand ends the run of numbers
    }
    const size_t n = operands.size();
    auto at = [&](size_t k) { return operands[n - k]; };  // k-th from the end
    double r = -1, gr = 0, b = 0;
    if (token == "m" && n >= 2) {
      current = place(at(2), at(1));
      path.push_back({current});
    } else if (token == "l" && n >= 2) {
      lineTo(place(at(2), at(1)));
    } else if (token == "c" && n >= 6) {
      curveTo(place(at(6), at(5)), place(at(4), at(3)), place(at(2), at(1)));
    } else if (token == "v" && n >= 4) {
      curveTo(current, place(at(4), at(3)), place(at(2), at(1)));
    } else if (token == "y" && n >= 4) {
      const Point end = place(at(2), at(1));
      curveTo(place(at(4), at(3)), end, end);
    } else if (token == "re" && n >= 4) {
      const double x = at(4), y = at(3), w = at(2), h = at(1);
      path.push_back({place(x, y), place(x + w, y), place(x + w, y + h), place(x, y + h)});
      current = place(x, y);
    } else if (token == "h") {
      if (!path.empty() && !path.back().empty()) current = path.back().front();
    } else if (token == "S") {
      paint(false, true, false);
    } else if (token == "s") {
      paint(false, true, true);
    } else if (token == "f" || token == "F" || token == "f*") {
      paint(true, false, true);
    } else if (token == "B" || token == "B*") {
      paint(true, true, false);
    } else if (token == "b" || token == "b*") {
      paint(true, true, true);
    } else if (token == "n") {
      path.clear();
    } else if (token == "w" && n >= 1) {
      st.LineWidth = std::fabs(at(1));
    } else if (token == "q") {
      if (saved.size() < 64) saved.push_back(st);
    } else if (token == "Q") {
      if (!saved.empty()) st = saved.back(), saved.pop_back();
    } else if (token == "cm" && n >= 6) {
      st.Ctm = TkxMatrix::Product(TkxMatrix(at(6), at(5), at(4), at(3), at(2), at(1)), st.Ctm);
    } else if (token == "rg" && n >= 3) {
      r = at(3), gr = at(2), b = at(1);
    } else if (token == "g" && n >= 1) {
      r = gr = b = at(1);
    } else if (token == "k" && n >= 4) {
      const double kk = at(1);
      r = (1 - at(4)) * (1 - kk);
      gr = (1 - at(3)) * (1 - kk);
      b = (1 - at(2)) * (1 - kk);
    }
    if (r >= 0) {
      cell.Sum[0] += std::clamp(r, 0.0, 1.0), cell.Sum[1] += std::clamp(gr, 0.0, 1.0);
      cell.Sum[2] += std::clamp(b, 0.0, 1.0);
      ++cell.Colors;
    }
    operands.clear();
  }
  return cell;
}

}  // namespace

bool TilingPatternColor(TkxCustomPDFDocument& doc, const TkxPDFStreamObject& pattern, uint32_t& rgb,
                        const uint32_t* stencilRGB) {
  const TkxCellPainting cell = ReadCellPainting(doc.DecodeStream(pattern));
  double color[3];
  if (stencilRGB) {
    for (int i = 0; i < 3; ++i) color[i] = ((*stencilRGB >> (16 - 8 * i)) & 0xFF) / 255.0;
  } else {
    if (cell.Colors == 0) return false;
    for (int i = 0; i < 3; ++i) color[i] = cell.Sum[i] / cell.Colors;
  }
  // Where what the cell paints covers part of it, the paper shows through
  // the rest: thin hatching or sparse dots are a light tint, not a solid.
  double cover = 1;
  const TkxPDFDictObject* dict = pattern.Dict.get();
  const double xStep = dict ? std::fabs(NumberValue(R(doc, dict->Lookup("/XStep")), 0)) : 0;
  const double yStep = dict ? std::fabs(NumberValue(R(doc, dict->Lookup("/YStep")), 0)) : 0;
  if (cell.Painted && xStep > 0 && yStep > 0 && std::isfinite(cell.Area))
    cover = std::clamp(cell.Area / (xStep * yStep), 0.0, 1.0);
  auto byte = [&](double c) { return static_cast<uint32_t>(std::lround((c * cover + (1 - cover)) * 255)); };
  rgb = byte(color[0]) << 16 | byte(color[1]) << 8 | byte(color[2]);
  return true;
}

}  // namespace pw
