// Fontconfig's answers to "which font file for this family and style",
// kept in a file between runs. Asking fontconfig runs its whole rule set
// for every name, which costs more than converting a page of text; the
// answers only change with the configuration, so they are kept under a
// fingerprint of it (its files, the font folders and their times) and
// thrown away when that changes.
//
// The file is the user's and may be damaged or edited: every line carries
// a check sum and is taken only when it holds, the file is read up to a
// bounded size, and lines are added by single appends, so that processes
// converting side by side lose at most an answer, never mix one up.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

namespace pw {

struct TkxFontAnswer {
  std::string Path;  // empty: fontconfig had no file for the name
  int Index = 0;
  std::string Family;  // the family of the file fontconfig chose
  int Weight = 0, Slant = 0;
  bool Embolden = false;
};

class TkxFontAnswerCache {
 public:
  // What the fingerprint of a configuration is made of: the paths it
  // depends on, hashed with what each is now (time, size; or missing).
  using TkxFingerprintOf = std::function<std::string(const std::vector<std::string>& watched)>;

  // Answers in the file at path when it was written under fingerprint;
  // otherwise the file is started again under it, noting the watched paths
  // the fingerprint was made of. An empty path keeps answers for this
  // process only.
  void Open(const std::string& path, const std::string& fingerprint, const std::vector<std::string>& watched = {});
  // The answers of the file at path if fingerprintOf, given the paths the
  // file notes, still gives the fingerprint it was written under: the
  // configuration is then checked without being loaded. False, and nothing
  // taken, for a missing, damaged or outdated file.
  bool OpenIfCurrent(const std::string& path, const TkxFingerprintOf& fingerprintOf);

  // The installed families, when kept; Families() is nullptr otherwise.
  const std::vector<std::string>* Families() const { return hasFamilies_ ? &families_ : nullptr; }
  void SetFamilies(const std::vector<std::string>& families);

  const TkxFontAnswer* Find(const std::string& family, int style) const;
  // Remembers an answer and appends it to the file.
  void Add(const std::string& family, int style, const TkxFontAnswer& answer);

  // The file the user's cache lives in ($XDG_CACHE_HOME or ~/.cache), or
  // "" when there is no home to keep it in.
  static std::string DefaultPath();

  // The text of one answer as a line of the file, and back (nullopt for a
  // line that does not hold together). Exposed for tests.
  static std::string Line(const std::string& family, int style, const TkxFontAnswer& answer);
  static std::optional<std::pair<std::string, TkxFontAnswer>> ParseLine(const std::string& text);

 private:
  static std::string Key(const std::string& family, int style);

  // Takes the answer and family lines of an open file.
  void ReadLines(std::istream& in);
  // Appends one line to the file in one write.
  void Append(const std::string& line);

  std::string path_;
  std::unordered_map<std::string, TkxFontAnswer> answers_;
  std::vector<std::string> families_;
  bool hasFamilies_ = false;
};

}  // namespace pw
