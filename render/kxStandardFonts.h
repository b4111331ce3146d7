// Metrics of the 14 standard fonts (Helvetica, Times, Courier with their
// bold and italic members, Symbol, ZapfDingbats) for fonts that come
// without widths of their own.
#pragma once

#include <string_view>

#include "render/kxEncodings.h"

namespace pw {

enum TkxStandardFamily : uint8_t { sfHelvetica = 0, sfTimes, sfCourier, sfSymbol, sfZapfDingbats };

// The standard family a font's family name stands for ("Helvetica", "Arial",
// "ArialMT", "Times", "TimesNewRomanPSMT", "CourierNew", "SymbolMT",
// "ZapfDingbats", ...; case and spaces ignored). False for other names.
bool StandardFamilyFromName(std::string_view family, TkxStandardFamily& out);

// Advance width (1/1000 em) of a glyph in the family's member for style
// (fsBold/fsItalic bits); -1 when the member has no such glyph.
int StandardGlyphWidth(TkxStandardFamily family, int style, std::string_view glyphName);

// The encoding built into the family's programs.
TkxBaseEncoding StandardFamilyEncoding(TkxStandardFamily family);

}  // namespace pw
