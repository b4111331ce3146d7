// Smooth shadings ("sh", and fills with a shading pattern) painted as a
// picture of the area they cover, and the colour a tiling pattern fills
// with. The page canvas records pictures, not gradients, so an axial or
// radial shading is rasterised with cairo over the clip in force (at twice
// the canvas resolution) and drawn through the graphics as a picture; a
// function-based shading paints its middle colour; mesh shadings are left
// out.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/kxGraphics.h"
#include "render/kxPDFFunction.h"

namespace pw {

class TkxCustomPDFDocument;
class TkxPDFObject;
class TkxPDFStreamObject;

// The colour function of a shading: one function of one input, or an
// array of them, one per output.
class TkxShadingFunction {
 public:
  // False for functions that do not read, or for a tree of functions too
  // deep or too large (the same function may be named many times over at
  // every level).
  bool Load(TkxCustomPDFDocument& doc, const TkxPDFObject* obj);
  // The outputs at t (clamped to the domain).
  std::vector<double> Evaluate(double t) const;
  // True when the outputs run straight between bends, with the bends
  // (the domain's ends among them) in knots, sorted.
  bool Knots(std::vector<double>& knots) const;
  double Domain0() const { return domain0_; }
  double Domain1() const { return domain1_; }

 private:
  std::vector<std::unique_ptr<TkxPDFFunction>> functions_;
  bool perOutput_ = false;
  double domain0_ = 0, domain1_ = 1;
};

// Paints a shading dictionary (or stream) over the graphics' clip.
// shadingToWorld maps the shading's space to the graphics' world space.
// False when nothing was painted (unknown kind, nothing visible).
bool PaintShading(TkxCustomPDFDocument& doc, const TkxPDFObject* shading, TkxGraphics& g,
                  const TkxMatrix& shadingToWorld);

// The average colour (0x00RRGGBB) of a tiling pattern's cell: the fill
// colours its content sets, averaged (or, for a pattern that paints a colour
// given with it, stencilRGB), over the share of the cell its fills and
// strokes cover (the paper showing through the rest). False when a coloured
// pattern sets no colour.
bool TilingPatternColor(TkxCustomPDFDocument& doc, const TkxPDFStreamObject& pattern, uint32_t& rgb,
                        const uint32_t* stencilRGB = nullptr);

}  // namespace pw
