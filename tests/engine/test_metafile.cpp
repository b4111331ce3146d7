// The metafile processor on recordings made with our recorder (and records
// built by hand): positions under the map modes, alignment anchoring,
// rotation, fonts, saved states, colours, routing, resolutions and damaged
// records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/kxMetafileRecordProcessor.h"
#include "engine/kxMetafileTextRecords.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxFontManager.h"
#include "tests/engine/metafile_target.h"

using namespace pw;

namespace {

constexpr char kSans[] = "Liberation Sans";

using Target = test::TestMetafileTarget;

// A page recording with helpers for the records the recorder does not make.
class Page {
 public:
  TkxEmfRecorder Rec{800, 1000, 96};

  void Raw(TkxEmfRecordWriter w) { Rec.AppendRecord(w.Finish()); }
  void Value(uint32_t type, uint32_t v) {
    TkxEmfRecordWriter w(type);
    w.U32(v);
    Raw(std::move(w));
  }
  void XForm(uint32_t type, const TkxEmfXForm& x, uint32_t mode = 0) {
    TkxEmfRecordWriter w(type);
    w.XForm(x);
    if (type == EMR_MODIFYWORLDTRANSFORM) w.U32(mode);
    Raw(std::move(w));
  }
  void Font(const std::u16string& face, int32_t height, int32_t weight = FW_NORMAL, int32_t escapement = 0,
            uint8_t charset = DEFAULT_CHARSET) {
    TkxLogFontW f;
    f.lfFaceName = face;
    f.lfHeight = height;
    f.lfWeight = weight;
    f.lfEscapement = escapement;
    f.lfCharSet = charset;
    Rec.UseFont(f);
  }
  void Text(int32_t x, int32_t y, std::u16string_view s, uint32_t options = 0, TkxEmfRectL rect = {0, 0, -1, -1},
            std::vector<int32_t> dx = {}) {
    Rec.ExtTextOutW({x, y}, options, rect, s, dx, {x, y, x + 10, y + 10});
  }
  // EMR_EXTTEXTOUTA with the bytes of s.
  void TextA(int32_t x, int32_t y, const std::string& s) {
    TkxEmfRecordWriter w(EMR_EXTTEXTOUTA);
    w.Rect({0, 0, 0, 0}).U32(GM_COMPATIBLE).F32(0).F32(0);
    w.Point({x, y}).U32(static_cast<uint32_t>(s.size())).U32(76).U32(0).Rect({0, 0, -1, -1}).U32(0);
    w.Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size()).Pad4();
    Raw(std::move(w));
  }
  TkxMetafile Close() { return Rec.Close(); }
};

std::unique_ptr<TkxMetafileRecordProcessor> Process(Target& t, Page& page, double ox = 0, double oy = 0,
                                                    bool track = true) {
  auto p = std::make_unique<TkxMetafileRecordProcessor>(t);
  p->TrackCurrentPosition = track;
  const TkxMetafile mf = page.Close();
  p->ProcessMetafile(mf, ox, oy);
  return p;
}

bool HaveSans() { return TkxFontManager::Instance().IsInstalledFamily(kSans); }

// The sfnt with every character map relabelled as a Windows symbol map:
// a font the platform reports with the symbol character set only.
std::vector<uint8_t> SymbolFontProgram() {
  std::ifstream in("/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf", std::ios::binary);
  std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto at = [&](size_t o) -> size_t { return o + 1 < f.size() ? (f[o] << 8 | f[o + 1]) : 0; };
  if (f.size() < 12) return {};
  for (size_t t = 0; t < at(4); ++t) {
    const size_t rec = 12 + 16 * t;
    if (rec + 16 > f.size() || std::string(f.begin() + rec, f.begin() + rec + 4) != "cmap") continue;
    const size_t cmap = at(rec + 8) << 16 | at(rec + 10);
    for (size_t k = 0; k < at(cmap + 2); ++k) {
      const size_t e = cmap + 4 + 8 * k;
      if (e + 4 > f.size()) return {};
      f[e] = 0, f[e + 1] = 3, f[e + 2] = 0, f[e + 3] = 0;
    }
  }
  return f;
}

}  // namespace

TEST(MetafileProcessor, HeaderAndEofGiveOneEofItem) {
  Target t;
  Page page;
  auto p = Process(t, page);
  ASSERT_EQ(t.Items.size(), 1u);
  auto* eof = dynamic_cast<TkxEOFItem*>(t.Items[0].get());
  ASSERT_NE(eof, nullptr);
  EXPECT_EQ(eof->Flag, 1);
  EXPECT_EQ(p->RecordCount, 2u);
}

TEST(MetafileProcessor, PositionsUnderEveryMapMode) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  struct Setup {
    uint32_t type;
    int32_t a, b, c = 0, d = 0;
  };
  struct Case {
    const char* name;
    std::vector<Setup> setup;
    TkxEmfXForm xform;  // set when not identity
    int32_t x, y;
    double ex, ey;
  };
  const TkxEmfXForm id;
  const Case cases[] = {
      {"none set", {}, id, 100, 50, 100, 50},
      {"text, origins",
       {{EMR_SETMAPMODE, MM_TEXT, 0}, {EMR_SETWINDOWORGEX, 10, 20}, {EMR_SETVIEWPORTORGEX, 5, 5}},
       id,
       100,
       50,
       95,
       35},
      {"text ignores extents",
       {{EMR_SETMAPMODE, MM_TEXT, 0}, {EMR_SETWINDOWEXTEX, 10, 10}, {EMR_SETVIEWPORTEXTEX, 30, 30}},
       id,
       100,
       50,
       100,
       50},
      {"lometric", {{EMR_SETMAPMODE, MM_LOMETRIC, 0}}, id, 254, -254, 96, 96},
      {"himetric", {{EMR_SETMAPMODE, MM_HIMETRIC, 0}}, id, 2540, -5080, 96, 192},
      {"loenglish", {{EMR_SETMAPMODE, MM_LOENGLISH, 0}}, id, 100, -50, 96, 48},
      {"hienglish", {{EMR_SETMAPMODE, MM_HIENGLISH, 0}}, id, 1000, -500, 96, 48},
      {"twips", {{EMR_SETMAPMODE, MM_TWIPS, 0}}, id, 1440, -720, 96, 48},
      {"twips, window origin", {{EMR_SETMAPMODE, MM_TWIPS, 0}, {EMR_SETWINDOWORGEX, 0, 1440}}, id, 1440, 0, 96, 96},
      {"anisotropic",
       {{EMR_SETMAPMODE, MM_ANISOTROPIC, 0}, {EMR_SETWINDOWEXTEX, 1000, 1000}, {EMR_SETVIEWPORTEXTEX, 500, 250}},
       id,
       1000,
       400,
       500,
       100},
      {"isotropic keeps the smaller scale",
       {{EMR_SETMAPMODE, MM_ISOTROPIC, 0}, {EMR_SETWINDOWEXTEX, 1000, 1000}, {EMR_SETVIEWPORTEXTEX, 500, 250}},
       id,
       1000,
       400,
       250,
       100},
      {"anisotropic, origins",
       {{EMR_SETMAPMODE, MM_ANISOTROPIC, 0},
        {EMR_SETWINDOWEXTEX, 200, 200},
        {EMR_SETVIEWPORTEXTEX, 100, 100},
        {EMR_SETWINDOWORGEX, 100, 100},
        {EMR_SETVIEWPORTORGEX, 10, 20}},
       id,
       300,
       300,
       110,
       120},
      {"anisotropic, scaled viewport",
       {{EMR_SETMAPMODE, MM_ANISOTROPIC, 0},
        {EMR_SETWINDOWEXTEX, 100, 100},
        {EMR_SETVIEWPORTEXTEX, 100, 100},
        {EMR_SCALEVIEWPORTEXTEX, 3, 2, 1, 2}},
       id,
       100,
       100,
       150,
       50},
      {"anisotropic, scaled window",
       {{EMR_SETMAPMODE, MM_ANISOTROPIC, 0},
        {EMR_SETWINDOWEXTEX, 100, 100},
        {EMR_SETVIEWPORTEXTEX, 100, 100},
        {EMR_SCALEWINDOWEXTEX, 2, 1, 1, 1},
        {EMR_SCALEWINDOWEXTEX, 1, 0, 1, 1}},  // a zero divisor is refused
       id,
       100,
       100,
       50,
       100},
      {"y flipped viewport",
       {{EMR_SETMAPMODE, MM_ANISOTROPIC, 0},
        {EMR_SETWINDOWEXTEX, 100, 100},
        {EMR_SETVIEWPORTEXTEX, 100, -100},
        {EMR_SETVIEWPORTORGEX, 0, 500}},
       id,
       40,
       100,
       40,
       400},
      {"back to text resets",
       {{EMR_SETMAPMODE, MM_LOMETRIC, 0}, {EMR_SETVIEWPORTORGEX, 9, 9}, {EMR_SETMAPMODE, MM_TEXT, 0}},
       id,
       100,
       50,
       100,
       50},
      {"world transform", {}, {2, 0, 0, 2, 10, 0}, 100, 50, 210, 100},
      {"world rotation", {}, {0, 1, -1, 0, 0, 0}, 100, 50, -50, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Target t;
    Page page;
    page.Font(u"Liberation Sans", -16);
    for (const Setup& s : c.setup) {
      TkxEmfRecordWriter w(s.type);
      w.I32(s.a);
      if (s.type != EMR_SETMAPMODE) w.I32(s.b);
      if (s.type == EMR_SCALEVIEWPORTEXTEX || s.type == EMR_SCALEWINDOWEXTEX) w.I32(s.c).I32(s.d);
      page.Raw(std::move(w));
    }
    if (!(c.xform == id)) page.XForm(EMR_SETWORLDTRANSFORM, c.xform);
    page.Text(c.x, c.y, u"A");
    Process(t, page, 7, 3);
    const auto texts = t.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NEAR(texts[0]->X, c.ex + 7, 0.01);
    EXPECT_NEAR(texts[0]->Y, c.ey + 3, 0.01);
  }
}

TEST(MetafileProcessor, WorldTransformModes) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  const TkxEmfXForm shift{1, 0, 0, 1, 10, 0}, twice{2, 0, 0, 2, 0, 0};
  struct Case {
    uint32_t mode;
    double ex;
  };
  // Point 100: shift then twice = 220; twice then shift = 210.
  const Case cases[] = {{MWT_IDENTITY, 100}, {MWT_LEFTMULTIPLY, 210}, {MWT_RIGHTMULTIPLY, 220}, {MWT_SET, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Target t;
    Page page;
    page.Font(u"Liberation Sans", -16);
    page.XForm(EMR_SETWORLDTRANSFORM, shift);
    page.XForm(EMR_MODIFYWORLDTRANSFORM, twice, c.mode);
    page.Text(100, 0, u"A");
    Process(t, page);
    ASSERT_EQ(t.Texts().size(), 1u);
    EXPECT_NEAR(t.Texts()[0]->X, c.ex, 1e-6);
  }
}

TEST(MetafileProcessor, AlignmentMovesTheAnchorToTheTopLeft) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  TkxFontManager& fm = TkxFontManager::Instance();
  const TkxTextSize ext = fm.TextExtent(kSans, fsRegular, -20, u"Hello");
  const double w = ext.Width, h = ext.Height, a = fm.TextMetrics(kSans, fsRegular, -20).tmAscent;
  ASSERT_GT(w, 0);
  struct Case {
    uint32_t align;
    int32_t escapement;
    double ex, ey;
  };
  const Case cases[] = {
      {TA_TOP | TA_LEFT, 0, 200, 300},
      {TA_BASELINE | TA_LEFT, 0, 200, 300 - a},
      {TA_BOTTOM | TA_LEFT, 0, 200, 300 - h},
      {TA_TOP | TA_CENTER, 0, 200 - w / 2, 300},
      {TA_BASELINE | TA_CENTER, 0, 200 - w / 2, 300 - a},
      {TA_BOTTOM | TA_CENTER, 0, 200 - w / 2, 300 - h},
      {TA_TOP | TA_RIGHT, 0, 200 - w, 300},
      {TA_BASELINE | TA_RIGHT, 0, 200 - w, 300 - a},
      {TA_BOTTOM | TA_RIGHT, 0, 200 - w, 300 - h},
      // Running upwards: the run's left end lies below the anchor, its top
      // to the left of it.
      {TA_BASELINE | TA_CENTER, 900, 200 - a, 300 + w / 2},
      {TA_TOP | TA_RIGHT, 900, 200, 300 + w},
      {TA_BOTTOM | TA_LEFT, 1800, 200, 300 + h},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "align " << c.align << " escapement " << c.escapement);
    Target t;
    Page page;
    page.Font(u"Liberation Sans", -20, FW_NORMAL, c.escapement);
    page.Rec.SetTextAlign(c.align);
    page.Text(200, 300, u"Hello");
    Process(t, page);
    ASSERT_EQ(t.Texts().size(), 1u);
    EXPECT_NEAR(t.Texts()[0]->X, c.ex, 1e-6);
    EXPECT_NEAR(t.Texts()[0]->Y, c.ey, 1e-6);
  }
}

TEST(MetafileProcessor, EscapementGivesTheAngle) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  const std::pair<int32_t, int> cases[] = {{0, 0},    {900, 90}, {-900, 270}, {3600, 0},
                                           {455, 46}, {445, 44}, {3599, 0},   {-5, 0}};
  for (const auto& [esc, angle] : cases) {
    SCOPED_TRACE(esc);
    Target t;
    Page page;
    page.Font(u"Liberation Sans", -16, FW_NORMAL, esc);
    page.Text(10, 10, u"x");
    Process(t, page);
    ASSERT_EQ(t.Texts().size(), 1u);
    EXPECT_EQ(t.Texts()[0]->Angle, angle);
  }
}

TEST(MetafileProcessor, FontObjectBecomesTheItemFont) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  const int symbol = TkxFontManager::Instance().RegisterFont("Pw Meta Symbol", fsRegular, SymbolFontProgram());
  ASSERT_GT(symbol, 0);
  struct Case {
    const char16_t* face;
    int32_t height, weight;
    uint8_t italic, underline, strike, charset, pitch;
    uint32_t mapMode;
    // expected
    const char* name;
    int size, pixelHeight, style;
    TFontCharset outCharset;
    TFontPitch outPitch;
  };
  const Case cases[] = {
      {u"Liberation Sans", -16, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, "Liberation Sans", 12, -16, fsRegular, 0,
       fpDefault},
      {u"Liberation Sans", -16, 700, 0, 0, 0, 0, 2, 0, "Liberation Sans", 12, -16, fsBold, 0, fpVariable},
      {u"Liberation Sans", -16, 800, 1, 0, 0, 0, 1, 0, "Liberation Sans", 12, -16, fsBold | fsItalic, 0, fpFixed},
      {u"Liberation Sans", -16, 600, 0, 1, 1, 0, 3, 0, "Liberation Sans", 12, -16, fsUnderline | fsStrikeout, 0,
       fpFixed},
      {u"Liberation Sans", -13, 400, 0, 0, 0, 204, 0, 0, "Liberation Sans", 10, -13, fsRegular, 204, fpDefault},
      {u"Pw Meta Symbol", -16, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, "Pw Meta Symbol", 12, -16, fsRegular, 2, fpDefault},
      // With a map mode set the height is kept in pixels rather than whole points.
      {u"Liberation Sans", -15, 400, 0, 0, 0, 0, 0, MM_TEXT, "Liberation Sans", 11, -15, fsRegular, 0, fpDefault},
      {u"Liberation Sans", 254, 400, 0, 0, 0, 0, 0, MM_LOMETRIC, "Liberation Sans", -72, 96, fsRegular, 0, fpDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "height " << c.height << " weight " << c.weight);
    Target t;
    Page page;
    if (c.mapMode) page.Value(EMR_SETMAPMODE, c.mapMode);
    TkxLogFontW f;
    f.lfFaceName = c.face;
    f.lfHeight = c.height;
    f.lfWeight = c.weight;
    f.lfItalic = c.italic, f.lfUnderline = c.underline, f.lfStrikeOut = c.strike;
    f.lfCharSet = c.charset;
    f.lfPitchAndFamily = c.pitch;
    page.Rec.UseFont(f);
    page.Text(10, 10, u"x");
    Process(t, page);
    ASSERT_EQ(t.Texts().size(), 1u);
    const TFont& font = t.Texts()[0]->Font;
    EXPECT_EQ(font.Name(), c.name);
    EXPECT_EQ(font.Size(), c.size);
    EXPECT_EQ(font.Height(), c.pixelHeight);
    EXPECT_EQ(font.Style(), c.style);
    EXPECT_EQ(font.Charset(), c.outCharset);
    EXPECT_EQ(font.Pitch(), c.outPitch);
  }
  EXPECT_TRUE(TkxFontManager::Instance().UnregisterFont(symbol));
}

TEST(MetafileProcessor, CharactersFollowTheSelectedFont) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  const int symbol = TkxFontManager::Instance().RegisterFont("Pw Meta Symbol", fsRegular, SymbolFontProgram());
  ASSERT_GT(symbol, 0);
  Target t;
  Page page;
  const std::u16string text = {u'A', 0x0141, 0, 0xF041, 0x80};
  page.Text(0, 0, text);  // no font object yet: low bytes
  page.Font(u"Liberation Sans", -16);
  page.Text(0, 20, text);  // an ordinary font: UTF-16
  page.Font(u"Pw Meta Symbol", -16);
  page.Text(0, 40, text);  // a symbol font: low bytes again
  page.TextA(0, 60, std::string("a\x80\0b", 4));
  page.Text(0, 80, std::u16string(3, u'\0'));  // nothing but zeros: no item
  Process(t, page);
  const auto texts = t.Texts();
  ASSERT_EQ(texts.size(), 4u);
  const std::u16string lowBytes = {u'A', u'A', u'A', 0x20AC};
  EXPECT_EQ(texts[0]->Lines, std::vector<std::u16string>{lowBytes});
  EXPECT_FALSE(texts[0]->HasWideChars);
  EXPECT_EQ(texts[1]->Lines[0], (std::u16string{u'A', 0x0141, 0xF041, 0x80}));
  EXPECT_TRUE(texts[1]->HasWideChars);
  EXPECT_EQ(texts[2]->Lines[0], lowBytes);
  EXPECT_FALSE(texts[2]->HasWideChars);
  EXPECT_EQ(texts[3]->Lines[0], (std::u16string{u'a', 0x20AC, u'b'}));
  for (const TkxTextItem* i : texts) EXPECT_TRUE(i->FromRecording);
  EXPECT_TRUE(TkxFontManager::Instance().UnregisterFont(symbol));
}

TEST(MetafileProcessor, SavedStatesRestoreFontsAndColours) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  Target t;
  Page page;
  page.Font(u"Liberation Sans", -16);
  page.Rec.SetTextColor(0x0000FF);
  page.Rec.SetBkColor(0x00FF00);
  page.Rec.SaveDC();
  page.Font(u"Liberation Serif", -32, FW_BOLD);
  page.Rec.SetTextColor(0xFF0000);
  page.Rec.SetBkColor(0x123456);
  page.Text(0, 0, u"inner");
  page.Rec.RestoreDC(-1);
  page.Rec.SetTextColor(0x0000FF);  // left out by the recorder: the restore brings it back
  page.Text(0, 100, u"outer");
  auto p = Process(t, page);
  const auto texts = t.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0]->Font.Name(), "Liberation Serif");
  EXPECT_EQ(texts[0]->Font.Color(), 0xFF0000);
  EXPECT_EQ(texts[0]->Brush.Color(), 0x123456);
  EXPECT_EQ(texts[0]->Font.Style(), fsBold);
  EXPECT_EQ(texts[1]->Font.Name(), "Liberation Sans");
  EXPECT_EQ(texts[1]->Font.Size(), 12);
  EXPECT_EQ(texts[1]->Font.Style(), fsRegular);
  EXPECT_EQ(texts[1]->Font.Color(), 0x0000FF);
  EXPECT_EQ(texts[1]->Brush.Color(), 0x00FF00);
  // The restore also removes clipping.
  const auto clips = t.All<TkxClipItem>();
  ASSERT_EQ(clips.size(), 1u);
  EXPECT_EQ(clips[0]->Mode, kClipRemove);
  EXPECT_TRUE(p->States.empty());
}

TEST(MetafileProcessor, RestoreByRelativeAndAbsoluteIndex) {
  struct Case {
    int32_t restore;
    uint32_t bkMode;  // after the restore
    size_t left;      // saved states left
  };
  // Saved: [0] bk mode 10, [1] 11, [2] 12; current 13.
  const Case cases[] = {{-1, 12, 2}, {-2, 11, 1}, {-3, 10, 0}, {-4, 13, 3},
                        {0, 13, 3},  {1, 11, 1},  {2, 12, 2},  {3, 13, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.restore);
    Target t;
    TkxMetafileRecordProcessor p(t);
    for (uint32_t mode = 10; mode <= 12; ++mode) {
      p.BkMode = mode;
      p.SaveState();
    }
    p.BkMode = 13;
    p.RestoreState(c.restore);
    EXPECT_EQ(p.BkMode, c.bkMode);
    EXPECT_EQ(p.States.size(), c.left);
  }
  // Two saves, back two levels, then one more restore does nothing.
  Target t;
  TkxMetafileRecordProcessor p(t);
  p.TextColor = 1;
  p.SaveState();
  p.TextColor = 2;
  p.SaveState();
  p.TextColor = 3;
  p.RestoreState(-2);
  EXPECT_EQ(p.TextColor, 1);
  p.TextColor = 4;
  p.RestoreState(-1);
  EXPECT_EQ(p.TextColor, 4);
}

TEST(MetafileProcessor, ObjectTableAndStockObjects) {
  Target t;
  Page page;
  page.Rec.SelectStockObject(DKGRAY_BRUSH);
  TkxEmfRecordWriter pen(EMR_CREATEPEN);
  pen.U32(3).U32(PS_DASH).I32(4).I32(0).U32(0x0000FF);  // handle 3 while 1 and 2 are free
  page.Raw(std::move(pen));
  page.Value(EMR_SELECTOBJECT, 3);
  TkxEmfRecordWriter brush(EMR_CREATEBRUSHINDIRECT);
  brush.U32(1).U32(BS_HATCHED).U32(0x00FF00).U32(4);
  page.Raw(std::move(brush));
  page.Value(EMR_DELETEOBJECT, 1);
  page.Value(EMR_SELECTOBJECT, 1);  // deleted: nothing changes
  page.Value(EMR_SELECTOBJECT, 9);  // beyond the table: nothing
  auto p = Process(t, page);
  EXPECT_EQ(p->Brush.Color(), 0x404040);
  EXPECT_EQ(p->Brush.Style(), bsSolid);
  EXPECT_EQ(p->Pen.Color(), 0x0000FF);
  EXPECT_EQ(p->Pen.Style(), psDash);
  EXPECT_EQ(p->Pen.Width(), 4);
  ASSERT_EQ(p->Objects.size(), 3u);
  EXPECT_EQ(p->Objects[0].Kind, goEmpty);
  EXPECT_EQ(p->Objects[1].Kind, goEmpty);
  EXPECT_EQ(p->Objects[2].Kind, goPen);

  struct Stock {
    uint32_t index;
    TColor brush;
    TBrushStyle brushStyle;
    TColor pen;
    TPenStyle penStyle;
  };
  const Stock stock[] = {
      {WHITE_BRUSH, clWhite, bsSolid, 0x0000FF, psDash}, {LTGRAY_BRUSH, 0xC0C0C0, bsSolid, 0x0000FF, psDash},
      {BLACK_BRUSH, 0, bsSolid, 0x0000FF, psDash},       {NULL_BRUSH, clWhite, bsClear, 0x0000FF, psDash},
      {WHITE_PEN, 0x404040, bsSolid, clWhite, psSolid},  {NULL_PEN, 0x404040, bsSolid, clBlack, psClear},
      {SYSTEM_FONT, 0x404040, bsSolid, 0x0000FF, psDash}};
  for (const Stock& s : stock) {
    SCOPED_TRACE(s.index);
    p->Brush = TBrush();
    p->Brush.SetColor(0x404040);
    p->Pen = TPen();
    p->Pen.SetColor(0x0000FF);
    p->Pen.SetStyle(psDash);
    p->Font.SetName("Something");
    p->SelectStockObject(s.index);
    EXPECT_EQ(p->Brush.Color(), s.brush);
    EXPECT_EQ(p->Brush.Style(), s.brushStyle);
    EXPECT_EQ(p->Pen.Color(), s.pen);
    EXPECT_EQ(p->Pen.Style(), s.penStyle);
    EXPECT_EQ(p->Font.Name() == "Something", s.index != SYSTEM_FONT);
  }
}

TEST(MetafileProcessor, ColoursBackgroundAndClip) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  Target t;
  Page page;
  page.Font(u"Liberation Sans", -16);
  page.Rec.SetTextColor(0x112233);
  page.Rec.SetBkColor(0x445566);
  page.Rec.SetBkMode(OPAQUE);
  page.Text(10, 10, u"one", ETO_OPAQUE | ETO_CLIPPED, {5, 8, 50, 30}, {7, 8, 9});
  page.Rec.SetBkMode(TRANSPARENT);
  page.Text(10, 40, u"two", ETO_OPAQUE, {0, 0, -1, -1});  // the empty rectangle: no background
  page.Text(10, 70, u"", ETO_OPAQUE, {5, 60, 50, 60});    // flat: a line, and no text
  page.Rec.SetBkColor(0x0000FF);
  page.Text(10, 90, u"three", ETO_OPAQUE, {0, 85, 40, 100});
  Process(t, page, 100, 200);
  const auto texts = t.Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0]->Font.Color(), 0x112233);
  EXPECT_EQ(texts[0]->Brush.Color(), 0x445566);
  EXPECT_EQ(texts[0]->Brush.Style(), bsSolid);
  EXPECT_TRUE(texts[0]->HasClipRect());
  EXPECT_EQ(texts[0]->ClipRect(), (TkxDoubleRect{105, 208, 150, 230}));
  EXPECT_EQ(texts[0]->CharAdvances, (std::vector<double>{7, 8, 9}));
  EXPECT_EQ(texts[1]->Brush.Style(), bsClear);
  EXPECT_FALSE(texts[1]->HasClipRect());
  EXPECT_TRUE(texts[1]->CharAdvances.empty());
  EXPECT_EQ(texts[2]->Brush.Style(), bsClear);
  const auto shapes = t.All<TkxShapeItem>();
  ASSERT_EQ(shapes.size(), 3u);  // the first run's background, the line, the third run's box
  EXPECT_EQ(shapes[0]->ShapeType, shRectangle);
  ASSERT_NE(shapes[0]->Brush, nullptr);
  EXPECT_EQ(shapes[0]->Brush->Color(), 0x445566);
  EXPECT_EQ(shapes[0]->Pen.Style(), psClear);
  EXPECT_EQ(shapes[0]->Points, (TkxPoints{{105, 208}, {150, 230}}));
  EXPECT_EQ(shapes[1]->ShapeType, shLine);
  EXPECT_EQ(shapes[1]->Pen.Color(), clWhite);  // the brush colour
  EXPECT_EQ(shapes[2]->ShapeType, shRectangle);
  EXPECT_EQ(shapes[2]->Brush->Style(), bsClear);  // transparent mode
}

TEST(MetafileProcessor, TextFollowsTheCurrentPosition) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  const double w = TkxFontManager::Instance().TextExtent(kSans, fsRegular, -16, u"Hello").Width;
  for (bool track : {true, false}) {
    SCOPED_TRACE(track);
    Target t;
    Page page;
    page.Font(u"Liberation Sans", -16);
    page.Rec.SetTextAlign(TA_UPDATECP);
    page.Rec.MoveTo({100, 50});
    page.Text(0, 0, u"Hello");
    page.Text(0, 0, u"Hello");
    page.Rec.MoveTo({300, 60});
    page.Text(0, 0, u"Hello");
    page.Rec.SetTextAlign(TA_UPDATECP | TA_RIGHT);
    page.Text(0, 0, u"Hello");  // right-aligned at the position after the third run
    Process(t, page, 0, 0, track);
    const auto texts = t.Texts();
    ASSERT_EQ(texts.size(), 4u);
    const double ex[] = {100, 100 + w, 300, 300 + w - w};
    const double ey[] = {50, 50, 60, 60};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_NEAR(texts[i]->X, track ? ex[i] : (i == 3 ? -w : 0), 1e-6) << i;
      EXPECT_NEAR(texts[i]->Y, track ? ey[i] : 0, 1e-6) << i;
    }
  }
}

TEST(MetafileProcessor, LineModeAndWhatIsRendered) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  struct Case {
    bool line;
    int wanted;
    uint16_t caps;
    size_t lineTexts, listTexts;
  };
  const Case cases[] = {{true, 7, 7, 1, 0}, {false, 7, 7, 0, 1}, {true, 6, 7, 0, 0}, {false, 7, 6, 0, 0}};
  for (const Case& c : cases) {
    Target t;
    t.Line = c.line, t.Wanted = TkxItemsToRender::FromMask(c.wanted), t.Caps = c.caps;
    Page page;
    page.Font(u"Liberation Sans", -16);
    page.Text(10, 10, u"text");
    Process(t, page);
    EXPECT_EQ(t.LineItems.size(), c.lineTexts);
    EXPECT_EQ(t.Texts().size(), c.listTexts);
    EXPECT_EQ(t.All<TkxEOFItem>().size(), 1u);  // always in the item list
  }
}

TEST(MetafileProcessor, InputResolutionScalesToEnginePixels) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  Target t;
  t.XRes = 120, t.YRes = 101, t.Ppi = 120;
  Page page;
  page.Font(u"Liberation Sans", -101);  // an inch high at 101 dpi
  page.Rec.SetTextAlign(TA_BASELINE);
  page.Text(60, 202, u"x", ETO_CLIPPED, {0, 101, 120, 303});
  TkxEmfRecordWriter clip(EMR_INTERSECTCLIPRECT);
  clip.Rect({12, 101, 24, 202});
  page.Raw(std::move(clip));
  auto p = Process(t, page);
  const auto texts = t.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0]->Font.Size(), 72);
  EXPECT_EQ(texts[0]->Font.Height(), -120);
  const double ascent = TkxFontManager::Instance().TextMetrics(kSans, fsRegular, -120).tmAscent;
  EXPECT_NEAR(texts[0]->X, 60, 1e-9);
  EXPECT_NEAR(texts[0]->Y, 240 - ascent, 1e-9);
  const TkxDoubleRect clips[] = {texts[0]->ClipRect(), p->ClipRect};
  const TkxDoubleRect expected[] = {{0, 120, 120, 360}, {12, 120, 24, 240}};
  for (int i = 0; i < 2; ++i) {
    EXPECT_NEAR(clips[i].Left, expected[i].Left, 1e-9);
    EXPECT_NEAR(clips[i].Top, expected[i].Top, 1e-9);
    EXPECT_NEAR(clips[i].Right, expected[i].Right, 1e-9);
    EXPECT_NEAR(clips[i].Bottom, expected[i].Bottom, 1e-9);
  }
  EXPECT_FALSE(p->ClipActive);  // cleared by EMR_EOF
  EXPECT_TRUE(p->ClipSeen);
}

TEST(MetafileProcessor, PolyTextOutGivesARunPerString) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  Target t;
  Page page;
  page.Font(u"Liberation Sans", -16);
  TkxEmfRecordWriter w(EMR_POLYTEXTOUTW);
  w.Rect({0, 0, 0, 0}).U32(GM_COMPATIBLE).F32(0).F32(0).U32(2);
  // Two EmrTexts (40 bytes each) from offset 40; strings from offset 120.
  w.Point({10, 20}).U32(2).U32(120).U32(0).Rect({0, 0, -1, -1}).U32(0);
  w.Point({30, 40}).U32(3).U32(124).U32(0).Rect({0, 0, -1, -1}).U32(0);
  w.U16(u'a').U16(u'b').U16(u'c').U16(u'd').U16(u'e').Pad4();
  page.Raw(std::move(w));
  Process(t, page);
  const auto texts = t.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0]->Lines[0], u"ab");
  EXPECT_EQ(texts[1]->Lines[0], u"cde");
  EXPECT_EQ(texts[1]->X, 30);
  EXPECT_EQ(texts[1]->Y, 40);
}

TEST(MetafileProcessor, DamagedRecordsAreSkipped) {
  if (!HaveSans()) GTEST_SKIP() << "needs " << kSans;
  // Each record lies about a count or an offset; the good text after it
  // must still be the only text item.
  auto text = [](uint32_t nChars, uint32_t offString, uint32_t offDx, uint32_t options = 0) {
    TkxEmfRecordWriter w(EMR_EXTTEXTOUTW);
    w.Rect({0, 0, 0, 0}).U32(GM_COMPATIBLE).F32(0).F32(0);
    w.Point({1, 1}).U32(nChars).U32(offString).U32(options).Rect({0, 0, -1, -1}).U32(offDx);
    w.U16(u'b').U16(u'a').U16(u'd').U16(0).I32(5).I32(5);
    return w;
  };
  auto poly = [](uint32_t count) {
    TkxEmfRecordWriter w(EMR_POLYTEXTOUTW);
    w.Rect({0, 0, 0, 0}).U32(GM_COMPATIBLE).F32(0).F32(0).U32(count);
    w.Point({1, 1}).U32(1).U32(80).U32(0).Rect({0, 0, -1, -1}).U32(0);
    w.U16(u'b').U16(0);
    return w;
  };
  std::vector<std::pair<const char*, TkxEmfRecordWriter>> bad;
  bad.emplace_back("chars past the end", text(1000, 76, 0));
  bad.emplace_back("string offset past the end", text(2, 0xFFFFFFF0u, 0));
  bad.emplace_back("huge count", text(0xFFFFFFFFu, 76, 0));
  bad.emplace_back("advances past the end", text(3, 76, 84 + 8));
  bad.emplace_back("y advances past the end", text(2, 76, 84, ETO_PDY));
  bad.emplace_back("advance offset wraps", text(3, 76, 0xFFFFFFFCu));
  {
    TkxEmfRecordWriter w(EMR_EXTTEXTOUTW);  // cut short
    w.Rect({0, 0, 0, 0}).U32(GM_COMPATIBLE);
    bad.emplace_back("short record", std::move(w));
  }
  bad.emplace_back("poly count past the end", poly(50));
  bad.emplace_back("poly count wraps", poly(0x08000000u));
  {
    TkxEmfRecordWriter w(EMR_EXTCREATEFONTINDIRECTW);  // no room for the LOGFONT
    w.U32(1).I32(-500);
    bad.emplace_back("short font", std::move(w));
  }
  {
    TkxEmfRecordWriter w(EMR_CREATEBRUSHINDIRECT);  // a handle beyond any table
    w.U32(0x7FFFFFF0u).U32(BS_SOLID).U32(0).U32(0);
    bad.emplace_back("huge handle", std::move(w));
  }
  {
    TkxEmfRecordWriter w(EMR_CREATEDIBPATTERNBRUSHPT);  // bitmap outside the record
    w.U32(2).U32(0).U32(32).U32(4000).U32(32).U32(4000);
    bad.emplace_back("pattern outside", std::move(w));
  }
  {
    TkxEmfRecordWriter w(EMR_SETWORLDTRANSFORM);  // not a number
    w.XForm({std::nanf(""), 0, 0, 1, 0, 0});
    bad.emplace_back("nan transform", std::move(w));
  }
  {
    TkxEmfRecordWriter w(EMR_SETWORLDTRANSFORM);  // an absurd font size afterwards
    w.XForm({1, 0, 0, 1e30f, 0, 0});
    bad.emplace_back("huge scale", std::move(w));
  }
  {
    TkxEmfRecordWriter w(EMR_GDICOMMENT);  // data size past the end
    w.U32(100000).U32(0x41424344);
    bad.emplace_back("comment past the end", std::move(w));
  }
  for (auto& [name, w] : bad) {
    SCOPED_TRACE(name);
    Target t;
    Page page;
    page.Font(u"Liberation Sans", -16);
    page.Raw(std::move(w));
    page.Value(EMR_SELECTOBJECT, 0x7FFFFFF0u);
    TkxEmfRecordWriter font(EMR_EXTCREATEFONTINDIRECTW);  // unselected, but built
    font.U32(5).I32(INT32_MIN);
    for (int i = 0; i < 22; ++i) font.U32(0);
    page.Raw(std::move(font));
    page.Value(EMR_SETWORLDTRANSFORM, 0);  // too short: ignored
    page.Text(5, 6, u"good");
    auto p = Process(t, page);
    const auto texts = t.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0]->Lines[0], u"good");
    EXPECT_EQ(texts[0]->X, 5);
    EXPECT_EQ(texts[0]->Font.Size(), 12);
    EXPECT_LE(p->Objects.size(), 5u);
  }
}
