#include "platform/kxFontManager.h"

#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numeric>
#include <thread>

namespace pw {
namespace {

const char* kSansFile = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";
const char* kSerifFile = "/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf";
const char* kSerifBoldFile = "/usr/share/fonts/truetype/liberation/LiberationSerif-Bold.ttf";

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TkxFontManager& FM() { return TkxFontManager::Instance(); }

class Fonts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FM().ResolveFamily("Liberation Sans") != "Liberation Sans" || ReadFile(kSerifFile).empty())
      GTEST_SKIP() << "the Liberation fonts are not installed";
  }
};

TEST_F(Fonts, WindowsFamiliesResolveToMetricCompatibleFaces) {
  const struct {
    const char* asked;
    const char* family;
  } cases[] = {{"Arial", "Liberation Sans"},
               {"arial", "Liberation Sans"},
               {"Times New Roman", "Liberation Serif"},
               {"Courier New", "Liberation Mono"},
               {"Liberation Serif", "Liberation Serif"}};
  for (const auto& c : cases) {
    EXPECT_EQ(FM().ResolveFamily(c.asked), c.family) << c.asked;
    // A bold request finds the real bold face, not a simulation.
    TkxFontFacePtr bold = FM().GetFace(c.asked, fsBold | fsUnderline);
    ASSERT_TRUE(bold) << c.asked;
    EXPECT_FALSE(bold->SyntheticBold()) << c.asked;
    EXPECT_EQ(bold->Design().Weight, 700) << c.asked;
  }
  // An unknown name still gives something to draw with.
  EXPECT_FALSE(FM().ResolveFamily("NoSuchFamily Qzx").empty());

  std::vector<std::string> fams = FM().Families();
  EXPECT_NE(std::find(fams.begin(), fams.end(), "Liberation Sans"), fams.end());
  EXPECT_TRUE(FM().IsInstalledFamily("liberation SANS"));
  EXPECT_FALSE(FM().IsInstalledFamily("NoSuchFamily Qzx"));
}

TEST_F(Fonts, LiberationSansMetricsInDesignUnitsAndPixels) {
  TkxFamilyMetrics fm = FM().FamilyMetrics("Arial", fsRegular);
  EXPECT_EQ(fm.EmHeight, 2048);
  EXPECT_EQ(fm.CellAscent, 1854);
  EXPECT_EQ(fm.CellDescent, 434);
  EXPECT_EQ(fm.LineSpacing, 2355);  // cell plus the 67 units of line gap

  // At an em of 2048 pixels the pixel metrics are the design values; a
  // positive height names the cell instead, so 2288 is the same font.
  for (int lfHeight : {-2048, 2288}) {
    TkxOutlineTextMetric o = FM().OutlineTextMetrics("Arial", fsUnderline | fsStrikeout, lfHeight);
    const TkxTextMetric& t = o.otmTextMetrics;
    EXPECT_EQ(t.tmHeight, 2288) << lfHeight;
    EXPECT_EQ(t.tmAscent, 1854);
    EXPECT_EQ(t.tmDescent, 434);
    EXPECT_EQ(t.tmInternalLeading, 240);
    EXPECT_EQ(t.tmExternalLeading, 67);
    EXPECT_EQ(t.tmItalic, 0);
    EXPECT_NE(t.tmStruckOut, 0);
    EXPECT_NE(t.tmUnderlined, 0);
    EXPECT_EQ(t.tmPitchAndFamily, 0x20 | 7);  // swiss, variable pitch, outline
    EXPECT_EQ(t.tmCharSet, 0);
    EXPECT_EQ(o.otmEMSquare, 2048u);
    EXPECT_EQ(o.otmAscent, 1491);
    EXPECT_EQ(o.otmDescent, -431);
    EXPECT_EQ(o.otmsCapEmHeight, 1409u);
    EXPECT_EQ(o.otmsUnderscorePosition, -67);  // as the font stores it
    EXPECT_EQ(o.otmsUnderscoreSize, 150);
    EXPECT_GT(o.otmsStrikeoutSize, 0u);
  }

  TkxOutlineTextMetric italic = FM().OutlineTextMetrics("Arial", fsItalic, -2048);
  EXPECT_NE(italic.otmTextMetrics.tmItalic, 0);
  EXPECT_LT(italic.otmItalicAngle, 0);  // leans right

  // Pixel sizes round the scaled values: 16 px em.
  TkxTextMetric t16 = FM().TextMetrics("Arial", fsRegular, -16);
  EXPECT_EQ(t16.tmAscent, 14);  // 14.48
  EXPECT_EQ(t16.tmDescent, 3);  // 3.39
  EXPECT_EQ(t16.tmHeight - t16.tmInternalLeading, 16);
  // A cell height is honoured exactly.
  EXPECT_EQ(FM().TextMetrics("Arial", fsRegular, 37).tmHeight, 37);

  // Absurd heights saturate instead of overflowing.
  for (int lfHeight : {INT_MIN, INT_MAX}) {
    TkxTextMetric t = FM().TextMetrics("Arial", fsRegular, lfHeight);
    EXPECT_GT(t.tmHeight, 0);
    EXPECT_GT(FM().TextExtent("Arial", fsRegular, lfHeight, u"WWWW").Width, 0);
  }

  TkxTextMetric mono = FM().TextMetrics("Courier New", fsRegular, -20);
  EXPECT_EQ(mono.tmPitchAndFamily & 0xF1, 0x30);  // modern, fixed pitch
  EXPECT_EQ(mono.tmAveCharWidth, mono.tmMaxCharWidth);
}

TEST_F(Fonts, MeasuringFollowsTheDesignAdvances) {
  // H e l l o in Liberation Sans (and Arial): 1479 1139 455 455 1139 units.
  const double expected = (1479 + 1139 + 455 + 455 + 1139) * 100.0 / 2048;
  EXPECT_DOUBLE_EQ(FM().TextWidth("Arial", fsRegular, 100, u"Hello"), expected);
  EXPECT_DOUBLE_EQ(FM().TextWidth("Arial", fsRegular, 100, u"Hello"), expected);

  // The same sum from FreeType on its own, unhinted.
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face face;
  ASSERT_EQ(FT_New_Face(lib, kSansFile, 0, &face), 0);
  FT_Set_Pixel_Sizes(face, 100, 100);
  double ft = 0;
  for (char c : std::string("Hello")) {
    ASSERT_EQ(FT_Load_Char(face, c, FT_LOAD_NO_HINTING), 0);
    ft += face->glyph->linearHoriAdvance / 65536.0;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  EXPECT_NEAR(FM().TextWidth("Liberation Sans", fsRegular, 100, u"Hello"), ft, 0.01);

  std::vector<double> adv = FM().CharAdvances("Arial", fsRegular, 100, u"Hello");
  ASSERT_EQ(adv.size(), 5u);
  EXPECT_DOUBLE_EQ(adv[0], 1479 * 100.0 / 2048);
  EXPECT_DOUBLE_EQ(std::accumulate(adv.begin(), adv.end(), 0.0), expected);
  // No kerning: "AV" is A plus V.
  EXPECT_DOUBLE_EQ(FM().TextWidth("Arial", fsRegular, 50, u"AV"),
                   FM().TextWidth("Arial", fsRegular, 50, u"A") + FM().TextWidth("Arial", fsRegular, 50, u"V"));

  // Whole-pixel extent: 72.2 + 55.6 + 22.2 + 22.2 + 55.6 -> 72+56+22+22+56.
  TkxTextSize ext = FM().TextExtent("Arial", fsRegular, -100, u"Hello");
  EXPECT_EQ(ext.Width, 228);
  EXPECT_EQ(ext.Height, FM().TextMetrics("Arial", fsRegular, -100).tmHeight);
  EXPECT_EQ(FM().TextExtent("Arial", fsRegular, -100, u"").Width, 0);
  EXPECT_TRUE(FM().CharAdvances("Arial", fsRegular, 10, u"").empty());
}

TEST_F(Fonts, AdvancesPerCodeUnitWithSurrogates) {
  const struct {
    std::u16string text;
    std::vector<bool> zero;  // which units get no advance of their own
  } cases[] = {
      {u"a\U0001D400b", {false, false, true, false}},  // pair: the low unit is 0
      {u"a\xD800"
       u"b",
       {false, false, false}},            // lone high surrogate
      {u"\xDC00\xD800", {false, false}},  // reversed halves: two lone units
  };
  for (const auto& c : cases) {
    std::vector<double> adv = FM().CharAdvances("Arial", fsRegular, 20, c.text);
    ASSERT_EQ(adv.size(), c.text.size());
    for (size_t i = 0; i < adv.size(); ++i) {
      EXPECT_EQ(adv[i] == 0.0, c.zero[i]) << i;
      EXPECT_GE(adv[i], 0.0);
    }
    EXPECT_DOUBLE_EQ(FM().TextWidth("Arial", fsRegular, 20, c.text), std::accumulate(adv.begin(), adv.end(), 0.0));
  }
}

TEST_F(Fonts, RegisteredProgramIsFoundByItsGivenNameUntilRemoved) {
  const std::string name = "Pw Test Family Q";
  const std::u16string text = u"Registered fonts";
  const double before = FM().TextWidth(name, fsRegular, 40, text);
  const double serif = FM().TextWidth("Liberation Serif", fsRegular, 40, text);
  ASSERT_NE(before, serif);  // the fallback is not the program we register

  int h = FM().RegisterFont(name, fsRegular, ReadFile(kSerifFile));
  ASSERT_GT(h, 0);
  EXPECT_EQ(FM().ResolveFamily(name), name);
  EXPECT_TRUE(FM().IsInstalledFamily("pw test family q"));
  EXPECT_EQ(FM().Families().front(), name);
  EXPECT_DOUBLE_EQ(FM().TextWidth("PW TEST FAMILY Q", fsRegular, 40, text), serif);
  TkxFontFacePtr held = FM().GetFace(name, fsBold);
  ASSERT_TRUE(held);
  EXPECT_TRUE(held->Registered());
  EXPECT_TRUE(held->SyntheticBold());  // only a regular program was given

  // A bold program under the same name serves bold requests; the newest
  // registration of a style wins and removing it uncovers the older one.
  int hb = FM().RegisterFont(name, fsBold, ReadFile(kSerifBoldFile));
  int h2 = FM().RegisterFont(name, fsRegular, ReadFile(kSansFile));
  ASSERT_GT(hb, 0);
  ASSERT_GT(h2, 0);
  EXPECT_FALSE(FM().GetFace(name, fsBold)->SyntheticBold());
  EXPECT_EQ(FM().GetFace(name, fsBold)->Design().Weight, 700);
  EXPECT_DOUBLE_EQ(FM().TextWidth(name, fsRegular, 40, text), FM().TextWidth("Liberation Sans", fsRegular, 40, text));
  EXPECT_TRUE(FM().UnregisterFont(h2));
  EXPECT_DOUBLE_EQ(FM().TextWidth(name, fsRegular, 40, text), serif);

  EXPECT_TRUE(FM().UnregisterFont(hb));
  EXPECT_TRUE(FM().UnregisterFont(h));
  EXPECT_FALSE(FM().UnregisterFont(h));
  EXPECT_FALSE(FM().IsInstalledFamily(name));
  EXPECT_NE(FM().ResolveFamily(name), name);
  EXPECT_DOUBLE_EQ(FM().TextWidth(name, fsRegular, 40, text), before);
  // A face handed out earlier stays usable.
  EXPECT_EQ(held->Design().UnitsPerEm, 2048);
  EXPECT_GT(held->GlyphIndex('R'), 0u);
}

TEST_F(Fonts, RegistrationSetAsideIsUnseenUntilPutBackAsTheNewest) {
  const std::string name = "Pw Test Family Aside";
  const std::u16string text = u"Set aside";
  const double before = FM().TextWidth(name, fsRegular, 40, text);
  const double serif = FM().TextWidth("Liberation Serif", fsRegular, 40, text);
  const double sans = FM().TextWidth("Liberation Sans", fsRegular, 40, text);
  int hs = FM().RegisterFont(name, fsRegular, ReadFile(kSerifFile));
  int hn = FM().RegisterFont(name, fsRegular, ReadFile(kSansFile));
  ASSERT_GT(hs, 0);
  ASSERT_GT(hn, 0);
  EXPECT_DOUBLE_EQ(FM().TextWidth(name, fsRegular, 40, text), sans);

  // Both aside: the name is what it was before any registration.
  EXPECT_TRUE(FM().SetRegistrationActive(hn, false));
  EXPECT_DOUBLE_EQ(FM().TextWidth(name, fsRegular, 40, text), serif);
  EXPECT_TRUE(FM().SetRegistrationActive(hs, false));
  EXPECT_FALSE(FM().IsInstalledFamily(name));
  EXPECT_NE(FM().ResolveFamily(name), name);
  EXPECT_DOUBLE_EQ(FM().TextWidth(name, fsRegular, 40, text), before);
  EXPECT_TRUE(FM().SetRegistrationActive(hs, false));  // twice is harmless

  // Put back in the other order: the one put back last wins.
  EXPECT_TRUE(FM().SetRegistrationActive(hn, true));
  EXPECT_TRUE(FM().SetRegistrationActive(hs, true));
  EXPECT_TRUE(FM().IsInstalledFamily(name));
  EXPECT_DOUBLE_EQ(FM().TextWidth(name, fsRegular, 40, text), serif);

  EXPECT_TRUE(FM().UnregisterFont(hs));
  EXPECT_TRUE(FM().UnregisterFont(hn));
  EXPECT_FALSE(FM().SetRegistrationActive(hn, true));
  EXPECT_DOUBLE_EQ(FM().TextWidth(name, fsRegular, 40, text), before);
}

TEST_F(Fonts, RegistrationRefusesWhatCannotBeUsed) {
  std::vector<uint8_t> junk(4096, 0x5A);
  std::vector<uint8_t> truncated = ReadFile(kSerifFile);
  truncated.resize(64);
  EXPECT_EQ(FM().RegisterFont("Pw Junk", fsRegular, junk), 0);
  EXPECT_EQ(FM().RegisterFont("Pw Junk", fsRegular, truncated), 0);
  EXPECT_EQ(FM().RegisterFont("Pw Junk", fsRegular, {}), 0);
  EXPECT_EQ(FM().RegisterFont("", fsRegular, ReadFile(kSerifFile)), 0);
  EXPECT_EQ(FM().RegisterFontFile("Pw Junk", fsRegular, "/nonexistent/x.ttf"), 0);
  EXPECT_FALSE(FM().IsInstalledFamily("Pw Junk"));
}

// Relabels every character map of an sfnt as a Windows symbol map (3,0),
// leaving the mappings themselves unchanged.
std::vector<uint8_t> AsSymbolFont(std::vector<uint8_t> f) {
  auto u16 = [&](size_t o) { return static_cast<size_t>(f.at(o) << 8 | f.at(o + 1)); };
  auto u32 = [&](size_t o) { return u16(o) << 16 | u16(o + 2); };
  for (size_t i = 0, n = u16(4); i < n; ++i) {
    const size_t rec = 12 + 16 * i;
    if (std::string(f.begin() + rec, f.begin() + rec + 4) != "cmap") continue;
    const size_t cmap = u32(rec + 8);
    for (size_t k = 0, m = u16(cmap + 2); k < m; ++k) {
      const size_t e = cmap + 4 + 8 * k;
      f.at(e) = 0, f.at(e + 1) = 3, f.at(e + 2) = 0, f.at(e + 3) = 0;
    }
  }
  return f;
}

TEST_F(Fonts, SymbolMapMakesASymbolFont) {
  int h = FM().RegisterFont("Pw Symbolic", fsRegular, AsSymbolFont(ReadFile(kSansFile)));
  ASSERT_GT(h, 0);
  EXPECT_EQ(FM().Charsets("Pw Symbolic"), std::vector<int>{2});
  EXPECT_EQ(FM().TextMetrics("Pw Symbolic", fsRegular, -12).tmCharSet, 2);
  EXPECT_DOUBLE_EQ(FM().TextWidth("Pw Symbolic", fsRegular, 10, u"AW"),
                   FM().TextWidth("Liberation Sans", fsRegular, 10, u"AW"));
  EXPECT_EQ(FM().Charsets("Liberation Sans").front(), 0);
  EXPECT_TRUE(FM().UnregisterFont(h));
}

TEST_F(Fonts, RegisteredFileMayBeDeletedAndCairoDrawsAfterRemoval) {
  char path[] = "/tmp/pwfontXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::vector<uint8_t> bytes = ReadFile(kSerifFile);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  int h = FM().RegisterFontFile("Pw File Family", fsItalic, path);
  std::remove(path);
  ASSERT_GT(h, 0);

  TkxFontFacePtr face = FM().GetFace("Pw File Family", fsItalic);
  ASSERT_TRUE(face);
  EXPECT_FALSE(face->SyntheticItalic());
  cairo_font_face_t* cf = face->CairoFace();
  ASSERT_NE(cf, nullptr);
  face.reset();
  ASSERT_TRUE(FM().UnregisterFont(h));

  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, 80, 40);
  cairo_t* cr = cairo_create(s);
  cairo_set_font_face(cr, cf);
  cairo_set_font_size(cr, 30);
  cairo_move_to(cr, 2, 32);
  cairo_show_text(cr, "Wm");
  cairo_surface_flush(s);
  EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
  int inked = 0;
  const unsigned char* px = cairo_image_surface_get_data(s);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 80; ++x) inked += px[y * cairo_image_surface_get_stride(s) + x] > 128;
  EXPECT_GT(inked, 50);
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  cairo_font_face_destroy(cf);
}

TEST_F(Fonts, ConcurrentMeasuringAgrees) {
  const std::u16string text = u"The quick brown fox jumps over the lazy dog";
  const double expected = FM().TextWidth("Times New Roman", fsItalic, 13.5, text);
  std::vector<double> got(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < got.size(); ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) got[t] = FM().TextWidth("Times New Roman", fsItalic, 13.5, text);
    });
  for (auto& th : threads) th.join();
  for (double g : got) EXPECT_DOUBLE_EQ(g, expected);
}

}  // namespace
}  // namespace pw
