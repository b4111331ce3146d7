// Drawing onto a TkxBitmap through cairo: shapes with a pen and a brush in
// the conventions of the Windows drawing calls the converter was built on
// (box shapes exclude their right and bottom edge, arcs run counter-clockwise
// from the start to the end radial), pictures, and rotated text.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kxBitmap.h"
#include "platform/kxRasterOps.h"

namespace pw {

// A cairo image surface over a bitmap's pixels (ARGB32 with alpha, RGB24 without). The bitmap must outlive it
// and keep its size. Finish() flushes; the destructor does too.
class TkxCairoSurface {
 public:
  explicit TkxCairoSurface(TkxBitmap& bitmap);
  ~TkxCairoSurface();
  TkxCairoSurface(const TkxCairoSurface&) = delete;
  TkxCairoSurface& operator=(const TkxCairoSurface&) = delete;
  cairo_surface_t* Get() const { return surface_; }
  void Finish();

 private:
  cairo_surface_t* surface_ = nullptr;
};

// Styles in the order of the VCL enumerations they stand for (psSolid.., bsSolid..), so that a cast maps them.
enum class TkxPenStyle : uint8_t { Solid, Dash, Dot, DashDot, DashDotDot, Clear, InsideFrame };
enum class TkxBrushStyle : uint8_t { Solid, Clear, Horizontal, Vertical, FDiagonal, BDiagonal, Cross, DiagCross };
enum class TkxLineCap : uint8_t { Round, Square, Flat };
enum class TkxLineJoin : uint8_t { Round, Bevel, Miter };
enum class TkxFillMode : uint8_t { Alternate, Winding };  // even-odd / non-zero

// Colours here are 0xAARRGGBB, unpremultiplied.
constexpr uint32_t ColorRefToARGB(uint32_t colorRef) {  // COLORREF / TColor 0x00BBGGRR, opaque
  return 0xFF000000u | (colorRef & 0xFF) << 16 | (colorRef & 0xFF00) | ((colorRef >> 16) & 0xFF);
}

struct TkxCanvasPen {
  uint32_t Color = 0xFF000000u;
  double Width = 1;  // pixels; 0 draws one pixel wide
  TkxPenStyle Style = TkxPenStyle::Solid;
  TkxLineCap Cap = TkxLineCap::Flat;
  TkxLineJoin Join = TkxLineJoin::Miter;
  double MiterLimit = 10;
};

struct TkxCanvasBrush {
  uint32_t Color = 0xFFFFFFFFu;
  TkxBrushStyle Style = TkxBrushStyle::Solid;
  // A pattern bitmap tiled from the bitmap's origin; when set it replaces Color and Style.
  std::shared_ptr<const TkxBitmap> Pattern;
};

struct TkxCanvasFont {
  std::string Family = "Arial";  // resolved through the font manager (substitution, registered fonts)
  double EmSize = 16;            // em height in pixels
  int Style = 0;                 // TkxFontStyle bits (fsBold, fsItalic, fsUnderline, fsStrikeout)
};

struct TkxCanvasPoint {
  double x = 0, y = 0;
};

struct TkxTextExtent {
  double Width = 0;    // advance of the text
  double Ascent = 0;   // cell ascent above the baseline
  double Descent = 0;  // cell descent below it
  double Height() const { return Ascent + Descent; }
};

class TkxBitmapCanvas {
 public:
  explicit TkxBitmapCanvas(TkxBitmap& target);
  ~TkxBitmapCanvas();
  TkxBitmapCanvas(const TkxBitmapCanvas&) = delete;
  TkxBitmapCanvas& operator=(const TkxBitmapCanvas&) = delete;

  TkxCanvasPen Pen;
  TkxCanvasBrush Brush;
  TkxFillMode FillMode = TkxFillMode::Alternate;
  bool Antialias = true;
  bool ArcClockwise = false;     // arcs, chords and pies run counter-clockwise unless set
  uint32_t HatchBackground = 0;  // behind hatch lines; alpha 0 leaves it transparent

  // Added to every coordinate that follows (to shift a shape's box to the bitmap's origin).
  void SetOrigin(double x, double y);

  // Box shapes: the brush covers pixels left..right-1 and top..bottom-1; a pen runs along the edge pixels
  // (centred on the line half a pixel inside the box, so a 1-pixel pen covers exactly the edge pixels).
  void Rectangle(double left, double top, double right, double bottom);
  void FillRect(double left, double top, double right, double bottom);  // brush only
  void RoundRect(double left, double top, double right, double bottom, double cornerWidth, double cornerHeight);
  void Ellipse(double left, double top, double right, double bottom);
  // The radials through the start and end points bound the curve; equal points give the whole ellipse.
  void Arc(double left, double top, double right, double bottom, double xs, double ys, double xe, double ye);
  void Chord(double left, double top, double right, double bottom, double xs, double ys, double xe, double ye);
  void Pie(double left, double top, double right, double bottom, double xs, double ys, double xe, double ye);

  // Point shapes: points are pixel positions (a 1-pixel pen covers the pixel at each point).
  void Line(double x1, double y1, double x2, double y2);
  void Polyline(const std::vector<TkxCanvasPoint>& points);
  void Polygon(const std::vector<TkxCanvasPoint>& points);
  // Start point then three points per segment; a trailing incomplete segment is ignored. Not filled.
  void PolyBezier(const std::vector<TkxCanvasPoint>& points);
  // counts[i] points per polygon, taken in turn from points (stops where points run out); one fill with FillMode.
  void PolyPolygon(const std::vector<TkxCanvasPoint>& points, const std::vector<int>& counts);

  // Draws a picture into the rectangle (stretched; negative sizes mirror), composited over what is there.
  void DrawBitmap(const TkxBitmap& picture, double x, double y, double width, double height,
                  TkxStretchFilter filter = TkxStretchFilter::sfSmooth, double opacity = 1.0);

  // Text with its cell's top-left corner at (x, y), turned counter-clockwise by angle degrees about that point.
  void TextOut(double x, double y, std::u16string_view text, const TkxCanvasFont& font, uint32_t color,
               double angle = 0);
  TkxTextExtent MeasureText(std::u16string_view text, const TkxCanvasFont& font);

 private:
  void ApplyPen();
  bool SetBrushSource();  // false for a clear brush
  void FillAndStroke(bool fill, bool stroke);
  void EllipsePath(double cx, double cy, double rx, double ry);
  void RoundRectPath(double l, double t, double r, double b, double rx, double ry);
  void ArcPath(double left, double top, double right, double bottom, double xs, double ys, double xe, double ye,
               int kind, double inset);
  struct FontSetup;
  FontSetup SelectFont(const TkxCanvasFont& font);
  std::vector<cairo_glyph_t> LayOut(const FontSetup& fs, const TkxCanvasFont& font, std::u16string_view text,
                                    double* width);

  TkxBitmap& target_;
  TkxCairoSurface surface_;
  cairo_t* cr_ = nullptr;
};

}  // namespace pw
