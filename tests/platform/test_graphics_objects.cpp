#include <gtest/gtest.h>

#include "platform/kxGraphicsObjects.h"
#include "platform/kxScreen.h"

using namespace pw;

TEST(Color, PackingAndSystemColors) {
  EXPECT_EQ(RGBColor(0x12, 0x34, 0x56), 0x563412);
  EXPECT_EQ(ColorRed(0x563412), 0x12);
  EXPECT_EQ(ColorGreen(0x563412), 0x34);
  EXPECT_EQ(ColorBlue(0x563412), 0x56);
  EXPECT_EQ(clRed, RGBColor(255, 0, 0));
  EXPECT_EQ(clBlue, 0xFF0000);

  struct Case {
    TColor in, out;
  };
  const Case cases[] = {
      {clWindowText, clBlack}, {clWindow, clWhite}, {clBtnFace, RGBColor(240, 240, 240)},
      {clRed, clRed},          {clNone, clNone},    {clDefault, clDefault},
      {SystemColor(99), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ColorToRGB(c.in), c.out) << std::hex << c.in;
  EXPECT_TRUE(IsSystemColor(clWindowText));
  EXPECT_FALSE(IsSystemColor(clNone));
}

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  struct Case {
    int a, b, c, r;
  };
  const Case cases[] = {
      {8, 96, 72, 11}, {-16, 72, 96, -12}, {1, 1, 2, 1}, {-1, 1, 2, -1},
      {3, 1, -2, -2},  {5, 7, 0, -1},      {0, 5, 3, 0}, {2000000000, 2, 1, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.r) << c.a << "*" << c.b << "/" << c.c;
}

TEST(Font, SizeFollowsHeightAtItsResolution) {
  const TFont def;
  EXPECT_EQ(def.Name(), "MS Sans Serif");
  EXPECT_EQ(def.PixelsPerInch(), TkxScreen::PPI());
  EXPECT_EQ(def.Height(), -MulDiv(8, TkxScreen::PPI(), 72));
  EXPECT_EQ(def.Color(), clWindowText);
  EXPECT_EQ(def.Charset(), DEFAULT_CHARSET);
  EXPECT_EQ(def.Pitch(), fpDefault);
  EXPECT_EQ(def.Style(), fsRegular);

  TFont f;
  f.SetPixelsPerInch(96);
  f.SetSize(12);
  EXPECT_EQ(f.Height(), -16);
  f.SetHeight(-15);  // a font given by its pixel height reports whole points
  EXPECT_EQ(f.Size(), 11);
  f.SetHeight(20);  // a cell height reads as a negative size
  EXPECT_EQ(f.Size(), -15);

  f.SetHeight(-16);
  f.SetName("Arial");
  f.SetStyle(fsBold | fsUnderline | 0x40);
  EXPECT_EQ(f.Style(), fsBold | fsUnderline);
  f.ExcludeStyle(fsBold);
  f.IncludeStyle(fsItalic);
  EXPECT_TRUE(f.HasStyle(fsItalic));
  EXPECT_FALSE(f.HasStyle(fsBold));
  f.SetColor(clRed);
  f.SetCharset(RUSSIAN_CHARSET);

  // Across resolutions the point size survives, not the pixel height.
  TFont g;
  g.SetPixelsPerInch(120);
  g.Assign(f);
  EXPECT_EQ(g.PixelsPerInch(), 120);
  EXPECT_EQ(g.Size(), 12);
  EXPECT_EQ(g.Height(), -20);
  EXPECT_EQ(g.Name(), "Arial");
  EXPECT_EQ(g.Style(), fsItalic | fsUnderline);
  EXPECT_EQ(g.Color(), clRed);
  EXPECT_EQ(g.Charset(), RUSSIAN_CHARSET);
  TFont h;
  h.SetPixelsPerInch(96);
  h.Assign(f);
  EXPECT_EQ(h, f);
}

TEST(PenAndBrush, DefaultsAndVclRules) {
  TPen pen;
  EXPECT_EQ(pen.Color(), clBlack);
  EXPECT_EQ(pen.Width(), 1);
  EXPECT_EQ(pen.Style(), psSolid);
  EXPECT_EQ(pen.Mode(), pmCopy);
  pen.SetWidth(-3);
  EXPECT_EQ(pen.Width(), 1);
  pen.SetWidth(0);
  EXPECT_EQ(pen.Width(), 0);

  TBrush b;
  EXPECT_EQ(b.Color(), clWhite);
  EXPECT_EQ(b.Style(), bsSolid);
  b.SetColor(clRed);
  b.SetStyle(bsClear);  // a clear brush is white
  EXPECT_EQ(b.Color(), clWhite);
  b.SetColor(clBlue);  // colouring a clear brush makes it solid
  EXPECT_EQ(b.Style(), bsSolid);
  b.SetStyle(bsCross);
  EXPECT_EQ(b.Color(), clBlue);
  TBrush copy;
  copy.Assign(b);
  EXPECT_EQ(copy, b);
}
