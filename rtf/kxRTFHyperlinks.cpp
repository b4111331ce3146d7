// Web, mail and file references in RTF text turned into HYPERLINK fields.
#include "rtf/kxRTFHyperlinks.h"

#include <vector>

namespace pw {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool IsAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Characters a web or mail link is made of.
bool IsLinkChar(char c) {
  return IsAsciiAlnum(c) || (c != '\0' && std::string_view("%&+-./:=?@_").find(c) != std::string_view::npos);
}

// Characters of the local part in front of a "@".
bool IsLocalPartChar(char c) { return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_'; }

// First occurrence of needleLower in hay at or after from, hay compared
// without regard to ASCII case.
size_t FindNoCase(std::string_view hay, std::string_view needleLower, size_t from) {
  if (needleLower.empty() || hay.size() < needleLower.size()) return std::string_view::npos;
  for (size_t i = from; i + needleLower.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needleLower.size() && AsciiLower(hay[i + k]) == needleLower[k]) ++k;
    if (k == needleLower.size()) return i;
  }
  return std::string_view::npos;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

std::string FindNextLink(std::string_view text, size_t& position) {
  const size_t start = position == 0 ? 0 : position - 1;  // 0-based start of the remainder
  if (start >= text.size()) return {};
  const std::string rem = Lowered(text.substr(start));
  const size_t len = rem.size();
  size_t best = len;  // 1-based index in the remainder
  bool isFile = false;

  static constexpr std::string_view kPatterns[] = {"www.", "ftp://", "http://", "@", ":\\"};
  for (std::string_view pattern : kPatterns) {
    const size_t found = rem.find(pattern);
    if (found == std::string::npos) continue;
    size_t i = found + 1;
    if (i >= best) continue;
    if (pattern == "@") {
      // A mail address needs a dot in its domain; without one no link is
      // made in this text at all.
      const size_t dot = rem.find('.', i - 1);
      if (dot == std::string::npos || dot + 1 > best) return {};
      while (i > 1 && IsLocalPartChar(rem[i - 2])) --i;
    } else if (pattern == ":\\") {
      if (i > 1) --i;  // the drive letter
    }
    if (i < best) {
      best = i;
      isFile = pattern == ":\\";
    }
  }
  if (best >= len) return {};

  const size_t s = best - 1;  // 0-based in the remainder
  size_t e = s;
  if (!isFile) {
    while (e < len && IsLinkChar(rem[e])) ++e;
  } else {
    // A path runs to the end of the text, or to the first character that
    // cannot be in a file name after the extension's dot.
    const size_t lastBackslash = rem.rfind('\\');
    const size_t dot = rem.find('.', lastBackslash + 1);
    if (dot == std::string::npos) return {};
    e = rem.find_first_of(" \"*?|", dot);
    if (e == std::string::npos) e = len;
  }
  if (e <= s) return {};
  position = start + best;
  return std::string(text.substr(start + s, e - s));
}

bool MayHoldLink(std::string_view text) {
  if (text.find_first_of("@:") != std::string_view::npos) return true;
  for (size_t dot = text.find('.'); dot != std::string_view::npos; dot = text.find('.', dot + 1))
    if (dot >= 3 && AsciiLower(text[dot - 1]) == 'w' && AsciiLower(text[dot - 2]) == 'w' &&
        AsciiLower(text[dot - 3]) == 'w')
      return true;
  return false;
}

std::string AddHyperlinks(std::string_view text, const std::function<int()>& blueColorNumber) {
  if (!MayHoldLink(text)) return std::string(text);
  // The output as pieces; fields made here are never searched again, so a
  // later link that is part of an earlier one cannot break that field.
  struct Piece {
    std::string text;
    bool field;
  };
  std::vector<Piece> pieces{{std::string(text), false}};
  int blue = -1;
  size_t position = 0;
  while (true) {
    size_t at = position;
    const std::string link = FindNextLink(text, at);
    if (link.empty() || link == "\r\n") break;

    std::string instruction = "{\\field{\\*\\fldinst {HYPERLINK \"";
    std::string target = link;
    const bool qualified = link.find("http:") != std::string::npos || link.find("ftp:") != std::string::npos ||
                           link.find('@') != std::string::npos || link.find(":\\") != std::string::npos;
    if (!qualified) {
      instruction += "http://";
    } else if (link.find('@') != std::string::npos) {
      instruction += "mailto:";
    } else if (link.find(":\\") != std::string::npos) {
      // A field instruction takes a path's (escaped) backslashes doubled
      // once more; the shown result keeps them as they are.
      target = ReplaceAll(link, "\\\\", "\\\\\\\\");
    }
    if (blue < 0) blue = blueColorNumber();
    const std::string field =
        instruction + target + "\"}}{\\fldrslt {\\ul\\cf" + std::to_string(blue) + " " + link + "}}}";

    const std::string needle = Lowered(link);
    std::vector<Piece> next;
    for (Piece& p : pieces) {
      if (p.field) {
        next.push_back(std::move(p));
        continue;
      }
      size_t from = 0;
      while (true) {
        const size_t hit = FindNoCase(p.text, needle, from);
        if (hit == std::string::npos) break;
        if (hit > from) next.push_back({p.text.substr(from, hit - from), false});
        next.push_back({field, true});
        from = hit + needle.size();
      }
      if (from < p.text.size()) next.push_back({p.text.substr(from), false});
    }
    pieces = std::move(next);
    position = at + link.size() + 1;
  }
  std::string out;
  out.reserve(text.size());
  for (const Piece& p : pieces) out += p.text;
  return out;
}

std::string ReplaceNoCase(std::string_view text, std::string_view name, std::string_view value) {
  const std::string needle = Lowered(name);
  std::string out;
  size_t from = 0;
  while (true) {
    const size_t hit = FindNoCase(text, needle, from);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(from, hit - from));
    out.append(value);
    from = hit + needle.size();
  }
  out.append(text.substr(from));
  return out;
}

}  // namespace pw
