// The decoding state of one font, built when the font is loaded: how its
// string bytes split into codes, and the text and advance of every code.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "render/kxCMap.h"
#include "render/kxToUnicode.h"

namespace pw {

struct TkxDecodedText;

// The text of each code of a simple font. Nearly every code stands for one
// UTF-16 unit, kept inline; the others (ligatures, surrogate pairs, codes
// with no text) are kept apart, so that a document's many fonts stay small.
class TkxSimpleTexts {
 public:
  // Every code stands for the unit of its own value.
  TkxSimpleTexts();
  std::u16string_view operator[](uint8_t code) const {
    if (length_[code] == 1) return {&unit_[code], 1};
    return Other(code);
  }
  void Set(uint8_t code, std::u16string_view text);

 private:
  std::u16string_view Other(uint8_t code) const;

  std::array<char16_t, 256> unit_{};
  std::array<uint8_t, 256> length_{};  // 1: unit_ holds the text; else kept in other_
  std::vector<std::pair<uint8_t, std::u16string>> other_;
};

class TkxFontDecoder {
 public:
  bool Composite = false;

  // Simple fonts: text and advance (thousandths of text space) per code.
  TkxSimpleTexts SimpleText;
  std::array<double, 256> SimpleWidth{};

  // Composite fonts.
  std::shared_ptr<const TkxCMap> CMap;                // never null for composite fonts
  std::shared_ptr<const TkxCIDToUnicode> Collection;  // CID-to-Unicode of the font's collection
  std::unique_ptr<TkxToUnicodeMap> ToUnicode;         // the font's /ToUnicode (may be null)
  bool UnicodeCodes = false;                          // a Uni...-UCS2/-UTF16 CMap: the codes are UTF-16 themselves
  // Identity-encoded embedded program: CID -> glyph -> text from the
  // program's own cmap or glyph names.
  bool CIDToGIDIdentity = true;
  std::vector<uint16_t> CIDToGID;
  std::unordered_map<uint32_t, std::u16string> GIDToUnicode;

  // Simple symbolic fonts: the texts that codes took from the glyphs of the
  // embedded program (its glyph names or Unicode cmap) instead of standing
  // for themselves. The program cannot draw them by their Unicode values, so
  // the font is drawn with a family that has them.
  std::u16string ProgramTexts;
  TkxRangeMap<double> W;  // CID ranges -> width (Origin-independent)
  double DW = 1000;
  // Vertical writing (a -V CMap): per CID the vertical advance w1 and the
  // position vector (vx, vy) from the glyph's horizontal to its vertical
  // origin; vx defaults to half the width. Thousandths of text space.
  struct TkxVerticalMetrics {
    double W1 = -1000, Vx = 0, Vy = 880;
    bool HasVx = false;
  };
  bool Vertical = false;
  TkxRangeMap<TkxVerticalMetrics> W2;
  TkxVerticalMetrics DW2;

  // Advance of a code (simple) or CID (composite).
  double Width(uint32_t codeOrCID) const;
  // Text of a composite font's code.
  void CompositeText(TkxCMapCode code, uint32_t cid, std::u16string& out) const;
  void Append(std::string_view bytes, TkxDecodedText& out) const;
};

}  // namespace pw
