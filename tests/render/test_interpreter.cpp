// The interpreter: paths, colours and clipping, the state stack, hostile
// content, inline images, content arrays, form XObjects and page geometry.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "render/kxContentParser.h"
#include "render/render_support.h"

using namespace pwtest;
using pw::TkxEmfPointL;

namespace {

struct Box {
  int left, top, right, bottom;
  bool operator==(const Box&) const = default;
};
Box BoundsOf(const std::vector<TkxEmfPointL>& pts) {
  Box b{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (const auto& p : pts) {
    b.left = std::min(b.left, p.x);
    b.top = std::min(b.top, p.y);
    b.right = std::max(b.right, p.x);
    b.bottom = std::max(b.bottom, p.y);
  }
  return b;
}

std::string Form(const std::string& resources, const std::string& extra) {
  return "/Type /XObject /Subtype /Form /BBox [0 0 500 500] " + extra +
         (resources.empty() ? "" : " /Resources << " + resources + " >>");
}

}  // namespace

TEST(Interpreter, FilledRectangleInPageSpace) {
  Recording r = RenderContent("0 0 1 rg 10 10 100 50 re f");
  ASSERT_EQ(r.Polygons.size(), 1u);
  EXPECT_EQ(BoundsOf(r.Polygons[0]), (Box{10, 732, 110, 782}));
  ASSERT_FALSE(r.BrushColors.empty());
  EXPECT_EQ(r.BrushColors.back(), 0xFF0000u);

  // A negative height extends the rectangle downwards.
  Recording neg = RenderContent("10 10 100 -50 re f");
  ASSERT_EQ(neg.Polygons.size(), 1u);
  EXPECT_EQ(BoundsOf(neg.Polygons[0]), (Box{10, 782, 110, 832}));

  // Past the operand stack's bound the oldest operands go: an operator
  // still takes the newest, here the four whose last reaches the bound.
  std::string crowded = "0 0 1 rg ";
  for (size_t i = 0; i + 4 < pw::TkxPageRenderContext::kMaxOperands; i += 2) crowded += "7 /N ";
  Recording many = RenderContent(crowded + "10 10 100 50 re f");
  ASSERT_EQ(many.Polygons.size(), 1u);
  EXPECT_EQ(BoundsOf(many.Polygons[0]), (Box{10, 732, 110, 782}));
  ASSERT_FALSE(many.BrushColors.empty());
  EXPECT_EQ(many.BrushColors.back(), 0xFF0000u);
}

TEST(Interpreter, PaintingOperators) {
  struct Case {
    const char* content;
    bool filled, stroked;
  } cases[] = {
      {"10 10 m 100 10 l 100 100 l h S", false, true},  {"10 10 m 100 10 l 100 100 l s", false, true},
      {"10 10 m 100 10 l 100 100 l f", true, false},    {"10 10 m 100 10 l 100 100 l F", true, false},
      {"10 10 m 100 10 l 100 100 l f*", true, false},   {"10 10 m 100 10 l 100 100 l B", true, true},
      {"10 10 m 100 10 l 100 100 l b*", true, true},    {"10 10 m 100 10 l 100 100 l n", false, false},
      {"10 10 m 50 90 100 90 150 10 c S", false, true}, {"10 10 m S", false, false},  // a lone point draws nothing
  };
  for (const Case& c : cases) {
    Recording r = RenderContent(c.content);
    EXPECT_EQ(r.Filled() > 0, c.filled) << c.content;
    EXPECT_EQ(r.Stroked() > 0, c.stroked) << c.content;
  }
}

TEST(Interpreter, ColourSpacesAndAlpha) {
  struct Case {
    std::string content;
    uint32_t brush;  // COLORREF of the last brush
  } cases[] = {
      {"0.5 g", 0x808080},
      {"1 0 0 0 k", 0xFFFF00},
      {"/DeviceGray cs 0.2 sc /DeviceRGB cs 1 0 0 sc", 0x0000FF},
      {"/CS1 cs 1 sc", 0x000000},  // separation, full tint through its C1
      {"/CS1 cs 0.5 sc", 0x808080},
      {"/CS2 cs 0 0 1 scn", 0xFF0000},         // ICC-based, three components
      {"/CS3 cs 1 sc", 0x00FF00},              // indexed: entry 1 of the lookup
      {"1 0 0 rg /P0 cs /Pat scn", 0x0000FF},  // a pattern keeps the colour before
      {"1 0 0 rg /Nope cs 0.5 sc", 0x0000FF},  // an unknown space keeps it too
      // Fills share the pictures' colour spaces: any tint transform, Lab,
      // indexed spaces over any base.
      {"/CS4 cs 1 sc", 0x0000FF},        // separation through a calculator function to red
      {"/CS5 cs 100 0 0 sc", 0xFFFFFF},  // Lab white
      {"/CS5 cs 50 80 0 sc", 0x7A00E8},  // Lab magenta, not a gray of its lightness
      {"/CS6 cs 1 sc", 0x0000FF},        // indexed over the separation: entry 1 is full tint
  };
  for (const Case& c : cases) {
    TestPage p;
    p.Resources =
        "/ColorSpace << /CS1 [/Separation /Spot /DeviceGray << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>]"
        " /CS2 [/ICCBased 20 0 R] /CS3 [/Indexed /DeviceRGB 1 <FF0000 00FF00>] /P0 /Pattern"
        " /CS4 [/Separation /Red /DeviceRGB 21 0 R] /CS5 [/Lab << /WhitePoint [0.9505 1 1.089] >>]"
        " /CS6 [/Indexed [/Separation /Red /DeviceRGB 21 0 R] 1 <00FF>] >>";
    p.Streams.push_back({20, "/N 3", "icc"});
    p.Streams.push_back({21, "/FunctionType 4 /Domain [0 1] /Range [0 1 0 1 0 1]", "{ 0 0 }"});
    p.Content = c.content + " 10 10 100 50 re f";
    Recording r = RenderTestPage(p);
    ASSERT_FALSE(r.BrushColors.empty()) << c.content;
    EXPECT_EQ(r.BrushColors.back(), c.brush) << c.content;
  }
}

TEST(Interpreter, StateStackAndClipping) {
  // Q brings the colour back; an unbalanced Q changes nothing and drawing goes on.
  Recording r = RenderContent("1 0 0 rg q 0 0 1 rg 0 0 10 10 re f Q 20 20 10 10 re f Q Q 40 40 10 10 re f");
  ASSERT_GE(r.BrushColors.size(), 2u);
  EXPECT_EQ(r.BrushColors[0], 0xFF0000u);
  EXPECT_EQ(r.BrushColors[1], 0x0000FFu);
  EXPECT_EQ(r.Polygons.size(), 3u);

  // A clipping path applies after the painting operator that ends it (also
  // after f), and only until the enclosing Q.
  Recording clip = RenderContent("q 0 0 100 100 re W f 200 200 10 10 re f Q 300 300 10 10 re f");
  EXPECT_EQ(clip.Polygons.size(), 3u);
  EXPECT_GE(clip.IntersectRects.size() + clip.Count(pw::EMR_SELECTCLIPPATH), 1u);
  const size_t resets = clip.Count(pw::EMR_EXTSELECTCLIPRGN);
  EXPECT_GE(resets, 1u);
}

TEST(Interpreter, HostileContentIsBounded) {
  struct Case {
    std::string content;
    const char* text;  // what must still be drawn
  } cases[] = {
      {std::string(200000, '1') + " 0 0 rg BT (x) Tj ET", "x"},
      {[] {
         std::string s;
         for (int i = 0; i < 50000; ++i) s += "1 ";
         return s + "BT (x) Tj ET";
       }(),
       "x"},
      {std::string(100000, 'q') + " BT (x) Tj ET", "x"},  // one word, not an operator
      {[] {
         std::string s;
         for (int i = 0; i < 2000; ++i) s += "q ";
         for (int i = 0; i < 2100; ++i) s += "Q ";
         return s + "BT (x) Tj ET";
       }(),
       "x"},
      {"foo 1 2 bar BT /F1 10 Tf baz (x) Tj ET", "x"},
      {"BT /F1 10 Tf 1 0 0 (x) Tj ET", "x"},    // leftover operands
      {"BT /F1 (10) Tf (x) Tj 12 Tj ET", "x"},  // operands of the wrong kind
      {"BT /F1 10 Tf (x) Tj (unterminated", "x"},
      {"BT /F1 10 Tf [(x) -100", ""},
      {"0 0 m 1e999 1 l S BT (x) Tj ET", "x"},
      {"99999999999 0 0 99999999999 0 0 cm BT (x) Tj ET", ""},  // far too large to draw
  };
  for (const Case& c : cases) {
    Recording r = RenderContent(c.content);
    EXPECT_EQ(r.JoinedText(), c.text) << c.content.substr(0, 60);
  }
}

TEST(Interpreter, InlineImagesAreSkipped) {
  struct Case {
    std::string content;
  } cases[] = {
      // 16 data bytes that hold " EI " themselves: the length decides.
      {std::string("BI /W 4 /H 4 /BPC 8 /CS /G ID ") + "ab EI cdefghijkl" + " EI BT (x) Tj ET"},
      // Filtered data: the data runs to a free-standing EI.
      {"BI /W 4 /H 4 /BPC 8 /CS /RGB /F /AHx ID 00112233EIx 4455> EI BT (x) Tj ET"},
      {"BI /W 2 /H 2 /IM true ID \x01\x02 EI BT (x) Tj ET"},
      {"BI /W 9 /H 9 /BPC 8 /CS /CMYK ID \x01\x02 EI BT (x) Tj ET"},  // too short: the EI found
  };
  for (const Case& c : cases) {
    Recording r = RenderContent(c.content);
    EXPECT_EQ(r.JoinedText(), "x") << c.content;
  }
  // Data that never ends stops at the end of the content.
  Recording open = RenderContent("BT (a) Tj ET BI /W 100 /H 100 ID \x01\x02\x03");
  EXPECT_EQ(open.JoinedText(), "a");
}

TEST(Interpreter, ContentArrayJoinsPartsWithoutJoiningTokens) {
  TestPage p;
  p.PageExtra = "/Contents [4 0 R 21 0 R 22 0 R]";
  p.Content = "BT /F1 10 Tf 100 500 Td (A) Tj 1 0 0";
  p.Streams.push_back({21, "", "rg (B) Tj (C) T"});
  p.Streams.push_back({22, "", "j (D) Tj ET"});
  Recording r = RenderTestPage(p);
  // "T" and "j" in different parts are two words: C is not shown (D
  // continues B and is joined to it).
  EXPECT_EQ(r.JoinedText(), "A|BD");
  ASSERT_EQ(r.Texts.size(), 2u);
  EXPECT_EQ(r.Texts[1].Color, 0x0000FFu);
}

TEST(Interpreter, FormsRunWithMatrixBoxStateAndResources) {
  TestPage p;
  p.Resources = "/Font << /F1 5 0 R >> /XObject << /Fm1 30 0 R /Fm2 31 0 R /Self 32 0 R /Loop1 33 0 R >>";
  // Fm1: a whole matrix (scale 2, moved to 100 100), its own fonts.
  p.Streams.push_back({30, Form("/Font << /F1 6 0 R >> /XObject << /Inner 34 0 R >>", "/Matrix [2 0 0 2 100 100]"),
                       "BT /F1 10 Tf 0 0 Td (form) Tj ET /Inner Do BT /F1 10 Tf (after) Tj ET"});
  // Fm2: no resources of its own: the page's are used; inherits the colour.
  p.Streams.push_back({31, Form("", ""), "BT /F1 10 Tf 300 300 Td (two) Tj ET"});
  // Self draws itself; Loop1 and Inner draw each other.
  p.Streams.push_back({32, Form("/XObject << /Self 32 0 R >>", ""), "/Self Do BT (self) Tj ET"});
  p.Streams.push_back({33, Form("/XObject << /X 34 0 R >>", ""), "/X Do"});
  p.Streams.push_back({34, Form("/XObject << /X 33 0 R >>", ""), "/X Do BT (inner) Tj ET"});
  p.Content = "0 1 0 rg /Fm1 Do BT /F1 10 Tf 50 50 Td (page) Tj ET /Fm2 Do /Self Do /Loop1 Do";
  Recording r = RenderTestPage(p);
  const std::string joined = r.JoinedText();
  EXPECT_EQ(joined, "form|inner|after|page|two|self|inner");
  ASSERT_GE(r.Texts.size(), 5u);
  // form: origin 0 0 through the matrix lands at 100 100, at twice the size, in Times.
  EXPECT_EQ(r.Texts[0].Reference.x, 100);
  EXPECT_EQ(r.Texts[0].Height, -20);
  EXPECT_EQ(Utf8(r.Texts[0].Face), "Times New Roman");
  // "after": the form's own font again after the nested Do.
  EXPECT_EQ(Utf8(r.Texts[2].Face), "Times New Roman");
  EXPECT_EQ(r.Texts[2].Color, 0x00FF00u);
  // The page's own text is unaffected by the form.
  EXPECT_EQ(r.Texts[3].Reference.x, 50);
  EXPECT_EQ(r.Texts[3].Height, -10);
  EXPECT_EQ(Utf8(r.Texts[3].Face), "Arial");
  // The form's box is a clip.
  EXPECT_GE(r.IntersectRects.size() + r.Count(pw::EMR_SELECTCLIPPATH), 1u);
}

TEST(Interpreter, FormBoxClipsToItsTransformedBox) {
  TestPage p;
  p.Resources = "/XObject << /Fm 30 0 R >>";
  p.Streams.push_back(
      {30, "/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Matrix [1 0 0 1 100 200]", "0 0 1000 1000 re f"});
  p.Content = "/Fm Do";
  Recording r = RenderTestPage(p);
  ASSERT_EQ(r.IntersectRects.size(), 1u);
  const pw::TkxEmfRectL c = r.IntersectRects[0];
  EXPECT_EQ(c.left, 100);
  EXPECT_EQ(c.right, 110);
  EXPECT_EQ(c.top, 792 - 210);
  EXPECT_EQ(c.bottom, 792 - 200);
}

TEST(Interpreter, PageGeometry) {
  // In every case the run's baseline starts 72 points from the left edge and
  // 92 points below the top edge of the page as it is shown.
  struct Case {
    std::string extra, mediaBox, content;
    int width, height;  // canvas in points
    int escapement;
  } cases[] = {
      // The crop box's lower-left corner is the page's corner.
      {"/CropBox [100 100 712 892]", "[0 0 1000 1000]", "BT /F1 10 Tf 172 800 Td (x) Tj ET", 612, 792, 0},
      {"", "[-50 -50 562 742]", "BT /F1 10 Tf 22 650 Td (x) Tj ET", 612, 792, 0},
      {"/Rotate 90", "[0 0 612 792]", "BT /F1 10 Tf 72 700 Td (x) Tj ET", 792, 612, 2700},
      {"/Rotate 180", "[0 0 612 792]", "BT /F1 10 Tf 72 700 Td (x) Tj ET", 612, 792, 1800},
      {"/Rotate 270", "[0 0 612 792]", "BT /F1 10 Tf 72 700 Td (x) Tj ET", 792, 612, 900},
  };
  for (const Case& c : cases) {
    TestPage p;
    p.PageExtra = c.extra;
    p.MediaBox = c.mediaBox;
    p.Content = c.content;
    Recording r = RenderTestPage(p, c.width, c.height);
    ASSERT_EQ(r.Texts.size(), 1u) << c.extra;
    const RecordedText& t = r.Texts[0];
    EXPECT_EQ(t.Escapement, c.escapement) << c.extra;
    // The reference point is the top of the run: one ascent (under 10) from the baseline.
    switch (c.escapement) {
      case 0:  // upright
        EXPECT_EQ(t.Reference.x, 72) << c.extra << c.mediaBox;
        EXPECT_GT(t.Reference.y, 92 - 10) << c.extra << c.mediaBox;
        EXPECT_LT(t.Reference.y, 92) << c.extra << c.mediaBox;
        break;
      case 2700:  // turned clockwise: the page's top edge is the canvas's right edge
        EXPECT_GT(t.Reference.x, 792 - 92);
        EXPECT_LT(t.Reference.x, 792 - 92 + 10);
        EXPECT_EQ(t.Reference.y, 72);
        break;
      case 1800:
        EXPECT_EQ(t.Reference.x, 612 - 72);
        EXPECT_GT(t.Reference.y, 792 - 92);
        EXPECT_LT(t.Reference.y, 792 - 92 + 10);
        break;
      default:  // turned counter-clockwise: the top edge is on the left
        EXPECT_LT(t.Reference.x, 92);
        EXPECT_GT(t.Reference.x, 92 - 10);
        EXPECT_EQ(t.Reference.y, 612 - 72);
        break;
    }
  }
}

TEST(Interpreter, GraphicsStatesFromTheResourcesOfTheirContent) {
  TestPage p;
  // A direct entry and an indirect one; the form has its own. A name is the
  // same name however its bytes are spelled (#xx escapes) in either place.
  p.Resources = "/ExtGState << /Wide << /LW 5 >> /Cl#65ar 40 0 R >> /XObject << /Fm 30 0 R >>";
  p.Objects.push_back({40, "<< /ca 0 >>"});
  p.Objects.push_back({41, "<< /LW 9 >>"});
  p.Streams.push_back(
      {30, "/Type /XObject /Subtype /Form /BBox [0 0 500 500] /Resources << /ExtGState << /Wide 41 0 R >> >>",
       "/Wide gs 0 0 m 10 0 l S"});
  p.Content = "/Wide gs 0 0 m 10 0 l S /Clear gs 0 0 10 10 re f /F#6d Do";
  Recording r = RenderTestPage(p);
  EXPECT_EQ(r.Filled(), 0u);  // fill alpha 0 draws nothing
  std::vector<uint32_t> widths;
  r.Metafile.EnumerateRecords([&](const pw::TkxEmfRecord& rec) {
    pw::TkxEmrExtCreatePen pen;
    if (rec.Type() == pw::EMR_EXTCREATEPEN && pw::DecodeExtCreatePen(rec, pen)) widths.push_back(pen.LogPen.Width);
    return true;
  });
  EXPECT_EQ(widths, (std::vector<uint32_t>{5, 9}));
}

TEST(Interpreter, TranslucentPaintIsRecordedAsItShowsOnThePaper) {
  // Pens and brushes of the recording have no alpha: red at half strength
  // is recorded as the pink it makes on white, not as red.
  TestPage p;
  p.Resources = "/ExtGState << /Half << /ca 0.5 /CA 0.5 >> >>";
  p.Content = "/Half gs 1 0 0 rg 1 0 0 RG 0 0 10 10 re f 20 20 m 30 30 l S";
  Recording r = RenderTestPage(p);
  ASSERT_FALSE(r.BrushColors.empty());
  ASSERT_FALSE(r.PenColors.empty());
  for (uint32_t c : {r.BrushColors.back(), r.PenColors.back()}) {  // COLORREF: red in the low byte
    EXPECT_EQ(c & 0xFF, 255u);
    EXPECT_NEAR(static_cast<double>((c >> 8) & 0xFF), 128, 1);
    EXPECT_NEAR(static_cast<double>((c >> 16) & 0xFF), 128, 1);
  }
}

TEST(Interpreter, FormNestingIsBounded) {
  // Forms 30..59 each show their number and draw the next one.
  TestPage p;
  p.Resources = "/Font << /F1 5 0 R >> /XObject << /N 30 0 R >>";
  for (int i = 30; i < 60; ++i)
    p.Streams.push_back(
        {i,
         "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> "
         "/XObject << /N " +
             std::to_string(i + 1) + " 0 R >> >>",
         "BT /F1 10 Tf 10 " + std::to_string(800 - 20 * (i - 29)) + " Td (" + std::to_string(i) + ") Tj ET /N Do"});
  p.Content = "/N Do";
  Recording r = RenderTestPage(p);
  ASSERT_FALSE(r.Texts.empty());
  EXPECT_EQ(Utf8(r.Texts.front().Text), "30");
  EXPECT_EQ(r.Texts.size(), static_cast<size_t>(pw::TkxPageRenderContext::kMaxFormDepth));
}
