// The names fonts get in the RTF font table. A PDF usually embeds its fonts,
// and the reader of the RTF file has none of them: Word and LibreOffice then
// fall back to a default face of their own (LibreOffice to DejaVu Sans for
// everything), which is much wider than the TeX or book faces it replaces,
// so lines wrap and pages overflow. A font the reader cannot be expected to
// have is therefore named by a common family of the same kind.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/kxGraphicsObjects.h"

namespace pw {

enum TkxFontKind { fkSerif, fkSans, fkMono };

// The kind of face a font name suggests (TeX, URW and common family names);
// a fixed pitch makes it monospaced; an unknown name counts as serif, the
// narrower choice.
TkxFontKind GuessFontKind(std::string_view name, TFontPitch pitch);

// The name to write for a font: a family every reader has (Arial, Times New
// Roman, Calibri, ... in their usual spelling, also when given as PostScript
// names like "TimesNewRomanPSMT" or "Helvetica") or an installed family as
// systemFamily spells it (it answers empty for a name that is not
// installed); anything else becomes "Times New Roman", "Arial" or
// "Courier New" by its kind. Symbol and dingbat fonts, whose codes are not
// characters, keep their names.
std::string PortableFontName(const std::string& name, TFontPitch pitch, TFontCharset charset,
                             const std::function<std::string(const std::string&)>& systemFamily);

}  // namespace pw
