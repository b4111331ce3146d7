#include "pdf/kxWarnings.h"

#include <algorithm>

namespace pw {

namespace {
thread_local TkxWarningSink* tCurrentSink = nullptr;
}  // namespace

void TkxWarningSink::Add(std::string_view text, int32_t object, int64_t offset) {
  std::lock_guard<std::mutex> guard(lock_);
  // A problem at a known place of the file is reported again whenever the
  // object is read again (for a later page): it is still the one problem.
  if (object >= 0 && offset >= 0 && !placed_.emplace(object, offset, std::string(text)).second) return;
  ++count_;
  auto key = std::make_tuple(page_, object, std::string(text));
  auto it = index_.find(key);
  if (it != index_.end()) {
    ++kept_[it->second].Repeats;
    return;
  }
  size_t& kept = keptPerPage_[page_];
  if (kept >= kMaxPerPage) {
    ++droppedPerPage_[page_];
    return;
  }
  ++kept;
  index_.emplace(std::move(key), kept_.size());
  kept_.push_back(TkxWarning{page_, object, offset, std::string(text), 1});
}

void TkxWarningSink::SetPage(int page) {
  std::lock_guard<std::mutex> guard(lock_);
  page_ = std::max(page, 0);
}

int TkxWarningSink::Page() const {
  std::lock_guard<std::mutex> guard(lock_);
  return page_;
}

size_t TkxWarningSink::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return count_;
}

std::vector<TkxWarning> TkxWarningSink::Warnings() const {
  std::lock_guard<std::mutex> guard(lock_);
  return kept_;
}

size_t TkxWarningSink::Dropped(int page) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = droppedPerPage_.find(page);
  return it == droppedPerPage_.end() ? 0 : it->second;
}

TkxWarningScope::TkxWarningScope(TkxWarningSink& sink) : previous_(tCurrentSink) { tCurrentSink = &sink; }

TkxWarningScope::~TkxWarningScope() { tCurrentSink = previous_; }

TkxWarningSink* CurrentWarningSink() { return tCurrentSink; }

void ReportWarning(std::string_view text, int32_t object, int64_t offset) {
  if (tCurrentSink) tCurrentSink->Add(text, object, offset);
}

}  // namespace pw
