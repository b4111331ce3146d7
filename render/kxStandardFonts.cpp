#include "render/kxStandardFonts.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace pw {
namespace {
#include "render/kxStandardFontData.inc"

struct Member {
  const char* const* names;
  size_t count;
  const uint16_t* widths;
};

Member MemberFor(TkxStandardFamily family, int style) {
  const int s = style & 3;
  switch (family) {
    case sfHelvetica: {
      static const uint16_t* const w[4] = {kW_Helvetica, kW_Helvetica_Bold, kW_Helvetica_Oblique,
                                           kW_Helvetica_BoldOblique};
      return {kLatinGlyphs, kLatinGlyphCount, w[s]};
    }
    case sfTimes: {
      static const uint16_t* const w[4] = {kW_Times_Roman, kW_Times_Bold, kW_Times_Italic, kW_Times_BoldItalic};
      return {kLatinGlyphs, kLatinGlyphCount, w[s]};
    }
    case sfCourier: {
      static const uint16_t* const w[4] = {kW_Courier, kW_Courier_Bold, kW_Courier_Oblique, kW_Courier_BoldOblique};
      return {kLatinGlyphs, kLatinGlyphCount, w[s]};
    }
    case sfSymbol: return {kSymbolGlyphs, kSymbolGlyphCount, kW_Symbol};
    case sfZapfDingbats: return {kDingbatGlyphs, kDingbatGlyphCount, kW_ZapfDingbats};
  }
  return {kLatinGlyphs, kLatinGlyphCount, kW_Helvetica};
}

std::string Folded(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == ' ') continue;
    out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
  }
  return out;
}

}  // namespace

bool StandardFamilyFromName(std::string_view family, TkxStandardFamily& out) {
  static const struct {
    const char* name;
    TkxStandardFamily family;
  } kNames[] = {
      {"helvetica", sfHelvetica},
      {"helveticaneue", sfHelvetica},
      {"arial", sfHelvetica},
      {"arialmt", sfHelvetica},
      {"arialps", sfHelvetica},
      {"arialpsmt", sfHelvetica},
      {"times", sfTimes},
      {"times-roman", sfTimes},
      {"timesroman", sfTimes},
      {"timesnewroman", sfTimes},
      {"timesnewromanps", sfTimes},
      {"timesnewromanpsmt", sfTimes},
      {"courier", sfCourier},
      {"couriernew", sfCourier},
      {"couriernewps", sfCourier},
      {"couriernewpsmt", sfCourier},
      {"symbol", sfSymbol},
      {"symbolmt", sfSymbol},
      {"symbolps", sfSymbol},
      {"symbolpsmt", sfSymbol},
      {"zapfdingbats", sfZapfDingbats},
      {"itczapfdingbats", sfZapfDingbats},
      {"dingbats", sfZapfDingbats},
  };
  const std::string f = Folded(family);
  for (const auto& n : kNames)
    if (f == n.name) {
      out = n.family;
      return true;
    }
  return false;
}

int StandardGlyphWidth(TkxStandardFamily family, int style, std::string_view glyphName) {
  const Member m = MemberFor(family, style);
  const char* const* end = m.names + m.count;
  const char* const* it = std::lower_bound(m.names, end, glyphName,
                                           [](const char* a, std::string_view b) { return std::string_view(a) < b; });
  if (it == end || std::string_view(*it) != glyphName) return -1;
  const uint16_t w = m.widths[it - m.names];
  return w == 0xFFFF ? -1 : w;
}

TkxBaseEncoding StandardFamilyEncoding(TkxStandardFamily family) {
  switch (family) {
    case sfSymbol: return beSymbol;
    case sfZapfDingbats: return beZapfDingbats;
    default: return beStandard;
  }
}

}  // namespace pw
