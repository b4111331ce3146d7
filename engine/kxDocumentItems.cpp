#include "engine/kxDocumentItems.h"

#include <cmath>

namespace pw {

void TkxTextItem::SetHasClipRect(bool value) {
  hasClipRect_ = value;
  if (!value) clipRect_ = TkxDoubleRect{};
}

const std::u16string& TkxTextItem::FirstLine() const {
  static const std::u16string empty;
  return Lines.empty() ? empty : Lines.front();
}

TkxImageItem::TkxImageItem(const TkxDoublePoint& a, const TkxDoublePoint& b)
    : X(std::fmin(a.X, b.X)),
      Y(std::fmin(a.Y, b.Y)),
      Width(std::fabs(b.X - a.X)),
      Height(std::fabs(b.Y - a.Y)),
      Bounds{X, Y, X + Width, Y + Height} {}

void TkxShapeItem::SetBrush(const TBrush& brush) { Brush = std::make_unique<TBrush>(brush); }

bool TkxPolyPolygonItem::SetPolygons(std::span<const int> pointsPerPolygon, std::span<const TkxDoublePoint> points) {
  size_t total = 0;
  for (int n : pointsPerPolygon) {
    if (n < 0) return false;
    total += static_cast<size_t>(n);
  }
  if (total != points.size() || total > static_cast<size_t>(INT32_MAX)) return false;
  Counts.assign(1, static_cast<int>(total));
  Counts.insert(Counts.end(), pointsPerPolygon.begin(), pointsPerPolygon.end());
  Points.assign(points.begin(), points.end());
  return true;
}

void TkxPolyPolygonItem::SetBrush(const TBrush& brush) { Brush = std::make_unique<TBrush>(brush); }

bool TkxPolyDrawItem::SetPoints(std::span<const TkxDoublePoint> points, std::span<const uint8_t> types) {
  if (points.size() != types.size()) return false;
  Points.assign(points.begin(), points.end());
  Types.assign(types.begin(), types.end());
  return true;
}

void TkxPolyDrawItem::SetBrush(const TBrush& brush) { Brush = std::make_unique<TBrush>(brush); }

void TkxPathItem::SetBrush(const TBrush& brush) {
  if (Brush)
    *Brush = brush;
  else
    Brush = std::make_unique<TBrush>(brush);
}

void TkxPathItem::SetPen(const TPen& pen) {
  if (Pen)
    *Pen = pen;
  else
    Pen = std::make_unique<TPen>(pen);
}

TkxTableItem::TkxTableItem(TkxCustomDocumentEngine* engine, int columnCount, double x, double y)
    : Engine(engine), X(x), Y(y) {
  for (int i = 0; i < columnCount; ++i) Columns.push_back(std::make_unique<TkxColumn>(this));
}

}  // namespace pw
