#include "render/kxGraphicsState.h"

#include <algorithm>
#include <cmath>

#include "pdf/kxCstPDFDoc.h"

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

uint32_t GrayRgb(double v) {
  const uint32_t b = ColorByte(v);
  return (b << 16) | (b << 8) | b;
}

// Device colour of a device space from components; false when too few.
bool DeviceToRGB(TkxColorSpaceKind kind, const double* c, size_t n, uint32_t& rgb) {
  switch (kind) {
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
    default:
      return false;
  }
}

int DeviceComponents(TkxColorSpaceKind kind) {
  return kind == csDeviceGray ? 1 : kind == csDeviceCMYK ? 4 : 3;
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

bool TkxColorSpace::ToRGB(const std::vector<double>& comps, uint32_t& rgb) const {
  const size_t n = comps.size();
  switch (Kind) {
    case csDeviceGray:
    case csDeviceRGB:
    case csDeviceCMYK:
      return DeviceToRGB(Kind, comps.data(), n, rgb);
    case csSeparation:
    case csDeviceN: {
      if (n < static_cast<size_t>(std::max(Components, 1))) return false;
      if (HasFunction && Components == 1 && !C0.empty() && C0.size() == C1.size()) {
        const double t = std::clamp(comps[0], 0.0, 1.0);
        const double f = std::pow(t, Exponent);
        std::vector<double> alt(C0.size());
        for (size_t i = 0; i < C0.size(); ++i) alt[i] = C0[i] + f * (C1[i] - C0[i]);
        if (DeviceToRGB(Alternate, alt.data(), alt.size(), rgb)) return true;
      }
      // Without a usable tint transform a tint reads as an amount of ink:
      // full tint is black, no tint is white.
      double t = 0;
      for (size_t i = 0; i < n; ++i) t = std::max(t, comps[i]);
      rgb = GrayRgb(1.0 - t);
      return true;
    }
    case csIndexed: {
      if (n < 1) return false;
      const long idx = std::lround(std::clamp(comps[0], 0.0, static_cast<double>(HiVal)));
      const size_t off = static_cast<size_t>(idx) * static_cast<size_t>(BaseComponents);
      if (BaseComponents <= 0 || off + static_cast<size_t>(BaseComponents) > Lookup.size()) return false;
      double c[4];
      for (int i = 0; i < BaseComponents && i < 4; ++i) c[i] = static_cast<uint8_t>(Lookup[off + i]) / 255.0;
      return DeviceToRGB(Base, c, static_cast<size_t>(BaseComponents), rgb);
    }
    case csLab:
      if (n < 1) return false;
      rgb = GrayRgb(comps[0] / 100.0);  // lightness only
      return true;
    default:
      return false;
  }
}

namespace {

std::vector<double> NumberArray(TkxCustomPDFDocument& doc, TkxPDFObject* obj) {
  std::vector<double> out;
  if (const TkxPDFArrayObject* a = AsArray(doc.Resolve(obj)))
    for (int i = 0; i < a->Count() && i < 32; ++i) out.push_back(NumberValue(doc.Resolve(a->Get(i))));
  return out;
}

TkxColorSpaceKind DeviceKindFromName(const std::string& n, bool& ok) {
  ok = true;
  if (n == "DeviceGray" || n == "G" || n == "CalGray") return csDeviceGray;
  if (n == "DeviceRGB" || n == "RGB" || n == "CalRGB") return csDeviceRGB;
  if (n == "DeviceCMYK" || n == "CMYK") return csDeviceCMYK;
  if (n == "Pattern") return csPattern;
  ok = false;
  return csUnsupported;
}

// Gray, RGB or CMYK by component count.
TkxColorSpaceKind DeviceKindForCount(int n) {
  return n == 1 ? csDeviceGray : n == 4 ? csDeviceCMYK : csDeviceRGB;
}

}  // namespace

TkxColorSpace ResolveColorSpaceObject(TkxCustomPDFDocument& doc, TkxPDFObject* obj, int depth) {
  TkxColorSpace unsupported;
  unsupported.Kind = csUnsupported;
  unsupported.Components = 0;
  if (depth > 4) return unsupported;
  obj = doc.Resolve(obj);
  if (const TkxPDFNameObject* nm = AsName(obj)) {
    bool ok = false;
    const TkxColorSpaceKind k = DeviceKindFromName(nm->GetName(), ok);
    return ok ? TkxColorSpace::Device(k) : unsupported;
  }
  const TkxPDFArrayObject* a = AsArray(obj);
  if (!a || a->Count() < 1) return unsupported;
  const std::string family = NameValue(doc.Resolve(a->Get(0)));
  bool ok = false;
  const TkxColorSpaceKind k = DeviceKindFromName(family, ok);
  if (ok) return TkxColorSpace::Device(k);

  if (family == "ICCBased") {
    const TkxPDFStreamObject* s = AsStream(doc.Resolve(a->Get(1)));
    if (!s) return TkxColorSpace::Device(csDeviceRGB);
    if (TkxPDFObject* alt = s->Dict->Lookup("/Alternate")) {
      TkxColorSpace cs = ResolveColorSpaceObject(doc, alt, depth + 1);
      if (cs.Kind == csDeviceGray || cs.Kind == csDeviceRGB || cs.Kind == csDeviceCMYK || cs.Kind == csLab) return cs;
    }
    return TkxColorSpace::Device(DeviceKindForCount(static_cast<int>(IntValue(doc.Resolve(s->Dict->Lookup("/N")), 3))));
  }
  if (family == "Lab") {
    TkxColorSpace cs;
    cs.Kind = csLab;
    cs.Components = 3;
    return cs;
  }
  if (family == "Separation" || family == "DeviceN") {
    TkxColorSpace cs;
    cs.Kind = family == "Separation" ? csSeparation : csDeviceN;
    cs.Components = 1;
    if (cs.Kind == csDeviceN) {
      const TkxPDFArrayObject* names = AsArray(doc.Resolve(a->Get(1)));
      cs.Components = names ? std::clamp(names->Count(), 1, 32) : 1;
    }
    const TkxColorSpace alt = ResolveColorSpaceObject(doc, a->Get(2), depth + 1);
    cs.Alternate = alt.Kind;
    // An exponential tint transform (the usual form of a spot colour).
    const TkxPDFObject* fnObj = doc.Resolve(a->Get(3));
    const TkxPDFDictObject* fn = AsDict(fnObj);
    if (!fn && IsStream(fnObj)) fn = AsStream(fnObj)->Dict.get();
    if (fn && IntValue(doc.Resolve(fn->Lookup("/FunctionType")), -1) == 2 &&
        (alt.Kind == csDeviceGray || alt.Kind == csDeviceRGB || alt.Kind == csDeviceCMYK)) {
      cs.C0 = NumberArray(doc, fn->Lookup("/C0"));
      cs.C1 = NumberArray(doc, fn->Lookup("/C1"));
      if (cs.C0.empty()) cs.C0 = {0.0};
      if (cs.C1.empty()) cs.C1 = {1.0};
      cs.Exponent = NumberValue(doc.Resolve(fn->Lookup("/N")), 1.0);
      cs.HasFunction = static_cast<int>(cs.C0.size()) == alt.Components && cs.C0.size() == cs.C1.size();
    }
    return cs;
  }
  if (family == "Indexed" || family == "I") {
    const TkxColorSpace base = ResolveColorSpaceObject(doc, a->Get(1), depth + 1);
    if (base.Kind != csDeviceGray && base.Kind != csDeviceRGB && base.Kind != csDeviceCMYK) return unsupported;
    TkxColorSpace cs;
    cs.Kind = csIndexed;
    cs.Components = 1;
    cs.Base = base.Kind;
    cs.BaseComponents = base.Components;
    cs.HiVal = static_cast<int>(std::clamp<int64_t>(IntValue(doc.Resolve(a->Get(2))), 0, 255));
    TkxPDFObject* lookup = doc.Resolve(a->Get(3));
    if (const TkxPDFStringObject* s = AsString(lookup)) {
      cs.Lookup = s->GetBytes();
    } else if (const TkxPDFStreamObject* st = AsStream(lookup)) {
      const std::vector<uint8_t> bytes = doc.DecodeStream(*st);
      cs.Lookup.assign(bytes.begin(), bytes.end());
    }
    return cs;
  }
  if (family == "Pattern") return TkxColorSpace::Device(csPattern);
  return unsupported;
}

TkxColorSpace ResolveColorSpace(TkxCustomPDFDocument& doc, const TkxPDFDictObject* resources,
                                const std::string& name) {
  bool ok = false;
  const TkxColorSpaceKind k = DeviceKindFromName(name, ok);
  // Device names are never looked up: they always mean the device space.
  if (ok && name.rfind("Device", 0) == 0) return TkxColorSpace::Device(k);
  if (resources) {
    if (const TkxPDFDictObject* spaces = AsDict(doc.Resolve(resources->Lookup("/ColorSpace")))) {
      if (TkxPDFObject* entry = spaces->Lookup("/" + name)) return ResolveColorSpaceObject(doc, entry);
    }
  }
  if (ok) return TkxColorSpace::Device(k);
  TkxColorSpace unsupported;
  unsupported.Kind = csUnsupported;
  unsupported.Components = 0;
  return unsupported;
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
