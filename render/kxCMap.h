// CMaps: the reading of CMap text (predefined CMaps from the compiled-in
// data, embedded CMap streams, ToUnicode streams), the code-to-CID maps of
// composite fonts with their code-space ranges, and the CID-to-Unicode data
// of the Adobe character collections.
//
// CMap text is hostile: ranges are stored as ranges (never expanded), the
// number of entries one CMap may hold is capped, and usecmap chains are cut
// at a fixed depth.
#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

// A source code of a CMap: its value (big-endian) and length in bytes (1-4).
struct TkxCMapCode {
  uint32_t Value = 0;
  uint8_t Length = 0;  // 0: not a usable code (empty, or longer than four bytes)
};

// Receives what the CMap text holds, in reading order.
class TkxCMapHandler {
 public:
  virtual ~TkxCMapHandler() = default;
  virtual void CodeSpace(const std::string& lo, const std::string& hi) {
    (void)lo;
    (void)hi;
  }
  virtual void CidRange(TkxCMapCode lo, TkxCMapCode hi, uint32_t cid) {
    (void)lo;
    (void)hi;
    (void)cid;
  }
  virtual void NotdefRange(TkxCMapCode lo, TkxCMapCode hi, uint32_t cid) {
    (void)lo;
    (void)hi;
    (void)cid;
  }
  // dst: the UTF-16 units of the destination; in a range the last unit grows by one per code.
  virtual void BfRange(TkxCMapCode lo, TkxCMapCode hi, const std::u16string& dst) {
    (void)lo;
    (void)hi;
    (void)dst;
  }
  // One destination per code from lo on (bfrange with an array).
  virtual void BfArray(TkxCMapCode lo, TkxCMapCode hi, const std::vector<std::u16string>& dst) {
    (void)lo;
    (void)hi;
    (void)dst;
  }
  virtual void UseCMap(const std::string& name) { (void)name; }
  // "/Key value def" at any level (WMode, CMapName, Registry, Ordering, ...):
  // value is a name without "/", a string's text or a number's text.
  virtual void Def(const std::string& key, const std::string& value) {
    (void)key;
    (void)value;
  }
  // Stop reading once true (entry cap reached).
  virtual bool Full() const { return false; }
};

// Walks CMap text: tokens separated by any white space and line ends, "%"
// comments, several entries per line, sections in any number and order.
void ParseCMapText(std::string_view text, TkxCMapHandler& handler);

// Ordered ranges of codes with a value each; a range inserted later wins
// where it overlaps earlier ones. Keys combine a code's length and value so
// that <20> and <0020> stay apart (KeyOf); ToUnicode maps use the value alone.
template <class V>
class TkxRangeMap {
 public:
  struct Range {
    uint64_t Lo = 0, Hi = 0;
    uint64_t Origin = 0;  // the code the value belongs to (Lo before trimming)
    V Value{};
  };
  void Insert(uint64_t lo, uint64_t hi, V value);
  const Range* Find(uint64_t key) const;
  size_t Count() const { return ranges_.size(); }
  const std::map<uint64_t, Range>& Ranges() const { return ranges_; }
  void Clear() { ranges_.clear(); }

 private:
  std::map<uint64_t, Range> ranges_;  // by Lo
};

inline uint64_t KeyOf(TkxCMapCode c) { return (uint64_t(c.Length) << 32) | c.Value; }

// A CMap that maps codes to CIDs (the /Encoding of a Type 0 font).
class TkxCMap {
 public:
  static constexpr size_t kMaxEntries = size_t(1) << 20;
  static constexpr int kMaxUseDepth = 8;

  // Identity-H (vertical false) or Identity-V: two-byte codes, CID = code.
  static std::shared_ptr<const TkxCMap> Identity(bool vertical);
  // A predefined CMap by name ("90ms-RKSJ-H", "UniJIS-UTF16-H", "Identity-V",
  // ...), read once per process from the compiled-in data; nullptr when there
  // is no such CMap. Thread-safe.
  static std::shared_ptr<const TkxCMap> Predefined(std::string_view name, int depth = 0);
  // Parses CMap text; a usecmap of a predefined CMap is followed (up to
  // kMaxUseDepth); parent (may be null) is laid down first (an embedded
  // CMap's /UseCMap).
  static std::shared_ptr<TkxCMap> FromText(std::string_view text, const TkxCMap* parent = nullptr, int depth = 0);

  // Reads one code at p (n bytes available, n > 0) by the code-space ranges;
  // returns the bytes it takes (1 to 4, never more than n).
  size_t NextCode(const uint8_t* p, size_t n, TkxCMapCode& code) const;
  // The CID of a code; notdef ranges, else 0, for codes without a mapping.
  uint32_t CIDOf(TkxCMapCode code) const;
  bool HasMapping(TkxCMapCode code) const;

  const std::string& Name() const { return name_; }
  bool Vertical() const { return wmode_ == 1; }
  const std::string& Registry() const { return registry_; }
  const std::string& Ordering() const { return ordering_; }
  bool IsIdentity() const { return identity_; }
  size_t CodeSpaceCount() const { return codeSpace_.size(); }

  TkxCMap() = default;

 private:
  friend class TkxCMapBuilder;
  struct CodeSpaceRange {
    uint8_t Length = 0;
    uint8_t Lo[4] = {}, Hi[4] = {};
  };
  void Inherit(const TkxCMap& parent);

  std::vector<CodeSpaceRange> codeSpace_;
  TkxRangeMap<uint32_t> cids_;     // value: CID of the range's Origin
  TkxRangeMap<uint32_t> notdefs_;  // value: the notdef CID
  std::string name_, registry_, ordering_;
  int wmode_ = 0;
  bool identity_ = false;
  size_t entries_ = 0;
};

// CID-to-Unicode data of a character collection ("Japan1", "GB1", "CNS1",
// "Korea1"), built from the collection's Unicode CMaps (horizontal, then
// vertical for the CIDs only those reach); the lowest code point wins for a
// CID that several reach.
class TkxCIDToUnicode {
 public:
  // nullptr for other orderings (Identity included). Thread-safe, built once.
  static std::shared_ptr<const TkxCIDToUnicode> ForOrdering(std::string_view ordering);
  // The code point of a CID; 0 when none.
  char32_t Lookup(uint32_t cid) const { return cid < map_.size() ? map_[cid] : 0; }
  size_t Size() const { return map_.size(); }

 private:
  friend class TkxCIDToUnicodeBuilder;
  std::vector<char32_t> map_;
};

// ------------------------------------------------------------------------

template <class V>
void TkxRangeMap<V>::Insert(uint64_t lo, uint64_t hi, V value) {
  if (hi < lo) return;
  auto it = ranges_.upper_bound(lo);
  if (it != ranges_.begin()) {
    auto prev = std::prev(it);
    if (prev->second.Hi >= lo) it = prev;
  }
  std::vector<Range> keep;
  while (it != ranges_.end() && it->second.Lo <= hi) {
    Range r = it->second;
    it = ranges_.erase(it);
    if (r.Lo < lo) {
      Range left = r;
      left.Hi = lo - 1;
      keep.push_back(left);
    }
    if (r.Hi > hi) {
      Range right = r;
      right.Lo = hi + 1;
      keep.push_back(right);
    }
  }
  for (Range& r : keep) ranges_.emplace(r.Lo, std::move(r));
  Range n;
  n.Lo = lo;
  n.Hi = hi;
  n.Origin = lo;
  n.Value = std::move(value);
  ranges_.emplace(lo, std::move(n));
}

template <class V>
const typename TkxRangeMap<V>::Range* TkxRangeMap<V>::Find(uint64_t key) const {
  auto it = ranges_.upper_bound(key);
  if (it == ranges_.begin()) return nullptr;
  --it;
  return key <= it->second.Hi ? &it->second : nullptr;
}

}  // namespace pw
