#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kxDocSettings.h"
#include "engine/kxFormatSettings.h"
#include "engine/kxImageSettings.h"
#include "engine/kxPageSettings.h"
#include "platform/kxScreen.h"

using namespace pw;

namespace {

// A page in the unit's terms, as an engine's Page reads.
TkxPageSettings PageIn(TkxUnitType unit) {
  TkxPageSettings p;
  p.SetUnitFactor(UnitFactorOf(unit));
  return p;
}

}  // namespace

TEST(UnitFactor, ByUnitAndResolution) {
  struct Case {
    TkxUnitType unit;
    double ppi, factor;
  };
  const Case cases[] = {
      {muPixels, 96, 1.0},        {muInches, 96, 96.0},       {muMM, 96, 3.77952},    {muPoints, 96, 4.0 / 3.0},
      {muTwips, 96, 1.0 / 15.0},  {muPixels, 120, 1.0},       {muInches, 120, 120.0}, {muMM, 120, 4.7244},
      {muPoints, 120, 5.0 / 3.0}, {muTwips, 120, 1.0 / 12.0},
  };
  for (const Case& c : cases) EXPECT_NEAR(UnitFactorOf(c.unit, c.ppi), c.factor, 1e-12) << c.unit << " at " << c.ppi;
  EXPECT_DOUBLE_EQ(UnitFactorOf(muInches), TkxScreen::PPI());
}

TEST(PageSettings, PaperSizesInEveryUnit) {
  const double ppi = TkxScreen::PPI();
  struct Case {
    TkxPaperSize size;
    TkxUnitType unit;
    double width, height;
  };
  const Case cases[] = {
      {TkxPaperSize::A4, muInches, 8.2677, 11.6929},
      {TkxPaperSize::A4, muMM, 210.0, 297.0},
      {TkxPaperSize::A4, muPoints, 595.2744, 841.8888},
      {TkxPaperSize::A4, muTwips, 11905.488, 16837.776},
      {TkxPaperSize::A4, muPixels, 8.2677 * ppi, 11.6929 * ppi},
      {TkxPaperSize::Letter, muInches, 8.5, 11.0},
      {TkxPaperSize::Letter, muMM, 215.9, 279.4},
      {TkxPaperSize::Letter, muPoints, 612.0, 792.0},
      {TkxPaperSize::Letter, muTwips, 12240.0, 15840.0},
      {TkxPaperSize::Letter, muPixels, 8.5 * ppi, 11.0 * ppi},
      // Rows kept as they have always been used.
      {TkxPaperSize::ps11X17, muInches, 10.0, 17.0},
      {TkxPaperSize::EnvC4, muInches, 9.1057, 12.7559},
      {TkxPaperSize::Ledger, muInches, 17.0, 11.0},
      {TkxPaperSize::EnvB6, muInches, 6.9291, 4.9212},
      {TkxPaperSize::FanfoldUS, muInches, 14.875, 11.0},
      {TkxPaperSize::ISOB4, muInches, 9.8425, 13.8976},
  };
  for (const Case& c : cases) {
    TkxPageSettings p = PageIn(c.unit);
    p.SetPaperSize(c.size);
    const double tol = c.unit == muMM ? 0.01 : 1e-6 * c.height;
    EXPECT_NEAR(p.Width(), c.width, tol) << PaperSizeInfo(c.size).DisplayName << " unit " << c.unit;
    EXPECT_NEAR(p.Height(), c.height, tol) << PaperSizeInfo(c.size).DisplayName << " unit " << c.unit;
  }
}

TEST(PageSettings, TableNamesAndBounds) {
  const std::pair<TkxPaperSize, std::string> names[] = {
      {TkxPaperSize::Letter, "Letter"},   {TkxPaperSize::A4Small, "A4 Small"},
      {TkxPaperSize::ps10X14, "10 X 14"}, {TkxPaperSize::CSheet, "C Sheet"},
      {TkxPaperSize::EnvC65, "Env C65"},  {TkxPaperSize::FanfoldStdGerman, "Fanfold Std German"},
      {TkxPaperSize::ISOB4, "ISO B4"},    {TkxPaperSize::Custom, "Custom"},
  };
  for (const auto& [size, name] : names) EXPECT_EQ(PaperSizeInfo(size).DisplayName, name);
  EXPECT_EQ(static_cast<int>(TkxPaperSize::Custom), kPaperSizeCount - 1);
  EXPECT_EQ(PaperSizeFromInt(8), TkxPaperSize::A4);
  EXPECT_EQ(PaperSizeFromInt(41), TkxPaperSize::Custom);
  EXPECT_EQ(PaperSizeFromInt(-1), TkxPaperSize::Custom);
  EXPECT_STREQ(PaperSizeInfo(static_cast<TkxPaperSize>(99)).DisplayName, "Custom");
}

TEST(PageSettings, DefaultsOrientationAndCustomSize) {
  TkxPageSettings p = PageIn(muInches);
  EXPECT_EQ(p.PaperSize(), TkxPaperSize::A4);
  EXPECT_EQ(p.Orientation(), poPortrait);
  EXPECT_EQ(p.LeftMargin() + p.RightMargin() + p.TopMargin() + p.BottomMargin(), 0.0);
  EXPECT_EQ(p.HeaderHeight() + p.FooterHeight(), 0.0);
  EXPECT_EQ(p.BinNumber(), 0);
  EXPECT_EQ(TkxPageSettings().UnitFactor(), 1.0);

  // A later paper size follows the current orientation; a repeated
  // orientation swaps nothing.
  p.SetOrientation(poLandscape);
  p.SetOrientation(poLandscape);
  p.SetPaperSize(TkxPaperSize::A3);
  EXPECT_NEAR(p.Width(), 16.5354, 1e-9);
  EXPECT_NEAR(p.Height(), 11.6929, 1e-9);
  p.SetOrientation(poPortrait);
  EXPECT_NEAR(p.Width(), 11.6929, 1e-9);

  // Width and Height are writable only for the Custom size, which keeps the
  // size it was given.
  p.SetPaperSize(TkxPaperSize::A4);
  p.SetWidth(100);
  p.SetHeight(100);
  EXPECT_NEAR(p.Width(), 8.2677, 1e-9);
  p.SetPaperSize(TkxPaperSize::Custom);
  EXPECT_NEAR(p.Width(), 8.2677, 1e-9);
  p.SetWidth(100);
  EXPECT_DOUBLE_EQ(p.Width(), 100);
  EXPECT_DOUBLE_EQ(p.Stored(ppWidth), 100 * TkxScreen::PPI());

  // Bad unit factors would divide by zero later.
  p.SetUnitFactor(0);
  p.SetUnitFactor(-2);
  EXPECT_DOUBLE_EQ(p.UnitFactor(), TkxScreen::PPI());
  // Stored values from outside are sanitised.
  p.SetStored(ppBinNumber, 1e300);
  EXPECT_EQ(p.BinNumber(), 0);
  p.SetStored(ppPaperSize, 7);
  EXPECT_EQ(p.PaperSize(), TkxPaperSize::A3);
}

TEST(PageSettings, AssignAndCopyKeepStoredPixels) {
  TkxPageSettings engine = PageIn(muInches);
  engine.SetPaperSize(TkxPaperSize::Letter);
  engine.SetOrientation(poLandscape);
  engine.SetLeftMargin(1);
  engine.SetFooterHeight(0.5);
  engine.SetBinNumber(3);

  TkxPageSettings mm = PageIn(muMM);
  mm.Assign(engine);
  EXPECT_NEAR(mm.Width(), 279.4, 0.01);
  EXPECT_NEAR(mm.LeftMargin(), 25.4, 0.001);
  EXPECT_EQ(mm.Orientation(), poLandscape);
  EXPECT_EQ(mm.PaperSize(), TkxPaperSize::Letter);
  EXPECT_EQ(mm.BinNumber(), 3);
  EXPECT_DOUBLE_EQ(mm.UnitFactor(), UnitFactorOf(muMM));

  // A copy (what a page record keeps) reads in pixels.
  const TkxPageSettings copy(engine);
  const double ppi = TkxScreen::PPI();
  EXPECT_DOUBLE_EQ(copy.UnitFactor(), 1.0);
  EXPECT_DOUBLE_EQ(copy.Width(), 11.0 * ppi);
  EXPECT_DOUBLE_EQ(copy.LeftMargin(), ppi);
  EXPECT_DOUBLE_EQ(copy.FooterHeight(), 0.5 * ppi);
}

namespace {

class FakeImageOwner : public TkxImageSettingsOwner {
 public:
  bool IsImageFormatSupported(TkxOutputImageFormat f, std::string& message) override {
    if (f == ifGIF || f == ifCCITT3 || f == ifCCITT4) {
      message = "The RTF Engine does not support this format";
      return false;
    }
    return true;
  }
  void ShowErrorMessageBox(const std::string& message) override { shown.push_back(message); }
  std::vector<std::string> shown;
};

}  // namespace

TEST(ImageSettings, DefaultsAndRefusedFormats) {
  TkxImageSettings s;
  EXPECT_EQ(s.SourceDPI, TkxScreen::PPI());
  EXPECT_EQ(s.OutputImageFormat(), ifJPEG);
  EXPECT_EQ(s.ImagePixelFormat, pf24bit);
  EXPECT_EQ(s.JPEGQuality(), 100);
  EXPECT_FALSE(s.CenterImage || s.StretchImage || s.ScaleToFit || s.TransparentImage || s.FrameImage);
  EXPECT_TRUE(s.SetOutputImageFormat(ifGIF));  // nobody to refuse it

  FakeImageOwner engine;
  TkxImageSettings owned(&engine);
  EXPECT_TRUE(owned.SetOutputImageFormat(ifPNG));
  EXPECT_FALSE(owned.SetOutputImageFormat(ifGIF));
  EXPECT_EQ(owned.OutputImageFormat(), ifPNG);
  ASSERT_EQ(engine.shown.size(), 1u);
  EXPECT_EQ(engine.shown[0], "The RTF Engine does not support this format");

  // Assign copies everything but passes the format through the same check.
  s.SetOutputImageFormat(ifCCITT4);
  s.SetJPEGQuality(40);
  s.StretchImage = true;
  s.SourceDPI = -1;
  owned.Assign(s);
  EXPECT_EQ(owned.OutputImageFormat(), ifPNG);
  EXPECT_EQ(owned.JPEGQuality(), 40);
  EXPECT_TRUE(owned.StretchImage);
  EXPECT_EQ(owned.SourceDPI, -1);
  EXPECT_EQ(engine.shown.size(), 2u);
  EXPECT_EQ(owned.Owner(), &engine);

  // A copy (an image item's) has no owner.
  const TkxImageSettings copy(owned);
  EXPECT_EQ(copy.Owner(), nullptr);
  EXPECT_EQ(copy.JPEGQuality(), 40);

  for (auto [given, kept] : {std::pair{0, 1}, {101, 100}, {-5, 1}, {75, 75}}) {
    s.SetJPEGQuality(given);
    EXPECT_EQ(s.JPEGQuality(), kept) << given;
  }
}

TEST(Preferences, DefaultsAndAssignAcrossTheFamily) {
  const TkxPreferences base;
  EXPECT_TRUE(base.OpenAfterCreate());
  EXPECT_FALSE(base.EmailAfterCreate());
  EXPECT_FALSE(base.OutputToUserStream());
  EXPECT_FALSE(base.ProcessAfterEachPage());
  EXPECT_TRUE(base.ShowSetupDialog());
  EXPECT_TRUE(base.CalculateVariables());
  EXPECT_TRUE(base.UseImagesAsResources());
  TkxPlainSheetPreferences sheet;
  EXPECT_TRUE(sheet.ActiveHyperLinks());

  sheet.SetOpenAfterCreate(false);
  sheet.SetProcessAfterEachPage(true);
  sheet.SetActiveHyperLinks(false);
  TkxPreferences plain;
  plain.Assign(sheet);
  EXPECT_FALSE(plain.OpenAfterCreate());
  EXPECT_TRUE(plain.ProcessAfterEachPage());

  // Through the base class a descendant still copies its own switch ...
  TkxPlainSheetPreferences other;
  TkxPreferences& asBase = other;
  asBase.Assign(sheet);
  EXPECT_FALSE(other.ActiveHyperLinks());
  EXPECT_TRUE(other.ProcessAfterEachPage());
  // ... and from a base object only the base values arrive.
  other.Assign(TkxPreferences());
  EXPECT_FALSE(other.ActiveHyperLinks());
  EXPECT_TRUE(other.OpenAfterCreate());
  const TkxPlainSheetPreferences copy(sheet);
  EXPECT_FALSE(copy.ActiveHyperLinks());
  EXPECT_EQ(copy.Owner(), nullptr);
}

TEST(FormatSettings, DefaultsAndUnits) {
  const TkxBorder border;
  EXPECT_FALSE(border.AnySide());
  EXPECT_EQ(border.Color, clBlack);
  EXPECT_EQ(border.Style, psSolid);
  EXPECT_EQ(border.Width, 1);
  EXPECT_EQ(TkxParaBorder().Spacing, 0);
  const TkxTextEffects fx;
  EXPECT_EQ(fx.TextRenderMode, trmFill);
  EXPECT_EQ(fx.TextRise, trNormal);

  TkxFrame frame;
  EXPECT_TRUE(frame.DrawLeft && frame.DrawRight && frame.DrawTop && frame.DrawBottom);
  frame.SetUnitFactor(10);
  frame.SetPaddingLeft(2);
  EXPECT_DOUBLE_EQ(frame.StoredPadding().Left, 20);
  const TkxFrame frameCopy(frame);
  EXPECT_DOUBLE_EQ(frameCopy.PaddingLeft(), 20);

  TkxTextFormatting f;
  EXPECT_EQ(f.LineSpacing, 1.0);
  EXPECT_EQ(f.Alignment, haLeft);
  f.SetUnitFactor(4);
  f.SetFirstIndent(3);
  TkxTextFormatting g;
  g.SetUnitFactor(2);
  g.Assign(f);
  EXPECT_DOUBLE_EQ(g.FirstIndent(), 6);
  EXPECT_DOUBLE_EQ(g.UnitFactor(), 2);

  TkxTableSettings t;
  t.SetUnitFactor(3);
  t.SetCellPadding({1, 2, 3, 4});
  EXPECT_EQ(t.StoredCellPadding(), (TkxDoubleRect{3, 6, 9, 12}));
  EXPECT_EQ(t.CellPadding(), (TkxDoubleRect{1, 2, 3, 4}));
}

namespace {

// The engine side of shared settings, recording what it is told.
class FakeEngine : public TkxDocSettingsClient {
 public:
  FakeEngine() { page.SetUnitFactor(UnitFactorOf(unit)); }
  // An engine that goes first leaves its settings component.
  ~FakeEngine() override {
    if (settings) settings->Detach(*this);
  }
  void AttachTo(TkxDocSettings& ds) {
    settings = &ds;
    ds.Attach(*this);
  }
  TColor BackgroundColor() const override { return color; }
  void SetBackgroundColor(TColor c) override {
    calls.push_back("color");
    color = c;
  }
  TkxBackgroundDisplayType BackgroundImageDisplayType() const override { return display; }
  void SetBackgroundImageDisplayType(TkxBackgroundDisplayType t) override {
    calls.push_back("display");
    if (t != dtTile) display = t;
  }
  TkxUnitType MeasurementUnit() const override { return unit; }
  void SetMeasurementUnit(TkxUnitType u) override {
    calls.push_back("unit");
    unit = u;
    page.SetUnitFactor(UnitFactorOf(u));
  }
  TkxPageSettings& Page() override {
    calls.push_back("page");
    return page;
  }
  TkxDocInfo& DocInfo() override {
    calls.push_back("docinfo");
    return info;
  }
  TkxPreferences& Preferences() override {
    calls.push_back("preferences");
    return prefs;
  }
  void SettingsFreed(TkxDocSettings&) override {
    freed = true;
    settings = nullptr;
  }

  TColor color = clWhite;
  TkxBackgroundDisplayType display = dtCenter;
  TkxUnitType unit = muInches;
  TkxPageSettings page;
  TkxDocInfo info;
  TkxPlainSheetPreferences prefs;
  std::vector<std::string> calls;
  bool freed = false;
  TkxDocSettings* settings = nullptr;
};

}  // namespace

TEST(DocSettings, AttachCopiesInOrder) {
  TkxDocSettings ds;
  EXPECT_EQ(ds.BackgroundColor(), 0xFFFFFF);
  EXPECT_EQ(ds.BackgroundImageDisplayType(), dtCenter);
  EXPECT_EQ(ds.MeasurementUnit(), muPixels);
  ds.SetBackgroundColor(clRed);
  ds.Page().SetLeftMargin(48);  // pixels
  ds.DocInfo().SetTitle(u"T");
  ds.Preferences().SetOpenAfterCreate(false);

  FakeEngine e;
  e.prefs.SetActiveHyperLinks(false);
  e.AttachTo(ds);
  EXPECT_EQ(e.calls, (std::vector<std::string>{"color", "display", "docinfo", "page", "preferences", "unit"}));
  EXPECT_EQ(e.color, clRed);
  EXPECT_EQ(e.info.Title(), u"T");
  EXPECT_FALSE(e.prefs.OpenAfterCreate());
  EXPECT_FALSE(e.prefs.ActiveHyperLinks());  // not a shared value
  EXPECT_EQ(e.unit, muPixels);
  EXPECT_DOUBLE_EQ(e.page.LeftMargin(), 48);
  e.AttachTo(ds);
  EXPECT_EQ(ds.Engines().size(), 1u);
}

TEST(DocSettings, ChangesReachOnlyEnginesThatKeptTheSharedValue) {
  auto ds = std::make_unique<TkxDocSettings>();
  FakeEngine a, b;
  a.AttachTo(*ds);
  b.AttachTo(*ds);
  b.page.SetLeftMargin(7);
  b.info.SetAuthor(u"own");
  b.prefs.SetUseImagesAsResources(false);

  ds->Page().SetLeftMargin(30);
  EXPECT_DOUBLE_EQ(a.page.LeftMargin(), 30);
  EXPECT_DOUBLE_EQ(b.page.LeftMargin(), 7);
  ds->DocInfo().SetAuthor(u"shared");
  EXPECT_EQ(a.info.Author(), u"shared");
  EXPECT_EQ(b.info.Author(), u"own");
  ds->Preferences().SetUseImagesAsResources(false);
  EXPECT_FALSE(a.prefs.UseImagesAsResources());
  ds->Preferences().SetUseImagesAsResources(true);
  EXPECT_TRUE(a.prefs.UseImagesAsResources());
  EXPECT_TRUE(b.prefs.UseImagesAsResources());  // equal to the old shared value again
  ds->Preferences().SetCalculateVariables(false);
  EXPECT_TRUE(a.prefs.CalculateVariables());

  // Paper size and orientation go through the engine page's own rules.
  b.page.SetOrientation(poLandscape);
  ds->Page().SetPaperSize(TkxPaperSize::Letter);
  const double ppi = TkxScreen::PPI();
  EXPECT_DOUBLE_EQ(a.page.Stored(ppWidth), 8.5 * ppi);
  EXPECT_DOUBLE_EQ(b.page.Stored(ppWidth), 11.0 * ppi);
  // Width only where the engine's size is Custom as well.
  ds->Page().SetPaperSize(TkxPaperSize::Custom);
  b.page.SetPaperSize(TkxPaperSize::Letter);
  b.page.SetOrientation(poPortrait);
  ds->Page().SetWidth(500);
  EXPECT_DOUBLE_EQ(a.page.Stored(ppWidth), 500);
  EXPECT_DOUBLE_EQ(b.page.Stored(ppWidth), 8.5 * ppi);

  ds->SetMeasurementUnit(muMM);
  EXPECT_EQ(a.unit, muMM);
  EXPECT_DOUBLE_EQ(ds->Page().UnitFactor(), UnitFactorOf(muMM));
  ds->SetBackgroundImageDisplayType(dtTile);
  EXPECT_EQ(a.display, dtCenter);  // the engine refused it

  ds->Detach(b);
  b.settings = nullptr;
  ds->SetBackgroundColor(clBlue);
  EXPECT_EQ(a.color, clBlue);
  EXPECT_EQ(b.color, clWhite);
  ds.reset();
  EXPECT_TRUE(a.freed);
  EXPECT_FALSE(b.freed);
}
