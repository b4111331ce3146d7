#include <gtest/gtest.h>

#include <limits>

#include <climits>

#include "platform/kxBitmapCanvas.h"
#include "platform/kxFontManager.h"

using namespace pw;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF, kBlack = 0xFF000000, kRed = 0xFFFF0000, kBlue = 0xFF0000FF;

struct Ink {
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;  // inclusive box of pixels with alpha > 0
  int Width() const { return right - left + 1; }
  int Height() const { return bottom - top + 1; }
};

Ink InkBox(const TkxBitmap& b) {
  Ink k;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Pixel(x, y) >> 24) {
        k.left = std::min(k.left, x), k.right = std::max(k.right, x);
        k.top = std::min(k.top, y), k.bottom = std::max(k.bottom, y);
      }
  return k;
}

}  // namespace

// Box shapes cover left..right-1 and top..bottom-1, the pen on the edge pixels, the brush inside.
TEST(BitmapCanvas, BoxShapesPenAndBrush) {
  struct Case {
    const char* what;
    TkxPenStyle pen;
    TkxBrushStyle brush;
    uint32_t edge, inside;
  };
  const Case cases[] = {
      {"pen and brush", TkxPenStyle::Solid, TkxBrushStyle::Solid, kBlack, kRed},
      {"clear brush", TkxPenStyle::Solid, TkxBrushStyle::Clear, kBlack, kWhite},
      {"clear pen", TkxPenStyle::Clear, TkxBrushStyle::Solid, kRed, kRed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TkxBitmap b(10, 10);
    {
      TkxBitmapCanvas cv(b);
      cv.Pen.Style = c.pen;
      cv.Brush.Color = kRed;
      cv.Brush.Style = c.brush;
      cv.Rectangle(2, 2, 8, 8);
    }
    EXPECT_EQ(b.Pixel(2, 2), c.edge);
    EXPECT_EQ(b.Pixel(7, 5), c.edge);
    EXPECT_EQ(b.Pixel(5, 7), c.edge);
    EXPECT_EQ(b.Pixel(5, 5), c.inside);
    EXPECT_EQ(b.Pixel(8, 8), kWhite);
    EXPECT_EQ(b.Pixel(1, 5), kWhite);
  }

  TkxBitmap e(21, 21);
  {
    TkxBitmapCanvas cv(e);
    cv.Pen.Style = TkxPenStyle::Clear;
    cv.Brush.Color = kBlue;
    cv.Ellipse(0, 0, 21, 21);
    cv.SetOrigin(0, 0);
  }
  EXPECT_EQ(e.Pixel(10, 10), kBlue);
  EXPECT_EQ(e.Pixel(10, 1), kBlue);
  EXPECT_EQ(e.Pixel(1, 1), kWhite);
  EXPECT_EQ(e.Pixel(20, 20), kWhite);

  TkxBitmap r(20, 20);
  {
    TkxBitmapCanvas cv(r);
    cv.Pen.Style = TkxPenStyle::Clear;
    cv.Brush.Color = kBlue;
    cv.RoundRect(0, 0, 20, 20, 12, 12);
  }
  EXPECT_EQ(r.Pixel(0, 10), kBlue);  // straight edge
  EXPECT_EQ(r.Pixel(0, 0), kWhite);  // rounded corner
}

// Arcs run counter-clockwise from the start radial to the end radial unless told otherwise.
TEST(BitmapCanvas, PiesAndChords) {
  struct Case {
    bool clockwise;
    bool chord;
    std::vector<std::pair<int, int>> filled, empty;
  };
  const Case cases[] = {
      {false, false, {{28, 12}, {22, 18}}, {{12, 28}, {12, 12}, {28, 28}}},  // upper-right quadrant
      {true, false, {{12, 28}, {12, 12}, {28, 28}}, {{28, 12}}},             // the other three
      {false, true, {{32, 8}}, {{24, 16}, {12, 28}}},                        // beyond the chord line
  };
  for (const Case& c : cases) {
    TkxBitmap b(41, 41);
    {
      TkxBitmapCanvas cv(b);
      cv.Pen.Style = TkxPenStyle::Clear;
      cv.Brush.Color = kRed;
      cv.ArcClockwise = c.clockwise;
      if (c.chord)
        cv.Chord(0, 0, 41, 41, 40, 20, 20, 0);
      else
        cv.Pie(0, 0, 41, 41, 40, 20, 20, 0);
    }
    for (auto [x, y] : c.filled) EXPECT_EQ(b.Pixel(x, y), kRed) << x << "," << y;
    for (auto [x, y] : c.empty) EXPECT_EQ(b.Pixel(x, y), kWhite) << x << "," << y;
  }
  // Equal start and end points draw the whole ellipse.
  TkxBitmap whole(21, 21);
  {
    TkxBitmapCanvas cv(whole);
    cv.Arc(0, 0, 21, 21, 20, 10, 20, 10);
  }
  EXPECT_NE(whole.Pixel(0, 10), kWhite);
  EXPECT_NE(whole.Pixel(20, 10), kWhite);
  EXPECT_NE(whole.Pixel(10, 0), kWhite);
}

TEST(BitmapCanvas, FillModes) {
  // Five-pointed star: its centre is inside under the winding rule only.
  const std::vector<TkxCanvasPoint> star = {{20, 0}, {32, 38}, {0, 14}, {40, 14}, {8, 38}};
  // Two squares of the same orientation, one inside the other: a hole under the alternate rule only.
  const std::vector<TkxCanvasPoint> squares = {{0, 0},   {39, 0},  {39, 39}, {0, 39},
                                               {10, 10}, {29, 10}, {29, 29}, {10, 29}};
  for (TkxFillMode mode : {TkxFillMode::Alternate, TkxFillMode::Winding}) {
    TkxBitmap a(41, 41), b(41, 41);
    {
      TkxBitmapCanvas cv(a);
      cv.Pen.Style = TkxPenStyle::Clear;
      cv.Brush.Color = kBlue;
      cv.FillMode = mode;
      cv.Polygon(star);
      TkxBitmapCanvas cv2(b);
      cv2.Pen.Style = TkxPenStyle::Clear;
      cv2.Brush.Color = kBlue;
      cv2.FillMode = mode;
      cv2.PolyPolygon(squares, {4, 4});
      TkxBitmap scratch(4, 4);
      TkxBitmapCanvas cv3(scratch);
      cv3.PolyPolygon(squares, {3, 1000, -5});  // counts beyond the points stop where the points end
    }
    uint32_t centre = mode == TkxFillMode::Winding ? kBlue : kWhite;
    EXPECT_EQ(a.Pixel(20, 22), centre);
    EXPECT_EQ(a.Pixel(20, 4), kBlue);  // a tip
    EXPECT_EQ(b.Pixel(20, 20), centre);
    EXPECT_EQ(b.Pixel(5, 20), kBlue);
  }
}

TEST(BitmapCanvas, LinesCurvesAndPens) {
  TkxBitmap b(40, 30);
  {
    TkxBitmapCanvas cv(b);
    cv.Line(1, 5, 38, 5);  // one pixel wide, on row 5
    cv.PolyBezier({{0, 25}, {10, 12}, {28, 12}, {38, 25}});
    cv.Pen.Style = TkxPenStyle::Dash;
    cv.Polyline({{0, 28}, {39, 28}});
  }
  EXPECT_EQ(b.Pixel(20, 5), kBlack);
  EXPECT_EQ(b.Pixel(20, 4), kWhite);
  EXPECT_EQ(b.Pixel(20, 6), kWhite);
  EXPECT_EQ(b.Pixel(19, 25), kWhite);  // the curve is not filled or closed
  Ink curve;
  for (int y = 10; y < 25; ++y)
    if (b.Pixel(19, y) != kWhite) {
      curve.top = y;
      break;
    }
  EXPECT_NEAR(curve.top, 15, 1);  // apex of the curve: 25 - 0.75 * 13
  int gaps = 0, ink = 0;
  for (int x = 0; x < 40; ++x) (b.Pixel(x, 28) == kWhite ? gaps : ink)++;
  EXPECT_GT(gaps, 0);
  EXPECT_GT(ink, gaps);
}

TEST(BitmapCanvas, HatchesAndPatterns) {
  TkxBitmap b(16, 16, true);
  {
    TkxBitmapCanvas cv(b);
    cv.Pen.Style = TkxPenStyle::Clear;
    cv.Brush.Style = TkxBrushStyle::Horizontal;
    cv.Brush.Color = kRed;
    cv.FillRect(0, 0, 16, 16);
  }
  EXPECT_EQ(b.Pixel(3, 7), kRed);
  EXPECT_EQ(b.Pixel(3, 15), kRed);
  EXPECT_EQ(b.Pixel(3, 6), 0u);  // transparent between the lines

  auto tile = std::make_shared<TkxBitmap>(2, 1);
  tile->SetPixel(0, 0, kBlue);
  TkxBitmap p(6, 2);
  {
    TkxBitmapCanvas cv(p);
    cv.Brush.Pattern = tile;
    cv.SetOrigin(1, 0);  // the tiles stay anchored to the bitmap
    cv.FillRect(0, 0, 5, 2);
  }
  EXPECT_EQ(p.Pixel(2, 1), kBlue);
  EXPECT_EQ(p.Pixel(3, 1), kWhite);
  EXPECT_EQ(p.Pixel(4, 0), kBlue);
}

TEST(BitmapCanvas, DrawBitmapStretchesAndBlends) {
  TkxBitmap pic(2, 1, true);
  pic.SetPixel(0, 0, kRed);
  pic.SetPixel(1, 0, 0x800000FF);
  TkxBitmap b(8, 4);
  {
    TkxBitmapCanvas cv(b);
    cv.DrawBitmap(pic, 0, 0, 8, 4, TkxStretchFilter::sfNearest);
  }
  EXPECT_EQ(b.Pixel(1, 2), kRed);
  EXPECT_EQ(b.Pixel(6, 2), 0xFF7F7FFFu);  // half blue over white

  // A placement that cannot be drawn draws nothing, and leaves the canvas
  // able to draw what follows.
  TkxBitmap c(8, 4);
  {
    TkxBitmapCanvas cv(c);
    cv.DrawBitmap(pic, std::numeric_limits<double>::quiet_NaN(), 0, 8, 4, TkxStretchFilter::sfNearest);
    cv.DrawBitmap(pic, 0, 0, 1e-300, 1e-300, TkxStretchFilter::sfNearest);
    cv.DrawBitmap(pic, 0, 0, 8, 4, TkxStretchFilter::sfNearest);
  }
  EXPECT_EQ(c.Pixel(1, 2), kRed);
}

// Text hangs from its reference point and turns counter-clockwise about it.
TEST(BitmapCanvas, RotatedTextOnTransparentBitmap) {
  TkxCanvasFont font;
  font.Family = "Arial";
  font.EmSize = 20;
  const std::u16string text = u"Paperwright";
  TkxBitmap flat(200, 40, true), turned(40, 200, true);
  TkxTextExtent ext;
  {
    TkxBitmapCanvas cv(flat);
    ext = cv.MeasureText(text, font);
    cv.TextOut(5, 5, text, font, kBlack);
    TkxBitmapCanvas cv2(turned);
    cv2.TextOut(5, 195, text, font, kBlack, 90);
  }
  EXPECT_GT(ext.Width, 80);
  EXPECT_NEAR(ext.Height(), 23, 3);  // cell height of a 20-pixel em
  Ink a = InkBox(flat), b = InkBox(turned);
  EXPECT_GE(a.left, 5);
  EXPECT_GE(a.top, 5);
  EXPECT_NEAR(a.Width(), ext.Width, 4);
  EXPECT_LT(a.bottom, 5 + ext.Height() + 1);
  // Turned a quarter: runs upwards from y 195, the cell lying to the right of x 5.
  EXPECT_NEAR(b.Height(), a.Width(), 2);
  EXPECT_NEAR(b.Width(), a.Height(), 2);
  EXPECT_LE(b.bottom, 195);
  EXPECT_GE(b.left, 5);
  EXPECT_EQ(turned.Pixel(0, 0), 0u);  // background stays transparent

  // Underline draws a bar under the whole run, spaces included.
  for (int style : {0, int(fsUnderline)}) {
    TkxBitmap under(100, 40, true);
    int column;
    {
      TkxBitmapCanvas cv(under);
      font.Style = style;
      column = 5 + static_cast<int>(cv.MeasureText(u"a    a", font).Width / 2);
      cv.TextOut(5, 5, u"a    a", font, kBlack);
    }
    bool inked = false;
    for (int y = 0; y < 40; ++y) inked |= (under.Pixel(column, y) >> 24) != 0;
    EXPECT_EQ(inked, style != 0);
  }
}
