#include "engine/kxPageSettings.h"

#include <cmath>
#include <utility>

#include "engine/kxDocSettings.h"
#include "platform/kxScreen.h"

namespace pw {

double UnitFactorOf(TkxUnitType unit, double ppi) {
  const double ppp = ppi / 72.0;
  switch (unit) {
    case muPixels: return 1.0;
    case muInches: return ppp * 72.0;
    case muMM: return ppp * 2.83464;
    case muPoints: return ppp;
    case muTwips: return ppp * 0.05;
  }
  return 1.0;
}

double UnitFactorOf(TkxUnitType unit) { return UnitFactorOf(unit, TkxScreen::PPI()); }

namespace {

constexpr TkxPaperSizeInfo kPaperSizes[kPaperSizeCount] = {
    {"Letter", 8.5, 11.0},         {"Letter Small", 8.5, 11.0},   {"Tabloid", 11.0, 17.0},
    {"Ledger", 17.0, 11.0},        {"Legal", 8.5, 14.0},          {"Statement", 5.5, 8.5},
    {"Executive", 7.25, 10.5},     {"A3", 11.6929, 16.5354},      {"A4", 8.2677, 11.6929},
    {"A4 Small", 8.2677, 11.6929}, {"A5", 5.8267, 8.2677},        {"B4", 9.8425, 13.8976},
    {"B5", 6.9291, 9.8425},        {"Folio", 8.5, 13.0},          {"Quarto", 8.4645, 10.8267},
    {"10 X 14", 10.0, 14.0},       {"11 X 17", 10.0, 17.0},       {"Note", 8.5, 11.0},
    {"Env 10", 4.125, 9.5},        {"Env 11", 4.5, 10.375},       {"Env 12", 4.75, 11.0},
    {"Env 14", 5.0, 11.5},         {"C Sheet", 17.0, 22.0},       {"D Sheet", 22.0, 34.0},
    {"E Sheet", 34.0, 44.0},       {"Env DL", 4.3307, 8.6614},    {"Env C5", 6.3779, 9.0157},
    {"Env C3", 12.7559, 18.0314},  {"Env C4", 9.1057, 12.7559},   {"Env C6", 4.4881, 6.3779},
    {"Env C65", 4.4881, 9.0157},   {"Env B4", 9.8425, 13.8976},   {"Env B5", 6.9291, 9.8425},
    {"Env B6", 6.9291, 4.9212},    {"Env Italy", 4.3307, 9.0551}, {"Env Monarch", 3.875, 7.5},
    {"Env Personal", 3.625, 6.5},  {"Fanfold US", 14.875, 11.0},  {"Fanfold Std German", 8.5, 12.0},
    {"ISO B4", 9.8425, 13.8976},   {"Custom", 0.0, 0.0},
};

// Stored enumeration and integer values travel as doubles; anything that is
// not a whole number in int range becomes 0 rather than undefined behaviour.
int StoredToInt(double v) {
  if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0) return 0;
  return static_cast<int>(v);
}

}  // namespace

const TkxPaperSizeInfo& PaperSizeInfo(TkxPaperSize size) {
  const int i = static_cast<int>(size);
  return kPaperSizes[(i >= 0 && i < kPaperSizeCount) ? i : static_cast<int>(TkxPaperSize::Custom)];
}

TkxPaperSize PaperSizeFromInt(int value) {
  return (value >= 0 && value < kPaperSizeCount) ? static_cast<TkxPaperSize>(value) : TkxPaperSize::Custom;
}

TkxPageSettings::TkxPageSettings() { ApplyPaperSize(); }

TkxPageSettings::TkxPageSettings(const TkxPageSettings& source) { Assign(source); }

TkxPageSettings& TkxPageSettings::operator=(const TkxPageSettings& source) {
  Assign(source);
  return *this;
}

void TkxPageSettings::Assign(const TkxPageSettings& source) {
  if (&source == this) return;
  paperSize_ = source.paperSize_;
  orientation_ = source.orientation_;
  binNumber_ = source.binNumber_;
  width_ = source.width_;
  height_ = source.height_;
  leftMargin_ = source.leftMargin_;
  rightMargin_ = source.rightMargin_;
  topMargin_ = source.topMargin_;
  bottomMargin_ = source.bottomMargin_;
  headerHeight_ = source.headerHeight_;
  footerHeight_ = source.footerHeight_;
}

void TkxPageSettings::ApplyPaperSize() {
  if (paperSize_ == TkxPaperSize::Custom) return;
  const TkxPaperSizeInfo& info = PaperSizeInfo(paperSize_);
  const double ppi = TkxScreen::PPI();
  width_ = info.Width * ppi;
  height_ = info.Height * ppi;
  if (orientation_ == poLandscape) std::swap(width_, height_);
}

void TkxPageSettings::Changing(TkxPageProperty p, double newStored) {
  if (owner_) owner_->PageChanging(p, newStored);
}

void TkxPageSettings::SetPaperSize(TkxPaperSize size) {
  size = PaperSizeFromInt(static_cast<int>(size));
  Changing(ppPaperSize, static_cast<double>(static_cast<int>(size)));
  paperSize_ = size;
  ApplyPaperSize();
}

void TkxPageSettings::SetWidth(double value) { SetStored(ppWidth, value * unitFactor_); }
void TkxPageSettings::SetHeight(double value) { SetStored(ppHeight, value * unitFactor_); }

void TkxPageSettings::SetOrientation(TPrinterOrientation orientation) {
  if (orientation != poPortrait && orientation != poLandscape) return;
  if (orientation == orientation_) return;
  Changing(ppOrientation, orientation);
  orientation_ = orientation;
  std::swap(width_, height_);
}

void TkxPageSettings::SetLeftMargin(double value) { SetStored(ppLeftMargin, value * unitFactor_); }
void TkxPageSettings::SetRightMargin(double value) { SetStored(ppRightMargin, value * unitFactor_); }
void TkxPageSettings::SetTopMargin(double value) { SetStored(ppTopMargin, value * unitFactor_); }
void TkxPageSettings::SetBottomMargin(double value) { SetStored(ppBottomMargin, value * unitFactor_); }
void TkxPageSettings::SetHeaderHeight(double value) { SetStored(ppHeaderHeight, value * unitFactor_); }
void TkxPageSettings::SetFooterHeight(double value) { SetStored(ppFooterHeight, value * unitFactor_); }
void TkxPageSettings::SetBinNumber(int value) { SetStored(ppBinNumber, value); }

void TkxPageSettings::SetUnitFactor(double factor) {
  if (std::isfinite(factor) && factor > 0) unitFactor_ = factor;
}

double TkxPageSettings::Stored(TkxPageProperty p) const {
  switch (p) {
    case ppPaperSize: return static_cast<int>(paperSize_);
    case ppWidth: return width_;
    case ppHeight: return height_;
    case ppOrientation: return orientation_;
    case ppLeftMargin: return leftMargin_;
    case ppRightMargin: return rightMargin_;
    case ppTopMargin: return topMargin_;
    case ppBottomMargin: return bottomMargin_;
    case ppHeaderHeight: return headerHeight_;
    case ppFooterHeight: return footerHeight_;
    case ppBinNumber: return binNumber_;
  }
  return 0;
}

void TkxPageSettings::SetStored(TkxPageProperty p, double value) {
  double* field = nullptr;
  switch (p) {
    case ppPaperSize: SetPaperSize(PaperSizeFromInt(StoredToInt(value))); return;
    case ppOrientation: SetOrientation(StoredToInt(value) == poLandscape ? poLandscape : poPortrait); return;
    case ppBinNumber:
      Changing(ppBinNumber, StoredToInt(value));
      binNumber_ = StoredToInt(value);
      return;
    case ppWidth:
    case ppHeight:
      if (paperSize_ != TkxPaperSize::Custom) return;
      field = p == ppWidth ? &width_ : &height_;
      break;
    case ppLeftMargin: field = &leftMargin_; break;
    case ppRightMargin: field = &rightMargin_; break;
    case ppTopMargin: field = &topMargin_; break;
    case ppBottomMargin: field = &bottomMargin_; break;
    case ppHeaderHeight: field = &headerHeight_; break;
    case ppFooterHeight: field = &footerHeight_; break;
  }
  if (!field) return;
  Changing(p, value);
  *field = value;
}

}  // namespace pw
