// Built-in encodings of simple fonts (glyph name per code) and the
// /Differences that a font's /Encoding dictionary lays over them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace pw {

class TkxPDFArrayObject;

enum TkxBaseEncoding : uint8_t {
  beStandard = 0,
  beWinAnsi,
  beMacRoman,
  beMacExpert,
  bePDFDoc,
  beSymbol,
  beZapfDingbats,
};

// The glyph name of a code in a built-in encoding; nullptr when the
// encoding has none there.
const char* BaseEncodingGlyph(TkxBaseEncoding encoding, uint8_t code);
// "/WinAnsiEncoding" (with or without "/") and the other encoding names of
// simple fonts; false for any other name.
bool BaseEncodingFromName(std::string_view name, TkxBaseEncoding& out);

// The glyph names of the 256 codes of a simple font.
class TkxSimpleEncoding {
 public:
  explicit TkxSimpleEncoding(TkxBaseEncoding base = beStandard) { SetBase(base); }
  // Replaces every name with the built-in encoding's.
  void SetBase(TkxBaseEncoding base);
  // Lays a /Differences array over the names: an integer sets the current
  // code, each name is given to the current code, which then advances.
  // Codes outside 0..255 are skipped. Returns how many codes were named.
  int ApplyDifferences(const TkxPDFArrayObject& differences);
  // The name of a code ("" when none); Differences() tells whether a
  // /Differences entry gave it.
  const std::string& Name(uint8_t code) const { return names_[code]; }
  bool Differences(uint8_t code) const { return fromDifferences_[code]; }
  void SetName(uint8_t code, std::string name) { names_[code] = std::move(name); }
  TkxBaseEncoding Base() const { return base_; }

 private:
  TkxBaseEncoding base_ = beStandard;
  std::array<std::string, 256> names_;
  std::array<bool, 256> fromDifferences_{};
};

}  // namespace pw
