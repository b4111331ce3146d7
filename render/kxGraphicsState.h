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
  csPattern,     // colours stay as they were
  csUnsupported,
};

// A resolved colour space: how many operands "sc"/"scn" take and how they
// become RGB.
struct TkxColorSpace {
  TkxColorSpaceKind Kind = csDeviceGray;
  int Components = 1;
  // Separation and DeviceN: the alternate device space (gray, RGB or CMYK)
  // and, when the tint transform is an exponential function, its C0, C1, N.
  TkxColorSpaceKind Alternate = csDeviceGray;
  bool HasFunction = false;
  std::vector<double> C0, C1;
  double Exponent = 1;
  // Indexed: the base space and the lookup table (Components of the base per entry).
  TkxColorSpaceKind Base = csDeviceRGB;
  int BaseComponents = 3;
  int HiVal = 0;
  std::string Lookup;

  static TkxColorSpace Device(TkxColorSpaceKind kind);
  // The initial colour of the space (black for device spaces, full tint for
  // separations, index 0 for indexed spaces).
  std::vector<double> InitialColor() const;
  // RGB of a colour in this space; false when the space cannot give one
  // (patterns, unsupported spaces, a wrong number of components).
  bool ToRGB(const std::vector<double>& comps, uint32_t& rgb) const;
};

// Resolves a colour space given by name (without "/") or as an array, looking
// named spaces up in a resource dictionary's /ColorSpace entries (direct or
// indirect). Unknown spaces give csUnsupported.
TkxColorSpace ResolveColorSpace(TkxCustomPDFDocument& doc, const TkxPDFDictObject* resources,
                                const std::string& name);
TkxColorSpace ResolveColorSpaceObject(TkxCustomPDFDocument& doc, TkxPDFObject* obj, int depth = 0);

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
