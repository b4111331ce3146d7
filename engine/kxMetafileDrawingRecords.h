// Drawing, path and clipping records of a page recording turned into shape
// items: lines, rectangles, ellipses, polygons and polylines in engine
// pixels with the pen and brush in force, Béziers flattened, path brackets
// gathered into their figures and painted as a whole when filled or
// stroked, and everything cut to the page and to the clip in force, so that
// nothing outside them reaches the document.
//
// A page whose drawing would make more shapes than a reader copes with gets
// its shapes as one picture instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/kxMetafileState.h"
#include "platform/kxBitmapCanvas.h"
#include "platform/kxEmf.h"

namespace pw {

// Shapes a page may have before its vector drawing becomes one picture.
// LibreOffice lays out a drawing object in milliseconds: a thousand is a
// few seconds for the reader, and a page drawn with more (a mesh, a map) is
// seldom edited shape by shape.
constexpr size_t kMaxPageShapes = 1000;
// Points one shape may have before it is drawn as a picture.
constexpr size_t kMaxShapePoints = 8000;

// One figure of a path or a poly record, in engine pixels (offsets added).
struct TkxMetaFigure {
  std::vector<TkxDoublePoint> Points;
  bool Closed = false;
};

// The pen, brush and points of document items as the bitmap canvas takes them.
TkxCanvasPen CanvasPenOf(const TPen& pen);
TkxCanvasBrush CanvasBrushOf(const TBrush* brush);
std::vector<TkxCanvasPoint> CanvasPointsOf(const TkxPoints& points, size_t count);

// Draws a shape, poly-shape or poly-polygon item onto a canvas (whose origin
// the caller has set); false for items of other kinds.
bool DrawShapeOnCanvas(TkxBitmapCanvas& canvas, const TkxDocumentItem& item);

// Appends the points of the cubic Bézier p0 c1 c2 p3 after p0 as a
// polyline within about a fifth of a pixel of the curve.
void FlattenBezier(const TkxDoublePoint& p0, const TkxDoublePoint& c1, const TkxDoublePoint& c2,
                   const TkxDoublePoint& p3, std::vector<TkxDoublePoint>& out);

// The part of a closed polygon inside a rectangle.
std::vector<TkxDoublePoint> ClipPolygonToRect(const std::vector<TkxDoublePoint>& polygon, const TkxDoubleRect& r);
// The pieces of a polyline inside a rectangle.
std::vector<std::vector<TkxDoublePoint>> ClipPolylineToRect(const std::vector<TkxDoublePoint>& line,
                                                            const TkxDoubleRect& r);

class TkxMetafileDrawing {
 public:
  explicit TkxMetafileDrawing(TkxMetafileState& state);

  // Handles the drawing, path and clipping records; false for other types
  // (the records that carry pictures among them).
  bool ProcessRecord(const TkxEmfRecord& r);
  // Follows the state records that the drawing depends on (the page size in
  // the header, saved states, the current position, clip rectangles), after
  // the state has taken them; at EMR_EOF fills over flowing text are left
  // out and a page with too many shapes gets them as one picture.
  void TrackStateRecord(const TkxEmfRecord& r);
  // Before the records of a page recording: a page with more painting
  // records than a page may have shapes keeps its drawing as recorded, in
  // one picture (its text and pictures still go their own ways), instead of
  // having each record made into shapes first.
  void ChooseCopying(const uint8_t* data, size_t size);
  // Makes the picture of a copied drawing (at EMR_EOF, or after the last
  // record of a recording cut short).
  void FinishCopy();

  // Shapes made on this page so far.
  size_t ShapeCount() const { return shapeCount_; }
  // The area drawing may reach: the page within the clip in force (engine
  // pixels, offsets added); empty when nothing is visible.
  TkxDoubleRect VisibleRect() const;
  bool NothingVisible() const;

 private:
  struct TkxClip {
    bool Active = false;
    TkxDoubleRect Rect;
  };

  TkxDoublePoint P(double x, double y) const;
  TkxDoublePoint CurrentPoint() const;
  void SetCurrent(const TkxEmfPointL& p);
  bool Wanted() const;

  // Poly records.
  void Poly(const TkxEmfRecord& r);
  void PolyPoly(const TkxEmfRecord& r);
  void PolyDraw(const TkxEmfRecord& r);
  void LineTo(const TkxEmfRecord& r);
  void Rectangle(const TkxEmfRecord& r);
  void BoxShape(const TkxEmfRecord& r);
  void FillRegion(const TkxEmfRecord& r);
  // Path and clip records.
  void PathRecord(const TkxEmfRecord& r);
  void SelectClipRegion(const TkxEmfRecord& r);
  void IntersectClip(const TkxDoubleRect& rect, bool replace);

  // Figures appended to the open path, or painted at once outside one.
  void AddFigures(std::vector<TkxMetaFigure> figures, bool fill, bool stroke, bool evenOdd);
  // Continues the path's open figure (or starts one at the current position).
  std::vector<TkxDoublePoint>& OpenFigure();
  // The figures as shapes with the current pen and brush.
  void Paint(std::vector<TkxMetaFigure> figures, bool fill, bool stroke, bool evenOdd);
  void PaintFill(std::vector<TkxMetaFigure>& figures, const TkxDoubleRect& visible, bool evenOdd, bool withPen);
  void PaintStroke(const std::vector<TkxMetaFigure>& figures, const TkxDoubleRect& visible);
  void AppendShape(std::unique_ptr<TkxDocumentItem> item);
  std::unique_ptr<TkxShapeItem> NewShape(uint8_t kind, bool withBrush, bool withPen) const;
  // A filled axis-aligned rectangle: a thin one becomes a line of its
  // thickness in the brush colour.
  void PaintRect(const TkxDoubleRect& r, bool withPen);
  // The page's last item when it is a shape.
  TkxShapeItem* LastShape() const;
  // Gives the last shape, a fill of just these points, the current pen.
  bool OutlineLastFill(uint8_t kind, const std::vector<TkxDoublePoint>& points);
  // A fill in the paper's colour over nothing drawn before it on the page
  // (a page background) changes nothing visible.
  bool FillsBlankPaper(const TkxDoubleRect& box) const;
  // Flowing text lies under the page's shapes in the reader: fills over
  // text are left out.
  void UncoverFlowingText();
  // Moves the shapes of a crowded page into one picture.
  void FlattenCrowdedPage();
  // A crowded page's drawing records, as they come, and the picture they
  // make at EMR_EOF (placed under the page's other items at its first
  // painting).
  void Copy(const TkxEmfRecord& r);
  void PlaceCopy();
  static bool IsPathOrClipRecord(uint32_t type);
  // The bitmap records the drawing leaves to the picture handlers.
  static bool IsBlitRecord(uint32_t type);
  // Follows the current position a line or curve drawn to leaves (for what
  // is drawn or written after it); false for records of other kinds.
  bool FollowPosition(const TkxEmfRecord& r);
  // A line under (or through) the text drawn just before it, as long as
  // that text and in its colour, is the text's underline (or strikeout):
  // the text's font takes it, so that it stays with the text however the
  // reader sets it. True when the line was taken so.
  bool DecorateText(const TkxShapeItem& line);

  TkxMetafileState& st_;
  bool havePage_ = false;
  TkxDoubleRect page_;
  TkxClip clip_;
  std::vector<TkxClip> savedClips_;
  bool inPath_ = false;
  std::vector<TkxMetaFigure> path_;
  size_t shapeCount_ = 0;
  // Boxes of what the page's shapes cover so far.
  std::vector<TkxDoubleRect> painted_;
  // The page's frame (engine pixels, offsets added), for the copied drawing.
  TkxDoubleRect frame_;
  bool copying_ = false;
  std::vector<uint8_t> copy_;
  uint32_t copiedRecords_ = 0;
  // The picture of the copied drawing among the page's items, once placed.
  const TkxDocumentItem* copyPlace_ = nullptr;
};

}  // namespace pw
