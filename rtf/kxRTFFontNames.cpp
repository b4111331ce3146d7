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

// Families found on practically every machine that opens RTF (Windows and
// Office faces; LibreOffice maps them to its metric-compatible faces), with
// the names PDF producers give them.
constexpr std::pair<std::string_view, std::string_view> kCommonFamilies[] = {
    {"arial", "Arial"},
    {"arialmt", "Arial"},
    {"helvetica", "Arial"},
    {"arialnarrow", "Arial Narrow"},
    {"arialblack", "Arial Black"},
    {"timesnewroman", "Times New Roman"},
    {"timesnewromanps", "Times New Roman"},
    {"timesnewromanpsmt", "Times New Roman"},
    {"times", "Times New Roman"},
    {"timesroman", "Times New Roman"},
    {"couriernew", "Courier New"},
    {"couriernewpsmt", "Courier New"},
    {"courier", "Courier New"},
    {"calibri", "Calibri"},
    {"calibrilight", "Calibri Light"},
    {"cambria", "Cambria"},
    {"cambriamath", "Cambria Math"},
    {"candara", "Candara"},
    {"consolas", "Consolas"},
    {"constantia", "Constantia"},
    {"corbel", "Corbel"},
    {"segoeui", "Segoe UI"},
    {"georgia", "Georgia"},
    {"verdana", "Verdana"},
    {"tahoma", "Tahoma"},
    {"trebuchetms", "Trebuchet MS"},
    {"garamond", "Garamond"},
    {"bookantiqua", "Book Antiqua"},
    {"bookmanoldstyle", "Bookman Old Style"},
    {"centurygothic", "Century Gothic"},
    {"palatinolinotype", "Palatino Linotype"},
    {"comicsansms", "Comic Sans MS"},
    {"impact", "Impact"},
    {"lucidaconsole", "Lucida Console"},
    {"lucidasansunicode", "Lucida Sans Unicode"},
    {"msgothic", "MS Gothic"},
    {"msmincho", "MS Mincho"},
    {"simsun", "SimSun"},
    {"simhei", "SimHei"},
    {"batang", "Batang"},
    {"gulim", "Gulim"},
    {"microsoftyahei", "Microsoft YaHei"},
    {"malgungothic", "Malgun Gothic"},
    {"meiryo", "Meiryo"},
    {"aptos", "Aptos"},
};

}  // namespace

TkxFontKind GuessFontKind(std::string_view name, TFontPitch pitch) {
  const std::string n = SqueezedFamilyName(name);
  if (pitch == fpFixed) return fkMono;
  // TeX's font names: cm (Computer Modern), sf/ec/tc (cm-super, EC), lm
  // (Latin Modern) followed by the shape: tt typewriter, ss/sx sans.
  static constexpr std::array<std::string_view, 10> kMonoPrefixes = {
      "cmtt", "sftt", "ectt", "tctt", "lmmono", "lmtt", "pcr", "nimbusmon", "texgyrecursor", "cmvtt"};
  static constexpr std::array<std::string_view, 11> kMonoParts = {
      "mono", "courier", "consol", "typewriter", "code", "inconsolata", "menlo", "monaco", "fixed",
      "terminal", "lucidaconsole"};
  if (StartsAny(n, kMonoPrefixes) || HasAny(n, kMonoParts)) return fkMono;
  static constexpr std::array<std::string_view, 14> kSansPrefixes = {
      "cmss", "sfss", "sfsx", "ecss", "ecsx", "tcss", "lmsans", "lmss", "phv", "uhv", "pag", "nimbussan", "texgyreheros",
      "texgyreadventor"};
  static constexpr std::array<std::string_view, 32> kSansParts = {
      "sans",    "helv",     "arial",   "verdana", "tahoma",   "gothic", "grotesk", "grotesque",
      "futura",  "frutiger", "univers", "calibri", "segoe",    "roboto", "lato",    "ubuntu",
      "montser", "myriad",   "avenir",  "gill",    "franklin", "trebuc", "candara", "corbel",
      "inter",   "noto",     "opensans","source",  "fira",     "dejavu", "carlito", "sourcesans"};
  if (StartsAny(n, kSansPrefixes) || (HasAny(n, kSansParts) && !Has(n, "serif"))) return fkSans;
  return fkSerif;
}

std::string PortableFontName(const std::string& name, TFontPitch pitch, TFontCharset charset,
                             const std::function<std::string(const std::string&)>& systemFamily) {
  if (name.empty()) return name;
  const std::string n = SqueezedFamilyName(name);
  if (charset == SYMBOL_CHARSET || Has(n, "symbol") || Has(n, "dingbat") || Has(n, "wingding") ||
      Has(n, "webding"))
    return name;
  for (const auto& [key, family] : kCommonFamilies)
    if (n == key) return std::string(family);
  if (systemFamily) {
    std::string installed = systemFamily(name);
    if (!installed.empty()) return installed;
  }
  switch (GuessFontKind(name, pitch)) {
    case fkMono:
      return "Courier New";
    case fkSans:
      return "Arial";
    default:
      return "Times New Roman";
  }
}

}  // namespace pw
