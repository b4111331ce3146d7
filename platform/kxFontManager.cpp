#include "platform/kxFontManager.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "platform/kxFontAnswerCache.h"
#include "platform/kxScreen.h"

namespace pw {

namespace {

// A font program larger than this is not taken from a file (embedded
// programs are a few megabytes at most; whole CJK fonts stay below this).
constexpr std::streamoff kMaxProgramFile = 256LL * 1024 * 1024;
// Family names asked for are remembered; a document naming thousands of
// distinct families must not grow the cache without bound.
constexpr size_t kMaxResolvedNames = 4096;
// Font heights beyond a million pixels are taken as that (keeps every pixel
// metric and sum well inside int).
constexpr int kMaxHeightPx = 1000000;

int ClampHeight(int lfHeight) { return std::clamp(lfHeight, -kMaxHeightPx, kMaxHeightPx); }

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

// Nearest integer, halves to even; absurd sizes saturate instead of wrapping.
int Round(double v) {
  if (!(v > -2147483647.0)) return v != v ? 0 : -2147483647;
  if (v > 2147483647.0) return 2147483647;
  return static_cast<int>(std::lrint(v));
}

// What a face is opened from: a file, or program bytes shared by every
// face made from one registration.
struct FaceSource {
  std::string path;
  long index = 0;
  std::shared_ptr<const std::vector<uint8_t>> bytes;
};

// A FreeType library of its own per face: faces are then independent of
// each other and of any lock when they are created or released, whichever
// thread drops the last reference.
struct OwnFace {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  std::shared_ptr<const std::vector<uint8_t>> bytes;  // kept alive for memory faces

  ~OwnFace() {
    if (face) FT_Done_Face(face);
    if (lib) FT_Done_FreeType(lib);
  }
};

std::unique_ptr<OwnFace> OpenFace(const FaceSource& src) {
  auto f = std::make_unique<OwnFace>();
  if (FT_Init_FreeType(&f->lib) != 0) {
    f->lib = nullptr;
    return nullptr;
  }
  FT_Error err;
  if (src.bytes) {
    f->bytes = src.bytes;
    err = FT_New_Memory_Face(f->lib, src.bytes->data(), static_cast<FT_Long>(src.bytes->size()), 0, &f->face);
  } else {
    err = FT_New_Face(f->lib, src.path.c_str(), src.index, &f->face);
  }
  if (err != 0) {
    f->face = nullptr;
    return nullptr;
  }
  // Symbol fonts carry only a symbol character map; everything else is
  // looked up through Unicode.
  if (FT_Select_Charmap(f->face, FT_ENCODING_UNICODE) != 0) FT_Select_Charmap(f->face, FT_ENCODING_MS_SYMBOL);
  return f;
}

// Windows treats a face with a symbol character map as a symbol font.
bool HasSymbolCharmap(FT_Face face) {
  for (int i = 0; i < face->num_charmaps; ++i)
    if (face->charmaps[i]->encoding == FT_ENCODING_MS_SYMBOL) return true;
  return false;
}

// Symbol character maps usually place the codes 0x20-0xFF at U+F020-U+F0FF.
unsigned CharIndex(FT_Face face, bool symbol, char32_t cp) {
  unsigned gid = FT_Get_Char_Index(face, cp);
  if (gid == 0 && symbol && cp < 0x100 && face->charmap && face->charmap->encoding == FT_ENCODING_MS_SYMBOL)
    gid = FT_Get_Char_Index(face, 0xF000 + cp);
  return gid;
}

// Unscaled vertical metrics of one glyph, for faces that do not state their
// cap and x heights.
int GlyphTop(FT_Face face, bool symbol, char32_t cp) {
  unsigned gid = CharIndex(face, symbol, cp);
  if (gid == 0 || FT_Load_Glyph(face, gid, FT_LOAD_NO_SCALE) != 0) return 0;
  return static_cast<int>(face->glyph->metrics.horiBearingY);
}

int GlyphAdvance(FT_Face face, bool symbol, char32_t cp) {
  unsigned gid = CharIndex(face, symbol, cp);
  FT_Fixed adv = 0;
  if (gid == 0 || FT_Get_Advance(face, gid, FT_LOAD_NO_SCALE, &adv) != 0) return 0;
  return static_cast<int>(adv);
}

TkxFaceDesignMetrics ReadDesignMetrics(FT_Face face) {
  TkxFaceDesignMetrics d;
  d.Outline = FT_IS_SCALABLE(face);
  d.UnitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 1000;
  d.Symbol = HasSymbolCharmap(face);
  d.FixedPitch = FT_IS_FIXED_WIDTH(face);
  d.MaxAdvance = face->max_advance_width;
  d.BBoxXMin = static_cast<int>(face->bbox.xMin);
  d.BBoxYMin = static_cast<int>(face->bbox.yMin);
  d.BBoxXMax = static_cast<int>(face->bbox.xMax);
  d.BBoxYMax = static_cast<int>(face->bbox.yMax);
  d.HheaAscender = face->ascender;
  d.HheaDescender = face->descender;
  d.HheaLineGap = std::max(0, face->height - (face->ascender - face->descender));
  d.UnderlinePosition = face->underline_position;
  d.UnderlineThickness = face->underline_thickness;
  d.Weight = (face->style_flags & FT_STYLE_FLAG_BOLD) ? 700 : 400;

  if (auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA))) {
    d.HheaAscender = hhea->Ascender;
    d.HheaDescender = hhea->Descender;
    d.HheaLineGap = hhea->Line_Gap;
    d.CaretSlopeRise = hhea->caret_Slope_Rise;
    d.CaretSlopeRun = hhea->caret_Slope_Run;
  }
  if (auto* post = static_cast<TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST))) {
    d.ItalicAngle = post->italicAngle / 65536.0;
    d.UnderlinePosition = post->underlinePosition;
    d.UnderlineThickness = post->underlineThickness;
  }
  if (auto* head = static_cast<TT_Header*>(FT_Get_Sfnt_Table(face, FT_SFNT_HEAD)))
    d.LowestRecPPEM = head->Lowest_Rec_PPEM;

  d.WinAscent = d.TypoAscender = d.HheaAscender;
  d.WinDescent = -d.HheaDescender;
  d.TypoDescender = d.HheaDescender;
  d.TypoLineGap = d.HheaLineGap;
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF) {
    if (os2->usWinAscent + os2->usWinDescent > 0) {
      d.WinAscent = os2->usWinAscent;
      d.WinDescent = os2->usWinDescent;
    }
    d.TypoAscender = os2->sTypoAscender;
    d.TypoDescender = os2->sTypoDescender;
    d.TypoLineGap = os2->sTypoLineGap;
    d.AvgCharWidth = os2->xAvgCharWidth;
    if (os2->usWeightClass > 0) d.Weight = os2->usWeightClass;
    d.FsSelection = os2->fsSelection;
    d.FsType = os2->fsType;
    d.StrikeoutSize = os2->yStrikeoutSize;
    d.StrikeoutPosition = os2->yStrikeoutPosition;
    d.SubscriptXSize = os2->ySubscriptXSize;
    d.SubscriptYSize = os2->ySubscriptYSize;
    d.SubscriptXOffset = os2->ySubscriptXOffset;
    d.SubscriptYOffset = os2->ySubscriptYOffset;
    d.SuperscriptXSize = os2->ySuperscriptXSize;
    d.SuperscriptYSize = os2->ySuperscriptYSize;
    d.SuperscriptXOffset = os2->ySuperscriptXOffset;
    d.SuperscriptYOffset = os2->ySuperscriptYOffset;
    std::copy(os2->panose, os2->panose + 10, d.Panose);
    d.FamilyClass = os2->sFamilyClass >> 8;
    d.FirstChar = os2->usFirstCharIndex;
    d.LastChar = os2->usLastCharIndex;
    if (os2->version >= 1) d.CodePageRange1 = static_cast<uint32_t>(os2->ulCodePageRange1);
    if (os2->version >= 2) {
      d.CapHeight = os2->sCapHeight;
      d.XHeight = os2->sxHeight;
      d.DefaultChar = os2->usDefaultChar;
      d.BreakChar = os2->usBreakChar;
    }
  }
  if (d.WinAscent + d.WinDescent <= 0) {
    d.WinAscent = d.UnitsPerEm * 4 / 5;
    d.WinDescent = d.UnitsPerEm - d.WinAscent;
  }
  if (d.CapHeight == 0) d.CapHeight = GlyphTop(face, d.Symbol, 'H');
  if (d.XHeight == 0) d.XHeight = GlyphTop(face, d.Symbol, 'x');
  if (d.AvgCharWidth == 0) {
    d.AvgCharWidth = GlyphAdvance(face, d.Symbol, 'x');
    if (d.AvgCharWidth == 0) d.AvgCharWidth = d.UnitsPerEm / 2;
  }
  if (d.StrikeoutSize == 0) d.StrikeoutSize = d.UnderlineThickness;
  if (d.StrikeoutPosition == 0) d.StrikeoutPosition = d.XHeight / 2;
  if (d.SubscriptYSize == 0) {
    d.SubscriptXSize = d.SuperscriptXSize = d.UnitsPerEm * 7 / 10;
    d.SubscriptYSize = d.SuperscriptYSize = d.UnitsPerEm * 13 / 20;
    d.SubscriptYOffset = d.UnitsPerEm * 7 / 50;
    d.SuperscriptYOffset = d.UnitsPerEm * 12 / 25;
  }
  return d;
}

// Windows character sets of the code pages an OS/2 table declares, in bit order.
std::vector<int> CharsetsOf(const TkxFaceDesignMetrics& d) {
  if (d.Symbol) return {2};
  static const std::array<std::pair<int, int>, 18> kBits = {{{0, 0},
                                                             {1, 238},
                                                             {2, 204},
                                                             {3, 161},
                                                             {4, 162},
                                                             {5, 177},
                                                             {6, 178},
                                                             {7, 186},
                                                             {8, 163},
                                                             {16, 222},
                                                             {17, 128},
                                                             {18, 134},
                                                             {19, 129},
                                                             {20, 136},
                                                             {21, 130},
                                                             {29, 77},
                                                             {30, 255},
                                                             {31, 2}}};
  std::vector<int> r;
  for (auto [bit, cs] : kBits)
    if (d.CodePageRange1 & (1u << bit)) r.push_back(cs);
  if (r.empty()) r.push_back(0);
  return r;
}

uint8_t PitchAndFamily(const TkxFaceDesignMetrics& d) {
  uint8_t family = 0;
  const uint8_t* p = d.Panose;
  if (p[0] == 2) {
    family = (p[1] >= 11 && p[1] <= 15) ? 0x20 : (p[1] >= 2 && p[1] <= 10) ? 0x10 : 0;
    if (p[3] == 9) family = 0x30;
  } else if (p[0] == 3) {
    family = 0x40;
  } else if (p[0] == 4 || p[0] == 5) {
    family = 0x50;
  }
  if (family == 0) {
    if (d.FamilyClass >= 1 && d.FamilyClass <= 7)
      family = 0x10;
    else if (d.FamilyClass == 8)
      family = 0x20;
    else if (d.FamilyClass == 10)
      family = 0x40;
    else if (d.FamilyClass == 9 || d.FamilyClass == 12)
      family = 0x50;
  }
  if (d.FixedPitch) family = 0x30;
  uint8_t bits = d.FixedPitch ? 0 : 1;  // the flag means variable pitch
  if (d.Outline) bits |= 2 | 4;
  return static_cast<uint8_t>(family | bits);
}

}  // namespace

// ---------------------------------------------------------------------------
// Pixel metrics from design metrics

double EmPixelsFor(const TkxFaceDesignMetrics& d, int lfHeight) {
  lfHeight = ClampHeight(lfHeight);
  const double cell = d.WinAscent + d.WinDescent;
  if (lfHeight < 0) return -static_cast<double>(lfHeight);
  // The default height is a 12-point cell on the screen.
  double h = lfHeight > 0 ? lfHeight : std::lrint(12.0 * TkxScreen::PPI() / 72.0);
  return h * d.UnitsPerEm / cell;
}

namespace {
// Ascent and descent in whole pixels; a cell height asked for is kept exactly.
std::pair<int, int> CellPixels(const TkxFaceDesignMetrics& d, int lfHeight) {
  lfHeight = ClampHeight(lfHeight);
  const double s = EmPixelsFor(d, lfHeight) / d.UnitsPerEm;
  const int ascent = Round(d.WinAscent * s);
  return {ascent, lfHeight > 0 ? lfHeight - ascent : Round(d.WinDescent * s)};
}
}  // namespace

TkxTextMetric ComputeTextMetric(const TkxFaceDesignMetrics& d, int style, int lfHeight, bool syntheticBold) {
  TkxTextMetric tm;
  const double em = EmPixelsFor(d, lfHeight);
  const double s = em / d.UnitsPerEm;
  std::tie(tm.tmAscent, tm.tmDescent) = CellPixels(d, lfHeight);
  tm.tmHeight = tm.tmAscent + tm.tmDescent;
  tm.tmInternalLeading = tm.tmHeight - Round(em);
  const int cellUnits = d.WinAscent + d.WinDescent;
  const int ext = d.HheaLineGap - (cellUnits - (d.HheaAscender - d.HheaDescender));
  tm.tmExternalLeading = ext > 0 ? Round(ext * s) : 0;
  tm.tmAveCharWidth = Round(d.AvgCharWidth * s);
  tm.tmMaxCharWidth = Round(d.MaxAdvance * s);
  tm.tmWeight = (syntheticBold && (style & fsBold)) ? 700 : d.Weight;
  tm.tmOverhang = 0;
  tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = TkxScreen::PPI();
  tm.tmFirstChar = d.FirstChar;
  tm.tmLastChar = d.LastChar;
  tm.tmDefaultChar = d.DefaultChar;
  tm.tmBreakChar = d.BreakChar;
  tm.tmItalic = (style & fsItalic) ? 255 : 0;
  tm.tmUnderlined = (style & fsUnderline) ? 255 : 0;
  tm.tmStruckOut = (style & fsStrikeout) ? 255 : 0;
  tm.tmPitchAndFamily = PitchAndFamily(d);
  tm.tmCharSet = static_cast<uint8_t>(CharsetsOf(d).front());
  return tm;
}

TkxOutlineTextMetric ComputeOutlineTextMetric(const TkxFaceDesignMetrics& d, int style, int lfHeight,
                                              bool syntheticBold) {
  TkxOutlineTextMetric o;
  o.otmTextMetrics = ComputeTextMetric(d, style, lfHeight, syntheticBold);
  const double s = EmPixelsFor(d, lfHeight) / d.UnitsPerEm;
  auto px = [s](int v) { return Round(v * s); };
  auto upx = [s](int v) { return static_cast<unsigned>(std::max(0, Round(v * s))); };
  std::copy(d.Panose, d.Panose + 10, o.otmPanoseNumber);
  o.otmfsSelection = d.FsSelection;
  o.otmfsType = d.FsType;
  o.otmsCharSlopeRise = d.CaretSlopeRise;
  o.otmsCharSlopeRun = d.CaretSlopeRun;
  o.otmItalicAngle = Round(d.ItalicAngle * 10);
  o.otmEMSquare = static_cast<unsigned>(d.UnitsPerEm);
  o.otmAscent = px(d.TypoAscender);
  o.otmDescent = px(d.TypoDescender);
  o.otmLineGap = upx(d.TypoLineGap);
  o.otmsCapEmHeight = upx(d.CapHeight);
  o.otmsXHeight = upx(d.XHeight);
  o.otmrcFontBox = {px(d.BBoxXMin), px(d.BBoxYMax), px(d.BBoxXMax), px(d.BBoxYMin)};
  o.otmMacAscent = px(d.HheaAscender);
  o.otmMacDescent = px(d.HheaDescender);
  o.otmMacLineGap = upx(d.HheaLineGap);
  o.otmusMinimumPPEM = static_cast<unsigned>(d.LowestRecPPEM);
  o.otmptSubscriptSize = {px(d.SubscriptXSize), px(d.SubscriptYSize)};
  o.otmptSubscriptOffset = {px(d.SubscriptXOffset), px(d.SubscriptYOffset)};
  o.otmptSuperscriptSize = {px(d.SuperscriptXSize), px(d.SuperscriptYSize)};
  o.otmptSuperscriptOffset = {px(d.SuperscriptXOffset), px(d.SuperscriptYOffset)};
  o.otmsStrikeoutSize = upx(d.StrikeoutSize);
  o.otmsStrikeoutPosition = px(d.StrikeoutPosition);
  o.otmsUnderscoreSize = px(d.UnderlineThickness);
  o.otmsUnderscorePosition = px(d.UnderlinePosition);
  return o;
}

// ---------------------------------------------------------------------------
// TkxFontFace

struct TkxFontFace::Impl {
  FaceSource source;
  std::unique_ptr<OwnFace> own;
  cairo_font_face_t* cairo = nullptr;
  // Advances in design units by code point, -1 = not looked up yet: pages of
  // 256 for the basic plane, a map above it.
  std::array<std::unique_ptr<std::array<int32_t, 256>>, 256> pages;
  std::unordered_map<char32_t, int32_t> astral;
};

TkxFontFace::~TkxFontFace() {
  if (impl_ && impl_->cairo) cairo_font_face_destroy(impl_->cairo);
}

int32_t TkxFontFace::AdvanceUnits(char32_t cp) const {
  int32_t* slot = nullptr;
  if (cp < 0x10000) {
    auto& page = impl_->pages[cp >> 8];
    if (!page) {
      page = std::make_unique<std::array<int32_t, 256>>();
      page->fill(-1);
    }
    slot = &(*page)[cp & 0xFF];
  } else {
    auto it = impl_->astral.find(cp);
    if (it != impl_->astral.end()) return it->second;
  }
  if (slot && *slot >= 0) return *slot;
  // A character the face lacks is measured as its missing-glyph box.
  unsigned gid = CharIndex(face_, design_.Symbol, cp);
  FT_Fixed adv = 0;
  if (FT_Get_Advance(face_, gid, FT_LOAD_NO_SCALE, &adv) != 0) adv = 0;
  const int32_t v = static_cast<int32_t>(adv);
  if (slot)
    *slot = v;
  else
    impl_->astral.emplace(cp, v);
  return v;
}

unsigned TkxFontFace::GlyphIndex(char32_t cp) const {
  auto lock = TkxFontManager::Instance().Lock();
  return CharIndex(face_, design_.Symbol, cp);
}

namespace {
const cairo_user_data_key_t kOwnFaceKey = {};
}

cairo_font_face_t* TkxFontFace::CairoFace() const {
  auto lock = TkxFontManager::Instance().Lock();
  if (!impl_->cairo) {
    std::unique_ptr<OwnFace> own = OpenFace(impl_->source);
    if (!own) return nullptr;
    cairo_font_face_t* cf = cairo_ft_font_face_create_for_ft_face(own->face, 0);
    if (cairo_font_face_status(cf) != CAIRO_STATUS_SUCCESS) {
      cairo_font_face_destroy(cf);
      return nullptr;
    }
    // cairo releases the FreeType face when its font face goes away.
    if (cairo_font_face_set_user_data(cf, &kOwnFaceKey, own.get(), [](void* p) { delete static_cast<OwnFace*>(p); }) !=
        CAIRO_STATUS_SUCCESS) {
      cairo_font_face_destroy(cf);
      return nullptr;
    }
    own.release();
    unsigned synth = 0;
    if (syntheticBold_) synth |= CAIRO_FT_SYNTHESIZE_BOLD;
    if (syntheticItalic_) synth |= CAIRO_FT_SYNTHESIZE_OBLIQUE;
    if (synth) cairo_ft_font_face_set_synthesize(cf, synth);
    impl_->cairo = cf;
  }
  return cairo_font_face_reference(impl_->cairo);
}

// ---------------------------------------------------------------------------
// TkxFontManager

namespace {

// What fontconfig's answers depend on: its configuration files and folders
// and the font folders, as the loaded configuration lists them, and the
// places a user's configuration or fonts may newly appear in.
std::vector<std::string> WatchedPaths(FcConfig* config) {
  std::vector<std::string> paths;
  auto files = [&paths](FcStrList* list) {
    if (!list) return;
    while (FcChar8* f = FcStrListNext(list)) paths.emplace_back(reinterpret_cast<const char*>(f));
    FcStrListDone(list);
  };
  files(FcConfigGetConfigFiles(config));
  files(FcConfigGetConfigDirs(config));
  files(FcConfigGetFontDirs(config));
  const char* home = std::getenv("HOME");
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string configHome = xdg && *xdg == '/'     ? std::string(xdg)
                                 : home && *home == '/' ? std::string(home) + "/.config"
                                                        : std::string();
  if (!configHome.empty()) {
    paths.push_back(configHome + "/fontconfig");
    paths.push_back(configHome + "/fontconfig/fonts.conf");
  }
  if (home && *home == '/') {
    paths.push_back(std::string(home) + "/.fonts.conf");
    paths.push_back(std::string(home) + "/.fonts");
  }
  const char* data = std::getenv("XDG_DATA_HOME");
  const std::string dataHome = data && *data == '/'   ? std::string(data)
                               : home && *home == '/' ? std::string(home) + "/.local/share"
                                                      : std::string();
  if (!dataHome.empty()) paths.push_back(dataHome + "/fonts");
  return paths;
}

// The fingerprint of those paths as they are now, with fontconfig's
// version and environment: computed without loading the configuration.
std::string FingerprintOf(const std::vector<std::string>& paths) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](std::string_view s) {
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    h = (h ^ 0xFF) * 1099511628211ull;
  };
  mix(std::to_string(FcGetVersion()));
  for (const char* name :
       {"FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
    if (const char* v = std::getenv(name)) mix(std::string(name) + '=' + v);
  for (const std::string& path : paths) {
    struct stat st {};
    mix(path);
    if (stat(path.c_str(), &st) == 0)
      mix(std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec) + '.' +
          std::to_string(st.st_size) + '.' + std::to_string(st.st_ino));
    else
      mix("missing");
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

}  // namespace

struct TkxFontManager::State {
  std::mutex mu;
  // Loaded on first need: reading fontconfig's configuration and font
  // lists costs more than converting a short document, and the answers it
  // would give are usually kept from an earlier run.
  FcConfig* config = nullptr;
  bool configLoaded = false;
  FcConfig* Config() {
    if (!configLoaded) {
      configLoaded = true;
      config = FcInitLoadConfigAndFonts();
    }
    return config;
  }
  bool familiesLoaded = false;
  std::vector<std::string> installed;  // sorted
  std::unordered_set<std::string> installedLower;
  std::unordered_map<std::string, std::string> installedSqueezed;  // filled on first use
  std::unordered_map<std::string, TkxFontFacePtr> byFile;          // path#index#synth
  std::unordered_map<std::string, TkxFontFacePtr> resolved;        // lower family \0 style
  std::unordered_map<std::string, TkxFontFacePtr> systemResolved;  // the same, fontconfig's answers only
  // The answers again, by the name exactly as asked: text is measured and
  // drawn a run at a time, and each run would otherwise build and hash a
  // lower-case key. Emptied with every change of registrations.
  struct Answers {
    TkxFontFacePtr faces[4];
    uint8_t known = 0;  // bit per style
  };
  std::unordered_map<std::string, Answers> byName;
  // The entry of the name asked last (runs come in one font after another);
  // null whenever byName is emptied.
  std::string lastName;
  Answers* lastAnswers = nullptr;

  struct Registration {
    int handle = 0;
    std::string family, familyLower;
    int style = 0;
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    TkxFontFacePtr faces[4];  // by requested style
    bool active = true;       // false while set aside
  };
  std::vector<Registration> regs;  // in registration order
  int nextHandle = 1;
  TkxFontAnswerCache answers;
  bool answersOpened = false;

  void OpenAnswers() {
    if (answersOpened) return;
    answersOpened = true;
    const std::string path = TkxFontAnswerCache::DefaultPath();
    if (answers.OpenIfCurrent(path, FingerprintOf)) return;
    FcConfig* c = Config();
    if (!c) return;
    const std::vector<std::string> watched = WatchedPaths(c);
    answers.Open(path, FingerprintOf(watched), watched);
  }

  void LoadFamilies() {
    if (familiesLoaded) return;
    familiesLoaded = true;
    OpenAnswers();
    if (const std::vector<std::string>* kept = answers.Families()) {
      installed = *kept;
    } else {
      ListFamilies();
      if (configLoaded && config) answers.SetFamilies(installed);
    }
    std::sort(installed.begin(), installed.end(), [](const std::string& a, const std::string& b) {
      std::string la = Lower(a), lb = Lower(b);
      return la != lb ? la < lb : a < b;
    });
    for (const auto& n : installed) installedLower.insert(Lower(n));
  }

  void ListFamilies() {
    if (!Config()) return;
    FcPattern* pat = FcPatternCreate();
    FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* fs = FcFontList(config, pat, os);
    std::unordered_set<std::string> seen;
    if (fs) {
      for (int i = 0; i < fs->nfont; ++i) {
        FcChar8* name = nullptr;
        for (int k = 0; FcPatternGetString(fs->fonts[i], FC_FAMILY, k, &name) == FcResultMatch; ++k)
          if (seen.insert(reinterpret_cast<const char*>(name)).second)
            installed.emplace_back(reinterpret_cast<const char*>(name));
      }
      FcFontSetDestroy(fs);
    }
    FcObjectSetDestroy(os);
    FcPatternDestroy(pat);
  }

  static TkxFontFacePtr MakeFace(const FaceSource& src, std::string family, bool registered, bool synthBold,
                                 bool synthItalic) {
    std::unique_ptr<OwnFace> own = OpenFace(src);
    if (!own) return nullptr;
    std::shared_ptr<TkxFontFace> f(new TkxFontFace());
    f->family_ = std::move(family);
    f->registered_ = registered;
    f->syntheticBold_ = synthBold;
    f->syntheticItalic_ = synthItalic;
    f->face_ = own->face;
    f->design_ = ReadDesignMetrics(own->face);
    f->charsets_ = CharsetsOf(f->design_);
    f->impl_ = std::make_unique<TkxFontFace::Impl>();
    f->impl_->source = src;
    f->impl_->own = std::move(own);
    return f;
  }

  TkxFontFacePtr FromRegistration(Registration& r, int style) {
    auto& slot = r.faces[style];
    if (!slot) {
      FaceSource src;
      src.bytes = r.bytes;
      slot = MakeFace(src, r.family, true, (style & fsBold) && !(r.style & fsBold),
                      (style & fsItalic) && !(r.style & fsItalic));
    }
    return slot;
  }

  // A registration changes what one family name resolves to, and nothing
  // else: only that name's cached answers go (fontconfig lookups for every
  // other family stay cached across pages).
  void ForgetResolved(const std::string& lower, std::vector<TkxFontFacePtr>* dropped) {
    if (dropped)
      for (auto& [name, answers] : byName)
        for (auto& f : answers.faces)
          if (f) dropped->push_back(std::move(f));
    byName.clear();
    lastAnswers = nullptr;
    for (auto it = resolved.begin(); it != resolved.end();) {
      if (it->first.size() == lower.size() + 2 && it->first.compare(0, lower.size(), lower) == 0) {
        if (dropped) dropped->push_back(std::move(it->second));
        it = resolved.erase(it);
      } else {
        ++it;
      }
    }
  }

  TkxFontFacePtr FindRegistered(const std::string& lower, int style) {
    Registration* best = nullptr;
    for (auto it = regs.rbegin(); it != regs.rend(); ++it) {
      if (!it->active || it->familyLower != lower) continue;
      if (it->style == style) return FromRegistration(*it, style);
      if (!best) best = &*it;
    }
    return best ? FromRegistration(*best, style) : nullptr;
  }

  // Fontconfig's answer for a family and style: from the answers kept
  // between runs, or asked (and then kept).
  TkxFontAnswer AskFontconfig(const std::string& family, int style) {
    OpenAnswers();
    if (const TkxFontAnswer* known = answers.Find(family, style)) return *known;
    TkxFontAnswer a;
    if (!Config()) return a;
    FcPattern* pat = FcPatternCreate();
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, (style & fsBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, (style & fsItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_OUTLINE, FcTrue);
    FcConfigSubstitute(config, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res = FcResultNoMatch;
    FcPattern* m = FcFontMatch(config, pat, &res);
    FcPatternDestroy(pat);
    FcChar8* file = nullptr;
    if (m && FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch) {
      FcChar8* fam = nullptr;
      int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
      FcBool embolden = FcFalse;
      FcPatternGetInteger(m, FC_INDEX, 0, &index);
      FcPatternGetInteger(m, FC_WEIGHT, 0, &weight);
      FcPatternGetInteger(m, FC_SLANT, 0, &slant);
      FcPatternGetBool(m, FC_EMBOLDEN, 0, &embolden);
      a.Path = reinterpret_cast<const char*>(file);
      a.Index = index;
      a.Family =
          FcPatternGetString(m, FC_FAMILY, 0, &fam) == FcResultMatch ? reinterpret_cast<const char*>(fam) : family;
      a.Weight = weight;
      a.Slant = slant;
      a.Embolden = embolden;
    }
    if (m) FcPatternDestroy(m);
    answers.Add(family, style, a);
    return a;
  }

  TkxFontFacePtr FromFontconfig(const std::string& family, int style) {
    const TkxFontAnswer a = AskFontconfig(family, style);
    if (a.Path.empty()) return nullptr;
    const bool synthBold = (style & fsBold) && (a.Embolden || a.Weight < FC_WEIGHT_DEMIBOLD);
    const bool synthItalic = (style & fsItalic) && a.Slant == FC_SLANT_ROMAN;
    FaceSource src;
    src.path = a.Path;
    src.index = a.Index;
    std::string key =
        src.path + '#' + std::to_string(a.Index) + '#' + std::to_string((synthBold ? 1 : 0) | (synthItalic ? 2 : 0));
    auto it = byFile.find(key);
    if (it != byFile.end()) return it->second;
    TkxFontFacePtr face = MakeFace(src, a.Family, false, synthBold, synthItalic);
    if (face) byFile.emplace(std::move(key), face);
    return face;
  }

  // Caller holds mu.
  TkxFontFacePtr Face(const std::string& family, int style) {
    style &= fsBoldItalic;
    Answers* entry = nullptr;
    if (lastAnswers && family == lastName) {
      entry = lastAnswers;
    } else if (auto known = byName.find(family); known != byName.end()) {
      entry = &known->second;
      lastName = family;
      lastAnswers = entry;
    }
    if (entry && (entry->known & (1u << style))) return entry->faces[style];
    TkxFontFacePtr face = Resolve(family, style);
    if (!entry) {
      if (byName.size() >= kMaxResolvedNames) byName.clear();
      entry = &byName.emplace(family, Answers{}).first->second;
      lastName = family;
      lastAnswers = entry;
    }
    entry->faces[style] = face;
    entry->known |= static_cast<uint8_t>(1u << style);
    return face;
  }

  TkxFontFacePtr Resolve(const std::string& family, int style) {
    std::string key = Lower(family);
    key.push_back('\0');
    key.push_back(static_cast<char>('0' + style));
    auto it = resolved.find(key);
    if (it != resolved.end()) return it->second;
    TkxFontFacePtr face = FindRegistered(key.substr(0, key.size() - 2), style);
    if (!face) {
      // Fontconfig's answer for a name never changes during the run, while
      // registrations come and go with every page: keep it apart.
      auto sys = systemResolved.find(key);
      if (sys != systemResolved.end()) {
        face = sys->second;
      } else {
        face = FromFontconfig(family, style);
        if (!face && family != "sans-serif") face = FromFontconfig("sans-serif", style);
        if (systemResolved.size() >= kMaxResolvedNames) systemResolved.clear();
        systemResolved.emplace(key, face);
      }
    }
    if (resolved.size() >= kMaxResolvedNames) resolved.clear();
    resolved.emplace(std::move(key), face);
    return face;
  }
};

TkxFontManager& TkxFontManager::Instance() {
  static TkxFontManager instance;
  return instance;
}

TkxFontManager::TkxFontManager() : st_(std::make_unique<State>()) {}

TkxFontManager::~TkxFontManager() {
  st_->byName.clear();
  st_->resolved.clear();
  st_->systemResolved.clear();
  st_->byFile.clear();
  st_->regs.clear();
  if (st_->config) FcConfigDestroy(st_->config);
}

std::unique_lock<std::mutex> TkxFontManager::Lock() { return std::unique_lock<std::mutex>(st_->mu); }

std::vector<std::string> TkxFontManager::Families() {
  std::lock_guard<std::mutex> g(st_->mu);
  st_->LoadFamilies();
  std::vector<std::string> r;
  std::unordered_set<std::string> seen;
  for (auto it = st_->regs.rbegin(); it != st_->regs.rend(); ++it)
    if (it->active && seen.insert(it->familyLower).second) r.push_back(it->family);
  for (const auto& n : st_->installed)
    if (!seen.count(Lower(n))) r.push_back(n);
  return r;
}

bool TkxFontManager::IsInstalledFamily(const std::string& family) {
  std::lock_guard<std::mutex> g(st_->mu);
  st_->LoadFamilies();
  const std::string l = Lower(family);
  for (const auto& r : st_->regs)
    if (r.active && r.familyLower == l) return true;
  return st_->installedLower.count(l) > 0;
}

std::string SqueezedFamilyName(std::string_view name) {
  std::string out;
  for (char c : name)
    if (c != ' ' && c != '-' && c != '_') out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  return out;
}

std::string TkxFontManager::SystemFamily(const std::string& name) {
  std::lock_guard<std::mutex> g(st_->mu);
  st_->LoadFamilies();
  if (st_->installedSqueezed.empty())
    for (const auto& n : st_->installed) st_->installedSqueezed.emplace(SqueezedFamilyName(n), n);
  auto it = st_->installedSqueezed.find(SqueezedFamilyName(name));
  return it == st_->installedSqueezed.end() ? std::string() : it->second;
}

std::string TkxFontManager::ResolveFamily(const std::string& family) {
  std::lock_guard<std::mutex> g(st_->mu);
  TkxFontFacePtr f = st_->Face(family, fsRegular);
  return f ? f->FamilyName() : std::string();
}

TkxFontFacePtr TkxFontManager::GetFace(const std::string& family, int style) {
  std::lock_guard<std::mutex> g(st_->mu);
  return st_->Face(family, style);
}

TkxFamilyMetrics TkxFontManager::FamilyMetrics(const std::string& family, int style) {
  TkxFontFacePtr f = GetFace(family, style);
  TkxFamilyMetrics m;
  if (!f) return m;
  const auto& d = f->Design();
  m.EmHeight = d.UnitsPerEm;
  m.CellAscent = d.WinAscent;
  m.CellDescent = d.WinDescent;
  const int ext = d.HheaLineGap - ((d.WinAscent + d.WinDescent) - (d.HheaAscender - d.HheaDescender));
  m.LineSpacing = d.WinAscent + d.WinDescent + std::max(0, ext);
  return m;
}

TkxTextMetric TkxFontManager::TextMetrics(const std::string& family, int style, int lfHeight) {
  TkxFontFacePtr f = GetFace(family, style);
  return f ? ComputeTextMetric(f->Design(), style, lfHeight, f->SyntheticBold()) : TkxTextMetric{};
}

TkxOutlineTextMetric TkxFontManager::OutlineTextMetrics(const std::string& family, int style, int lfHeight) {
  TkxFontFacePtr f = GetFace(family, style);
  return f ? ComputeOutlineTextMetric(f->Design(), style, lfHeight, f->SyntheticBold()) : TkxOutlineTextMetric{};
}

double TkxFontManager::EmPixels(const std::string& family, int style, int lfHeight) {
  TkxFontFacePtr f = GetFace(family, style);
  return f ? EmPixelsFor(f->Design(), lfHeight) : 0.0;
}

namespace {
// Walks UTF-16 text as code points; fn(cp, unitCount). A lone surrogate
// stands for itself (and is measured as a missing glyph).
template <typename Fn>
void ForEachCodePoint(std::u16string_view text, Fn&& fn) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      fn(c, 2);
      ++i;
    } else {
      fn(c, 1);
    }
  }
}
}  // namespace

std::vector<double> TkxFontManager::CharAdvances(const std::string& family, int style, double emSizePx,
                                                 std::u16string_view text) {
  std::vector<double> r;
  CharAdvances(family, style, emSizePx, text, r);
  return r;
}

void TkxFontManager::CharAdvances(const std::string& family, int style, double emSizePx, std::u16string_view text,
                                  std::vector<double>& out) {
  out.clear();
  std::lock_guard<std::mutex> g(st_->mu);
  TkxFontFacePtr f = st_->Face(family, style);
  if (!f) {
    out.assign(text.size(), 0.0);
    return;
  }
  out.reserve(text.size());
  const double s = emSizePx / f->Design().UnitsPerEm;
  ForEachCodePoint(text, [&](char32_t cp, int units) {
    out.push_back(f->AdvanceUnits(cp) * s);
    if (units == 2) out.push_back(0.0);
  });
}

double TkxFontManager::TextWidth(const std::string& family, int style, double emSizePx, std::u16string_view text) {
  std::lock_guard<std::mutex> g(st_->mu);
  TkxFontFacePtr f = st_->Face(family, style);
  if (!f) return 0.0;
  int64_t units = 0;
  ForEachCodePoint(text, [&](char32_t cp, int) { units += f->AdvanceUnits(cp); });
  return units * emSizePx / f->Design().UnitsPerEm;
}

TkxTextSize TkxFontManager::TextExtent(const std::string& family, int style, int lfHeight, std::u16string_view text) {
  std::lock_guard<std::mutex> g(st_->mu);
  TkxFontFacePtr f = st_->Face(family, style);
  if (!f) return {};
  const auto& d = f->Design();
  // Glyphs are laid out at a whole number of pixels per em, each advance
  // rounded to a whole pixel.
  const double ppem = std::max(1.0, std::nearbyint(EmPixelsFor(d, lfHeight)));
  const double s = ppem / d.UnitsPerEm;
  int64_t cx = 0;
  ForEachCodePoint(text, [&](char32_t cp, int) { cx += Round(f->AdvanceUnits(cp) * s); });
  TkxTextSize r;
  r.Width = static_cast<int>(std::min<int64_t>(cx, INT32_MAX));
  auto [ascent, descent] = CellPixels(d, lfHeight);
  r.Height = ascent + descent;
  return r;
}

std::vector<int> TkxFontManager::Charsets(const std::string& family, int style) {
  TkxFontFacePtr f = GetFace(family, style);
  return f ? f->charsets_ : std::vector<int>{0};
}

int TkxFontManager::RegisterFont(const std::string& family, int style, std::vector<uint8_t> program) {
  if (family.empty() || program.empty()) return 0;
  auto bytes = std::make_shared<const std::vector<uint8_t>>(std::move(program));
  State::Registration r;
  r.family = family;
  r.familyLower = Lower(family);
  r.style = style & fsBoldItalic;
  r.bytes = bytes;
  // Open it once now, so that a program FreeType rejects is refused here.
  FaceSource src;
  src.bytes = bytes;
  r.faces[r.style] = State::MakeFace(src, family, true, false, false);
  if (!r.faces[r.style]) return 0;
  std::lock_guard<std::mutex> g(st_->mu);
  r.handle = st_->nextHandle++;
  st_->ForgetResolved(r.familyLower, nullptr);
  st_->regs.push_back(std::move(r));
  return st_->regs.back().handle;
}

int TkxFontManager::RegisterFontFile(const std::string& family, int style, const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return 0;
  std::streamoff size = in.tellg();
  if (size <= 0 || size > kMaxProgramFile) return 0;
  std::vector<uint8_t> data(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(data.data()), size)) return 0;
  return RegisterFont(family, style, std::move(data));
}

bool TkxFontManager::UnregisterFont(int handle) {
  std::vector<TkxFontFacePtr> dropped;  // released after the lock
  {
    std::lock_guard<std::mutex> g(st_->mu);
    auto it = std::find_if(st_->regs.begin(), st_->regs.end(),
                           [handle](const State::Registration& r) { return r.handle == handle; });
    if (it == st_->regs.end()) return false;
    for (auto& f : it->faces) dropped.push_back(std::move(f));
    const std::string lower = it->familyLower;
    st_->regs.erase(it);
    st_->ForgetResolved(lower, &dropped);
  }
  return true;
}

bool TkxFontManager::SetRegistrationActive(int handle, bool active) {
  std::vector<TkxFontFacePtr> dropped;  // released after the lock
  {
    std::lock_guard<std::mutex> g(st_->mu);
    auto it = std::find_if(st_->regs.begin(), st_->regs.end(),
                           [handle](const State::Registration& r) { return r.handle == handle; });
    if (it == st_->regs.end()) return false;
    if (active) {
      // Put back as the newest registration, as registering it again would.
      it->active = true;
      std::rotate(it, it + 1, st_->regs.end());
      st_->ForgetResolved(st_->regs.back().familyLower, &dropped);
    } else if (it->active) {
      it->active = false;
      st_->ForgetResolved(it->familyLower, &dropped);
    }
  }
  return true;
}

}  // namespace pw
