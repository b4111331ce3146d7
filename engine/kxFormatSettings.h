// Small formatting settings shared by the engine, its states and its items:
// point and rectangle values, borders, text effects, box frames, paragraph
// formatting and table settings. Lengths that an engine reads in its own
// unit are stored in screen pixels with a unit factor of their own, as the
// page settings are.
#pragma once

#include <vector>

#include "platform/kxGraphicsObjects.h"

namespace pw {

struct TkxDoublePoint {
  double X = 0;
  double Y = 0;
  bool operator==(const TkxDoublePoint&) const = default;
};

// A growable array of points.
using TkxPoints = std::vector<TkxDoublePoint>;

struct TkxDoubleRect {
  double Left = 0;
  double Top = 0;
  double Right = 0;
  double Bottom = 0;
  double Width() const { return Right - Left; }
  double Height() const { return Bottom - Top; }
  bool operator==(const TkxDoubleRect&) const = default;
};

// Which sides of a border are drawn, and how.
struct TkxBorder {
  bool DrawLeft = false;
  bool DrawRight = false;
  bool DrawTop = false;
  bool DrawBottom = false;
  TColor Color = clBlack;
  TPenStyle Style = psSolid;
  int Width = 1;  // pixels
  bool AnySide() const { return DrawLeft || DrawRight || DrawTop || DrawBottom; }
  void Assign(const TkxBorder& source) { *this = source; }
};

// A paragraph border: a border plus the space between it and the text.
struct TkxParaBorder : TkxBorder {
  int Spacing = 0;  // pixels
  void Assign(const TkxParaBorder& source) { *this = source; }
};

enum TkxTextRenderMode : int { trmFill = 0, trmStroke, trmFillStroke };
enum TkxTextRise : int { trNormal = 0, trSuperscript, trSubscript };

struct TkxTextEffects {
  TkxTextRenderMode TextRenderMode = trmFill;
  TkxTextRise TextRise = trNormal;
  void Assign(const TkxTextEffects& source) { *this = source; }
  bool operator==(const TkxTextEffects&) const = default;
};

// The frame of a box: the sides that are drawn (all at creation) and the
// padding between frame and content.
class TkxFrame {
 public:
  TkxFrame() = default;
  // Copies carry the values with unit factor 1, so they read in pixels.
  TkxFrame(const TkxFrame& source) { Assign(source); }
  // Same as Assign: the unit factor stays.
  TkxFrame& operator=(const TkxFrame& source) {
    Assign(source);
    return *this;
  }
  // Copies the sides and the stored padding.
  void Assign(const TkxFrame& source);

  bool DrawLeft = true;
  bool DrawRight = true;
  bool DrawTop = true;
  bool DrawBottom = true;

  double PaddingLeft() const { return padding_.Left / unitFactor_; }
  void SetPaddingLeft(double v) { padding_.Left = v * unitFactor_; }
  double PaddingTop() const { return padding_.Top / unitFactor_; }
  void SetPaddingTop(double v) { padding_.Top = v * unitFactor_; }
  double PaddingRight() const { return padding_.Right / unitFactor_; }
  void SetPaddingRight(double v) { padding_.Right = v * unitFactor_; }
  double PaddingBottom() const { return padding_.Bottom / unitFactor_; }
  void SetPaddingBottom(double v) { padding_.Bottom = v * unitFactor_; }
  // The padding in pixels.
  const TkxDoubleRect& StoredPadding() const { return padding_; }
  void SetStoredPadding(const TkxDoubleRect& r) { padding_ = r; }

  double UnitFactor() const { return unitFactor_; }
  // Values that are not positive and finite are ignored.
  void SetUnitFactor(double factor);

 private:
  TkxDoubleRect padding_;
  double unitFactor_ = 1;
};

enum TkxHAlignment : int { haLeft = 0, haRight, haCenter, haJustify, haGeneral };

// Paragraph formatting. The four lengths are stored in pixels; the line
// spacing is a multiple of the measured line height.
class TkxTextFormatting {
 public:
  TkxTextFormatting() = default;
  TkxTextFormatting(const TkxTextFormatting& source) { Assign(source); }
  TkxTextFormatting& operator=(const TkxTextFormatting& source) {
    Assign(source);
    return *this;
  }
  // Copies everything but the unit factor.
  void Assign(const TkxTextFormatting& source);

  double LineSpacing = 1.0;
  TkxHAlignment Alignment = haLeft;
  TkxParaBorder Border;

  double SpaceBefore() const { return spaceBefore_ / unitFactor_; }
  void SetSpaceBefore(double v) { spaceBefore_ = v * unitFactor_; }
  double LeftIndent() const { return leftIndent_ / unitFactor_; }
  void SetLeftIndent(double v) { leftIndent_ = v * unitFactor_; }
  double RightIndent() const { return rightIndent_ / unitFactor_; }
  void SetRightIndent(double v) { rightIndent_ = v * unitFactor_; }
  double FirstIndent() const { return firstIndent_ / unitFactor_; }
  void SetFirstIndent(double v) { firstIndent_ = v * unitFactor_; }

  double UnitFactor() const { return unitFactor_; }
  void SetUnitFactor(double factor);

 private:
  double spaceBefore_ = 0;
  double leftIndent_ = 0;
  double rightIndent_ = 0;
  double firstIndent_ = 0;
  double unitFactor_ = 1;
};

// Table settings: default row height and column width, cell padding and the
// header row height (all stored in pixels), and two switches.
class TkxTableSettings {
 public:
  TkxTableSettings() = default;
  TkxTableSettings(const TkxTableSettings& source) { Assign(source); }
  TkxTableSettings& operator=(const TkxTableSettings& source) {
    Assign(source);
    return *this;
  }
  // Copies everything but the unit factor.
  void Assign(const TkxTableSettings& source);

  // Repeat the header row on every page the table continues on.
  bool RepeatHeader = false;
  // Draw the cell grid with the table's pen.
  bool GridLines = true;

  double DefaultRowHeight() const { return rowHeight_ / unitFactor_; }
  void SetDefaultRowHeight(double v) { rowHeight_ = v * unitFactor_; }
  double DefaultColumnWidth() const { return columnWidth_ / unitFactor_; }
  void SetDefaultColumnWidth(double v) { columnWidth_ = v * unitFactor_; }
  double HeaderHeight() const { return headerHeight_ / unitFactor_; }
  void SetHeaderHeight(double v) { headerHeight_ = v * unitFactor_; }
  // The cell padding in the unit, and in pixels.
  TkxDoubleRect CellPadding() const;
  void SetCellPadding(const TkxDoubleRect& r);
  const TkxDoubleRect& StoredCellPadding() const { return cellPadding_; }

  double UnitFactor() const { return unitFactor_; }
  void SetUnitFactor(double factor);

 private:
  double rowHeight_ = 0;
  double columnWidth_ = 0;
  double headerHeight_ = 0;
  TkxDoubleRect cellPadding_;
  double unitFactor_ = 1;
};

}  // namespace pw
