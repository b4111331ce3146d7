// The decoding state of one font: how its string bytes split into codes,
// what Unicode text and advance each code has.
#pragma once

namespace pw {

class TkxFontDecoder {
 public:
  TkxFontDecoder() = default;
};

}  // namespace pw
