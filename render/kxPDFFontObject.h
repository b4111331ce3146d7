// Fonts of a page: one font object per entry of a /Font resource dictionary,
// holding what text drawing needs (family name without subset prefix,
// style, widths, embedding state) and the decoding of shown strings into
// UTF-16 text with one advance per character code.
//
// Decoding by font kind:
//   simple fonts (Type1, TrueType, Type3, MMType1) read one byte per code;
//     Unicode from /ToUnicode, else from the glyph name the encoding gives
//     the code (base encoding + /Differences) through the glyph list, else
//     the code itself;
//   composite fonts (Type0) read codes by the code-space ranges of their
//     CMap (Identity-H/V: two bytes; predefined CMaps from the bundled data;
//     embedded CMap streams); Unicode from /ToUnicode, else from the
//     character collection's CID-to-Unicode data, else (Identity with an
//     embedded TrueType program) from the program's own cmap, else the code.
//
// An embedded TrueType, OpenType or CFF program (and Type 1 when FreeType
// opens it) is registered with TkxFontManager under BaseFontName for the
// font's style while the font object lives, so the family is drawn with its
// own program and is known everywhere by its PDF name without subset prefix.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxPDFObjects.h"

namespace pw {

class TkxCustomPDFDocument;
class TkxFontDecoder;

enum TkxFontEmbedState : uint8_t { esNotEmbedded = 0, esEmbedded = 1, esEmbeddedSubset = 2 };

// One character code of a shown string.
struct TkxDecodedChar {
  uint32_t Code = 0;        // the code as read, big-endian over CodeLength bytes
  uint8_t CodeLength = 1;   // 1 for simple fonts; 1 to 4 for composite fonts
  uint32_t CID = 0;         // composite fonts: the CID the CMap gives; simple fonts: the code
  uint32_t TextStart = 0;   // first UTF-16 unit of this code's text in TkxDecodedText::Text
  uint32_t TextLength = 0;  // its units: 0 when the code gives no text, 2 or more for
                            // ligatures ("fi") and surrogate pairs
  double Width = 0;         // horizontal advance in thousandths of text space (a /Widths or
                            // /W value; Type 3 widths already scaled by /FontMatrix)
  bool WordSpace = false;   // a single-byte code 32: word spacing applies to it
  // Vertical writing only: the vertical advance (negative: down) and the
  // position vector from the glyph's horizontal origin to its vertical one,
  // in thousandths of text space.
  double W1 = 0, Vx = 0, Vy = 0;
  double Adjustment = 0;  // sum of the TJ numbers that follow this code (thousandths of text
                          // space; positive moves the next code left)
};

// The text of a shown string (Tj, ', ") or array (TJ).
struct TkxDecodedText {
  std::u16string Text;
  std::vector<TkxDecodedChar> Chars;
  double LeadingAdjustment = 0;  // TJ numbers before the first code

  // Empty again, keeping the storage.
  void Clear() {
    Text.clear();
    Chars.clear();
    LeadingAdjustment = 0;
    Vertical = false;
  }
  // Adds a TJ number at the current end (to the last code, or before the first).
  void AddAdjustment(double value);
  // Sum of the code widths in thousandths of text space.
  double WidthSum() const;
  bool Vertical = false;  // the codes advance down (a vertical CMap)

  // Horizontal displacement in unscaled text space units:
  //   sum over codes of (Width / 1000 * fontSize + charSpacing + (WordSpace ? wordSpacing : 0)
  //   - Adjustment / 1000 * fontSize), times horizontalScale (Tz / 100). With
  //   applyAdjustments false the TJ numbers are left out.
  double Advance(double fontSize, double charSpacing, double wordSpacing, double horizontalScale = 1.0,
                 bool applyAdjustments = true) const;
  // Vertical displacement of vertical writing in text space units: sum over
  // codes of ((W1 - Adjustment) / 1000 * fontSize + charSpacing + (WordSpace ?
  // wordSpacing : 0)), TJ numbers before the first code included.
  double VerticalAdvance(double fontSize, double charSpacing, double wordSpacing) const;
};

class TkxPDFFontObject {
 public:
  TkxPDFFontObject();
  ~TkxPDFFontObject();  // removes the temporary registration of its program
  TkxPDFFontObject(const TkxPDFFontObject&) = delete;
  TkxPDFFontObject& operator=(const TkxPDFFontObject&) = delete;

  int32_t LastChar = 255;
  int32_t FirstChar = 32;
  // Family name from /BaseFont: without subset prefix ("ABCDEF+"), cut at the
  // first "," (else at the first "-"), without "/": "Calibri", "Arial", "Times".
  std::string BaseFontName;
  // /BaseFont without the subset prefix and "/": "Arial,BoldItalic", "Times-Bold".
  std::string FontName;
  std::string ResourceName;  // the key in the /Font dictionary, "/" included ("/F1")
  std::string Subtype;       // "/Type1", "/TrueType", "/Type0", "/Type3", "/MMType1", ...
  bool Bold = false;
  bool Italic = false;
  uint8_t EmbedState = esNotEmbedded;
  bool Installed = false;     // the embedded program is registered for this page
  std::string InstalledName;  // the family it is registered under (BaseFontName)
  int32_t MissingWidth = 0;
  // Type 0 fonts: the first CID named by /W.
  int32_t FirstWidthIndex = 0;
  // Simple fonts: /Widths in order (index 0 is FirstChar). Type 0 fonts: a
  // table indexed by CID from /W (0 where /W names none; CIDs above 65535 are
  // not in this table but CodeWidth knows them).
  std::vector<int32_t> Widths;
  // Type 3 fonts: /FontMatrix (others: the 1/1000 scale).
  std::array<double, 6> FontMatrix{0.001, 0, 0, 0.001, 0, 0};

  bool Composite() const { return Subtype == "/Type0"; }
  bool Type3() const { return Subtype == "/Type3"; }
  // A composite font whose CMap writes vertically (Identity-V, ...-V).
  bool Vertical() const;
  // One of the 14 standard fonts (by name, any subtype) without a program.
  bool StandardFont() const;
  // fsRegular/fsBold/fsItalic/fsBoldItalic from Bold and Italic.
  int Style() const { return (Bold ? 1 : 0) | (Italic ? 2 : 0); }

  // Advance of a code (simple fonts) or CID (composite fonts) in thousandths
  // of text space: /Widths or /W with /DW when the font has them, the
  // built-in metrics of the standard fonts otherwise.
  double CodeWidth(uint32_t codeOrCID) const;

  // Decodes the bytes of a string operand (escapes already resolved).
  TkxDecodedText Decode(std::string_view bytes) const;
  // Appends the codes of one string to out (TJ: call per string, and
  // out.AddAdjustment for the numbers between them).
  void AppendDecoded(std::string_view bytes, TkxDecodedText& out) const;
  // Decodes an operand given as its source text: "(literal)" with escapes,
  // "<hex>", or a whole "[ ... ]" array of strings and numbers. Other text
  // gives empty text.
  TkxDecodedText DecodeShownString(std::string_view token) const;
  // Decodes a string object or an array object of strings and numbers.
  TkxDecodedText DecodeObject(const TkxPDFObject* operand) const;
  // Only the UTF-16 text of some string bytes.
  std::u16string ToUnicode(std::string_view bytes) const;

  // The decoding state (built when the font is loaded).
  const TkxFontDecoder* Decoder() const { return decoder_.get(); }
  // The font manager handle of the program this object registered; 0 when none.
  int Registration() const { return registration_; }

 private:
  friend class TkxFontLoader;
  std::unique_ptr<TkxFontDecoder> decoder_;
  int registration_ = 0;              // TkxFontManager handle this object owns; 0 when none
  const void* programKey_ = nullptr;  // the program stream it was loaded with
};

// The fonts the document keeps for the page being drawn, in load order.
class TkxPDFFontList {
 public:
  TkxPDFFontList() = default;
  ~TkxPDFFontList() = default;
  TkxPDFFontList(const TkxPDFFontList&) = delete;
  TkxPDFFontList& operator=(const TkxPDFFontList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TkxPDFFontObject* Get(int index) const;
  void Add(std::unique_ptr<TkxPDFFontObject> font);
  // The first font whose ResourceName equals name ("/F1"; a name given
  // without "/" or with #xx escapes is matched too); nullptr when none.
  TkxPDFFontObject* Find(std::string_view name) const;
  // Frees every font (and with them their temporary registrations).
  void Clear();

 private:
  std::vector<std::unique_ptr<TkxPDFFontObject>> items_;
};

// Creates one font object per entry of a /Font resource dictionary (given
// directly or as a reference) and appends them to list in dictionary order.
// Entries that do not resolve to a dictionary are skipped. A damaged part of
// a font (ToUnicode, CMap, program, widths) is left out; the font still loads.
void LoadPageFonts(TkxCustomPDFDocument& doc, TkxPDFObject* fontResources, TkxPDFFontList& list);

// Loads one font dictionary (given directly or as a reference); nullptr when
// it is not a dictionary. Its program is registered unless register is false
// or another font of the list (when given) already registered the same program.
std::unique_ptr<TkxPDFFontObject> LoadFontObject(TkxCustomPDFDocument& doc, std::string_view resourceName,
                                                 TkxPDFObject* fontDict, const TkxPDFFontList* list = nullptr,
                                                 bool registerProgram = true);

// Name helpers (exposed for tests and the drawing side).
// "ABCDEF+Calibri" -> "Calibri"; names without a "+" are kept.
std::string StripSubsetPrefix(std::string_view name);
// Family name as BaseFontName holds it ("Arial,BoldItalic" -> "Arial", "Times-Bold" -> "Times").
std::string FamilyFromFontName(std::string_view name);
// Style bits from a font name (case-insensitive "Bold", "Italic", "Oblique", "BoldObl").
int StyleFromFontName(std::string_view name);

}  // namespace pw
