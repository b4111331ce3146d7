#include "render/kxEncodings.h"

#include <cstddef>

#include "pdf/kxPDFObjects.h"

namespace pw {
namespace {
#include "render/kxEncodingData.inc"

const char* const* Table(TkxBaseEncoding e) {
  switch (e) {
    case beStandard: return kStandardNames;
    case beWinAnsi: return kWinAnsiNames;
    case beMacRoman: return kMacRomanNames;
    case beMacExpert: return kMacExpertNames;
    case bePDFDoc: return kPDFDocNames;
    case beSymbol: return kSymbolNames;
    case beZapfDingbats: return kZapfDingbatsNames;
  }
  return kStandardNames;
}
}  // namespace

const char* BaseEncodingGlyph(TkxBaseEncoding encoding, uint8_t code) { return Table(encoding)[code]; }

bool BaseEncodingFromName(std::string_view name, TkxBaseEncoding& out) {
  if (!name.empty() && name[0] == '/') name.remove_prefix(1);
  static const struct {
    const char* name;
    TkxBaseEncoding enc;
  } kNames[] = {
      {"StandardEncoding", beStandard},        {"WinAnsiEncoding", beWinAnsi}, {"MacRomanEncoding", beMacRoman},
      {"MacExpertEncoding", beMacExpert},      {"PDFDocEncoding", bePDFDoc},   {"SymbolEncoding", beSymbol},
      {"ZapfDingbatsEncoding", beZapfDingbats}};
  for (const auto& n : kNames)
    if (name == n.name) {
      out = n.enc;
      return true;
    }
  return false;
}

void TkxSimpleEncoding::SetBase(TkxBaseEncoding base) {
  base_ = base;
  const char* const* t = Table(base);
  for (size_t c = 0; c < 256; ++c) {
    names_[c] = t[c] ? t[c] : "";
    fromDifferences_[c] = false;
  }
}

int TkxSimpleEncoding::ApplyDifferences(const TkxPDFArrayObject& differences) {
  int64_t code = -1;  // names before the first number belong to no code
  int named = 0;
  for (const auto& item : differences.Items) {
    const TkxPDFObject* o = item.get();
    if (IsNumber(o)) {
      code = IntValue(o, -1);
    } else if (const TkxPDFNameObject* n = AsName(o)) {
      if (code >= 0 && code <= 255) {
        names_[code] = n->GetName();
        fromDifferences_[code] = true;
        ++named;
      }
      if (code >= 0 && code < INT64_MAX) ++code;
    }
  }
  return named;
}

}  // namespace pw
