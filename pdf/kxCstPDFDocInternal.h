// Shared by the parts of the document component (loading, cross-reference
// reading, repair, objects, pages): limits, messages and byte scanning of
// the file held in memory.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxPDFLexer.h"
#include "pdf/kxPDFObjects.h"

namespace pw::cstpdfdoc {

inline constexpr const char* kCorrupted = "File is corrupted";
inline constexpr const char* kXRefError = "Error reading cross-referenece table";
inline constexpr const char* kTraversing = "Traversing Pages...";
// Bounds for hostile input: nesting of resolved copies, their total size, the
// number of chained cross-reference sections, hops through references.
inline constexpr int kMaxResolveDepth = 256;
// Dictionaries that steer decoding and decryption are small.
inline constexpr size_t kMaxControlObjects = 4096;
inline constexpr size_t kMaxSections = 100000;
inline constexpr int kMaxReferenceHops = 32;

inline constexpr std::string_view kEndStream = "endstream";

inline bool IsDigitByte(uint8_t c) { return c >= '0' && c <= '9'; }
inline bool IsAlphaByte(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

inline const uint8_t* FindBytes(const uint8_t* begin, const uint8_t* end, std::string_view needle) {
  if (begin >= end || static_cast<size_t>(end - begin) < needle.size()) return nullptr;
  const void* hit = memmem(begin, static_cast<size_t>(end - begin), needle.data(), needle.size());
  return static_cast<const uint8_t*>(hit);
}

inline bool StartsWith(const std::vector<uint8_t>& d, size_t pos, std::string_view s) {
  return pos <= d.size() && d.size() - pos >= s.size() && std::memcmp(d.data() + pos, s.data(), s.size()) == 0;
}

// Unsigned decimal digits at pos (at most maxDigits); false when none.
inline bool ReadDigits(const std::vector<uint8_t>& d, size_t& pos, int64_t& value, int maxDigits = 18) {
  size_t start = pos;
  value = 0;
  while (pos < d.size() && IsDigitByte(d[pos]) && static_cast<int>(pos - start) < maxDigits) {
    value = value * 10 + (d[pos] - '0');
    ++pos;
  }
  return pos > start && (pos >= d.size() || !IsDigitByte(d[pos]));
}

inline void SkipWhite(const std::vector<uint8_t>& d, size_t& pos) {
  while (pos < d.size() && IsPDFWhite(d[pos])) ++pos;
}

// A whole token that is a decimal integer with an optional sign.
inline bool ParseInteger(std::string_view s, int64_t& value) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && ptr == s.data() + s.size();
}

inline bool IsIntegral(const TkxPDFObject* o) { return IsInteger(o) || IsInt64(o); }

}  // namespace pw::cstpdfdoc
