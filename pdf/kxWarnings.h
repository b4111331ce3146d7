// Warnings: the problems a conversion tolerated instead of failing (a stream
// without "endstream", an operator whose resource cannot be read, a picture
// that cannot be decoded, ...). They are collected in one sink per conversion
// so that the caller can show them, count them, or ignore them.
//
// Reporting, from any layer:
//
//     ReportWarning("Unknown operator", objectNumber, offset);
//
// goes to the sink installed on the calling thread (TkxWarningScope); without
// one it is a no-op, so library code may report unconditionally. Object and
// offset are -1 when not known; the offset is a byte position within the data
// being read: the file, or a decoded object or content stream. The page is the
// sink's current page, which the conversion loop sets (SetPage) as it moves on;
// 0 stands for the document as a whole (loading, the page tree).
//
// Collecting, around a conversion:
//
//     TkxWarningSink sink;
//     TkxWarningScope scope(sink);   // this thread reports to `sink`
//     ... load, sink.SetPage(n), render page n ...
//     for (const TkxWarning& w : sink.Warnings()) ...
//
// A sink keeps each distinct warning of a page once (same text and object;
// the first offset is kept) with a repeat count, and at most kMaxPerPage
// distinct ones per page;
// Count() still counts every report, so a broken file cannot flood the output
// but its trouble shows in the total. A warning that names both object and
// offset is a fault at one place of the file: reported again (the object is
// read again for a later page) it is neither kept nor counted again. A sink is safe to report to from
// several threads; the scope is per thread (work handed to other threads
// reports nowhere unless they install a scope of their own).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <tuple>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

struct TkxWarning {
  int Page = 0;         // 1-based page of the document; 0: not tied to a page
  int32_t Object = -1;  // PDF object number, -1 when not known
  int64_t Offset = -1;  // byte offset, -1 when not known
  std::string Text;
  size_t Repeats = 1;  // how often the same warning was reported on the page
};

class TkxWarningSink {
 public:
  static constexpr size_t kMaxPerPage = 20;

  void Add(std::string_view text, int32_t object = -1, int64_t offset = -1);
  void SetPage(int page);
  int Page() const;

  // Every report, repeats and those beyond the per-page cap included (not a
  // fault at a known place met again).
  size_t Count() const;
  // The distinct warnings kept, in the order first reported.
  std::vector<TkxWarning> Warnings() const;
  // Distinct warnings of a page that were dropped by the cap.
  size_t Dropped(int page) const;

 private:
  mutable std::mutex lock_;
  int page_ = 0;
  size_t count_ = 0;
  std::vector<TkxWarning> kept_;
  std::map<std::tuple<int, int32_t, std::string>, size_t> index_;  // -> position in kept_
  std::set<std::tuple<int32_t, int64_t, std::string>> placed_;     // warnings with object and offset
  std::map<int, size_t> keptPerPage_;
  std::map<int, size_t> droppedPerPage_;
};

// Makes a sink the calling thread's target for ReportWarning while it lives;
// the previous target is restored afterwards (scopes nest).
class TkxWarningScope {
 public:
  explicit TkxWarningScope(TkxWarningSink& sink);
  ~TkxWarningScope();
  TkxWarningScope(const TkxWarningScope&) = delete;
  TkxWarningScope& operator=(const TkxWarningScope&) = delete;

 private:
  TkxWarningSink* previous_;
};

// The calling thread's sink; nullptr outside any scope.
TkxWarningSink* CurrentWarningSink();
void ReportWarning(std::string_view text, int32_t object = -1, int64_t offset = -1);

}  // namespace pw
