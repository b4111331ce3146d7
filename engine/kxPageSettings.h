// Page geometry of the document engine: measurement units and their factors,
// the paper-size table, orientation, and the page settings object that stores
// every length in screen pixels and reads it back in its owner's unit.
#pragma once

#include <string>

namespace pw {

class TkxDocSettings;

// Unit of the lengths given to and read from an engine.
enum TkxUnitType : int { muPixels = 0, muInches, muMM, muPoints, muTwips };

// Screen pixels per unit at ppi logical pixels per inch: pixels 1, inches
// ppi, millimetres ppi/72 * 2.83464, points ppi/72, twips ppi/72 * 0.05.
double UnitFactorOf(TkxUnitType unit, double ppi);
// The same at the screen resolution.
double UnitFactorOf(TkxUnitType unit);

enum class TkxPaperSize : int {
  Letter = 0,
  LetterSmall,
  Tabloid,
  Ledger,
  Legal,
  Statement,
  Executive,
  A3,
  A4,
  A4Small,
  A5,
  B4,
  B5,
  Folio,
  Quarto,
  ps10X14,
  ps11X17,
  Note,
  Env10,
  Env11,
  Env12,
  Env14,
  CSheet,
  DSheet,
  ESheet,
  EnvDL,
  EnvC5,
  EnvC3,
  EnvC4,
  EnvC6,
  EnvC65,
  EnvB4,
  EnvB5,
  EnvB6,
  EnvItaly,
  EnvMonarch,
  EnvPersonal,
  FanfoldUS,
  FanfoldStdGerman,
  ISOB4,
  Custom
};
constexpr int kPaperSizeCount = 41;

// One row of the paper-size table: the name shown in lists and the portrait
// size in inches (both 0 for Custom). The rows are kept exactly as the
// program has always used them, including the few that differ from the
// paper's nominal size (11 X 17 is 10 inches wide, Env C4 9.1057 inches)
// and the three that are wider than high (Ledger, Env B6, Fanfold US).
struct TkxPaperSizeInfo {
  const char* DisplayName;
  double Width;
  double Height;
};
const TkxPaperSizeInfo& PaperSizeInfo(TkxPaperSize size);
// Custom for a number outside 0..40.
TkxPaperSize PaperSizeFromInt(int value);

enum TPrinterOrientation : int { poPortrait = 0, poLandscape };

// The stored values of a page settings object, for code that moves values
// between objects without going through their units.
enum TkxPageProperty : int {
  ppPaperSize = 0,
  ppWidth,
  ppHeight,
  ppOrientation,
  ppLeftMargin,
  ppRightMargin,
  ppTopMargin,
  ppBottomMargin,
  ppHeaderHeight,
  ppFooterHeight,
  ppBinNumber
};

// Paper size, orientation and margins of a page. Lengths are stored in
// screen pixels; reading divides by UnitFactor, writing multiplies by it.
// Width and Height are writable only for the Custom paper size.
class TkxPageSettings {
 public:
  // A4 portrait at the screen resolution, margins and bands 0, bin 0,
  // unit factor 1, no owner.
  TkxPageSettings();
  // A copy of the stored values with unit factor 1 and no owner (the form a
  // page record keeps, which reads in pixels).
  TkxPageSettings(const TkxPageSettings& source);
  // Same as Assign: the unit factor and the owner stay.
  TkxPageSettings& operator=(const TkxPageSettings& source);
  ~TkxPageSettings() = default;

  // Copies paper size, orientation, bin number, width, height, the four
  // margins and the two band heights as stored; not the unit factor.
  void Assign(const TkxPageSettings& source);

  TkxPaperSize PaperSize() const { return paperSize_; }
  // A size other than Custom sets width and height from the table at the
  // screen resolution, exchanged in landscape orientation.
  void SetPaperSize(TkxPaperSize size);
  double Width() const { return width_ / unitFactor_; }
  void SetWidth(double value);
  double Height() const { return height_ / unitFactor_; }
  void SetHeight(double value);
  TPrinterOrientation Orientation() const { return orientation_; }
  // A change exchanges the stored width and height; the current value again
  // does nothing.
  void SetOrientation(TPrinterOrientation orientation);
  double LeftMargin() const { return leftMargin_ / unitFactor_; }
  void SetLeftMargin(double value);
  double RightMargin() const { return rightMargin_ / unitFactor_; }
  void SetRightMargin(double value);
  double TopMargin() const { return topMargin_ / unitFactor_; }
  void SetTopMargin(double value);
  double BottomMargin() const { return bottomMargin_ / unitFactor_; }
  void SetBottomMargin(double value);
  double HeaderHeight() const { return headerHeight_ / unitFactor_; }
  void SetHeaderHeight(double value);
  double FooterHeight() const { return footerHeight_ / unitFactor_; }
  void SetFooterHeight(double value);
  // Paper source; 0 means none.
  int BinNumber() const { return binNumber_; }
  void SetBinNumber(int value);

  // Screen pixels per unit of the owner (1 at creation). Values that are not
  // positive and finite are ignored.
  double UnitFactor() const { return unitFactor_; }
  void SetUnitFactor(double factor);

  // A stored value (pixels for lengths, the enumeration's number otherwise),
  // and its write through the same rules as the property setters.
  double Stored(TkxPageProperty p) const;
  void SetStored(TkxPageProperty p, double value);

  // The settings component that shares these settings with its engines, if
  // any; it hears of every change before it is made.
  TkxDocSettings* Owner() const { return owner_; }

 private:
  friend class TkxDocSettings;
  void Changing(TkxPageProperty p, double newStored);
  void ApplyPaperSize();

  TkxPaperSize paperSize_ = TkxPaperSize::A4;
  TPrinterOrientation orientation_ = poPortrait;
  double width_ = 0;
  double height_ = 0;
  double leftMargin_ = 0;
  double rightMargin_ = 0;
  double topMargin_ = 0;
  double bottomMargin_ = 0;
  double headerHeight_ = 0;
  double footerHeight_ = 0;
  int binNumber_ = 0;
  double unitFactor_ = 1;
  TkxDocSettings* owner_ = nullptr;
};

}  // namespace pw
