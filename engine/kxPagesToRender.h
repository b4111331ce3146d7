// The page selection of an engine ("PagesToRender"): a list of page numbers
// and ranges such as 2,4-5 that decides which pages produce output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxClasses.h"

namespace pw {

// A number part of a selection that is empty or not a whole number ("5-",
// "-", "4x" inside a range, a number too large for an integer).
class EConvertError : public Exception {
 public:
  explicit EConvertError(const std::string& msg) : Exception(msg) {}
};

// The entries of a selection: split at commas and at spaces outside double
// quotes; a quoted part is taken without its quotes (two quotes inside stand
// for one). Empty entries are left out.
std::vector<std::string> SplitPageSelection(std::string_view selection);

// True when page is selected: an empty selection selects every page;
// otherwise an entry made only of digits and "-" selects the range from the
// number before its first "-" to the number after it (nothing when the
// first is larger), or the one page it names; entries with any other
// character are ignored. A number part that is empty or not a number raises
// EConvertError when the entry is reached.
bool IsPageSelected(std::string_view selection, int page);

}  // namespace pw
