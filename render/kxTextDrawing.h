// Text drawing: the fonts the interpreter shows strings with, the choice of
// an installed family for a PDF font, and the drawing of one text run on the
// graphics interface.
//
// A shown string is cut into glyphs by its font; each glyph carries its code,
// its width in thousandths of the text size and its text. The run is drawn as
// one string in an installed family; the PDF widths only decide where the
// next run starts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kxGraphics.h"
#include "render/kxPDFFontObject.h"

namespace pw {

class TkxPDFFontObject;

// A font as the interpreter uses it.
class TkxTextFont {
 public:
  virtual ~TkxTextFont() = default;
  // Cuts the bytes of a shown string into codes with their text and widths
  // (appended to out).
  virtual void Decode(std::string_view bytes, TkxDecodedText& out) = 0;

  // The installed family the font is drawn with, and its style (fsBold/fsItalic bits).
  const std::string& Family() const { return family_; }
  int Style() const { return style_; }
  // The family's cell ascent as a fraction of the em (for placing the baseline).
  double AscentRatio() const;
  // The family a run of text is drawn with: Family(), unless the font knows
  // that family lacks the run's characters.
  virtual const std::string& FamilyFor(std::u16string_view text) const {
    (void)text;
    return family_;
  }

 protected:
  void SetDrawing(std::string family, int style);

 private:
  std::string family_ = "Arial";
  int style_ = 0;
  mutable double ascent_ = -1;
};

// A one-byte font of the Windows code page with its own width table (or, for
// codes the table does not cover and for fonts without one, the advances of
// the family it is drawn with). Used when a page shows text before selecting
// a font, and by fonts that cannot be read otherwise.
class TkxSimpleTextFont : public TkxTextFont {
 public:
  TkxSimpleTextFont(std::string family, int style, std::vector<double> widths = {}, int firstChar = 0,
                    double missingWidth = 0);
  void Decode(std::string_view bytes, TkxDecodedText& out) override;

 private:
  std::vector<double> widths_;
  int firstChar_;
  double missingWidth_;
  std::vector<double> familyWidths_;  // by code, filled on first use
};

// A font of the page's resources, read by the font layer; drawn with the
// family SubstituteFamily chooses for its base name (a registered embedded
// program is found there under that name).
class TkxPDFTextFont : public TkxTextFont {
 public:
  explicit TkxPDFTextFont(const TkxPDFFontObject& font);
  void Decode(std::string_view bytes, TkxDecodedText& out) override;
  const std::string& FamilyFor(std::u16string_view text) const override;
  const TkxPDFFontObject& FontObject() const { return font_; }

 private:
  const TkxPDFFontObject& font_;
  bool programTexts_ = false;  // some codes read as real characters from a symbol program
};

// The installed family a PDF base font name (without subset prefix, style
// suffix and "/") is drawn with: an installed family whose name without
// spaces is the base name, then the names of the standard fonts, then
// "Arial". Families of the Windows core set count as installed (the platform
// substitutes metric-compatible faces for them).
std::string SubstituteFamily(const std::string& baseName, bool type3 = false);

// The family a symbolic font's text is drawn with once its codes were read
// as the real characters its glyphs show (a bullet, a check mark): "Arial"
// when that family has every character of the text, else "Segoe UI Symbol".
// The font's own symbol program cannot draw characters by their Unicode
// values.
const std::string& FamilyWithCharacters(std::u16string_view text, int style);

// One text run: its text, the transform of its origin (text space to world:
// the run's start on the baseline, y up, one unit = one text-space unit
// before the font size) and the font size.
struct TkxTextRun {
  std::u16string Text;
  TkxMatrix Origin;
  double FontSize = 0;
  uint32_t Argb = 0xFF000000u;
};

// Draws the run on g with the font's family and style; the baseline goes
// through the origin. Empty texts and zero sizes draw nothing.
void DrawTextRun(TkxGraphics& g, const TkxTextFont& font, const TkxTextRun& run);

}  // namespace pw
