#include "render/kxToUnicode.h"

#include <memory>

#include "render/kxGlyphList.h"

namespace pw {

class TkxToUnicodeBuilder : public TkxCMapHandler {
 public:
  explicit TkxToUnicodeBuilder(TkxToUnicodeMap& m) : m_(m) {}
  void BfRange(TkxCMapCode lo, TkxCMapCode hi, const std::u16string& dst) override {
    if (hi.Value < lo.Value) return;
    TkxToUnicodeMap::Dest d;
    d.Base = dst;
    Add(lo.Value, hi.Value, std::move(d));
  }
  void BfArray(TkxCMapCode lo, TkxCMapCode hi, const std::vector<std::u16string>& dst) override {
    if (hi.Value < lo.Value || dst.empty()) return;
    TkxToUnicodeMap::Dest d;
    d.Array = true;
    const uint64_t span = uint64_t(hi.Value) - lo.Value + 1;
    d.Each.assign(dst.begin(), dst.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(span, dst.size())));
    const uint32_t last = lo.Value + static_cast<uint32_t>(d.Each.size()) - 1;
    Add(lo.Value, last, std::move(d));
  }
  // Decimal values in cid sections stand for code points.
  void CidRange(TkxCMapCode lo, TkxCMapCode hi, uint32_t value) override {
    TkxToUnicodeMap::Dest d;
    if (hi.Value < lo.Value || !AppendCodePoint(value, d.Base)) return;
    Add(lo.Value, hi.Value, std::move(d));
  }
  bool Full() const override { return m_.entries_ >= TkxToUnicodeMap::kMaxEntries; }

 private:
  void Add(uint32_t lo, uint32_t hi, TkxToUnicodeMap::Dest d) {
    ++m_.entries_;
    m_.map_.Insert(lo, hi, std::move(d));
  }
  TkxToUnicodeMap& m_;
};

void TkxToUnicodeMap::Parse(std::string_view text) {
  TkxToUnicodeBuilder b(*this);
  ParseCMapText(text, b);
}

bool TkxToUnicodeMap::Lookup(uint32_t code, std::u16string& out) const {
  const auto* r = map_.Find(code);
  if (!r) return false;
  const uint64_t k = code - r->Origin;
  if (r->Value.Array) {
    if (k >= r->Value.Each.size()) return false;
    out = r->Value.Each[k];
    return true;
  }
  out = r->Value.Base;
  if (k > 0 && !out.empty()) out.back() = static_cast<char16_t>(out.back() + k);
  return true;
}

}  // namespace pw
