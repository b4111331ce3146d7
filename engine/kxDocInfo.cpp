#include "engine/kxDocInfo.h"

#include "engine/kxDocSettings.h"

namespace pw {

void TkxDocInfo::Assign(const TkxDocInfo& source) {
  if (&source == this) return;
  for (int i = 0; i < kDocInfoPropertyCount; ++i) values_[i] = source.values_[i];
}

const std::u16string& TkxDocInfo::Get(TkxDocInfoProperty p) const {
  static const std::u16string empty;
  return (p >= 0 && p < kDocInfoPropertyCount) ? values_[p] : empty;
}

void TkxDocInfo::Set(TkxDocInfoProperty p, const std::u16string& value) {
  if (p < 0 || p >= kDocInfoPropertyCount) return;
  if (owner_) owner_->DocInfoChanging(p, value);
  values_[p] = value;
}

}  // namespace pw
