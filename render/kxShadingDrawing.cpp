#include "render/kxShadingDrawing.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "pdf/kxCstPDFDoc.h"
#include "pdf/kxPDFObjects.h"
#include "platform/kxBitmap.h"
#include "render/kxGraphicsState.h"

namespace pw {

namespace {

constexpr int kMaxFunctionDepth = 8;
constexpr int kMaxSamples = 1 << 16;
// What a whole tree of functions may hold, in sample values; one function
// counts as kFunctionCost of them besides its samples.
constexpr size_t kMaxTreeSamples = size_t(4) << 20;
constexpr size_t kFunctionCost = 1024;
constexpr int kGradientStops = 64;
// The picture is drawn at this many pixels per canvas pixel, within a
// bounded number of pixels.
constexpr double kOversample = 2;
constexpr double kMaxPicturePixels = 8e6;

TkxPDFObject* R(TkxCustomPDFDocument& doc, const TkxPDFObject* o) {
  return doc.Resolve(const_cast<TkxPDFObject*>(o));
}

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
  size_t budget = kMaxTreeSamples;
  return LoadWithin(doc, obj, 0, budget);
}

bool TkxShadingFunction::LoadWithin(TkxCustomPDFDocument& doc, const TkxPDFObject* obj, int depth, size_t& budget) {
  if (depth > kMaxFunctionDepth || budget < kFunctionCost) return false;
  budget -= kFunctionCost;
  TkxPDFObject* resolved = R(doc, obj);
  if (const TkxPDFArrayObject* a = AsArray(resolved)) {
    for (int i = 0; i < a->Count() && i < 32; ++i) {
      TkxShadingFunction f;
      if (!f.LoadWithin(doc, a->Get(i), depth + 1, budget)) return false;
      perOutput_.push_back(std::move(f));
    }
    if (perOutput_.empty()) return false;
    domain0_ = perOutput_[0].domain0_;
    domain1_ = perOutput_[0].domain1_;
    type_ = 100;
    return true;
  }
  const TkxPDFDictObject* d = DictOf(doc, resolved);
  if (!d) return false;
  const std::vector<double> domain = Numbers(doc, d->Lookup("/Domain"));
  if (domain.size() >= 2) domain0_ = domain[0], domain1_ = domain[1];
  type_ = static_cast<int>(IntValue(R(doc, d->Lookup("/FunctionType")), -1));
  switch (type_) {
    case 2: {
      c0_ = Numbers(doc, d->Lookup("/C0"));
      c1_ = Numbers(doc, d->Lookup("/C1"));
      if (c0_.empty()) c0_ = {0.0};
      if (c1_.empty()) c1_ = {1.0};
      n_ = NumberValue(R(doc, d->Lookup("/N")), 1.0);
      return c0_.size() == c1_.size() && std::isfinite(n_);
    }
    case 3: {
      const TkxPDFArrayObject* fns = AsArray(R(doc, d->Lookup("/Functions")));
      if (!fns || fns->Count() == 0 || fns->Count() > 256) return false;
      for (int i = 0; i < fns->Count(); ++i) {
        TkxShadingFunction f;
        if (!f.LoadWithin(doc, fns->Get(i), depth + 1, budget)) return false;
        parts_.push_back(std::move(f));
      }
      bounds_ = Numbers(doc, d->Lookup("/Bounds"), 256);
      encode_ = Numbers(doc, d->Lookup("/Encode"), 512);
      return bounds_.size() + 1 == parts_.size() && encode_.size() == 2 * parts_.size();
    }
    case 0: {
      const TkxPDFStreamObject* s = AsStream(resolved);
      if (!s) return false;
      const std::vector<double> size = Numbers(doc, d->Lookup("/Size"));
      const std::vector<double> range = Numbers(doc, d->Lookup("/Range"));
      const int bps = static_cast<int>(IntValue(R(doc, d->Lookup("/BitsPerSample")), 0));
      if (size.empty() || !(size[0] >= 1 && size[0] <= kMaxSamples) || range.size() < 2 ||
          (bps != 1 && bps != 2 && bps != 4 && bps != 8 && bps != 12 && bps != 16 && bps != 24 && bps != 32))
        return false;
      size_ = static_cast<int>(size[0]);
      outputs_ = static_cast<int>(range.size() / 2);
      const std::vector<double> encode = Numbers(doc, d->Lookup("/Encode"));
      encode0_ = encode.size() >= 2 ? encode[0] : 0;
      encode1_ = encode.size() >= 2 ? encode[1] : size_ - 1;
      decode_ = Numbers(doc, d->Lookup("/Decode"));
      if (decode_.size() < range.size()) decode_ = range;
      if (size_t(size_) * outputs_ > budget) return false;
      budget -= size_t(size_) * outputs_;
      const std::vector<uint8_t> data = doc.DecodeStream(*s);
      const uint64_t bits = uint64_t(size_) * outputs_ * bps;
      if (data.size() * 8 < bits) return false;
      const double maxValue = std::ldexp(1.0, bps) - 1;
      samples_.resize(static_cast<size_t>(size_) * outputs_);
      uint64_t at = 0;
      for (double& v : samples_) {
        uint64_t raw = 0;
        for (int b = 0; b < bps; ++b, ++at) raw = raw << 1 | ((data[at >> 3] >> (7 - (at & 7))) & 1);
        v = static_cast<double>(raw) / maxValue;
      }
      return true;
    }
    default: return false;
  }
}

std::vector<double> TkxShadingFunction::Evaluate(double t) const {
  if (!std::isfinite(t)) t = domain0_;
  t = std::clamp(t, std::min(domain0_, domain1_), std::max(domain0_, domain1_));
  switch (type_) {
    case 100: {
      std::vector<double> out;
      for (const TkxShadingFunction& f : perOutput_) {
        const std::vector<double> v = f.Evaluate(t);
        out.push_back(v.empty() ? 0 : v[0]);
      }
      return out;
    }
    case 2: {
      const double k = std::pow(t, n_);
      std::vector<double> out(c0_.size());
      for (size_t i = 0; i < out.size(); ++i) out[i] = c0_[i] + (std::isfinite(k) ? k : 0) * (c1_[i] - c0_[i]);
      return out;
    }
    case 3: {
      size_t k = 0;
      while (k < bounds_.size() && t >= bounds_[k]) ++k;
      const double lo = k == 0 ? domain0_ : bounds_[k - 1];
      const double hi = k == bounds_.size() ? domain1_ : bounds_[k];
      const double e0 = encode_[2 * k], e1 = encode_[2 * k + 1];
      const double u = hi > lo ? e0 + (t - lo) * (e1 - e0) / (hi - lo) : e0;
      return parts_[k].Evaluate(u);
    }
    case 0: {
      const double span = domain1_ - domain0_;
      double e = span != 0 ? encode0_ + (t - domain0_) * (encode1_ - encode0_) / span : encode0_;
      e = std::clamp(e, 0.0, static_cast<double>(size_ - 1));
      const int i0 = static_cast<int>(std::floor(e));
      const int i1 = std::min(i0 + 1, size_ - 1);
      const double f = e - i0;
      std::vector<double> out(outputs_);
      for (int j = 0; j < outputs_; ++j) {
        const double s = samples_[size_t(i0) * outputs_ + j] * (1 - f) + samples_[size_t(i1) * outputs_ + j] * f;
        out[j] = decode_[2 * j] + s * (decode_[2 * j + 1] - decode_[2 * j]);
      }
      return out;
    }
    default: return {};
  }
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
  const bool extend = !extendValues.empty() && (extendValues[0] != 0 || (extendValues.size() > 1 && extendValues[1] != 0));

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
  if (g.ClipBounds(clip)) area = Intersect(area, {double(clip.left), double(clip.top), double(clip.right), double(clip.bottom)});
  const std::vector<double> bbox = Numbers(doc, d->Lookup("/BBox"));
  if (bbox.size() >= 4) {
    Box b{1e300, 1e300, -1e300, -1e300};
    for (const auto& [x, y] : {std::pair{bbox[0], bbox[1]}, {bbox[2], bbox[1]}, {bbox[2], bbox[3]}, {bbox[0], bbox[3]}}) {
      const TkxPointF p = toDevice.Transform({x, y});
      b = {std::min(b.L, p.X), std::min(b.T, p.Y), std::max(b.R, p.X), std::max(b.B, p.Y)};
    }
    area = Intersect(area, b);
  }
  area = {std::floor(area.L), std::floor(area.T), std::ceil(area.R), std::ceil(area.B)};
  if (area.Empty() || !std::isfinite(toDevice.M11 + toDevice.M12 + toDevice.M21 + toDevice.M22 + toDevice.DX + toDevice.DY))
    return false;
  double k = kOversample;
  while (k > 0.25 && (area.R - area.L) * (area.B - area.T) * k * k > kMaxPicturePixels) k /= 2;
  const int w = std::max(1, static_cast<int>(std::lround((area.R - area.L) * k)));
  const int h = std::max(1, static_cast<int>(std::lround((area.B - area.T) * k)));
  if (w > kMaxBitmapDimension || h > kMaxBitmapDimension) return false;

  TkxBitmap picture(w, h, true);
  {
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(picture.Bits(), CAIRO_FORMAT_ARGB32, w, h, picture.Stride());
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, k, k);
    cairo_translate(cr, -area.L, -area.T);
    cairo_matrix_t m;
    cairo_matrix_init(&m, toDevice.M11, toDevice.M12, toDevice.M21, toDevice.M22, toDevice.DX, toDevice.DY);
    cairo_pattern_t* pattern = nullptr;
    if (type == 1) {
      uint32_t rgb = 0;
      if (rgbAt((t0 + t1) / 2, rgb))
        pattern = cairo_pattern_create_rgb(((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
    } else {
      if (std::fabs(toDevice.Determinant()) > 1e-12) cairo_transform(cr, &m);
      pattern = type == 2 ? cairo_pattern_create_linear(coords[0], coords[1], coords[2], coords[3])
                          : cairo_pattern_create_radial(coords[0], coords[1], std::max(0.0, coords[2]), coords[3],
                                                        coords[4], std::max(0.0, coords[5]));
      for (int i = 0; i <= kGradientStops; ++i) {
        const double f = static_cast<double>(i) / kGradientStops;
        uint32_t rgb = 0;
        if (!rgbAt(t0 + f * (t1 - t0), rgb)) continue;
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
  picture.SetHasAlpha(false);

  // Drawn in device pixels: world space scaled to them alone.
  const TkxGraphicsState saved = g.Save();
  g.ResetTransform();
  if (unit.M11 > 0 && unit.M22 > 0) {
    g.DrawImage(picture,
                {area.L / unit.M11, area.T / unit.M22, (area.R - area.L) / unit.M11, (area.B - area.T) / unit.M22},
                {0, 0, static_cast<double>(w), static_cast<double>(h)});
  }
  g.Restore(saved);
  return true;
}

bool TilingPatternColor(TkxCustomPDFDocument& doc, const TkxPDFStreamObject& pattern, uint32_t& rgb) {
  const std::vector<uint8_t> bytes = doc.DecodeStream(pattern);
  // Numbers before "rg", "g" and "k" (fill colours), averaged.
  double sum[3] = {0, 0, 0};
  int count = 0;
  // Rectangles the cell paints: how much of the cell its colour covers.
  double rectArea = 0;
  int rects = 0;
  std::vector<double> operands;
  size_t i = 0;
  const size_t n = std::min<size_t>(bytes.size(), 1 << 20);
  while (i < n) {
    const char c = static_cast<char>(bytes[i]);
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < n && !std::isspace(bytes[j]) && bytes[j] != '/' && bytes[j] != '[' && bytes[j] != '(') ++j;
    if (j == i) j = i + 1;
    const std::string token(bytes.begin() + i, bytes.begin() + j);
    i = j;
    char* end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (end && *end == 0 && !token.empty()) {
      operands.push_back(v);
      continue;
    }
    double r = -1, gr = 0, b = 0;
    if (token == "re" && operands.size() >= 4) {
      rectArea += std::fabs(operands[operands.size() - 2] * operands.back());
      ++rects;
    } else if (token == "rg" && operands.size() >= 3) {
      r = operands[operands.size() - 3], gr = operands[operands.size() - 2], b = operands.back();
    } else if (token == "g" && !operands.empty()) {
      r = gr = b = operands.back();
    } else if (token == "k" && operands.size() >= 4) {
      const double kk = operands.back();
      r = (1 - operands[operands.size() - 4]) * (1 - kk);
      gr = (1 - operands[operands.size() - 3]) * (1 - kk);
      b = (1 - operands[operands.size() - 2]) * (1 - kk);
    }
    if (r >= 0) {
      sum[0] += std::clamp(r, 0.0, 1.0), sum[1] += std::clamp(gr, 0.0, 1.0), sum[2] += std::clamp(b, 0.0, 1.0);
      ++count;
    }
    operands.clear();
  }
  if (count == 0) return false;
  // Where the cell's rectangles cover part of it, the paper shows through
  // the rest.
  double cover = 1;
  const TkxPDFDictObject* dict = pattern.Dict.get();
  const double xStep = dict ? std::fabs(NumberValue(R(doc, dict->Lookup("/XStep")), 0)) : 0;
  const double yStep = dict ? std::fabs(NumberValue(R(doc, dict->Lookup("/YStep")), 0)) : 0;
  if (rects > 0 && xStep > 0 && yStep > 0 && std::isfinite(rectArea)) cover = std::min(1.0, rectArea / (xStep * yStep));
  auto byte = [&](double s) {
    return static_cast<uint32_t>(std::lround((s / count * cover + (1 - cover)) * 255));
  };
  rgb = byte(sum[0]) << 16 | byte(sum[1]) << 8 | byte(sum[2]);
  return true;
}

}  // namespace pw
