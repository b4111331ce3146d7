// Fuzz target: CMap text read both ways the converter reads it, as the code
// to CID map of a composite font (alone and laid over a predefined CMap) and
// as a ToUnicode map; then the input's own bytes are cut into codes and
// looked up, as a shown string would be.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "render/kxCMap.h"
#include "render/kxToUnicode.h"

namespace {

// Codes of the input by the map's code-space ranges, with their CIDs.
void Walk(const pw::TkxCMap& cmap, const uint8_t* data, size_t size) {
  size_t at = 0;
  for (int i = 0; at < size && i < 4096; ++i) {
    pw::TkxCMapCode code;
    const size_t n = cmap.NextCode(data + at, size - at, code);
    if (n == 0 || n > 4 || n > size - at) __builtin_trap();  // the contract NextCode promises
    cmap.CIDOf(code);
    cmap.HasMapping(code);
    at += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static const std::shared_ptr<const pw::TkxCMap> parent = pw::TkxCMap::Predefined("90ms-RKSJ-H");

  std::shared_ptr<pw::TkxCMap> cmap = pw::TkxCMap::FromText(text);
  if (cmap) {
    Walk(*cmap, data, size);
    cmap->Vertical();
    if (!cmap->Ordering().empty()) pw::TkxCIDToUnicode::ForOrdering(cmap->Ordering());
  }
  if (size % 4 == 0)
    if (std::shared_ptr<pw::TkxCMap> over = pw::TkxCMap::FromText(text, parent.get())) Walk(*over, data, size);

  pw::TkxToUnicodeMap toUnicode;
  toUnicode.Parse(text);
  std::u16string out;
  for (size_t i = 0; i + 1 < size && i < 2048; i += 2) {
    toUnicode.Lookup(data[i], out);
    toUnicode.Lookup(uint32_t(data[i]) << 8 | data[i + 1], out);
  }
  for (uint32_t code : {0u, 0xFFu, 0xFFFFu, 0xFFFFFFu, 0xFFFFFFFFu}) toUnicode.Lookup(code, out);
  return 0;
}
