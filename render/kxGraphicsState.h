// The graphics state of the content interpreter: transformation, line style,
// colours with their colour spaces, transparency and text state, as one value
// that "q" pushes and "Q" pops. Colour spaces are reduced to what a recording
// canvas can show: an opaque or translucent RGB colour.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pdf/kxPDFObjects.h"
#include "platform/kxGraphics.h"

namespace pw {

class TkxCustomPDFDocument;
class TkxPDFFunction;
class TkxTextFont;

// A colour component in [0, 1] as a byte: round(v * 255), halves to even.
uint8_t ColorByte(double v);
// CMYK components (0..1) to RGB the way the converter always did it:
// each of R, G, B is 255 - min(255, C + K) with C, M, Y, K as bytes.
uint32_t CmykToRgb(double c, double m, double y, double k);

enum TkxColorSpaceKind : uint8_t {
  csDeviceGray = 0,
  csDeviceRGB,
  csDeviceCMYK,
  csSeparation,  // one tint through the tint transform (or as gray)
  csDeviceN,     // several tints
  csIndexed,     // an index into a lookup table of a base space
  csLab,
  csPattern,  // colours stay as they were
  csUnsupported,
};

// A resolved colour space: how many operands "sc"/"scn" take (or how many
// components a picture sample has) and how they become RGB.
struct TkxColorSpace {
  TkxColorSpaceKind Kind = csDeviceGray;
  int Components = 1;
  // Separation and DeviceN: the tint transform into the alternate space.
  // Without both, a tint reads as an amount of black ink. Pattern: the
  // space of the colour an uncoloured pattern paints, when there is one.
  std::shared_ptr<const TkxPDFFunction> Function;
  std::shared_ptr<const TkxColorSpace> Alternate;
  // A Separation whose colourant is None: pictures in it paint nothing.
  bool NoneColorant = false;
  // Indexed: the highest index and the RGB of every entry (shared: the
  // graphics state is copied at every save).
  int HiVal = 0;
  std::shared_ptr<const std::vector<uint32_t>> Palette;
  // Lab: the white point and the ranges of a* and b*.
  std::array<double, 3> White{0.9505, 1.0, 1.089};
  std::array<double, 4> Range{-100, 100, -100, 100};

  static TkxColorSpace Device(TkxColorSpaceKind kind);
  // The initial colour of the space (black for device spaces, full tint for
  // separations, index 0 for indexed spaces).
  std::vector<double> InitialColor() const;
  // RGB of a colour in this space; false when the space cannot give one
  // (patterns, unsupported spaces, too few components).
  bool ToRGB(const double* comps, size_t n, uint32_t& rgb) const;
  bool ToRGB(const std::vector<double>& comps, uint32_t& rgb) const { return ToRGB(comps.data(), comps.size(), rgb); }
  // The Decode array a picture in this space has by default, at bpc bits
  // per component.
  std::vector<double> DefaultDecode(int bpc) const;
};

// Resolves a colour space given by name (without "/") or as an array, looking
// named spaces up in a resource dictionary's /ColorSpace entries (direct or
// indirect). Unknown spaces give csUnsupported. ICCBased spaces are read as
// their alternate or by their number of components, CalGray and CalRGB as
// gray and RGB.
TkxColorSpace ResolveColorSpace(TkxCustomPDFDocument& doc, const TkxPDFDictObject* resources, const std::string& name);
// The same for a colour-space object (a name or an array); names are looked
// up in resources when given.
TkxColorSpace ResolveColorSpaceObject(TkxCustomPDFDocument& doc, TkxPDFObject* obj, int depth = 0,
                                      const TkxPDFDictObject* resources = nullptr);

// Line caps and joins as content gives them (0, 1, 2).
TkxPenLineCap PenCapFor(int cap);
TkxPenLineJoin PenJoinFor(int join);

struct TkxGraphicalState {
  TkxMatrix Ctm;  // user space to default page space

  // Line style (user-space units).
  double LineWidth = 1.0;
  int LineCap = 0;
  int LineJoin = 0;
  double MiterLimit = 10.0;
  std::vector<double> DashArray;
  double DashPhase = 0;

  // Colours.
  TkxColorSpace FillSpace, StrokeSpace;
  std::vector<double> FillColor{0.0}, StrokeColor{0.0};
  uint32_t FillRGB = 0, StrokeRGB = 0;  // 0x00RRGGBB
  // The pattern resource named by "scn" in a pattern space (without "/").
  std::string FillPattern;
  double FillAlpha = 1.0, StrokeAlpha = 1.0;

  // Text state.
  double CharSpacing = 0, WordSpacing = 0, HorizScale = 1.0, Leading = 0, Rise = 0;
  int RenderMode = 0;
  TkxTextFont* Font = nullptr;  // owned by the page's font cache
  double FontSize = 0;
  bool HasFontSize = false;

  uint32_t FillARGB() const { return ArgbWith(FillRGB, FillAlpha); }
  uint32_t StrokeARGB() const { return ArgbWith(StrokeRGB, StrokeAlpha); }
  static uint32_t ArgbWith(uint32_t rgb, double alpha);

  // A pen for stroking in user space with this state's colour, width, caps,
  // join, miter limit and dash.
  TkxPen MakePen() const;
};

}  // namespace pw
