// The 2-D graphics interface the page renderer draws with, in the manner of
// GDI+: a world transform on top of a page unit, saved and restored drawing
// states, paths filled and stroked with solid brushes and pens, clipping by
// intersection with paths, strings drawn in a font at a point or in a layout
// rectangle, and pictures drawn into a rectangle with a colour matrix.
//
// A TkxGraphics draws on a recording canvas (TkxEmfRecorder). Every call lands
// there as classic EMF records in device pixels: the world transform and the
// page unit are applied to the coordinates, never recorded as transforms.
//  - text: EMR_EXTCREATEFONTINDIRECTW + EMR_SELECTOBJECT + EMR_SETTEXTCOLOR +
//    EMR_EXTTEXTOUTW with the UTF-16 characters, the top-left reference point
//    of the run (TA_TOP | TA_LEFT) and one advance per character; rotation as
//    escapement/orientation, size as the em height in device pixels, weight
//    700 when bold;
//  - paths: polygon/polyline records for straight figures, a path bracket
//    with EMR_POLYBEZIERTO for curved ones, with EMR_EXTCREATEPEN pens and
//    solid brushes selected and the fill mode set by EMR_SETPOLYFILLMODE;
//  - pictures: EMR_STRETCHDIBITS with a 24-bit DIB;
//  - clipping: EMR_INTERSECTCLIPRECT for rectangles, a path bracket with
//    EMR_SELECTCLIPPATH otherwise, EMR_EXTSELECTCLIPRGN to reset it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kxEmfRecorder.h"
#include "platform/kxFontManager.h"

namespace pw {

class TkxBitmap;

struct TkxPointF {
  double X = 0, Y = 0;
  bool operator==(const TkxPointF&) const = default;
};

struct TkxRectF {
  double X = 0, Y = 0, Width = 0, Height = 0;
  double Right() const { return X + Width; }
  double Bottom() const { return Y + Height; }
  bool operator==(const TkxRectF&) const = default;
};

// Units of the page transform and of font sizes (GDI+ values).
enum TkxUnit : int {
  unWorld = 0,
  unDisplay = 1,
  unPixel = 2,
  unPoint = 3,
  unInch = 4,
  unDocument = 5,
  unMillimeter = 6
};

enum TkxMatrixOrder : int { moPrepend = 0, moAppend = 1 };

// Affine transform for row vectors: x' = x*M11 + y*M21 + DX, y' = x*M12 + y*M22 + DY.
class TkxMatrix {
 public:
  double M11 = 1, M12 = 0, M21 = 0, M22 = 1, DX = 0, DY = 0;

  TkxMatrix() = default;
  TkxMatrix(double m11, double m12, double m21, double m22, double dx, double dy)
      : M11(m11), M12(m12), M21(m21), M22(m22), DX(dx), DY(dy) {}

  void SetElements(double m11, double m12, double m21, double m22, double dx, double dy);
  void Reset() { *this = TkxMatrix(); }
  // moPrepend: m is applied before this transform; moAppend: after it.
  void Multiply(const TkxMatrix& m, TkxMatrixOrder order = moPrepend);
  void Translate(double dx, double dy, TkxMatrixOrder order = moPrepend);
  void Scale(double sx, double sy, TkxMatrixOrder order = moPrepend);
  void Rotate(double degrees, TkxMatrixOrder order = moPrepend);  // clockwise on a y-down device
  // False (and unchanged) for a singular matrix.
  bool Invert();
  bool IsIdentity() const;
  double Determinant() const { return M11 * M22 - M12 * M21; }
  TkxPointF Transform(const TkxPointF& p) const { return {p.X * M11 + p.Y * M21 + DX, p.X * M12 + p.Y * M22 + DY}; }
  TkxPointF TransformVector(const TkxPointF& v) const { return {v.X * M11 + v.Y * M21, v.X * M12 + v.Y * M22}; }
  // The product a then b.
  static TkxMatrix Product(const TkxMatrix& a, const TkxMatrix& b);
  bool operator==(const TkxMatrix&) const = default;
};

enum TkxPathFillMode : int { fmAlternate = 0, fmWinding = 1 };

// Point types of a path (GDI+ values).
enum TkxPathPointType : uint8_t { ptStart = 0, ptLine = 1, ptBezier = 3, ptCloseSubpath = 0x80 };

class TkxGraphicsPath {
 public:
  explicit TkxGraphicsPath(TkxPathFillMode mode = fmAlternate) : fillMode_(mode) {}

  TkxPathFillMode FillMode() const { return fillMode_; }
  void SetFillMode(TkxPathFillMode mode) { fillMode_ = mode; }
  // The next segment starts a new figure; the current one stays open.
  void StartFigure() { newFigure_ = true; }
  // Closes the current figure; the next segment starts a new one.
  void CloseFigure();
  // A line from (x1, y1) to (x2, y2), joined to the open figure; the first
  // point is not repeated when it equals the figure's last point.
  void AddLine(double x1, double y1, double x2, double y2);
  void AddLines(const std::vector<TkxPointF>& points);
  // A cubic Bézier, joined to the open figure like a line.
  void AddBezier(const TkxPointF& p1, const TkxPointF& c1, const TkxPointF& c2, const TkxPointF& p2);
  // A closed figure of its own (clockwise from the top-left corner).
  void AddRectangle(const TkxRectF& r);
  void Reset();

  size_t PointCount() const { return points_.size(); }
  const std::vector<TkxPointF>& Points() const { return points_; }
  const std::vector<uint8_t>& Types() const { return types_; }
  // Bounds of the points after transforming them by m (when given).
  TkxRectF Bounds(const TkxMatrix* m = nullptr) const;

 private:
  void AddPoint(const TkxPointF& p, uint8_t type);
  std::vector<TkxPointF> points_;
  std::vector<uint8_t> types_;
  TkxPathFillMode fillMode_;
  bool newFigure_ = true;
};

enum TkxPenLineCap : int { lcFlat = 0, lcSquare = 1, lcRound = 2, lcTriangle = 3 };
enum TkxPenLineJoin : int { ljMiter = 0, ljBevel = 1, ljRound = 2, ljMiterClipped = 3 };
enum TkxDashStyle : int { dsSolid = 0, dsDash = 1, dsDot = 2, dsDashDot = 3, dsDashDotDot = 4, dsCustom = 5 };

// A pen: ARGB colour, width in world units (0 draws one device pixel wide),
// caps, join, miter limit, and a dash pattern and offset in multiples of the width.
class TkxPen {
 public:
  explicit TkxPen(uint32_t argb = 0xFF000000u, double width = 1.0) : color_(argb), width_(width) {}

  uint32_t Color() const { return color_; }
  void SetColor(uint32_t argb) { color_ = argb; }
  double Width() const { return width_; }
  void SetWidth(double w) { width_ = w; }
  TkxPenLineCap StartCap() const { return startCap_; }
  TkxPenLineCap EndCap() const { return endCap_; }
  TkxPenLineCap DashCap() const { return dashCap_; }
  void SetLineCap(TkxPenLineCap start, TkxPenLineCap end, TkxPenLineCap dash);
  TkxPenLineJoin LineJoin() const { return join_; }
  void SetLineJoin(TkxPenLineJoin join) { join_ = join; }
  double MiterLimit() const { return miterLimit_; }
  void SetMiterLimit(double limit) { miterLimit_ = limit < 1 ? 1 : limit; }
  TkxDashStyle DashStyle() const { return dashStyle_; }
  void SetDashStyle(TkxDashStyle style);
  // The dash and gap lengths of the current style (empty when solid).
  std::vector<double> DashPattern() const;
  // Sets a custom pattern; false (pen unchanged) when it is empty or has a
  // length that is not positive.
  bool SetDashPattern(const std::vector<double>& pattern);
  double DashOffset() const { return dashOffset_; }
  void SetDashOffset(double offset) { dashOffset_ = offset; }
  bool operator==(const TkxPen&) const = default;

 private:
  uint32_t color_;
  double width_;
  TkxPenLineCap startCap_ = lcFlat, endCap_ = lcFlat, dashCap_ = lcFlat;
  TkxPenLineJoin join_ = ljMiter;
  double miterLimit_ = 10.0;
  TkxDashStyle dashStyle_ = dsSolid;
  std::vector<double> dashPattern_;
  double dashOffset_ = 0;
};

class TkxSolidBrush {
 public:
  explicit TkxSolidBrush(uint32_t argb = 0xFF000000u) : color_(argb) {}
  uint32_t Color() const { return color_; }
  void SetColor(uint32_t argb) { color_ = argb; }
  bool operator==(const TkxSolidBrush&) const = default;

 private:
  uint32_t color_;
};

// A font family by name. Names that are not installed resolve through
// fontconfig substitution (as the font manager does); only an empty name
// gives an invalid family, whose fonts draw nothing.
class TkxFontFamily {
 public:
  TkxFontFamily() = default;
  explicit TkxFontFamily(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  bool Valid() const { return !name_.empty(); }
  // Design metrics of the family in a style (fsBold/fsItalic bits).
  TkxFamilyMetrics Metrics(int style) const;
  int EmHeight(int style) const { return Metrics(style).EmHeight; }
  int CellAscent(int style) const { return Metrics(style).CellAscent; }
  int CellDescent(int style) const { return Metrics(style).CellDescent; }
  int LineSpacing(int style) const { return Metrics(style).LineSpacing; }
  bool operator==(const TkxFontFamily&) const = default;

 private:
  std::string name_;
};

class TkxFont {
 public:
  TkxFont() = default;
  // style: TkxFontStyle bits (bold, italic, underline, strikeout).
  TkxFont(const TkxFontFamily& family, double emSize, int style = fsRegular, TkxUnit unit = unPoint)
      : family_(family), size_(emSize), style_(style), unit_(unit) {}
  const TkxFontFamily& Family() const { return family_; }
  double Size() const { return size_; }
  int Style() const { return style_; }
  TkxUnit Unit() const { return unit_; }
  bool operator==(const TkxFont&) const = default;

 private:
  TkxFontFamily family_;
  double size_ = 10;
  int style_ = fsRegular;
  TkxUnit unit_ = unPoint;
};

enum TkxStringAlignment : int { saNear = 0, saCenter = 1, saFar = 2 };
enum TkxStringFormatFlags : int { sffNoWrap = 0x1000, sffNoClip = 0x4000 };

class TkxStringFormat {
 public:
  // The generic typographic format: no padding around the text, no wrapping,
  // no clipping to a layout rectangle.
  static TkxStringFormat GenericTypographic();
  // A default format (GdipCreateStringFormat): a sixth of an em of padding
  // before and after each line, wrapping at spaces, clipping to the layout
  // rectangle.
  static TkxStringFormat GenericDefault() { return TkxStringFormat(); }

  TkxStringAlignment Alignment() const { return align_; }
  void SetAlignment(TkxStringAlignment a) { align_ = a; }
  TkxStringAlignment LineAlignment() const { return lineAlign_; }
  void SetLineAlignment(TkxStringAlignment a) { lineAlign_ = a; }
  int Flags() const { return flags_; }
  void SetFlags(int flags) { flags_ = flags; }
  bool Typographic() const { return typographic_; }

 private:
  TkxStringAlignment align_ = saNear, lineAlign_ = saNear;
  int flags_ = 0;
  bool typographic_ = false;
};

// A 5x5 colour matrix for row vectors (r, g, b, a, 1).
struct TkxColorMatrix {
  float m[5][5] = {{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}};
};

class TkxImageAttributes {
 public:
  void SetColorMatrix(const TkxColorMatrix& cm) { matrix_ = cm; }
  void ClearColorMatrix() { matrix_.reset(); }
  const std::optional<TkxColorMatrix>& ColorMatrix() const { return matrix_; }
  // The alpha factor the matrix applies to opaque pixels, clamped to [0, 1].
  double Alpha() const;

 private:
  std::optional<TkxColorMatrix> matrix_;
};

enum TkxSmoothingMode : int { smDefault = 0, smHighSpeed = 1, smHighQuality = 2, smNone = 3, smAntiAlias = 4 };
enum TkxTextRenderingHint : int {
  trhSystemDefault = 0,
  trhSingleBitPerPixelGridFit = 1,
  trhSingleBitPerPixel = 2,
  trhAntiAliasGridFit = 3,
  trhAntiAlias = 4,
  trhClearTypeGridFit = 5
};
enum TkxPixelOffsetMode : int { pomDefault = 0, pomHighSpeed = 1, pomHighQuality = 2, pomNone = 3, pomHalf = 4 };
enum TkxInterpolationMode : int {
  imDefault = 0,
  imLowQuality = 1,
  imHighQuality = 2,
  imBilinear = 3,
  imBicubic = 4,
  imNearestNeighbor = 5,
  imHighQualityBilinear = 6,
  imHighQualityBicubic = 7
};
enum TkxCombineMode : int { cmReplace = 0, cmIntersect = 1, cmUnion = 2, cmXor = 3, cmExclude = 4, cmComplement = 5 };

// Token of a saved drawing state.
using TkxGraphicsSaveToken = uint32_t;

class TkxGraphics {
 public:
  // Graphics on a canvas; page unit pixels (as GDI+ on a device context),
  // identity transform, no clip.
  explicit TkxGraphics(TkxEmfRecorder& canvas);
  TkxGraphics(const TkxGraphics&) = delete;
  TkxGraphics& operator=(const TkxGraphics&) = delete;

  TkxEmfRecorder& Canvas() { return canvas_; }
  double DpiX() const { return canvas_.PPI(); }
  double DpiY() const { return canvas_.PPI(); }

  // ---- Page transform ----
  TkxUnit PageUnit() const { return st_.pageUnit; }
  void SetPageUnit(TkxUnit unit);  // unWorld is not a page unit and is ignored
  double PageScale() const { return st_.pageScale; }
  void SetPageScale(double scale);

  // ---- World transform ----
  const TkxMatrix& Transform() const { return st_.world; }
  void SetTransform(const TkxMatrix& m) { st_.world = m; }
  void ResetTransform() { st_.world.Reset(); }
  void MultiplyTransform(const TkxMatrix& m, TkxMatrixOrder order = moPrepend) { st_.world.Multiply(m, order); }
  void TranslateTransform(double dx, double dy, TkxMatrixOrder order = moPrepend) {
    st_.world.Translate(dx, dy, order);
  }
  void ScaleTransform(double sx, double sy, TkxMatrixOrder order = moPrepend) { st_.world.Scale(sx, sy, order); }
  void RotateTransform(double degrees, TkxMatrixOrder order = moPrepend) { st_.world.Rotate(degrees, order); }
  // World units to device pixels (the world transform, then the page transform).
  TkxMatrix DeviceTransform() const;
  // A device rectangle (right and bottom exclusive) outside which the clip
  // shows nothing: the intersection of its steps' bounds. False without a clip.
  bool ClipBounds(TkxEmfRectL& box) const;
  // The clip's steps (device pixels), oldest first; empty without a clip.
  const TkxEmfClip& Clip() const { return st_.clip; }

  // ---- Quality settings (kept in the drawing state; the recording does not carry them) ----
  TkxSmoothingMode SmoothingMode() const { return st_.smoothing; }
  void SetSmoothingMode(TkxSmoothingMode m) { st_.smoothing = m; }
  TkxTextRenderingHint TextRenderingHint() const { return st_.textHint; }
  void SetTextRenderingHint(TkxTextRenderingHint h) { st_.textHint = h; }
  int TextContrast() const { return st_.textContrast; }
  void SetTextContrast(int c) { st_.textContrast = c; }
  TkxPixelOffsetMode PixelOffsetMode() const { return st_.pixelOffset; }
  void SetPixelOffsetMode(TkxPixelOffsetMode m) { st_.pixelOffset = m; }
  TkxInterpolationMode InterpolationMode() const { return st_.interpolation; }
  void SetInterpolationMode(TkxInterpolationMode m) { st_.interpolation = m; }

  // ---- Saved states: transform, page unit and scale, clip, quality settings ----
  TkxGraphicsSaveToken Save();
  // Restores the state saved under token and drops it and every state saved
  // after it; an unknown token does nothing.
  void Restore(TkxGraphicsSaveToken token);

  // ---- Clipping ----
  // cmIntersect intersects the clip with the path (filled by its fill mode),
  // cmReplace makes the path the clip; other modes leave the clip unchanged.
  void SetClip(const TkxGraphicsPath& path, TkxCombineMode mode = cmIntersect);
  void SetClip(const TkxRectF& rect, TkxCombineMode mode = cmIntersect);
  void ResetClip() { st_.clip.clear(); }
  bool IsClipInfinite() const { return st_.clip.empty(); }

  // ---- Drawing ----
  void FillPath(const TkxSolidBrush& brush, const TkxGraphicsPath& path);
  void DrawPath(const TkxPen& pen, const TkxGraphicsPath& path);
  void FillRectangle(const TkxSolidBrush& brush, const TkxRectF& rect);
  void DrawRectangle(const TkxPen& pen, const TkxRectF& rect);
  void DrawLine(const TkxPen& pen, double x1, double y1, double x2, double y2);

  // The string's layout box has its top-left corner at origin (moved by the
  // format's alignment and padding); the first line's baseline lies one cell
  // ascent below it.
  void DrawString(std::u16string_view text, const TkxFont& font, const TkxPointF& origin, const TkxStringFormat& format,
                  const TkxSolidBrush& brush);
  // Lines (broken at line feeds and, unless sffNoWrap, at spaces to fit the
  // width) aligned in the layout rectangle by the format's alignment (across)
  // and line alignment (down); clipped to the rectangle unless sffNoClip.
  void DrawString(std::u16string_view text, const TkxFont& font, const TkxRectF& layout, const TkxStringFormat& format,
                  const TkxSolidBrush& brush);
  // Width of the string and height of one line, in world units.
  TkxPointF MeasureString(std::u16string_view text, const TkxFont& font, const TkxStringFormat& format) const;

  // The part src (in pixels of the picture) of the picture, stretched into
  // dest (world units). The colour matrix's alpha factor decides only whether
  // anything is drawn: a recording carries opaque pictures.
  void DrawImage(const TkxBitmap& image, const TkxRectF& dest, const TkxRectF& src, TkxUnit srcUnit = unPixel,
                 const TkxImageAttributes* attributes = nullptr);
  // A whole JPEG picture of width x height pixels stretched into dest,
  // recorded as its JPEG data (a BI_JPEG device-independent bitmap). False,
  // with nothing drawn, when dest does not land upright on the canvas
  // (rotated, sheared or mirrored): the caller then draws the pixels.
  bool DrawJPEG(const std::vector<uint8_t>& jpeg, int width, int height, const TkxRectF& dest,
                const TkxImageAttributes* attributes = nullptr);

 private:
  struct State {
    TkxMatrix world;
    TkxUnit pageUnit = unDisplay;
    double pageScale = 1.0;
    TkxEmfClip clip;
    TkxSmoothingMode smoothing = smDefault;
    TkxTextRenderingHint textHint = trhSystemDefault;
    int textContrast = 4;
    TkxPixelOffsetMode pixelOffset = pomDefault;
    TkxInterpolationMode interpolation = imBilinear;
  };
  struct TextLayout;

  double UnitToPixels(TkxUnit unit) const;
  double FontSizeInWorld(const TkxFont& font) const;
  void DrawTextLine(std::u16string_view text, const TkxFont& font, const TkxPointF& topLeft, const TkxSolidBrush& brush,
                    const TkxEmfRectL* clipRect);
  void FillDevicePath(const TkxSolidBrush& brush, const TkxGraphicsPath& path, const TkxMatrix& m);
  void StrokeDevicePath(const TkxPen& pen, const TkxGraphicsPath& path, const TkxMatrix& m);
  void AddClipStep(TkxEmfClipStepPtr step, TkxCombineMode mode);

  TkxEmfRecorder& canvas_;
  State st_;
  std::vector<std::pair<TkxGraphicsSaveToken, State>> saved_;
  TkxGraphicsSaveToken nextToken_ = 1;
  // Storage a text run is laid out in, used again by the next run.
  std::vector<double> runAdvances_;
  std::vector<int32_t> runDx_;
  // The font of the last run.
  TkxLogFontW runFont_;
  // What the last few families drawn in give a run: a page's text
  // alternates between a few faces (roman, italic, symbols), and looking
  // each up by name for every run costs more than laying the run out.
  struct RecentFace {
    std::string Family;
    int Style = 0;
    TkxFamilyMetrics Metrics;
    std::u16string FaceName;  // at most 31 units, as recorded
  };
  static constexpr size_t kRecentFaces = 4;
  std::array<RecentFace, kRecentFaces> recentFaces_;
  size_t recentCount_ = 0, recentNext_ = 0;
  const RecentFace& FaceOf(const TkxFont& font, int style);
};

}  // namespace pw
