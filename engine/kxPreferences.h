// Behaviour switches of an engine, and those the plain-sheet layer adds.
#pragma once

namespace pw {

class TkxDocSettings;

enum TkxPreferenceProperty : int {
  prOpenAfterCreate = 0,
  prEmailAfterCreate,
  prOutputToUserStream,
  prProcessAfterEachPage,
  prShowSetupDialog,
  prCalculateVariables,
  prUseImagesAsResources
};
constexpr int kPreferencePropertyCount = 7;

class TkxPreferences {
 public:
  TkxPreferences();
  // A copy of the values without the owner.
  TkxPreferences(const TkxPreferences& source) : TkxPreferences() { TkxPreferences::Assign(source); }
  // Same as Assign: the owner stays.
  TkxPreferences& operator=(const TkxPreferences& source) {
    Assign(source);
    return *this;
  }
  virtual ~TkxPreferences() = default;

  // Copies the values both objects have: a descendant copies its own
  // switches only from an object of its class (or a descendant of it).
  virtual void Assign(const TkxPreferences& source);

  // Open the finished file with its default application (default true).
  bool OpenAfterCreate() const { return Get(prOpenAfterCreate); }
  void SetOpenAfterCreate(bool v) { Set(prOpenAfterCreate, v); }
  // Kept for the settings dialogs; nothing acts on it (default false).
  bool EmailAfterCreate() const { return Get(prEmailAfterCreate); }
  void SetEmailAfterCreate(bool v) { Set(prEmailAfterCreate, v); }
  // Write to a stream the application supplies (default false).
  bool OutputToUserStream() const { return Get(prOutputToUserStream); }
  void SetOutputToUserStream(bool v) { Set(prOutputToUserStream, v); }
  // Write each page as soon as it is finished (default false).
  bool ProcessAfterEachPage() const { return Get(prProcessAfterEachPage); }
  void SetProcessAfterEachPage(bool v) { Set(prProcessAfterEachPage, v); }
  // Show a setup dialog when a document begins (default true).
  bool ShowSetupDialog() const { return Get(prShowSetupDialog); }
  void SetShowSetupDialog(bool v) { Set(prShowSetupDialog, v); }
  // Replace variables such as <%Title%> in texts (default true).
  bool CalculateVariables() const { return Get(prCalculateVariables); }
  void SetCalculateVariables(bool v) { Set(prCalculateVariables, v); }
  // Keep pictures until the end of the document (default true).
  bool UseImagesAsResources() const { return Get(prUseImagesAsResources); }
  void SetUseImagesAsResources(bool v) { Set(prUseImagesAsResources, v); }

  bool Get(TkxPreferenceProperty p) const;
  void Set(TkxPreferenceProperty p, bool value);

  // The settings component that shares these values with its engines.
  TkxDocSettings* Owner() const { return owner_; }

 private:
  friend class TkxDocSettings;
  bool values_[kPreferencePropertyCount];
  TkxDocSettings* owner_ = nullptr;
};

class TkxPlainSheetPreferences : public TkxPreferences {
 public:
  TkxPlainSheetPreferences() = default;
  TkxPlainSheetPreferences(const TkxPlainSheetPreferences& source) : TkxPreferences(source) {
    activeHyperLinks_ = source.activeHyperLinks_;
  }
  TkxPlainSheetPreferences& operator=(const TkxPlainSheetPreferences& source) {
    Assign(source);
    return *this;
  }
  void Assign(const TkxPreferences& source) override;

  // Turn web, mail and file references in text into hyperlinks (default true).
  bool ActiveHyperLinks() const { return activeHyperLinks_; }
  void SetActiveHyperLinks(bool v) { activeHyperLinks_ = v; }

 private:
  bool activeHyperLinks_ = true;
};

}  // namespace pw
