// Character encoding of RTF text: escaping of the three RTF special
// characters, the system ANSI code page (1252 in this port) and "\u"
// escapes for every character it cannot represent, so that no character is
// lost; and the code pages and character sets of font table entries.
#pragma once

#include <string>
#include <string_view>

#include "platform/kxGraphicsObjects.h"

namespace pw {

// "\" -> "\\", "{" -> "\{", "}" -> "\}"; every other byte as it is.
std::string EscapeRTF(std::string_view text);

// The Windows code page of a character set (1252 for ANSI and DEFAULT
// under the 1252 system code page); 0 when the set has none (symbol).
int CodePageOfCharset(int charset);
// The character set a code page stands for in font table entries (0 for
// code pages without one).
int CharsetOfCodePage(int codePage);
// The bytes of one UTF-16 unit in a code page; empty when the code page
// has no character for it.
std::string CodePageBytes(char16_t unit, int codePage);

// Text in a font of the given character set needs Unicode handling unless
// the set is ANSI, or DEFAULT under the 1252 system code page.
bool NeedsUnicodeHandling(TFontCharset charset);

// "\u" followed by the unit as a signed 16-bit number (units above 32767
// are negative, as RTF readers expect) and the fallback text.
std::string UnicodeEscape(char16_t unit, std::string_view fallback);

// The text as RTF in a font of the given character set. Characters of the
// ANSI code page are written as its bytes, escaped. Any other UTF-16 unit
// (each half of a surrogate pair alone) becomes a "\u" escape whose
// fallback is, with Unicode handling, "\'" and the byte of the character
// in the code page of the font's character set, else "?".
std::string EncodeText(std::u16string_view text, TFontCharset charset);

// The paragraph alignment word of a horizontal alignment (a TkxHAlignment):
// "\qr", "\qc", "\qj", else "\ql".
const char* AlignmentWord(int alignment);

}  // namespace pw
