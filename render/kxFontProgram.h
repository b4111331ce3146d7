// What an embedded font program says about its own glyphs, read through
// FreeType while a font is loaded: whether it opens, whether the platform
// can draw through one of its character maps, which glyph a one-byte code
// of a symbolic font selects, and the Unicode text of a glyph from the
// program's Unicode character map or its glyph names.
//
// PDF producers often leave out what a font's text means (no /ToUnicode, no
// /Encoding, a symbolic flag); the program then is the only witness left.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

typedef struct FT_LibraryRec_* FT_Library;
typedef struct FT_FaceRec_* FT_Face;

namespace pw {

class TkxFontProgram {
 public:
  // Opens the program; the bytes must outlive the object.
  explicit TkxFontProgram(const std::vector<uint8_t>& bytes);
  ~TkxFontProgram();
  TkxFontProgram(const TkxFontProgram&) = delete;
  TkxFontProgram& operator=(const TkxFontProgram&) = delete;

  bool Opened() const { return face_ != nullptr; }
  // Has a Unicode or a symbol character map (text can be drawn with it).
  bool Drawable() const { return unicodeMap_ || symbolMap_; }
  bool HasUnicodeMap() const { return unicodeMap_; }
  bool HasGlyphNames() const;
  // A glyph-name-keyed program (not a CID-keyed CFF): its glyph indices are
  // what a CID-keyed font's identity mapping selects.
  bool NameKeyed() const;

  // The glyph a one-byte code of a symbolic TrueType font selects: the
  // symbol map at U+F000 + code (then U+F100, U+F200 and the code itself),
  // else the Macintosh Roman map at the code; 0 when neither has it.
  unsigned SymbolGlyph(uint8_t code) const;

  // The text of a glyph: the code point the Unicode map gives it (outside
  // the private-use area; the lowest when several do), else its glyph name
  // through the glyph list (a private-use value does not count). False when
  // neither tells.
  bool GlyphText(unsigned gid, std::u16string& out) const;

  // The text of every glyph that has one, for fonts whose codes select
  // glyphs directly (CID fonts with an identity mapping): GlyphText, else
  // the code a symbol map or the Macintosh Roman map gives the glyph, read
  // as the Windows or Macintosh code page.
  std::unordered_map<uint32_t, std::u16string> AllGlyphTexts() const;

 private:
  FT_Library lib_ = nullptr;
  FT_Face face_ = nullptr;
  bool unicodeMap_ = false, symbolMap_ = false, macMap_ = false;
  // Reads the Unicode map into unicode_ on first use.
  void ReverseUnicodeMap() const;

  mutable bool unicodeRead_ = false;
  mutable std::unordered_map<uint32_t, char32_t> unicode_;  // glyph -> code point from the Unicode map
};

}  // namespace pw
