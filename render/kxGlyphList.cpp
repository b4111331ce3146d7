#include "render/kxGlyphList.h"

#include <unordered_map>

#include "resources/kxResources.h"

namespace pw {
namespace {

using GlyphMap = std::unordered_map<std::string, std::u16string>;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Lines "name;XXXX[ XXXX...]"; "#" starts a comment line. The first list
// given keeps a name that a later one repeats.
void ReadList(std::string_view text, GlyphMap& map) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t semi = line.find(';');
    if (semi == std::string_view::npos || semi == 0) continue;
    std::u16string value;
    uint32_t v = 0;
    int digits = 0;
    for (size_t i = semi + 1; i <= line.size(); ++i) {
      int d = i < line.size() ? HexDigit(line[i]) : -1;
      if (d >= 0) {
        v = v * 16 + static_cast<uint32_t>(d);
        ++digits;
      } else {
        if (digits > 0 && digits <= 6) AppendCodePoint(v, value);
        v = 0;
        digits = 0;
      }
    }
    if (!value.empty()) map.emplace(std::string(line.substr(0, semi)), std::move(value));
  }
}

// The Adobe Glyph List: names of ordinary glyphs.
const GlyphMap& Map() {
  static const GlyphMap map = [] {
    GlyphMap m;
    m.reserve(4400);
    if (auto agl = LoadResource("kxPDFGLYPH")) ReadList(*agl, m);
    return m;
  }();
  return map;
}

// The ZapfDingbats names ("a1" to "a191"): they mean dingbats only in a
// dingbat font; elsewhere "a1" is as likely a plain letter's glyph.
const GlyphMap& DingbatMap() {
  static const GlyphMap map = [] {
    GlyphMap m;
    m.reserve(220);
    if (auto zapf = LoadResource("kxPDFZAPF")) ReadList(*zapf, m);
    return m;
  }();
  return map;
}

// "uni" followed by groups of four hexadecimal digits, none a surrogate.
bool UniName(std::string_view s, std::u16string& out) {
  if (s.size() < 7 || s.substr(0, 3) != "uni" || (s.size() - 3) % 4 != 0) return false;
  std::u16string text;
  for (size_t i = 3; i < s.size(); i += 4) {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) {
      int d = HexDigit(s[i + k]);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    if (v >= 0xD800 && v <= 0xDFFF) return false;
    text.push_back(static_cast<char16_t>(v));
  }
  out += text;
  return true;
}

// "u" followed by four to six hexadecimal digits.
bool UName(std::string_view s, std::u16string& out) {
  if (s.size() < 5 || s.size() > 7 || s[0] != 'u') return false;
  uint32_t v = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    int d = HexDigit(s[i]);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return AppendCodePoint(v, out);
}

bool Component(std::string_view s, std::u16string& out, bool dingbats) {
  if (s.empty()) return false;
  if (dingbats) {
    const GlyphMap& d = DingbatMap();
    if (auto it = d.find(std::string(s)); it != d.end()) {
      out += it->second;
      return true;
    }
  }
  if (const std::u16string* v = GlyphListLookup(s)) {
    out += *v;
    return true;
  }
  return UniName(s, out) || UName(s, out);
}

}  // namespace

bool AppendCodePoint(char32_t cp, std::u16string& out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
  return true;
}

const std::u16string* GlyphListLookup(std::string_view name) {
  const GlyphMap& m = Map();
  auto it = m.find(std::string(name));
  return it == m.end() ? nullptr : &it->second;
}

bool GlyphNameToUnicode(std::string_view name, std::u16string& out, bool dingbatFont) {
  out.clear();
  if (Component(name, out, dingbatFont)) return true;  // whole names first: "a.sc" may be listed as it stands
  std::string_view base = name.substr(0, name.find('.'));
  bool any = false;
  while (!base.empty()) {
    size_t us = base.find('_');
    std::string_view part = base.substr(0, us);
    if (Component(part, out, dingbatFont)) any = true;
    if (us == std::string_view::npos) break;
    base.remove_prefix(us + 1);
  }
  if (!any) out.clear();
  return any;
}

std::u16string GlyphNameToUnicode(std::string_view name, bool dingbatFont) {
  std::u16string out;
  GlyphNameToUnicode(name, out, dingbatFont);
  return out;
}

}  // namespace pw
