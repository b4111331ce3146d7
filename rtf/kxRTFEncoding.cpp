#include "rtf/kxRTFEncoding.h"

#include <iconv.h>

#include <cstdio>
#include <map>

#include "engine/kxFormatSettings.h"
#include "pdf/kxClasses.h"

namespace pw {

namespace {

const char* IconvName(int codePage) {
  switch (codePage) {
    case 437: return "CP437";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 1361: return "JOHAB";
    case 10000: return "MACINTOSH";
    default: return nullptr;
  }
}

// Converters from UTF-16 to the code pages, opened once per thread.
class Converters {
 public:
  ~Converters() {
    for (auto& [cp, cd] : open_)
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  iconv_t Get(int codePage) {
    auto it = open_.find(codePage);
    if (it != open_.end()) return it->second;
    const char* name = IconvName(codePage);
    iconv_t cd = name ? iconv_open(name, "UTF-16LE") : reinterpret_cast<iconv_t>(-1);
    open_.emplace(codePage, cd);
    return cd;
  }

 private:
  std::map<int, iconv_t> open_;
};

}  // namespace

std::string EscapeRTF(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '{' || c == '}') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

int CodePageOfCharset(int charset) {
  switch (charset) {
    case 0:
    case 1: return kAnsiCodePage;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 0;
  }
}

int CharsetOfCodePage(int codePage) {
  switch (codePage) {
    case 932: return 128;
    case 949: return 129;
    case 1361: return 130;
    case 936: return 134;
    case 950: return 136;
    case 1253: return 161;
    case 1254: return 162;
    case 1258: return 163;
    case 1255: return 177;
    case 1256: return 178;
    case 1257: return 186;
    case 1251: return 204;
    case 874: return 222;
    case 1250: return 238;
    default: return 0;  // 1252, 1200 and the rest
  }
}

std::string CodePageBytes(char16_t unit, int codePage) {
  if (codePage == kAnsiCodePage) {
    uint8_t b;
    return WideCharToAnsi(unit, b) ? std::string(1, static_cast<char>(b)) : std::string();
  }
  thread_local Converters converters;
  iconv_t cd = converters.Get(codePage);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  char out[8];
  char* inPtr = in;
  char* outPtr = out;
  size_t inLeft = sizeof in, outLeft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial state
  const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  if (r == static_cast<size_t>(-1) || r > 0 || inLeft != 0) return {};  // none, or only an approximation
  // Flush a stateful converter's pending output.
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  return std::string(out, static_cast<size_t>(outPtr - out));
}

bool NeedsUnicodeHandling(TFontCharset charset) {
  return charset != ANSI_CHARSET && !(charset == DEFAULT_CHARSET && kAnsiCodePage == 1252);
}

std::string UnicodeEscape(char16_t unit, std::string_view fallback) {
  std::string out = "\\u" + std::to_string(static_cast<int16_t>(unit));
  out.append(fallback);
  return out;
}

std::string EncodeText(std::u16string_view text, TFontCharset charset) {
  const bool unicode = NeedsUnicodeHandling(charset);
  const int fontCodePage = unicode ? CodePageOfCharset(charset) : 0;
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    uint8_t b;
    if ((!unicode || c < 257) && WideCharToAnsi(c, b)) {
      if (b == '\\' || b == '{' || b == '}') out.push_back('\\');
      out.push_back(static_cast<char>(b));
      continue;
    }
    std::string fallback = "?";
    if (unicode && fontCodePage != 0) {
      const std::string bytes = CodePageBytes(c, fontCodePage);
      if (bytes.size() == 1) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\'%02X", static_cast<unsigned>(static_cast<uint8_t>(bytes[0])));
        fallback = hex;
      }
    }
    out += UnicodeEscape(c, fallback);
  }
  return out;
}

const char* AlignmentWord(int alignment) {
  switch (alignment) {
    case haRight: return "\\qr";
    case haCenter: return "\\qc";
    case haJustify: return "\\qj";
    default: return "\\ql";
  }
}

}  // namespace pw
