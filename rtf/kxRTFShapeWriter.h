// RTF drawing objects of the shape items: lines, outlined rectangles,
// rounded rectangles and ellipses, and thin filled boxes (rules) as shapes
// ("\shp") of their kind, polygons and polylines as freeform shapes, each
// with the same figure as a "\do" drawing object in its result group for
// readers of the older form; wider filled boxes as "\do" drawing objects
// alone. With the style words of pens and brushes.
#pragma once

#include <cstdint>
#include <string>

#include "engine/kxDocumentItems.h"
#include "platform/kxGraphicsObjects.h"

namespace pw {

struct TkxTwipFigure;

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
  std::string BoxShape(const TkxShapeItem& item, const char* kind, int shapeType) const;
  // A shape group over the box (twips) with the geometry's properties, the
  // brush's fill and the pen's line; result: the group readers without
  // shapes take instead.
  std::string Shape(long long left, long long top, long long right, long long bottom, const std::string& geometry,
                    const TBrush* brush, const TPen& pen, uint8_t join, uint8_t cap, const std::string& result) const;
  // A shape group in the making: the opening over the box; after the
  // geometry, the fill and line properties and the opening of the result
  // group, which the caller ends with "}}" after the result.
  void OpenShape(std::string& s, long long left, long long top, long long right, long long bottom) const;
  void CloseShape(std::string& s, const TBrush* brush, const TPen& pen, uint8_t join, uint8_t cap) const;
  // The freeform geometry of the figure, w x h twips.
  void PutFreeformGeometry(std::string& s, const TkxTwipFigure& figure, long long w, long long h, bool closed) const;
  // The older form of a polygon or polyline.
  void PutDrawingPolygon(std::string& s, const TkxTwipFigure& figure, const TBrush* brush, const TPen& pen,
                         bool closed) const;
  void PutShapeLineStyle(std::string& s, const TPen& pen) const;

  double twipsPerPixel_;
};

}  // namespace pw
