#include "engine/kxFormatSettings.h"

#include <cmath>

namespace pw {

namespace {

void SetFactor(double& target, double factor) {
  if (std::isfinite(factor) && factor > 0) target = factor;
}

}  // namespace

void TkxFrame::Assign(const TkxFrame& source) {
  if (&source == this) return;
  DrawLeft = source.DrawLeft;
  DrawRight = source.DrawRight;
  DrawTop = source.DrawTop;
  DrawBottom = source.DrawBottom;
  padding_ = source.padding_;
}

void TkxFrame::SetUnitFactor(double factor) { SetFactor(unitFactor_, factor); }

void TkxTextFormatting::Assign(const TkxTextFormatting& source) {
  if (&source == this) return;
  LineSpacing = source.LineSpacing;
  Alignment = source.Alignment;
  Border = source.Border;
  spaceBefore_ = source.spaceBefore_;
  leftIndent_ = source.leftIndent_;
  rightIndent_ = source.rightIndent_;
  firstIndent_ = source.firstIndent_;
}

void TkxTextFormatting::SetUnitFactor(double factor) { SetFactor(unitFactor_, factor); }

void TkxTableSettings::Assign(const TkxTableSettings& source) {
  if (&source == this) return;
  RepeatHeader = source.RepeatHeader;
  GridLines = source.GridLines;
  rowHeight_ = source.rowHeight_;
  columnWidth_ = source.columnWidth_;
  headerHeight_ = source.headerHeight_;
  cellPadding_ = source.cellPadding_;
}

TkxDoubleRect TkxTableSettings::CellPadding() const {
  return {cellPadding_.Left / unitFactor_, cellPadding_.Top / unitFactor_, cellPadding_.Right / unitFactor_,
          cellPadding_.Bottom / unitFactor_};
}

void TkxTableSettings::SetCellPadding(const TkxDoubleRect& r) {
  cellPadding_ = {r.Left * unitFactor_, r.Top * unitFactor_, r.Right * unitFactor_, r.Bottom * unitFactor_};
}

void TkxTableSettings::SetUnitFactor(double factor) { SetFactor(unitFactor_, factor); }

}  // namespace pw
