// Graphics value objects in the shape the document engine keeps them: a
// colour value (TColor), and the font, pen and brush descriptions that
// document items and engine states carry. These describe what to draw; they
// hold no device resources. Drawing itself goes through the graphics
// interface of the platform layer, which has its own pen and brush types.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kxFontManager.h"

namespace pw {

// A colour: 0x00BBGGRR for an RGB value (the Windows COLORREF layout), or a
// system colour (high byte 0xFF, low byte the system colour index), or one of
// the two markers clNone and clDefault.
using TColor = int32_t;

constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<TColor>(static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) |
                             (static_cast<uint32_t>(b) << 16));
}
constexpr uint8_t ColorRed(TColor c) { return static_cast<uint8_t>(static_cast<uint32_t>(c)); }
constexpr uint8_t ColorGreen(TColor c) { return static_cast<uint8_t>(static_cast<uint32_t>(c) >> 8); }
constexpr uint8_t ColorBlue(TColor c) { return static_cast<uint8_t>(static_cast<uint32_t>(c) >> 16); }

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clLtGray = 0xC0C0C0;
constexpr TColor clDkGray = 0x808080;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clMoneyGreen = 0xC0DCC0;
constexpr TColor clSkyBlue = 0xF0CAA6;
constexpr TColor clCream = 0xF0FBFF;
constexpr TColor clMedGray = 0xA4A0A0;

// "No colour" and "the owner's default colour": markers, never resolved to
// an RGB value of their own.
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor SystemColor(int index) {
  return static_cast<TColor>(0xFF000000u | static_cast<uint32_t>(index & 0xFF));
}
constexpr TColor clScrollBar = SystemColor(0);
constexpr TColor clBackground = SystemColor(1);
constexpr TColor clActiveCaption = SystemColor(2);
constexpr TColor clInactiveCaption = SystemColor(3);
constexpr TColor clMenu = SystemColor(4);
constexpr TColor clWindow = SystemColor(5);
constexpr TColor clWindowFrame = SystemColor(6);
constexpr TColor clMenuText = SystemColor(7);
constexpr TColor clWindowText = SystemColor(8);
constexpr TColor clCaptionText = SystemColor(9);
constexpr TColor clActiveBorder = SystemColor(10);
constexpr TColor clInactiveBorder = SystemColor(11);
constexpr TColor clAppWorkSpace = SystemColor(12);
constexpr TColor clHighlight = SystemColor(13);
constexpr TColor clHighlightText = SystemColor(14);
constexpr TColor clBtnFace = SystemColor(15);
constexpr TColor clBtnShadow = SystemColor(16);
constexpr TColor clGrayText = SystemColor(17);
constexpr TColor clBtnText = SystemColor(18);
constexpr TColor clInactiveCaptionText = SystemColor(19);
constexpr TColor clBtnHighlight = SystemColor(20);
constexpr TColor cl3DDkShadow = SystemColor(21);
constexpr TColor cl3DLight = SystemColor(22);
constexpr TColor clInfoText = SystemColor(23);
constexpr TColor clInfoBk = SystemColor(24);
constexpr TColor clHotLight = SystemColor(26);
constexpr TColor clGradientActiveCaption = SystemColor(27);
constexpr TColor clGradientInactiveCaption = SystemColor(28);
constexpr TColor clMenuHighlight = SystemColor(29);
constexpr TColor clMenuBar = SystemColor(30);

constexpr bool IsSystemColor(TColor c) { return c < 0; }
// The RGB value of a system colour index (0 for an unknown index).
TColor GetSysColor(int index);
// System colours become their RGB value; every other value is returned as it
// is (clNone and clDefault included).
TColor ColorToRGB(TColor c);

// Windows character set numbers.
using TFontCharset = uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;
constexpr TFontCharset MAC_CHARSET = 77;
constexpr TFontCharset SHIFTJIS_CHARSET = 128;
constexpr TFontCharset HANGEUL_CHARSET = 129;
constexpr TFontCharset JOHAB_CHARSET = 130;
constexpr TFontCharset GB2312_CHARSET = 134;
constexpr TFontCharset CHINESEBIG5_CHARSET = 136;
constexpr TFontCharset GREEK_CHARSET = 161;
constexpr TFontCharset TURKISH_CHARSET = 162;
constexpr TFontCharset VIETNAMESE_CHARSET = 163;
constexpr TFontCharset HEBREW_CHARSET = 177;
constexpr TFontCharset ARABIC_CHARSET = 178;
constexpr TFontCharset BALTIC_CHARSET = 186;
constexpr TFontCharset RUSSIAN_CHARSET = 204;
constexpr TFontCharset THAI_CHARSET = 222;
constexpr TFontCharset EASTEUROPE_CHARSET = 238;
constexpr TFontCharset OEM_CHARSET = 255;

enum TFontPitch : uint8_t { fpDefault = 0, fpVariable, fpFixed };

// A set of TkxFontStyle bits: fsBold | fsItalic | fsUnderline | fsStrikeout
// (fsRegular is the empty set). The same bits the font manager takes.
using TFontStyles = int;

// Windows MulDiv: a * b / c in 64 bits, rounded to the nearest integer with
// halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c);

// A font description. The size is kept as a pixel height at PixelsPerInch
// (negative: the em height; positive: the cell height), so that a font given
// by height and a font given by points behave alike: Size is derived from
// Height and setting Size stores the height it stands for.
class TFont {
 public:
  // The default font: "MS Sans Serif", 8 points at the screen resolution,
  // colour clWindowText, DEFAULT_CHARSET, default pitch, no style.
  TFont();
  virtual ~TFont() = default;
  TFont(const TFont&) = default;
  TFont& operator=(const TFont&) = default;

  // Copies name, height, style, character set, pitch and colour. When the
  // source has another resolution the point size is kept rather than the
  // pixel height.
  virtual void Assign(const TFont& source);

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // Points: -MulDiv(Height, 72, PixelsPerInch). Negative when Height is a
  // positive cell height.
  int Size() const;
  void SetSize(int points);
  int Height() const { return height_; }
  void SetHeight(int pixels) { height_ = pixels; }
  int PixelsPerInch() const { return ppi_; }
  // Values below 1 are ignored.
  void SetPixelsPerInch(int ppi);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style) { style_ = style & (fsBold | fsItalic | fsUnderline | fsStrikeout); }
  bool HasStyle(TkxFontStyle s) const { return (style_ & s) != 0; }
  void IncludeStyle(TkxFontStyle s) { SetStyle(style_ | s); }
  void ExcludeStyle(TkxFontStyle s) { SetStyle(style_ & ~static_cast<int>(s)); }
  TColor Color() const { return color_; }
  void SetColor(TColor c) { color_ = c; }
  TFontCharset Charset() const { return charset_; }
  void SetCharset(TFontCharset c) { charset_ = c; }
  TFontPitch Pitch() const { return pitch_; }
  void SetPitch(TFontPitch p) { pitch_ = p; }

  bool operator==(const TFont& o) const = default;

 private:
  std::string name_;
  int height_;
  int ppi_;
  TFontStyles style_ = fsRegular;
  TColor color_ = clWindowText;
  TFontCharset charset_ = DEFAULT_CHARSET;
  TFontPitch pitch_ = fpDefault;
};

enum TPenStyle : uint8_t {
  psSolid = 0,
  psDash,
  psDot,
  psDashDot,
  psDashDotDot,
  psClear,
  psInsideFrame,
  psUserStyle,
  psAlternate
};

// Raster operations of a pen, in the order of the R2_ codes 1..16.
enum TPenMode : uint8_t {
  pmBlack = 0,
  pmWhite,
  pmNop,
  pmNot,
  pmCopy,
  pmNotCopy,
  pmMergePenNot,
  pmMaskPenNot,
  pmMergeNotPen,
  pmMaskNotPen,
  pmMerge,
  pmNotMerge,
  pmMask,
  pmNotMask,
  pmXor,
  pmNotXor
};

// A pen description: black, 1 pixel wide, solid, copy mode by default.
class TPen {
 public:
  TPen() = default;
  void Assign(const TPen& source) { *this = source; }

  TColor Color() const { return color_; }
  void SetColor(TColor c) { color_ = c; }
  int Width() const { return width_; }
  // Negative widths are ignored.
  void SetWidth(int w) {
    if (w >= 0) width_ = w;
  }
  TPenStyle Style() const { return style_; }
  void SetStyle(TPenStyle s) { style_ = s; }
  TPenMode Mode() const { return mode_; }
  void SetMode(TPenMode m) { mode_ = m; }

  bool operator==(const TPen& o) const = default;

 private:
  TColor color_ = clBlack;
  int width_ = 1;
  TPenStyle style_ = psSolid;
  TPenMode mode_ = pmCopy;
};

enum TBrushStyle : uint8_t {
  bsSolid = 0,
  bsClear,
  bsHorizontal,
  bsVertical,
  bsFDiagonal,
  bsBDiagonal,
  bsCross,
  bsDiagCross
};

// A brush description: white and solid by default. As with the brushes the
// engine was designed around, giving a clear brush a colour makes it solid,
// and making a brush clear resets its colour to white; Assign copies both
// values as they are.
class TBrush {
 public:
  TBrush() = default;
  void Assign(const TBrush& source) { *this = source; }

  TColor Color() const { return color_; }
  void SetColor(TColor c) {
    color_ = c;
    if (style_ == bsClear) style_ = bsSolid;
  }
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle s) {
    style_ = s;
    if (s == bsClear) color_ = clWhite;
  }

  bool operator==(const TBrush& o) const = default;

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

// Pixel formats of bitmaps made for output.
enum TPixelFormat : uint8_t { pfDevice = 0, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

}  // namespace pw
