// The names fonts get in the RTF font table. A PDF usually embeds its fonts,
// and the reader of the RTF file has none of them: Word and LibreOffice then
// fall back to a default face of their own (LibreOffice to DejaVu Sans or
// DejaVu Serif, whatever the font table says about family, pitch or an
// alternate), which is much wider than the TeX, book or Office faces it
// replaces, so lines wrap and pages overflow. A font is therefore named by a
// family that both Word and LibreOffice draw with the same widths (Times New
// Roman, Arial, Arial Narrow, Courier New: LibreOffice has the metric twins
// from the Liberation fonts), chosen by the kind of face, and the writer
// measures its lines in that family.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/kxGraphicsObjects.h"

namespace pw {

enum TkxFontKind { fkSerif, fkSans, fkSansNarrow, fkMono };

// The kind of face a font name suggests (TeX, URW and common family names);
// a fixed pitch makes it monospaced; an unknown name counts as serif, the
// narrower choice. Condensed and narrow sans faces are told apart.
TkxFontKind GuessFontKind(std::string_view name, TFontPitch pitch);

// The name to write for a font: Arial, Arial Narrow, Times New Roman or
// Courier New for the faces of those widths (their PostScript, URW and
// Liberation names too, like "TimesNewRomanPSMT" or "Helvetica"), the East
// Asian system faces by their names, an installed DejaVu family as
// systemFamily spells it (it answers empty for a name that is not
// installed; LibreOffice brings these faces along); anything else becomes
// "Times New Roman", "Arial", "Arial Narrow" or "Courier New" by its kind.
// Symbol and dingbat fonts, whose codes are not characters, keep their names.
std::string PortableFontName(const std::string& name, TFontPitch pitch, TFontCharset charset,
                             const std::function<std::string(const std::string&)>& systemFamily);

// What the font table says about a family besides its name, for readers
// that lack it: the family word (\froman, \fswiss, \fmodern, \fscript,
// \fdecor, \ftech or \fnil), the pitch (\fprq: 1 fixed, 2 variable), where
// known its PANOSE number (20 hexadecimal digits) and an alternate family of
// the same widths that a reader without the face is likely to have.
struct TkxFontTableFacts {
  const char* FamilyWord = "\\fnil";
  int Pitch = 0;
  std::string Panose;
  std::string Alternate;
};
TkxFontTableFacts FontTableFacts(const std::string& writtenName);

}  // namespace pw
