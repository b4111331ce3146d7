// Document items: the engine's page content, one plain record per text run,
// picture, shape or structural element, from its creation (by the metafile
// processor or the drawing API) until its page is written.
//
// Coordinates and lengths are doubles in screen pixels on the page (origin
// top-left, Y downwards), offsets already applied. Every item owns the font,
// pen, brush and settings it holds (value members, or unique_ptr where the
// object is optional); lists own their items.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/kxFormatSettings.h"
#include "engine/kxImageSettings.h"
#include "engine/kxPageSettings.h"
#include "platform/kxGraphicsObjects.h"

namespace pw {

class TkxCustomDocumentEngine;

class TkxDocumentItem;
class TkxTextItem;
class TkxTextBoxItem;
class TkxImageItem;
class TkxImageStream;
class TkxShapeItem;
class TkxPolyShapeItem;
class TkxPolyPolygonItem;
class TkxPolyDrawItem;
class TkxClipItem;
class TkxPathItem;
class TkxEOFItem;
class TkxParagraphItem;
class TkxTableItem;

// What writers implement to be handed each item as its concrete class. An
// item class of its own that is not listed here arrives as its nearest
// listed base, or at VisitOther.
class TkxDocumentItemVisitor {
 public:
  virtual ~TkxDocumentItemVisitor() = default;
  virtual void Visit(TkxTextItem& item) = 0;
  virtual void Visit(TkxTextBoxItem& item) = 0;
  virtual void Visit(TkxImageItem& item) = 0;
  virtual void Visit(TkxImageStream& item) = 0;
  virtual void Visit(TkxShapeItem& item) = 0;
  virtual void Visit(TkxPolyShapeItem& item) = 0;
  virtual void Visit(TkxPolyPolygonItem& item) = 0;
  virtual void Visit(TkxPolyDrawItem& item) = 0;
  virtual void Visit(TkxClipItem& item) = 0;
  virtual void Visit(TkxPathItem& item) = 0;
  virtual void Visit(TkxEOFItem& item) = 0;
  virtual void Visit(TkxParagraphItem& item) = 0;
  virtual void Visit(TkxTableItem& item) = 0;
  virtual void VisitOther(TkxDocumentItem& item) = 0;
};

// Base of every item; writers dispatch on the concrete class.
class TkxDocumentItem {
 public:
  TkxDocumentItem() = default;
  virtual ~TkxDocumentItem() = default;
  TkxDocumentItem(const TkxDocumentItem&) = delete;
  TkxDocumentItem& operator=(const TkxDocumentItem&) = delete;
  virtual void Accept(TkxDocumentItemVisitor& visitor) { visitor.VisitOther(*this); }
};

using TkxDocumentItemPtr = std::unique_ptr<TkxDocumentItem>;
using TkxItemList = std::vector<TkxDocumentItemPtr>;

// A run of text at one position.
class TkxTextItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  // No text, no clip rectangle, flags off, default font and brush.
  TkxTextItem() = default;

  double X = 0;
  double Y = 0;
  // Writers use the first line, except for text boxes and paragraphs.
  std::vector<std::u16string> Lines;
  int Angle = 0;  // degrees, 0..359
  TFont Font;
  TBrush Brush;
  TkxTextEffects Effects;
  uint8_t TextFlag = 0;
  // Made by the metafile processor.
  bool FromRecording = false;
  // The text holds a character above 255.
  bool HasWideChars = false;
  // Advance of every character, when the recording gave them.
  std::vector<double> CharAdvances;
  // Colour of the solid box the text was drawn on, clNone when it lies on
  // the paper, a picture or a figure of no single colour: readers that paint
  // a text frame opaque can paint it in this colour.
  TColor Backdrop = clNone;
  // Right edge of that box.
  double BackdropRight = 0;

  bool HasClipRect() const { return hasClipRect_; }
  // Switching the clip rectangle off also resets it to zeros.
  void SetHasClipRect(bool value);
  const TkxDoubleRect& ClipRect() const { return clipRect_; }
  void SetClipRect(const TkxDoubleRect& r) { clipRect_ = r; }

  // Lines[0], or an empty text.
  const std::u16string& FirstLine() const;

 private:
  bool hasClipRect_ = false;
  TkxDoubleRect clipRect_;
};

// The line-text list of a page: its text runs in line mode.
using TkxTextItemList = std::vector<std::unique_ptr<TkxTextItem>>;

// Text laid out inside a box (drawing API only).
class TkxTextBoxItem : public TkxTextItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  double Width = 0;
  double Height = 0;
  TkxFrame Frame;
  // Horizontal alignment of the lines: 0 left, 1 right, 2 centre, 3 justified
  // (the TkxHAlignment numbers).
  uint8_t TextAlignment = 0;
  // Vertical alignment in the box: 0 top, 1 centre, 2 bottom.
  uint8_t VerticalAlignment = 0;
  TPen Pen;
};

// A picture in a rectangle; the picture itself is the engine's ImageTable
// entry ImageIndex, which outlives the item.
class TkxImageItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  TkxImageItem() = default;
  // From two opposite corners in any order: X, Y the smaller coordinates,
  // Width, Height the absolute differences, Bounds the resulting rectangle.
  TkxImageItem(const TkxDoublePoint& a, const TkxDoublePoint& b);

  double X = 0;
  double Y = 0;
  double Width = 0;
  double Height = 0;
  int ImageIndex = -1;  // -1: no picture yet
  TkxFrame Frame;
  TPen Pen;
  // Background behind the picture; its colour is the transparent colour.
  TBrush Brush;
  // A copy of the engine's image settings when the item was made.
  TkxImageSettings ImageSettings;
  TkxDoubleRect Bounds;
};

// A picture given as an encoded stream. The item owns the bytes; the
// ImageTable entry that refers to them does not.
class TkxImageStream : public TkxImageItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  using TkxImageItem::TkxImageItem;
  std::vector<uint8_t> Stream;
  int PixelWidth = 0;
  int PixelHeight = 0;
};

// Shape kinds of TkxShapeItem::ShapeType.
enum TkxShapeKind : uint8_t {
  shLine = 0,
  shRectangle = 1,
  shRoundRect = 2,
  shEllipse = 3,
  shPolygon = 4,
  shPolyline = 5,
  shArc = 6,
  shChord = 7,
  shPie = 8,
  shPolyBezier = 9
};

// One geometric shape. Points by kind: line: start, end; rectangle and
// ellipse: two opposite corners; rounded rectangle: two corners and a third
// point holding the corner ellipse's width and height; polygon, polyline,
// Bezier: the vertices; arc, chord, pie: the two corners of the bounding
// box, then the start point and the end point.
class TkxShapeItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  explicit TkxShapeItem(uint8_t shapeType = shLine) : ShapeType(shapeType) {}

  // Present only for filled shapes.
  std::unique_ptr<TBrush> Brush;
  TPen Pen;
  uint8_t ShapeType;
  TkxPoints Points;
  // Line join and end cap of the pen that drew the shape (0 none; join 1
  // bevel, 2 miter, 3 round; cap 1 round, 2 square, 3 flat), handed to the
  // engine before the shape is written.
  uint8_t LineJoin = 0;
  uint8_t EndCap = 0;

  int PointCount() const { return static_cast<int>(Points.size()); }
  void SetPoints(std::span<const TkxDoublePoint> points) { Points.assign(points.begin(), points.end()); }
  // Gives the shape a brush (a copy of brush), making it a filled shape.
  void SetBrush(const TBrush& brush);
};

// Polygons or polylines written as one group; owns its parts.
class TkxPolyShapeItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  std::vector<std::unique_ptr<TkxShapeItem>> Parts;
  void Add(std::unique_ptr<TkxShapeItem> part) { Parts.push_back(std::move(part)); }
  int Count() const { return static_cast<int>(Parts.size()); }
};

// Several polygons filled together.
class TkxPolyPolygonItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  std::unique_ptr<TBrush> Brush;
  TPen Pen;
  // Fill rule: true alternate (even-odd), false winding.
  bool Alternate = false;
  // Counts[0] is the total number of points, Counts[1..] the points of each
  // polygon; Points holds them all, polygon after polygon.
  std::vector<int> Counts{0};
  TkxPoints Points;

  int PolygonCount() const { return Counts.empty() ? 0 : static_cast<int>(Counts.size()) - 1; }
  // Sets the polygons from their point counts and all points. Refuses (and
  // changes nothing) when a count is negative or the counts do not add up
  // to the number of points.
  bool SetPolygons(std::span<const int> pointsPerPolygon, std::span<const TkxDoublePoint> points);
  void SetBrush(const TBrush& brush);
};

// A poly-draw figure: points with their point-type bytes.
class TkxPolyDrawItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  std::unique_ptr<TBrush> Brush;
  TPen Pen;
  TkxPoints Points;
  std::vector<uint8_t> Types;

  // Number of points that have a type.
  int PointCount() const { return static_cast<int>(Points.size() < Types.size() ? Points.size() : Types.size()); }
  // Refuses (and changes nothing) when the two lengths differ.
  bool SetPoints(std::span<const TkxDoublePoint> points, std::span<const uint8_t> types);
  void SetBrush(const TBrush& brush);
};

// Clipping item modes.
constexpr uint8_t kClipSetRects = 0;
constexpr uint8_t kClipRemove = 1;

// A clipping record: rectangles given as point pairs (left-top,
// right-bottom), the region combination mode of the record, pen and brush.
class TkxClipItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  TBrush Brush;
  TPen Pen;
  uint8_t Mode = kClipSetRects;
  int RegionMode = 0;
  TkxPoints Points;
  int PointCount() const { return static_cast<int>(Points.size()); }
};

// Path bracket actions of TkxPathItem::Action.
enum TkxPathAction : int {
  paBeginPath = 0,
  paEndPath,
  paCloseFigure,
  paAbortPath,
  paFillPath,
  paStrokeAndFillPath,
  paStrokePath,
  paSelectClipPath
};

// A path bracket record. Brush and pen exist once they have been assigned.
class TkxPathItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  explicit TkxPathItem(int action = paBeginPath) : Action(action) {}
  std::unique_ptr<TBrush> Brush;
  std::unique_ptr<TPen> Pen;
  int Action;
  // Fill and stroke-and-fill: 1 for the even-odd rule; select clip path:
  // the region mode.
  uint8_t Flag = 0;
  void SetBrush(const TBrush& brush);
  void SetPen(const TPen& pen);
};

// The end of a recording.
class TkxEOFItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  uint8_t Flag = 0;
};

// A flowed paragraph (drawing API only).
class TkxParagraphItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  double X = 0;
  double Y = 0;
  double Width = 0;
  double Height = 0;
  TFont Font;
  TBrush Brush;
  std::vector<std::u16string> Lines;
  TkxTextFormatting Formatting;
  TkxTextEffects Effects;
};

class TkxTableItem;

// One column of a table, made with the table.
class TkxColumn {
 public:
  explicit TkxColumn(TkxTableItem* table) : Table(table) {}
  double Width = 0;
  TkxTableItem* Table;
};

// A table (drawing API only). Rows hold the cell items they own.
class TkxTableItem : public TkxDocumentItem {
 public:
  void Accept(TkxDocumentItemVisitor& visitor) override { visitor.Visit(*this); }
  TkxTableItem(TkxCustomDocumentEngine* engine, int columnCount, double x, double y);

  TkxCustomDocumentEngine* Engine;
  double X;
  double Y;
  int CurrentRow = -1;  // -1 before the first row
  TFont Font;
  TBrush Brush;
  TPen Pen;
  std::vector<double> RowHeights;
  std::vector<std::unique_ptr<TkxColumn>> Columns;
  std::vector<TkxItemList> Rows;
  TkxTableSettings Settings;
  // Top of the current row and height of the table written so far.
  double CurrentRowTop = 0;
  double TotalHeight = 0;
  TkxTextEffects Effects;

  int ColumnCount() const { return static_cast<int>(Columns.size()); }
};

// Content lists of a band (header, footer, underlay, overlay) or a page.
// The lists own their items; the engine empties them when it writes them.
class TkxBandItem {
 public:
  TkxBandItem() = default;
  virtual ~TkxBandItem() = default;
  TkxBandItem(const TkxBandItem&) = delete;
  TkxBandItem& operator=(const TkxBandItem&) = delete;

  TkxItemList ItemList;
  TkxTextItemList LineTextList;
  double FlowPosition = 0;
};

// One engine page: its lists plus its own copy of the page settings, taken
// when the page was made and read in pixels (unit factor 1).
class TkxPageItem : public TkxBandItem {
 public:
  TkxPageItem(TkxCustomDocumentEngine* engine, const TkxPageSettings& page) : Engine(engine), PageSettings(page) {}
  TkxCustomDocumentEngine* Engine;
  TkxPageSettings PageSettings;
};

// Drawing settings saved by the engine and restored later.
class TkxEngineState {
 public:
  TFont Font;
  TPen Pen;
  TBrush Brush;
  TkxImageSettings ImageSettings;
  TkxTextFormatting TextFormatting;
  TkxTableSettings TableSettings;
  TkxPageSettings PageSettings;
  TkxTextEffects TextEffects;
};

}  // namespace pw
