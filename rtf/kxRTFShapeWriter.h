// RTF drawing objects of the shape items: lines, rectangles, rounded
// rectangles and ellipses as "\do" drawing objects placed on the page, and
// polygons and polylines as freeform shapes ("\shp", whose result group
// carries the same figure as a "\do" polygon for readers of the older
// form), with the style words of pens and brushes.
#pragma once

#include <cstdint>
#include <string>

#include "engine/kxDocumentItems.h"
#include "platform/kxGraphicsObjects.h"

namespace pw {

// Line words of a drawing object's pen: style, colour and width.
std::string RTFLineStyle(const TPen& pen, double twipsPerPixel);
// Fill words of a drawing object's brush: colours and pattern.
std::string RTFFillStyle(const TBrush& brush);

class TkxRTFShapeWriter {
 public:
  // twipsPerPixel: RTF length of an item pixel.
  explicit TkxRTFShapeWriter(double twipsPerPixel);

  // Line words of a shape's pen, never thinner than a pixel.
  std::string LineStyle(const TPen& pen) const;

  // The drawing object of a shape item, or nothing when it has too few
  // points.
  std::string Line(const TkxShapeItem& item) const;
  std::string Rectangle(const TkxShapeItem& item) const;
  std::string RoundRect(const TkxShapeItem& item) const;
  std::string Ellipse(const TkxShapeItem& item) const;
  // A polygon (closed) or polyline of count points; two points make a line.
  // join and cap as TkxShapeItem::LineJoin and EndCap.
  std::string Polygon(const TkxPoints& points, int count, const TBrush* brush, const TPen& pen, bool closed,
                      uint8_t join, uint8_t cap) const;

  // Twips of a length in pixels (nearest, halves to even).
  long long Twips(double pixels) const;

 private:
  std::string BoxShape(const TkxShapeItem& item, const char* kind) const;
  // A freeform shape of the first n points; result: the group readers
  // without freeform shapes take instead.
  std::string Freeform(const TkxPoints& points, size_t n, const TBrush* brush, const TPen& pen, bool closed,
                       uint8_t join, uint8_t cap, const std::string& result) const;
  // The older form of a polygon or polyline.
  std::string DrawingPolygon(const TkxPoints& points, size_t count, const TBrush* brush, const TPen& pen,
                             bool closed) const;

  double twipsPerPixel_;
};

}  // namespace pw
