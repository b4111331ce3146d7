#include "engine/kxPreferences.h"

#include "engine/kxDocSettings.h"

namespace pw {

TkxPreferences::TkxPreferences() {
  values_[prOpenAfterCreate] = true;
  values_[prEmailAfterCreate] = false;
  values_[prOutputToUserStream] = false;
  values_[prProcessAfterEachPage] = false;
  values_[prShowSetupDialog] = true;
  values_[prCalculateVariables] = true;
  values_[prUseImagesAsResources] = true;
}

void TkxPreferences::Assign(const TkxPreferences& source) {
  if (&source == this) return;
  for (int i = 0; i < kPreferencePropertyCount; ++i) values_[i] = source.values_[i];
}

bool TkxPreferences::Get(TkxPreferenceProperty p) const { return p >= 0 && p < kPreferencePropertyCount && values_[p]; }

void TkxPreferences::Set(TkxPreferenceProperty p, bool value) {
  if (p < 0 || p >= kPreferencePropertyCount) return;
  if (owner_) owner_->PreferenceChanging(p, value);
  values_[p] = value;
}

void TkxPlainSheetPreferences::Assign(const TkxPreferences& source) {
  TkxPreferences::Assign(source);
  if (auto* s = dynamic_cast<const TkxPlainSheetPreferences*>(&source)) activeHyperLinks_ = s->activeHyperLinks_;
}

}  // namespace pw
