#include "render/kxFontProgram.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CID_H

#include <string_view>

#include "render/kxEncodings.h"
#include "render/kxGlyphList.h"

namespace pw {
namespace {

bool PrivateUse(char32_t cp) { return (cp >= 0xE000 && cp <= 0xF8FF) || (cp >= 0xF0000 && cp <= 0x10FFFF); }

// Better of two code points for one glyph: outside the private-use area
// first, then the lower one.
bool Better(char32_t a, char32_t b) {
  if (PrivateUse(a) != PrivateUse(b)) return !PrivateUse(a);
  return a < b;
}

// The text of a byte in a built-in encoding.
bool EncodedText(TkxBaseEncoding enc, uint8_t code, std::u16string& out) {
  const char* name = BaseEncodingGlyph(enc, code);
  return name && GlyphNameToUnicode(name, out);
}

constexpr FT_Long kMaxGlyphs = 0x10000;

}  // namespace

TkxFontProgram::TkxFontProgram(const std::vector<uint8_t>& bytes) {
  if (bytes.empty() || FT_Init_FreeType(&lib_) != 0) {
    lib_ = nullptr;
    return;
  }
  if (FT_New_Memory_Face(lib_, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &face_) != 0) {
    face_ = nullptr;
    return;
  }
  for (int i = 0; i < face_->num_charmaps; ++i) {
    const FT_Encoding e = face_->charmaps[i]->encoding;
    if (e == FT_ENCODING_UNICODE) unicodeMap_ = true;
    if (e == FT_ENCODING_MS_SYMBOL) symbolMap_ = true;
    if (e == FT_ENCODING_APPLE_ROMAN) macMap_ = true;
  }
}

void TkxFontProgram::ReverseUnicodeMap() const {
  if (unicodeRead_) return;
  unicodeRead_ = true;
  if (!unicodeMap_ || FT_Select_Charmap(face_, FT_ENCODING_UNICODE) != 0) return;
  FT_UInt gid = 0;
  FT_ULong cp = FT_Get_First_Char(face_, &gid);
  size_t guard = 0;
  while (gid != 0 && guard++ < 0x110000) {
    auto [it, fresh] = unicode_.emplace(gid, static_cast<char32_t>(cp));
    if (!fresh && Better(static_cast<char32_t>(cp), it->second)) it->second = static_cast<char32_t>(cp);
    cp = FT_Get_Next_Char(face_, cp, &gid);
  }
}

TkxFontProgram::~TkxFontProgram() {
  if (face_) FT_Done_Face(face_);
  if (lib_) FT_Done_FreeType(lib_);
}

bool TkxFontProgram::HasGlyphNames() const { return face_ && FT_HAS_GLYPH_NAMES(face_); }

bool TkxFontProgram::NameKeyed() const {
  if (!face_) return false;
  FT_Bool cidKeyed = 0;
  return !(FT_Get_CID_Is_Internally_CID_Keyed(face_, &cidKeyed) == 0 && cidKeyed);
}

unsigned TkxFontProgram::SymbolGlyph(uint8_t code) const {
  if (!face_) return 0;
  if (symbolMap_ && FT_Select_Charmap(face_, FT_ENCODING_MS_SYMBOL) == 0) {
    for (FT_ULong base : {0xF000u, 0xF100u, 0xF200u, 0u})
      if (FT_UInt gid = FT_Get_Char_Index(face_, base + code)) return gid;
  }
  if (macMap_ && FT_Select_Charmap(face_, FT_ENCODING_APPLE_ROMAN) == 0)
    if (FT_UInt gid = FT_Get_Char_Index(face_, code)) return gid;
  return 0;
}

bool TkxFontProgram::GlyphText(unsigned gid, std::u16string& out) const {
  out.clear();
  if (!face_ || gid == 0) return false;
  ReverseUnicodeMap();
  if (auto it = unicode_.find(gid); it != unicode_.end() && !PrivateUse(it->second) && AppendCodePoint(it->second, out))
    return true;
  out.clear();
  if (!HasGlyphNames()) return false;
  char name[128] = {0};
  if (FT_Get_Glyph_Name(face_, gid, name, sizeof name) != 0 || !name[0]) return false;
  const std::string_view n(name);
  if (n == ".notdef" || n == ".null") return false;
  if (!GlyphNameToUnicode(n, out)) return false;
  for (char16_t u : out)
    if (u >= 0xE000 && u <= 0xF8FF) {
      out.clear();
      return false;
    }
  return true;
}

std::unordered_map<uint32_t, std::u16string> TkxFontProgram::AllGlyphTexts() const {
  std::unordered_map<uint32_t, std::u16string> map;
  if (!face_) return map;
  const FT_Long n = face_->num_glyphs < kMaxGlyphs ? face_->num_glyphs : kMaxGlyphs;
  std::u16string text;
  for (FT_Long gid = 1; gid < n; ++gid)
    if (GlyphText(static_cast<unsigned>(gid), text)) map.emplace(static_cast<uint32_t>(gid), text);
  // Codes of the byte-oriented maps, for glyphs neither the Unicode map nor
  // a glyph name explains.
  struct {
    bool present;
    FT_Encoding encoding;
    TkxBaseEncoding text;
  } const byteMaps[] = {{symbolMap_, FT_ENCODING_MS_SYMBOL, beWinAnsi}, {macMap_, FT_ENCODING_APPLE_ROMAN, beMacRoman}};
  for (const auto& m : byteMaps) {
    if (!m.present || FT_Select_Charmap(face_, m.encoding) != 0) continue;
    FT_UInt gid = 0;
    FT_ULong code = FT_Get_First_Char(face_, &gid);
    size_t guard = 0;
    while (gid != 0 && guard++ < 0x10000) {
      const bool byteCode = code < 0x100 || (code >= 0xF000 && code <= 0xF0FF);
      if (byteCode && !map.count(gid) && EncodedText(m.text, static_cast<uint8_t>(code & 0xFF), text))
        map.emplace(gid, text);
      code = FT_Get_Next_Char(face_, code, &gid);
    }
  }
  return map;
}

}  // namespace pw
