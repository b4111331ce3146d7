#include "engine/kxDocSettings.h"

#include <algorithm>

namespace pw {

TkxDocSettings::TkxDocSettings() {
  docInfo_.owner_ = this;
  page_.owner_ = this;
  preferences_.owner_ = this;
  page_.SetUnitFactor(UnitFactorOf(unit_));
}

TkxDocSettings::~TkxDocSettings() {
  // An engine may detach itself from inside the notification.
  std::vector<TkxDocSettingsClient*> engines;
  engines.swap(engines_);
  for (TkxDocSettingsClient* e : engines) e->SettingsFreed(*this);
}

// The loops below walk a copy of the engine list: an engine may detach
// itself from inside one of its setters.
void TkxDocSettings::SetBackgroundColor(TColor color) {
  for (TkxDocSettingsClient* e : std::vector(engines_))
    if (e->BackgroundColor() == backgroundColor_) e->SetBackgroundColor(color);
  backgroundColor_ = color;
}

void TkxDocSettings::SetBackgroundImageDisplayType(TkxBackgroundDisplayType type) {
  for (TkxDocSettingsClient* e : std::vector(engines_))
    if (e->BackgroundImageDisplayType() == displayType_) e->SetBackgroundImageDisplayType(type);
  displayType_ = type;
}

void TkxDocSettings::SetMeasurementUnit(TkxUnitType unit) {
  for (TkxDocSettingsClient* e : std::vector(engines_))
    if (e->MeasurementUnit() == unit_) e->SetMeasurementUnit(unit);
  unit_ = unit;
  page_.SetUnitFactor(UnitFactorOf(unit_));
}

void TkxDocSettings::Attach(TkxDocSettingsClient& engine) {
  if (std::find(engines_.begin(), engines_.end(), &engine) == engines_.end()) engines_.push_back(&engine);
  engine.SetBackgroundColor(backgroundColor_);
  engine.SetBackgroundImageDisplayType(displayType_);
  engine.DocInfo().Assign(docInfo_);
  engine.Page().Assign(page_);
  engine.Preferences().Assign(preferences_);
  engine.SetMeasurementUnit(unit_);
}

void TkxDocSettings::Detach(TkxDocSettingsClient& engine) {
  engines_.erase(std::remove(engines_.begin(), engines_.end(), &engine), engines_.end());
}

void TkxDocSettings::PageChanging(TkxPageProperty p, double newStored) {
  const double old = page_.Stored(p);
  for (TkxDocSettingsClient* e : std::vector(engines_)) {
    TkxPageSettings& page = e->Page();
    // SetStored leaves Width and Height alone unless the engine's paper
    // size is Custom too.
    if (page.Stored(p) == old) page.SetStored(p, newStored);
  }
}

void TkxDocSettings::DocInfoChanging(TkxDocInfoProperty p, const std::u16string& value) {
  const std::u16string& old = docInfo_.Get(p);
  for (TkxDocSettingsClient* e : std::vector(engines_)) {
    TkxDocInfo& info = e->DocInfo();
    if (info.Get(p) == old) info.Set(p, value);
  }
}

void TkxDocSettings::PreferenceChanging(TkxPreferenceProperty p, bool value) {
  // Whether variables are calculated stays each engine's own choice.
  if (p == prCalculateVariables) return;
  const bool old = preferences_.Get(p);
  for (TkxDocSettingsClient* e : std::vector(engines_)) {
    TkxPreferences& prefs = e->Preferences();
    if (prefs.Get(p) == old) prefs.Set(p, value);
  }
}

}  // namespace pw
