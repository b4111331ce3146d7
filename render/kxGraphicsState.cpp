#include "render/kxGraphicsState.h"

#include <algorithm>
#include <cmath>

#include "pdf/kxCstPDFDoc.h"
#include "render/kxPDFFunction.h"

namespace pw {

uint8_t ColorByte(double v) {
  if (!(v > 0)) return 0;  // also NaN
  if (v >= 1) return 255;
  return static_cast<uint8_t>(std::nearbyint(v * 255.0));  // default rounding: halves to even
}

uint32_t CmykToRgb(double c, double m, double y, double k) {
  const int C = ColorByte(c), M = ColorByte(m), Y = ColorByte(y), K = ColorByte(k);
  const uint32_t r = static_cast<uint32_t>(255 - std::min(255, C + K));
  const uint32_t g = static_cast<uint32_t>(255 - std::min(255, M + K));
  const uint32_t b = static_cast<uint32_t>(255 - std::min(255, Y + K));
  return (r << 16) | (g << 8) | b;
}

namespace {

constexpr int kMaxColorSpaceDepth = 8;

uint32_t GrayRgb(double v) {
  const uint32_t b = ColorByte(v);
  return (b << 16) | (b << 8) | b;
}

int DeviceComponents(TkxColorSpaceKind kind) { return kind == csDeviceGray ? 1 : kind == csDeviceCMYK ? 4 : 3; }

uint32_t LabToRGB(const std::array<double, 3>& white, double L, double a, double b) {
  auto f = [](double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); };
  const double l = (L + 16) / 116;
  const double X = white[0] * f(l + a / 500), Y = white[1] * f(l), Z = white[2] * f(l - b / 200);
  const double r = 3.2406 * X - 1.5372 * Y - 0.4986 * Z;
  const double g = -0.9689 * X + 1.8758 * Y + 0.0415 * Z;
  const double bl = 0.0557 * X - 0.2040 * Y + 1.0570 * Z;
  auto gamma = [](double v) {
    v = std::clamp(v, 0.0, 1.0);
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
  };
  return (uint32_t(ColorByte(gamma(r))) << 16) | (uint32_t(ColorByte(gamma(g))) << 8) | ColorByte(gamma(bl));
}

}  // namespace

TkxColorSpace TkxColorSpace::Device(TkxColorSpaceKind kind) {
  TkxColorSpace cs;
  cs.Kind = kind;
  cs.Components = kind == csPattern ? 0 : DeviceComponents(kind);
  return cs;
}

std::vector<double> TkxColorSpace::InitialColor() const {
  switch (Kind) {
    case csDeviceCMYK: return {0, 0, 0, 1};
    case csDeviceRGB: return {0, 0, 0};
    case csSeparation:
    case csDeviceN: return std::vector<double>(static_cast<size_t>(std::max(Components, 1)), 1.0);
    case csLab: return {0, 0, 0};
    default: return std::vector<double>(static_cast<size_t>(std::max(Components, 1)), 0.0);
  }
}

bool TkxColorSpace::ToRGB(const double* c, size_t n, uint32_t& rgb) const {
  switch (Kind) {
    case csDeviceGray:
      if (n < 1) return false;
      rgb = GrayRgb(c[0]);
      return true;
    case csDeviceRGB:
      if (n < 3) return false;
      rgb = (uint32_t(ColorByte(c[0])) << 16) | (uint32_t(ColorByte(c[1])) << 8) | ColorByte(c[2]);
      return true;
    case csDeviceCMYK:
      if (n < 4) return false;
      rgb = CmykToRgb(c[0], c[1], c[2], c[3]);
      return true;
    case csSeparation:
    case csDeviceN: {
      if (n < static_cast<size_t>(std::max(Components, 1))) return false;
      if (Function && Alternate) {
        std::vector<double> out = Function->Evaluate(std::vector<double>(c, c + Components));
        if (static_cast<int>(out.size()) >= Alternate->Components && Alternate->ToRGB(out, rgb)) return true;
      }
      // Without a usable tint transform a tint reads as an amount of ink:
      // full tint is black, no tint is white.
      double t = 0;
      for (size_t i = 0; i < n; ++i) t = std::max(t, c[i]);
      rgb = GrayRgb(1.0 - t);
      return true;
    }
    case csIndexed: {
      if (n < 1 || !Palette || !std::isfinite(c[0])) return false;
      const size_t i = static_cast<size_t>(std::lround(std::clamp(c[0], 0.0, static_cast<double>(HiVal))));
      if (i >= Palette->size()) return false;
      rgb = (*Palette)[i];
      return true;
    }
    case csLab:
      if (n < 3) return false;
      rgb = LabToRGB(White, c[0], c[1], c[2]);
      return true;
    default: return false;
  }
}

std::vector<double> TkxColorSpace::DefaultDecode(int bpc) const {
  if (Kind == csIndexed) return {0, std::ldexp(1.0, bpc) - 1};
  if (Kind == csLab) return {0, 100, Range[0], Range[1], Range[2], Range[3]};
  std::vector<double> d;
  for (int i = 0; i < Components; ++i) d.push_back(0), d.push_back(1);
  return d;
}

namespace {

std::vector<double> NumberArray(TkxCustomPDFDocument& doc, TkxPDFObject* obj) {
  std::vector<double> out;
  if (const TkxPDFArrayObject* a = AsArray(doc.Resolve(obj)))
    for (int i = 0; i < a->Count() && i < 32; ++i) {
      const double v = NumberValue(doc.Resolve(a->Get(i)));
      out.push_back(std::isfinite(v) ? v : 0);
    }
  return out;
}

TkxColorSpaceKind DeviceKindFromName(const std::string& n, bool& ok) {
  ok = true;
  if (n == "DeviceGray" || n == "G" || n == "CalGray") return csDeviceGray;
  if (n == "DeviceRGB" || n == "RGB" || n == "CalRGB") return csDeviceRGB;
  if (n == "DeviceCMYK" || n == "CMYK" || n == "CalCMYK") return csDeviceCMYK;
  if (n == "Pattern") return csPattern;
  ok = false;
  return csUnsupported;
}

// Gray, RGB or CMYK by component count.
TkxColorSpaceKind DeviceKindForCount(int64_t n) { return n == 1 ? csDeviceGray : n == 4 ? csDeviceCMYK : csDeviceRGB; }

TkxColorSpace Unsupported() {
  TkxColorSpace cs;
  cs.Kind = csUnsupported;
  cs.Components = 0;
  return cs;
}

TkxColorSpace ResolveNamed(TkxCustomPDFDocument& doc, const TkxPDFDictObject* resources, const std::string& name,
                           int depth) {
  bool ok = false;
  const TkxColorSpaceKind k = DeviceKindFromName(name, ok);
  // Device names are never looked up: they always mean the device space.
  if (ok && name.rfind("Device", 0) == 0) return TkxColorSpace::Device(k);
  if (resources) {
    if (const TkxPDFDictObject* spaces = AsDict(doc.Resolve(resources->Lookup("/ColorSpace")))) {
      // Named spaces inside a named space's definition are never looked up
      // again: that is how a space could name itself.
      if (TkxPDFObject* entry = spaces->Lookup("/" + name))
        return ResolveColorSpaceObject(doc, entry, depth + 1, nullptr);
    }
  }
  return ok ? TkxColorSpace::Device(k) : Unsupported();
}

}  // namespace

TkxColorSpace ResolveColorSpaceObject(TkxCustomPDFDocument& doc, TkxPDFObject* obj, int depth,
                                      const TkxPDFDictObject* resources) {
  if (depth > kMaxColorSpaceDepth) return Unsupported();
  obj = doc.Resolve(obj);
  if (const TkxPDFNameObject* nm = AsName(obj)) return ResolveNamed(doc, resources, nm->GetName(), depth);
  const TkxPDFArrayObject* a = AsArray(obj);
  if (!a || a->Count() < 1) return Unsupported();
  const std::string family = NameValue(doc.Resolve(a->Get(0)));
  if (family == "Pattern") {
    // [/Pattern base]: uncoloured patterns paint a colour of the base space.
    TkxColorSpace cs = TkxColorSpace::Device(csPattern);
    if (a->Count() >= 2) {
      TkxColorSpace base = ResolveColorSpaceObject(doc, a->Get(1), depth + 1, resources);
      if (base.Kind != csUnsupported && base.Kind != csPattern && base.Components > 0)
        cs.Alternate = std::make_shared<const TkxColorSpace>(std::move(base));
    }
    return cs;
  }
  bool ok = false;
  const TkxColorSpaceKind k = DeviceKindFromName(family, ok);
  if (ok) return TkxColorSpace::Device(k);

  if (family == "ICCBased") {
    const TkxPDFStreamObject* s = AsStream(doc.Resolve(a->Get(1)));
    if (!s) return TkxColorSpace::Device(csDeviceRGB);
    if (TkxPDFObject* alt = s->Dict->Lookup("/Alternate")) {
      TkxColorSpace cs = ResolveColorSpaceObject(doc, alt, depth + 1, resources);
      if (cs.Kind == csDeviceGray || cs.Kind == csDeviceRGB || cs.Kind == csDeviceCMYK || cs.Kind == csLab) return cs;
    }
    return TkxColorSpace::Device(DeviceKindForCount(IntValue(doc.Resolve(s->Dict->Lookup("/N")), 3)));
  }
  if (family == "Lab") {
    TkxColorSpace cs;
    cs.Kind = csLab;
    cs.Components = 3;
    if (const TkxPDFDictObject* d = AsDict(doc.Resolve(a->Get(1)))) {
      const std::vector<double> wp = NumberArray(doc, d->Lookup("/WhitePoint"));
      if (wp.size() >= 3 && wp[1] > 0) std::copy(wp.begin(), wp.begin() + 3, cs.White.begin());
      const std::vector<double> range = NumberArray(doc, d->Lookup("/Range"));
      if (range.size() >= 4) std::copy(range.begin(), range.begin() + 4, cs.Range.begin());
    }
    return cs;
  }
  if (family == "Separation" || family == "DeviceN") {
    TkxColorSpace cs;
    cs.Kind = family == "Separation" ? csSeparation : csDeviceN;
    cs.Components = 1;
    if (cs.Kind == csDeviceN) {
      const TkxPDFArrayObject* names = AsArray(doc.Resolve(a->Get(1)));
      cs.Components = names ? std::clamp(names->Count(), 1, 32) : 1;
    } else {
      cs.NoneColorant = NameValue(doc.Resolve(a->Get(1))) == "None";
    }
    TkxColorSpace alt = ResolveColorSpaceObject(doc, a->Get(2), depth + 1, resources);
    if (alt.Kind != csUnsupported && alt.Kind != csPattern && alt.Components > 0) {
      cs.Alternate = std::make_shared<const TkxColorSpace>(std::move(alt));
      cs.Function = TkxPDFFunction::Load(doc, a->Get(3));
    }
    return cs;
  }
  if (family == "Indexed" || family == "I") {
    if (a->Count() < 4) return Unsupported();
    const TkxColorSpace base = ResolveColorSpaceObject(doc, a->Get(1), depth + 1, resources);
    if (base.Kind == csUnsupported || base.Kind == csPattern || base.Kind == csIndexed || base.Components <= 0)
      return Unsupported();
    TkxColorSpace cs;
    cs.Kind = csIndexed;
    cs.Components = 1;
    cs.HiVal = static_cast<int>(std::clamp<int64_t>(IntValue(doc.Resolve(a->Get(2))), 0, 255));
    std::vector<uint8_t> table;
    TkxPDFObject* lookup = doc.Resolve(a->Get(3));
    if (const TkxPDFStringObject* str = AsString(lookup)) {
      const std::string bytes = str->GetBytes();
      table.assign(bytes.begin(), bytes.end());
    } else if (const TkxPDFStreamObject* st = AsStream(lookup)) {
      try {
        table = doc.DecodeStream(*st);
      } catch (const Exception&) {
        return Unsupported();
      }
    } else {
      return Unsupported();
    }
    // Entries the table is too short for are black.
    const size_t n = static_cast<size_t>(base.Components);
    const std::vector<double> range = base.DefaultDecode(8);
    auto palette = std::make_shared<std::vector<uint32_t>>();
    std::vector<double> c(n);
    for (int i = 0; i <= cs.HiVal; ++i) {
      for (size_t k = 0; k < n; ++k) {
        const size_t at = static_cast<size_t>(i) * n + k;
        const double v = at < table.size() ? table[at] / 255.0 : 0;
        c[k] = range[2 * k] + v * (range[2 * k + 1] - range[2 * k]);
      }
      uint32_t rgb = 0;
      base.ToRGB(c, rgb);
      palette->push_back(rgb);
    }
    cs.Palette = std::move(palette);
    return cs;
  }
  return Unsupported();
}

TkxColorSpace ResolveColorSpace(TkxCustomPDFDocument& doc, const TkxPDFDictObject* resources, const std::string& name) {
  return ResolveNamed(doc, resources, name, 0);
}

TkxPenLineCap PenCapFor(int cap) { return cap == 1 ? lcRound : cap == 2 ? lcSquare : lcFlat; }
TkxPenLineJoin PenJoinFor(int join) { return join == 1 ? ljRound : join == 2 ? ljBevel : ljMiter; }

uint32_t TkxGraphicalState::ArgbWith(uint32_t rgb, double alpha) {
  return (static_cast<uint32_t>(ColorByte(alpha)) << 24) | (rgb & 0xFFFFFFu);
}

TkxPen TkxGraphicalState::MakePen() const {
  TkxPen pen(StrokeARGB(), LineWidth);
  const TkxPenLineCap cap = PenCapFor(LineCap);
  pen.SetLineCap(cap, cap, cap);
  pen.SetLineJoin(PenJoinFor(LineJoin));
  pen.SetMiterLimit(MiterLimit);
  if (!DashArray.empty()) {
    // The pen measures dashes in line widths; a thin line measures them in
    // user units as they are.
    const double unit = LineWidth > 0 ? LineWidth : 1.0;
    std::vector<double> pattern;
    double total = 0;
    for (double v : DashArray) {
      const double len = (v > 0 ? v : 0.25) / unit;  // zero-length dashes become dots
      pattern.push_back(len);
      total += v > 0 ? v : 0;
    }
    if (total > 0 && pattern.size() <= 64 && pen.SetDashPattern(pattern)) pen.SetDashOffset(DashPhase / unit);
  }
  return pen;
}

}  // namespace pw
