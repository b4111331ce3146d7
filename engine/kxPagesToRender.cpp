#include "engine/kxPagesToRender.h"

#include <charconv>

namespace pw {

namespace {

int ToInt(std::string_view s) {
  int value = 0;
  const char* first = s.data();
  const char* last = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (s.empty() || ec != std::errc() || ptr != last)
    throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
  return value;
}

}  // namespace

std::vector<std::string> SplitPageSelection(std::string_view selection) {
  std::vector<std::string> entries;
  std::string current;
  bool inQuotes = false;
  for (size_t i = 0; i < selection.size(); ++i) {
    const char c = selection[i];
    if (inQuotes) {
      if (c == '"') {
        if (i + 1 < selection.size() && selection[i + 1] == '"') {
          current.push_back('"');
          ++i;
        } else {
          inQuotes = false;
        }
      } else {
        current.push_back(c);
      }
    } else if (c == '"') {
      inQuotes = true;
    } else if (c == ',' || c == ' ') {
      if (!current.empty()) entries.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) entries.push_back(std::move(current));
  return entries;
}

bool IsPageSelected(std::string_view selection, int page) {
  if (selection.empty()) return true;
  for (const std::string& entry : SplitPageSelection(selection)) {
    if (entry.find_first_not_of("0123456789-") != std::string::npos) continue;
    const size_t dash = entry.find('-');
    if (dash == std::string::npos) {
      if (ToInt(entry) == page) return true;
    } else {
      const int from = ToInt(std::string_view(entry).substr(0, dash));
      const int to = ToInt(std::string_view(entry).substr(dash + 1));
      if (page >= from && page <= to) return true;
    }
  }
  return false;
}

}  // namespace pw
