// Font services of the graphics platform: the installed font families (as
// fontconfig reports them), family substitution, design and pixel metrics
// with the semantics of the Windows font APIs the converter was built on,
// text measurement, and temporary fonts registered from embedded programs.
//
// Temporary fonts live in a registry of FreeType faces kept in this process
// only: the program bytes are held in memory, nothing is written to disk and
// no fontconfig configuration is touched, so no other process ever sees them.
// A registered family takes precedence over an installed family of the same
// name until it is removed.
//
// All members are thread-safe (one mutex guards the caches and the FreeType
// library). Faces are shared: a face stays valid while a caller holds its
// shared_ptr, even after its registration was removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

typedef struct FT_FaceRec_* FT_Face;
typedef struct _cairo_font_face cairo_font_face_t;

namespace pw {

enum TkxFontStyle : int { fsRegular = 0, fsBold = 1, fsItalic = 2, fsBoldItalic = 3, fsUnderline = 4, fsStrikeout = 8 };

// Family metrics in font design units for one style (what a GDI+ font family
// reports as em height, cell ascent, cell descent and line spacing).
struct TkxFamilyMetrics {
  int EmHeight = 0;
  int CellAscent = 0;
  int CellDescent = 0;
  int LineSpacing = 0;
};

// Text metrics in pixels of a font of a given height (TEXTMETRICW fields).
// tmPitchAndFamily low bits: 1 = variable pitch (sic), 2 = vector, 4 = outline;
// high nibble: 0x10 roman, 0x20 swiss, 0x30 modern, 0x40 script, 0x50 decorative.
struct TkxTextMetric {
  int tmHeight = 0;
  int tmAscent = 0;
  int tmDescent = 0;
  int tmInternalLeading = 0;
  int tmExternalLeading = 0;
  int tmAveCharWidth = 0;
  int tmMaxCharWidth = 0;
  int tmWeight = 0;
  int tmOverhang = 0;
  int tmDigitizedAspectX = 0;
  int tmDigitizedAspectY = 0;
  char16_t tmFirstChar = 0;
  char16_t tmLastChar = 0;
  char16_t tmDefaultChar = 0;
  char16_t tmBreakChar = 0;
  uint8_t tmItalic = 0;
  uint8_t tmUnderlined = 0;
  uint8_t tmStruckOut = 0;
  uint8_t tmPitchAndFamily = 0;
  uint8_t tmCharSet = 0;
};

struct TkxPoint32 {
  int x = 0;
  int y = 0;
};

struct TkxRect32 {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Outline text metrics in pixels (OUTLINETEXTMETRICW fields; otmEMSquare in
// design units, otmItalicAngle in tenths of a degree, counter-clockwise).
struct TkxOutlineTextMetric {
  TkxTextMetric otmTextMetrics;
  uint8_t otmPanoseNumber[10] = {};
  unsigned otmfsSelection = 0;
  unsigned otmfsType = 0;
  int otmsCharSlopeRise = 1;
  int otmsCharSlopeRun = 0;
  int otmItalicAngle = 0;
  unsigned otmEMSquare = 0;
  int otmAscent = 0;
  int otmDescent = 0;
  unsigned otmLineGap = 0;
  unsigned otmsCapEmHeight = 0;
  unsigned otmsXHeight = 0;
  TkxRect32 otmrcFontBox;
  int otmMacAscent = 0;
  int otmMacDescent = 0;
  unsigned otmMacLineGap = 0;
  unsigned otmusMinimumPPEM = 0;
  TkxPoint32 otmptSubscriptSize;
  TkxPoint32 otmptSubscriptOffset;
  TkxPoint32 otmptSuperscriptSize;
  TkxPoint32 otmptSuperscriptOffset;
  unsigned otmsStrikeoutSize = 0;
  int otmsStrikeoutPosition = 0;
  int otmsUnderscoreSize = 0;
  int otmsUnderscorePosition = 0;
};

// Width and height of a measured text in whole pixels.
struct TkxTextSize {
  int Width = 0;
  int Height = 0;
};

// The design-unit values of one face that the pixel metrics derive from.
struct TkxFaceDesignMetrics {
  int UnitsPerEm = 1000;
  int WinAscent = 0, WinDescent = 0;        // cell ascent/descent (positive)
  int HheaAscender = 0, HheaDescender = 0;  // descender negative
  int HheaLineGap = 0;
  int TypoAscender = 0, TypoDescender = 0, TypoLineGap = 0;
  int AvgCharWidth = 0, MaxAdvance = 0;
  int Weight = 400;
  unsigned FsSelection = 0, FsType = 0;
  int CapHeight = 0, XHeight = 0;
  int StrikeoutSize = 0, StrikeoutPosition = 0;
  int UnderlineThickness = 0, UnderlinePosition = 0;
  int SubscriptXSize = 0, SubscriptYSize = 0, SubscriptXOffset = 0, SubscriptYOffset = 0;
  int SuperscriptXSize = 0, SuperscriptYSize = 0, SuperscriptXOffset = 0, SuperscriptYOffset = 0;
  int BBoxXMin = 0, BBoxYMin = 0, BBoxXMax = 0, BBoxYMax = 0;
  double ItalicAngle = 0;  // degrees, negative leans right (as the font stores it)
  int CaretSlopeRise = 1, CaretSlopeRun = 0;
  int LowestRecPPEM = 0;
  uint8_t Panose[10] = {};
  int FamilyClass = 0;  // OS/2 sFamilyClass >> 8
  bool FixedPitch = false;
  bool Outline = true;
  bool Symbol = false;  // has a symbol character map (a symbol font to Windows)
  char16_t FirstChar = 0x20, LastChar = 0xFFFF, DefaultChar = 0, BreakChar = 0x20;
  uint32_t CodePageRange1 = 0;
};

// A family name with letter case, spaces, hyphens and underscores taken out,
// for comparing the spellings of one family ("DejaVu Sans", "DejaVuSans").
std::string SqueezedFamilyName(std::string_view name);

// One resolved face: an installed font file or a registered program.
class TkxFontFace {
 public:
  ~TkxFontFace();
  TkxFontFace(const TkxFontFace&) = delete;
  TkxFontFace& operator=(const TkxFontFace&) = delete;

  // The family name the face is known by (fontconfig's name for installed
  // faces, the registered name for temporary ones).
  const std::string& FamilyName() const { return family_; }
  bool Registered() const { return registered_; }
  // The requested style is not in the face and must be simulated.
  bool SyntheticBold() const { return syntheticBold_; }
  bool SyntheticItalic() const { return syntheticItalic_; }
  const TkxFaceDesignMetrics& Design() const { return design_; }

  // The manager's FreeType face. Its fields and tables may be read freely;
  // calls that change it (sizes, glyph loading) must be made while holding
  // TkxFontManager::Instance().Lock().
  FT_Face Face() const { return face_; }

  // A new reference to a cairo font face over a FreeType face of its own
  // (cairo locks that one itself), with bold/oblique synthesis switched on
  // when the style is simulated. The caller releases it with
  // cairo_font_face_destroy. Returns nullptr on failure. Takes the manager
  // lock itself: do not call it while holding Lock().
  cairo_font_face_t* CairoFace() const;

  // Glyph index for a Unicode code point (through a symbol character map
  // also tried at U+F000 + code for codes below 256); 0 when the face has
  // none. Takes the manager lock itself: do not call it while holding Lock().
  unsigned GlyphIndex(char32_t cp) const;

 private:
  friend class TkxFontManager;
  struct Impl;
  TkxFontFace() = default;
  int32_t AdvanceUnits(char32_t cp) const;  // caller holds the manager lock

  std::string family_;
  bool registered_ = false;
  bool syntheticBold_ = false;
  bool syntheticItalic_ = false;
  TkxFaceDesignMetrics design_;
  std::vector<int> charsets_;  // from design_, worked out once
  FT_Face face_ = nullptr;
  std::unique_ptr<Impl> impl_;
};

using TkxFontFacePtr = std::shared_ptr<const TkxFontFace>;

class TkxFontManager {
 public:
  static TkxFontManager& Instance();  // thread-safe

  // Installed family names (every name fontconfig gives a font, sorted
  // case-insensitively) preceded by the registered temporary families.
  std::vector<std::string> Families();
  // The name is a registered or installed family (case-insensitive).
  bool IsInstalledFamily(const std::string& family);
  // The installed family (never a temporary registration) whose name equals
  // name once letter case, spaces, hyphens and underscores are ignored, as
  // fontconfig spells it ("DejaVuSans" -> "DejaVu Sans"); empty when none.
  std::string SystemFamily(const std::string& name);
  // fontconfig substitution ("Arial" -> "Liberation Sans"); a registered
  // family resolves to itself.
  std::string ResolveFamily(const std::string& family);

  // The face that draws family in style (fsBold/fsItalic bits; the others
  // are ignored). nullptr only when no font at all is available.
  TkxFontFacePtr GetFace(const std::string& family, int style);

  // Em height, cell ascent/descent and line spacing in design units.
  TkxFamilyMetrics FamilyMetrics(const std::string& family, int style);

  // Pixel metrics of a font of logical height lfHeight: negative = em
  // height, positive = cell height (ascent + descent), 0 = a default of
  // 12 points at the screen resolution. Underline/strikeout bits of style
  // set tmUnderlined/tmStruckOut.
  TkxTextMetric TextMetrics(const std::string& family, int style, int lfHeight);
  TkxOutlineTextMetric OutlineTextMetrics(const std::string& family, int style, int lfHeight);
  // Em size in pixels that lfHeight stands for in this face.
  double EmPixels(const std::string& family, int style, int lfHeight);

  // Per UTF-16 code unit advance in pixels for a font of emSizePx pixels
  // (kerning off, as GDI measures). Advances are the unhinted design widths
  // scaled to the size; the second unit of a surrogate pair gets 0.
  std::vector<double> CharAdvances(const std::string& family, int style, double emSizePx, std::u16string_view text);
  // The same into out (its storage used again).
  void CharAdvances(const std::string& family, int style, double emSizePx, std::u16string_view text,
                    std::vector<double>& out);
  double TextWidth(const std::string& family, int style, double emSizePx, std::u16string_view text);
  // Extent as the screen device reports it for a font of logical height
  // lfHeight: each glyph's advance rounded to whole pixels, summed; the
  // height is the cell height tmHeight.
  TkxTextSize TextExtent(const std::string& family, int style, int lfHeight, std::u16string_view text);

  // Character sets the family's face offers (Windows charset numbers from
  // the code pages its OS/2 table declares; {2} for a symbol-only face).
  std::vector<int> Charsets(const std::string& family, int style = fsRegular);

  // Temporary registration of a font program (TrueType, OpenType, CFF or
  // anything FreeType opens) under the given family name for the given
  // style, whatever the program's own name table says. Returns a handle > 0,
  // or 0 when the program cannot be opened. The file variant reads the file
  // at once; the file may be deleted afterwards. Registering a name/style
  // twice stacks: the newest wins until removed.
  int RegisterFont(const std::string& family, int style, std::vector<uint8_t> program);
  int RegisterFontFile(const std::string& family, int style, const std::string& path);
  // Removes one registration; false when the handle is unknown.
  bool UnregisterFont(int handle);
  // Sets a registration aside (no lookup sees it; its program and opened
  // faces are kept) or puts it back, then as the newest registration; false
  // when the handle is unknown. Lets a program registered once serve several
  // stretches of drawing without being opened again.
  bool SetRegistrationActive(int handle, bool active);

  // Guard for direct FreeType calls on TkxFontFace::Face().
  std::unique_lock<std::mutex> Lock();

  TkxFontManager(const TkxFontManager&) = delete;
  TkxFontManager& operator=(const TkxFontManager&) = delete;

 private:
  TkxFontManager();
  ~TkxFontManager();
  struct State;
  std::unique_ptr<State> st_;
};

// Pure conversions from design metrics (exposed for the metafile side and
// for tests): GDI semantics for lfHeight as above.
double EmPixelsFor(const TkxFaceDesignMetrics& d, int lfHeight);
TkxTextMetric ComputeTextMetric(const TkxFaceDesignMetrics& d, int style, int lfHeight, bool syntheticBold = false);
TkxOutlineTextMetric ComputeOutlineTextMetric(const TkxFaceDesignMetrics& d, int style, int lfHeight,
                                              bool syntheticBold = false);

}  // namespace pw
