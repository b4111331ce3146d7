// PDF functions (types 0 sampled, 2 exponential, 3 stitching, 4 PostScript
// calculator), as tint transforms of Separation and DeviceN colour spaces
// and the colours of shadings use them: m inputs in, n outputs out, every value clipped to its domain
// and range.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pdf/kxPDFObjects.h"

namespace pw {

class TkxCustomPDFDocument;

class TkxPDFFunction {
 public:
  virtual ~TkxPDFFunction() = default;
  // Reads a function object (dictionary or stream); nullptr for one that
  // cannot be read. Nesting of stitching functions is limited, and so is
  // the size of the whole tree: a stitching function may name the same
  // function many times over at every level.
  // maxSamples bounds the whole tree, in sample entries.
  static std::unique_ptr<TkxPDFFunction> Load(TkxCustomPDFDocument& doc, TkxPDFObject* obj, int depth = 0,
                                              size_t maxSamples = size_t(16) << 20);

  // Outputs for the inputs (missing inputs count as 0).
  virtual std::vector<double> Evaluate(const std::vector<double>& in) const = 0;
  int Inputs() const { return static_cast<int>(Domain.size() / 2); }
  // Number of outputs (from /Range, or what the function gives).
  virtual int Outputs() const { return static_cast<int>(Range.size() / 2); }
  // True for a function of one input whose outputs run straight between
  // bends (an exponential function of exponent 1 whose outputs stay within
  // its range, and stitchings of such); the bends, its domain's ends among
  // them, are added to knots.
  virtual bool PiecewiseLinear(std::vector<double>& knots) const {
    (void)knots;
    return false;
  }

  std::vector<double> Domain;
  std::vector<double> Range;

 protected:
  static std::unique_ptr<TkxPDFFunction> LoadWithin(TkxCustomPDFDocument& doc, TkxPDFObject* obj, int depth,
                                                    size_t& budget);
  double ClipIn(double v, int i) const;
  void ClipOut(std::vector<double>& out) const;
};

// Runs a PostScript calculator program (the text between the outer braces
// included) on a stack that starts with the inputs; the stack afterwards,
// or false for a program that cannot be parsed. Exposed for tests.
bool RunCalculator(const std::string& program, std::vector<double>& stack);

}  // namespace pw
