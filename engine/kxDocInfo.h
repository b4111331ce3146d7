// Document information strings: title, subject, author, keywords, creator.
#pragma once

#include <string>

namespace pw {

class TkxDocSettings;

enum TkxDocInfoProperty : int { diTitle = 0, diSubject, diAuthor, diKeywords, diCreator };
constexpr int kDocInfoPropertyCount = 5;

class TkxDocInfo {
 public:
  TkxDocInfo() = default;
  // A copy of the strings without the owner.
  TkxDocInfo(const TkxDocInfo& source) { Assign(source); }
  // Same as Assign: the owner stays.
  TkxDocInfo& operator=(const TkxDocInfo& source) {
    Assign(source);
    return *this;
  }
  ~TkxDocInfo() = default;

  void Assign(const TkxDocInfo& source);

  const std::u16string& Title() const { return Get(diTitle); }
  void SetTitle(const std::u16string& v) { Set(diTitle, v); }
  const std::u16string& Subject() const { return Get(diSubject); }
  void SetSubject(const std::u16string& v) { Set(diSubject, v); }
  const std::u16string& Author() const { return Get(diAuthor); }
  void SetAuthor(const std::u16string& v) { Set(diAuthor, v); }
  const std::u16string& Keywords() const { return Get(diKeywords); }
  void SetKeywords(const std::u16string& v) { Set(diKeywords, v); }
  const std::u16string& Creator() const { return Get(diCreator); }
  void SetCreator(const std::u16string& v) { Set(diCreator, v); }

  const std::u16string& Get(TkxDocInfoProperty p) const;
  void Set(TkxDocInfoProperty p, const std::u16string& value);

  // The settings component that shares these strings with its engines.
  TkxDocSettings* Owner() const { return owner_; }

 private:
  friend class TkxDocSettings;
  std::u16string values_[kDocInfoPropertyCount];
  TkxDocSettings* owner_ = nullptr;
};

}  // namespace pw
