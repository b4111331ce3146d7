// ToUnicode maps: character codes to UTF-16 text, read from a font's
// /ToUnicode CMap stream. Codes are keyed by value whatever their length in
// the CMap, so a simple font's <0041> entry still serves the byte 41.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "render/kxCMap.h"

namespace pw {

class TkxToUnicodeMap {
 public:
  static constexpr size_t kMaxEntries = size_t(1) << 20;

  // Parses CMap text: bfchar and bfrange (with a destination string whose
  // last unit grows along the range, or an array of destinations), several
  // UTF-16 units per destination (ligatures, surrogate pairs), and cidchar /
  // cidrange entries whose decimal value is taken as the code point.
  void Parse(std::string_view text);
  // Text of a code; false when the map has no entry for it.
  bool Lookup(uint32_t code, std::u16string& out) const;
  bool Empty() const { return map_.Count() == 0; }
  size_t RangeCount() const { return map_.Count(); }

 private:
  friend class TkxToUnicodeBuilder;
  struct Dest {
    std::u16string Base;               // bfchar, bfrange with a string, cid entries
    std::vector<std::u16string> Each;  // bfrange with an array (index = code - Origin)
    bool Array = false;
  };
  TkxRangeMap<Dest> map_;
  size_t entries_ = 0;
};

}  // namespace pw
