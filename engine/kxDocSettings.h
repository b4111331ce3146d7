// Settings that several engines share: background, measurement unit,
// document information, page and preferences. An engine attaches itself and
// from then on follows every change of a value it has not changed on its own.
#pragma once

#include <vector>

#include "engine/kxDocInfo.h"
#include "engine/kxPageSettings.h"
#include "engine/kxPreferences.h"
#include "pdf/kxClasses.h"
#include "platform/kxGraphicsObjects.h"

namespace pw {

// Where a background picture goes on the page.
enum TkxBackgroundDisplayType : int {
  dtTopLeft = 0,
  dtTopCenter,
  dtTopRight,
  dtCenterLeft,
  dtCenter,
  dtCenterRight,
  dtBottomLeft,
  dtBottomCenter,
  dtBottomRight,
  dtTile
};

// The side of an engine that shared settings talk to. Page, DocInfo and
// Preferences are the engine's own objects; the setters are the engine's
// (so that its own rules, such as a refused display type, apply).
class TkxDocSettingsClient {
 public:
  virtual ~TkxDocSettingsClient() = default;
  virtual TColor BackgroundColor() const = 0;
  virtual void SetBackgroundColor(TColor color) = 0;
  virtual TkxBackgroundDisplayType BackgroundImageDisplayType() const = 0;
  virtual void SetBackgroundImageDisplayType(TkxBackgroundDisplayType type) = 0;
  virtual TkxUnitType MeasurementUnit() const = 0;
  virtual void SetMeasurementUnit(TkxUnitType unit) = 0;
  virtual TkxPageSettings& Page() = 0;
  virtual TkxDocInfo& DocInfo() = 0;
  virtual TkxPreferences& Preferences() = 0;
  // The settings component is going away: the engine forgets it.
  virtual void SettingsFreed(TkxDocSettings& settings) = 0;
};

class TkxDocSettings : public TkxComponent {
 public:
  // White background, centred background picture, pixels as unit, default
  // page, information and preferences.
  TkxDocSettings();
  // Every attached engine hears SettingsFreed.
  ~TkxDocSettings() override;
  TkxDocSettings(const TkxDocSettings&) = delete;
  TkxDocSettings& operator=(const TkxDocSettings&) = delete;

  TColor BackgroundColor() const { return backgroundColor_; }
  void SetBackgroundColor(TColor color);
  TkxBackgroundDisplayType BackgroundImageDisplayType() const { return displayType_; }
  void SetBackgroundImageDisplayType(TkxBackgroundDisplayType type);
  TkxUnitType MeasurementUnit() const { return unit_; }
  // Also gives the unit's factor to Page.
  void SetMeasurementUnit(TkxUnitType unit);

  TkxDocInfo& DocInfo() { return docInfo_; }
  const TkxDocInfo& DocInfo() const { return docInfo_; }
  TkxPageSettings& Page() { return page_; }
  const TkxPageSettings& Page() const { return page_; }
  TkxPreferences& Preferences() { return preferences_; }
  const TkxPreferences& Preferences() const { return preferences_; }

  // Registers the engine and copies the shared values into it, in this
  // order: background colour, display type, DocInfo, Page, Preferences,
  // measurement unit. Attaching an engine again only copies.
  void Attach(TkxDocSettingsClient& engine);
  // Forgets the engine (for an engine that attaches elsewhere or is
  // destroyed); its values stay as they are.
  void Detach(TkxDocSettingsClient& engine);
  const std::vector<TkxDocSettingsClient*>& Engines() const { return engines_; }

 private:
  friend class TkxPageSettings;
  friend class TkxDocInfo;
  friend class TkxPreferences;
  // Called before a shared value changes: engines whose own value still
  // equals the shared one receive the new value.
  void PageChanging(TkxPageProperty p, double newStored);
  void DocInfoChanging(TkxDocInfoProperty p, const std::u16string& value);
  void PreferenceChanging(TkxPreferenceProperty p, bool value);

  TColor backgroundColor_ = clWhite;
  TkxBackgroundDisplayType displayType_ = dtCenter;
  TkxUnitType unit_ = muPixels;
  TkxDocInfo docInfo_;
  TkxPageSettings page_;
  TkxPreferences preferences_;
  std::vector<TkxDocSettingsClient*> engines_;
};

}  // namespace pw
