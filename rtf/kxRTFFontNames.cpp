// The names fonts get in the RTF font table.
#include "rtf/kxRTFFontNames.h"

#include <array>
#include <utility>

#include "platform/kxFontManager.h"

namespace pw {

namespace {

bool Has(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }
bool Starts(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

template <size_t N>
bool HasAny(std::string_view s, const std::array<std::string_view, N>& parts) {
  for (std::string_view p : parts)
    if (Has(s, p)) return true;
  return false;
}
template <size_t N>
bool StartsAny(std::string_view s, const std::array<std::string_view, N>& prefixes) {
  for (std::string_view p : prefixes)
    if (Starts(s, p)) return true;
  return false;
}

// Faces that Word and LibreOffice both draw with the same widths, under the
// names PDF producers give them and the names of their metric twins.
constexpr std::pair<std::string_view, std::string_view> kSameWidthFamilies[] = {
    {"arial", "Arial"},
    {"arialmt", "Arial"},
    {"helvetica", "Arial"},
    {"liberationsans", "Arial"},
    {"nimbussans", "Arial"},
    {"nimbussansl", "Arial"},
    {"arimo", "Arial"},
    {"arialnarrow", "Arial Narrow"},
    {"helveticanarrow", "Arial Narrow"},
    {"liberationsansnarrow", "Arial Narrow"},
    {"nimbussansnarrow", "Arial Narrow"},
    {"timesnewroman", "Times New Roman"},
    {"timesnewromanps", "Times New Roman"},
    {"timesnewromanpsmt", "Times New Roman"},
    {"times", "Times New Roman"},
    {"timesroman", "Times New Roman"},
    {"liberationserif", "Times New Roman"},
    {"nimbusroman", "Times New Roman"},
    {"tinos", "Times New Roman"},
    {"couriernew", "Courier New"},
    {"couriernewpsmt", "Courier New"},
    {"courier", "Courier New"},
    {"liberationmono", "Courier New"},
    {"nimbusmonops", "Courier New"},
    {"cousine", "Courier New"},
};

// East Asian system faces: their text comes from the reader's fallback for
// the script whatever the name, so the name is kept for the reader that has
// the face.
constexpr std::pair<std::string_view, std::string_view> kEastAsianFamilies[] = {
    {"msgothic", "MS Gothic"},
    {"msmincho", "MS Mincho"},
    {"simsun", "SimSun"},
    {"simhei", "SimHei"},
    {"batang", "Batang"},
    {"gulim", "Gulim"},
    {"microsoftyahei", "Microsoft YaHei"},
    {"malgungothic", "Malgun Gothic"},
    {"meiryo", "Meiryo"},
};

struct FamilyFacts {
  std::string_view name;
  const char* familyWord;
  int pitch;
  std::string_view panose;
  std::string_view alternate;
};
// PANOSE numbers of the faces the writer names, and the metric twins a
// reader without the face is likely to have.
constexpr FamilyFacts kFamilyFacts[] = {
    {"Times New Roman", "\\froman", 2, "02020603050405020304", "Liberation Serif"},
    {"Arial", "\\fswiss", 2, "020b0604020202020204", "Liberation Sans"},
    {"Arial Narrow", "\\fswiss", 2, "020b0606020202030204", "Liberation Sans Narrow"},
    {"Courier New", "\\fmodern", 1, "02070309020205020404", "Liberation Mono"},
    {"Symbol", "\\ftech", 2, "05050102010706020507", ""},
    {"Wingdings", "\\fnil", 2, "05000000000000000000", ""},
    {"DejaVu Sans", "\\fswiss", 2, "020b0603030804020204", "Verdana"},
    {"DejaVu Serif", "\\froman", 2, "02060603050605020204", ""},
    {"DejaVu Sans Mono", "\\fmodern", 1, "020b0609030804020204", ""},
    {"MS Gothic", "\\fmodern", 1, "020b0609070205080204", ""},
    {"MS Mincho", "\\fmodern", 1, "02020609040205080304", ""},
    {"SimSun", "\\fnil", 2, "02010600030101010101", ""},
    {"SimHei", "\\fmodern", 1, "02010609060101010101", ""},
};

}  // namespace

TkxFontKind GuessFontKind(std::string_view name, TFontPitch pitch) {
  const std::string n = SqueezedFamilyName(name);
  if (pitch == fpFixed) return fkMono;
  // TeX's font names: cm (Computer Modern), sf/ec/tc (cm-super, EC), lm
  // (Latin Modern) followed by the shape: tt typewriter, ss/sx sans.
  static constexpr std::array<std::string_view, 10> kMonoPrefixes = {
      "cmtt", "sftt", "ectt", "tctt", "lmmono", "lmtt", "pcr", "nimbusmon", "texgyrecursor", "cmvtt"};
  static constexpr std::array<std::string_view, 11> kMonoParts = {"mono",  "courier",     "consol",       "typewriter",
                                                                  "code",  "inconsolata", "menlo",        "monaco",
                                                                  "fixed", "terminal",    "lucidaconsole"};
  if (StartsAny(n, kMonoPrefixes) || HasAny(n, kMonoParts)) return fkMono;
  static constexpr std::array<std::string_view, 14> kSansPrefixes = {
      "cmss", "sfss", "sfsx", "ecss", "ecsx",      "tcss",         "lmsans",
      "lmss", "phv",  "uhv",  "pag",  "nimbussan", "texgyreheros", "texgyreadventor"};
  static constexpr std::array<std::string_view, 32> kSansParts = {
      "sans",    "helv",     "arial",    "verdana", "tahoma",   "gothic", "grotesk", "grotesque",
      "futura",  "frutiger", "univers",  "calibri", "segoe",    "roboto", "lato",    "ubuntu",
      "montser", "myriad",   "avenir",   "gill",    "franklin", "trebuc", "candara", "corbel",
      "inter",   "noto",     "opensans", "source",  "fira",     "dejavu", "carlito", "sourcesans"};
  if (StartsAny(n, kSansPrefixes) || (HasAny(n, kSansParts) && !Has(n, "serif"))) {
    static constexpr std::array<std::string_view, 4> kNarrowParts = {"narrow", "condensed", "cond", "compressed"};
    return HasAny(n, kNarrowParts) ? fkSansNarrow : fkSans;
  }
  return fkSerif;
}

std::string PortableFontName(const std::string& name, TFontPitch pitch, TFontCharset charset,
                             const std::function<std::string(const std::string&)>& systemFamily) {
  if (name.empty()) return name;
  const std::string n = SqueezedFamilyName(name);
  if (charset == SYMBOL_CHARSET || Has(n, "symbol") || Has(n, "dingbat") || Has(n, "wingding") || Has(n, "webding"))
    return name;
  for (const auto& [key, family] : kSameWidthFamilies)
    if (n == key) return std::string(family);
  for (const auto& [key, family] : kEastAsianFamilies)
    if (n == key) return std::string(family);
  // The DejaVu faces come with LibreOffice wherever it runs; any other
  // installed face is only known to be on this machine.
  if (systemFamily && Starts(n, "dejavu")) {
    std::string installed = systemFamily(name);
    if (Starts(SqueezedFamilyName(installed), "dejavu")) return installed;
  }
  switch (GuessFontKind(name, pitch)) {
    case fkMono: return "Courier New";
    case fkSans: return "Arial";
    case fkSansNarrow: return "Arial Narrow";
    default: return "Times New Roman";
  }
}

TkxFontTableFacts FontTableFacts(const std::string& writtenName) {
  TkxFontTableFacts facts;
  for (const FamilyFacts& f : kFamilyFacts) {
    if (writtenName != f.name) continue;
    facts.FamilyWord = f.familyWord;
    facts.Pitch = f.pitch;
    facts.Panose = f.panose;
    facts.Alternate = f.alternate;
    return facts;
  }
  // A kept name (a symbol font, an East Asian face) by what it suggests.
  const std::string n = SqueezedFamilyName(writtenName);
  if (Has(n, "symbol") || Has(n, "dingbat") || Has(n, "wingding") || Has(n, "webding")) {
    facts.FamilyWord = "\\ftech";
    facts.Pitch = 2;
    return facts;
  }
  if (Has(n, "script") || Has(n, "hand") || Has(n, "chancery") || Has(n, "brush")) {
    facts.FamilyWord = "\\fscript";
    facts.Pitch = 2;
    return facts;
  }
  switch (GuessFontKind(writtenName, fpDefault)) {
    case fkMono:
      facts.FamilyWord = "\\fmodern";
      facts.Pitch = 1;
      break;
    case fkSans:
    case fkSansNarrow:
      facts.FamilyWord = "\\fswiss";
      facts.Pitch = 2;
      break;
    default:
      facts.FamilyWord = "\\froman";
      facts.Pitch = 2;
      break;
  }
  return facts;
}

}  // namespace pw
