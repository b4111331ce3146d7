// Smooth shadings and patterns on the page canvas: the shading functions,
// "sh" painted as a picture of the clipped area, shading-pattern fills and
// tiling patterns filled with their cell's colour.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pdf/kxPDFDoc.h"
#include "pdf/kxPDFStreamReader.h"
#include "platform/kxBitmap.h"
#include "platform/kxEmf.h"
#include "platform/kxEmfRecorder.h"
#include "render/kxPageRenderer.h"
#include "render/kxShadingDrawing.h"
#include "tests/render/render_support.h"

using namespace pw;
using pwtest::TestPage;

namespace {

// The pictures of a recording, with their destination rectangles.
struct Picture {
  TkxEmfRectL Dest;
  TkxBitmap Bitmap;
};

std::vector<Picture> Pictures(const TestPage& page) {
  TkxPDFDocument doc;
  doc.LoadFromMemory(pwtest::MakePdf(page));
  TkxEmfRecorder canvas(612, 792, 72);
  RenderPage(doc, 1, canvas);
  std::vector<Picture> out;
  canvas.Close().EnumerateRecords([&](const TkxEmfRecord& r) {
    TkxEmrStretchDIBits rec;
    if (r.Type() == EMR_STRETCHDIBITS && DecodeStretchDIBits(r, rec) && rec.Dib.Present())
      out.push_back({{rec.xDest, rec.yDest, rec.xDest + rec.cxDest, rec.yDest + rec.cyDest},
                     TkxBitmap::FromDIB(rec.Dib.Bmi, rec.Dib.BmiSize, rec.Dib.Bits, rec.Dib.BitsSize)});
    return true;
  });
  return out;
}

// 0x00RRGGBB of a pixel.
uint32_t Rgb(const TkxBitmap& b, double fx, double fy) {
  const int x = std::min(b.Width() - 1, static_cast<int>(fx * b.Width()));
  const int y = std::min(b.Height() - 1, static_cast<int>(fy * b.Height()));
  return b.Pixel(x, y) & 0xFFFFFF;
}

int Red(uint32_t c) { return (c >> 16) & 0xFF; }
int Green(uint32_t c) { return (c >> 8) & 0xFF; }
int Blue(uint32_t c) { return c & 0xFF; }

}  // namespace

TEST(Shading, FunctionsGiveTheColours) {
  // Axial shadings from x 0 to 100 over a 100 x 20 box each, sampled at a
  // quarter and three quarters of the way.
  TestPage page;
  page.Resources += " /Shading << /S1 20 0 R /S2 21 0 R /S3 22 0 R >>";
  page.Objects = {
      {20,
       "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] /Function << /FunctionType 3 "
       "/Domain [0 1] /Functions [<< /FunctionType 2 /C0 [1 1 0] /C1 [0 1 0] >> "
       "<< /FunctionType 2 /C0 [0 0 1] /C1 [0 0 1] >>] /Bounds [0.5] /Encode [0 1 0 1] >> >>"},
      {21, "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 100 0] /Function 23 0 R >>"},
      {22,
       "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] /Function [<< /FunctionType 2 /C0 [0] "
       "/C1 [1] >> << /FunctionType 2 /C0 [1] /C1 [1] >> << /FunctionType 2 /C0 [1] /C1 [0] >>] >>"},
  };
  page.Streams = {
      {23, "/FunctionType 0 /Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 8", std::string("\x00\xff", 2)}};
  page.Content = "q 0 700 100 20 re W n /S1 sh Q q 0 650 100 20 re W n /S2 sh Q q 0 600 100 20 re W n /S3 sh Q";
  const std::vector<Picture> pics = Pictures(page);
  ASSERT_EQ(pics.size(), 3u);
  // Stitched: yellow to green over the first half, blue over the second.
  EXPECT_GT(Red(Rgb(pics[0].Bitmap, 0.25, 0.5)), 100);
  EXPECT_GT(Green(Rgb(pics[0].Bitmap, 0.25, 0.5)), 200);
  EXPECT_GT(Blue(Rgb(pics[0].Bitmap, 0.75, 0.5)), 200);
  EXPECT_LT(Green(Rgb(pics[0].Bitmap, 0.75, 0.5)), 50);
  // Sampled: black to white.
  EXPECT_NEAR(Red(Rgb(pics[1].Bitmap, 0.25, 0.5)), 64, 20);
  EXPECT_NEAR(Red(Rgb(pics[1].Bitmap, 0.75, 0.5)), 191, 20);
  // One function per component: red rises, blue falls, green stays.
  const uint32_t a = Rgb(pics[2].Bitmap, 0.25, 0.5), b = Rgb(pics[2].Bitmap, 0.75, 0.5);
  EXPECT_LT(Red(a), Red(b));
  EXPECT_GT(Blue(a), Blue(b));
  EXPECT_GT(Green(a), 240);
}

// Where a shading's colour runs straight between bends it is drawn with a
// stop at each bend: the bends of stitched pieces, through their encodings.
TEST(Shading, StraightPiecesAreFoundWithTheirBends) {
  struct Case {
    const char* function;
    bool straight;
    std::vector<double> knots;
  };
  const Case cases[] = {
      {"<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >>", true, {0, 1}},
      {"<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 2 >>", false, {}},
      {"<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [2] /Range [0 1] >>", false, {}},  // clipped
      {"<< /FunctionType 3 /Domain [0 2] /Bounds [0.5] /Encode [1 0 0 2] /Functions [<< /FunctionType 3 "
       "/Domain [0 1] /Bounds [0.25] /Encode [0 1 0 1] /Functions [<< /FunctionType 2 /C0 [0] /C1 [1] >> "
       "<< /FunctionType 2 /C0 [1] /C1 [0] >>] >> << /FunctionType 2 /Domain [0 2] /C0 [0] /C1 [1] >>] >>",
       true,
       {0, 0.375, 0.5, 2}},
      {"<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 8 >>", false, {}},
      {"[<< /FunctionType 2 /C0 [0] /C1 [1] >> << /FunctionType 3 /Domain [0 1] /Bounds [0.2] "
       "/Encode [0 1 0 1] /Functions [<< /FunctionType 2 /C0 [0] /C1 [1] >> << /FunctionType 2 /C0 [1] "
       "/C1 [1] >>] >>]",
       true,
       {0, 0.2, 1}},
  };
  TkxPDFDocument doc;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    const std::string text = c.function;
    TkxPDFStreamReader reader(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 1);
    PDFObjectPtr obj = reader.ParseObject();
    ASSERT_TRUE(obj);
    TkxShadingFunction fn;
    if (!fn.Load(doc, obj.get())) {
      EXPECT_FALSE(c.straight);
      continue;
    }
    std::vector<double> knots;
    EXPECT_EQ(fn.Knots(knots), c.straight);
    if (!c.straight) continue;
    ASSERT_EQ(knots.size(), c.knots.size());
    for (size_t i = 0; i < knots.size(); ++i) EXPECT_NEAR(knots[i], c.knots[i], 1e-12);
  }
}

TEST(Shading, ShIsAPictureOfTheClippedArea) {
  TestPage page;
  page.Resources += " /Shading << /Sh1 20 0 R /Sh2 21 0 R >>";
  page.Objects = {
      {20,
       "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [100 0 300 0] /Extend [true true] "
       "/Function << /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [0 0 1] /N 1 >> >>"},
      {21,
       "<< /ShadingType 3 /ColorSpace /DeviceRGB /Coords [475 217 0 475 217 75] /Extend [false true] "
       "/Function << /FunctionType 2 /Domain [0 1] /C0 [1 1 0] /C1 [0 0 0] /N 1 >> >>"},
  };
  page.Content = "q 100 592 200 100 re W n /Sh1 sh Q q 400 542 150 150 re W n 1 0 0 1 0 400 cm /Sh2 sh Q /Sh3 sh";
  const std::vector<Picture> pics = Pictures(page);
  ASSERT_EQ(pics.size(), 2u);  // the unknown shading paints nothing
  EXPECT_EQ(pics[0].Dest.left, 100);
  EXPECT_EQ(pics[0].Dest.top, 100);
  EXPECT_EQ(pics[0].Dest.right, 300);
  EXPECT_EQ(pics[0].Dest.bottom, 200);
  const uint32_t left = Rgb(pics[0].Bitmap, 0.02, 0.5), right = Rgb(pics[0].Bitmap, 0.98, 0.5);
  EXPECT_GT(Red(left), 200);
  EXPECT_LT(Blue(left), 50);
  EXPECT_GT(Blue(right), 200);
  EXPECT_LT(Red(right), 50);
  const uint32_t centre = Rgb(pics[1].Bitmap, 0.5, 0.5), corner = Rgb(pics[1].Bitmap, 0.01, 0.01);
  EXPECT_GT(Red(centre), 200);
  EXPECT_GT(Green(centre), 200);
  EXPECT_LT(Red(corner) + Green(corner) + Blue(corner), 30);

  // Under a clip of another shape (a triangle with its right angle at the
  // bottom left) the picture is cut to it: the paper shows beyond its
  // slanted side, not the gradient's bounding box.
  page.Content = "q 100 592 m 300 592 l 100 692 l h W n /Sh1 sh Q";
  const std::vector<Picture> cut = Pictures(page);
  ASSERT_EQ(cut.size(), 1u);
  const uint32_t inside = Rgb(cut[0].Bitmap, 0.1, 0.9), beyond = Rgb(cut[0].Bitmap, 0.9, 0.1);
  EXPECT_GT(Red(inside), 200);
  EXPECT_LT(Blue(inside), 50);
  EXPECT_EQ(beyond, 0xFFFFFFu);
}

TEST(Shading, PatternFills) {
  TestPage page;
  page.Resources += " /Pattern << /P1 20 0 R /P2 21 0 R /P3 22 0 R >> /ColorSpace << /CS0 [/Pattern /DeviceRGB] >>";
  page.Objects = {{20,
                   "<< /PatternType 2 /Shading << /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 0 100] "
                   "/Extend [true true] /Function << /FunctionType 2 /C0 [0] /C1 [1] >> >> >>"}};
  page.Streams = {{21,
                   "/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] /XStep 10 /YStep 10 "
                   "/Resources << >>",
                   "0 0.6 0 rg 0 0 5 5 re f"},
                  {22,
                   "/PatternType 1 /PaintType 2 /TilingType 1 /BBox [0 0 10 10] /XStep 10 /YStep 10 "
                   "/Resources << >>",
                   "q 2 w 5 0 m 5 10 l S Q"}};
  page.Content =
      "/Pattern cs /P1 scn 50 0 100 100 re f /Pattern cs /P2 scn 300 0 100 100 re f "
      "/CS0 cs 0 1 0 /P3 scn 450 0 100 100 re f";
  TkxPDFDocument doc;
  ASSERT_TRUE(doc.LoadFromMemory(pwtest::MakePdf(page)));
  const pwtest::Recording rec = pwtest::RenderPdf(pwtest::MakePdf(page), 612, 792, 1);
  // The shading pattern becomes a picture; the tiling pattern a fill in its
  // cell's colour.
  const std::vector<Picture> pics = Pictures(page);
  ASSERT_EQ(pics.size(), 1u);
  // Black at the bottom of the box (y 0 on the page), white at its top.
  EXPECT_GT(Red(Rgb(pics[0].Bitmap, 0.5, 0.05)), 200);
  EXPECT_LT(Red(Rgb(pics[0].Bitmap, 0.5, 0.95)), 50);
  bool green = false, hatched = false;
  // A quarter of the cell in 0 0.6 0, the rest paper: (191, 230, 191).
  for (uint32_t c : rec.BrushColors) green = green || c == 0xBFE6BF;
  EXPECT_TRUE(green);
  // An uncoloured pattern of lines 2 wide every 10 in the green given with
  // it: a fifth of the cell green, a light tint rather than a solid.
  for (uint32_t c : rec.BrushColors) hatched = hatched || c == 0xCCFFCC;
  EXPECT_TRUE(hatched);
}

TEST(Shading, FunctionTreesAreBounded) {
  // Each stitching level names the next one 256 times: 256^6 functions when
  // read as a tree. Such a shading is left out, and the same function as a
  // tint transform reads as no function, both at once.
  TestPage page;
  page.Resources +=
      " /Shading << /S1 << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] /Function 30 0 R >> >>"
      " /ColorSpace << /CS1 [/Separation /Spot /DeviceRGB 30 0 R] >>";
  std::string bounds, encode;
  for (int k = 1; k < 256; ++k) bounds += std::to_string(k / 256.0) + " ";
  for (int k = 0; k < 256; ++k) encode += "0 1 ";
  for (int level = 0; level < 6; ++level) {
    std::string kids;
    for (int k = 0; k < 256; ++k) kids += std::to_string(31 + level) + " 0 R ";
    page.Objects.push_back({30 + level, "<< /FunctionType 3 /Domain [0 1] /Functions [" + kids + "] /Bounds [" +
                                            bounds + "] /Encode [" + encode + "] >>"});
  }
  page.Objects.push_back({36, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [1 0 0] >>"});
  page.Content = "q 0 700 100 20 re W n /S1 sh Q /CS1 cs 0.5 scn 0 600 100 20 re f";
  EXPECT_TRUE(Pictures(page).empty());
}
