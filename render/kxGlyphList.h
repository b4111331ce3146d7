// Glyph names to Unicode: the Adobe Glyph List and, for dingbat fonts, the
// ZapfDingbats list (both compiled in), "uniXXXX[XXXX...]" and "uXXXX" to
// "uXXXXXX" names, and names with a suffix ("a.sc") or ligature components
// ("f_f_i").
#pragma once

#include <string>
#include <string_view>

namespace pw {

// The UTF-16 text a glyph name stands for; false (out empty) when unknown.
// List entries with several values give all of them. The dingbat names
// ("a1" ... "a191") are read only for a dingbat font (dingbatFont true).
bool GlyphNameToUnicode(std::string_view name, std::u16string& out, bool dingbatFont = false);
std::u16string GlyphNameToUnicode(std::string_view name, bool dingbatFont = false);

// Only the Adobe Glyph List lookup (no name forms, no suffixes, no dingbat
// names); nullptr when absent.
const std::u16string* GlyphListLookup(std::string_view name);

// Appends a code point as UTF-16 (surrogate pair above U+FFFF); code points
// above U+10FFFF and lone surrogates are refused (false).
bool AppendCodePoint(char32_t cp, std::u16string& out);

}  // namespace pw
