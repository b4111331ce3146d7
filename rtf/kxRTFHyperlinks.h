// Web, mail and file references in RTF text turned into HYPERLINK fields.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace pw {

// The next web, mail or file reference in text at or after position (a
// 1-based character position, 0 for the start). On success position is set
// to the 1-based start of the link and the link is returned; otherwise the
// result is empty and position unchanged. A "@" with no "." after it, ahead
// of any other reference, ends the search with an empty result.
std::string FindNextLink(std::string_view text, size_t& position);

// Turns every reference FindNextLink finds in text (RTF, already escaped)
// into a HYPERLINK field whose result is the link underlined in the colour
// blueColorNumber() gives; that is called only when a link is made, so blue
// enters the colour table only then. Every occurrence of a link (any ASCII
// case) is replaced, never inside a field made before.
std::string AddHyperlinks(std::string_view text, const std::function<int()>& blueColorNumber);
// Whether the text holds a mark a link is found by ("www.", "@", or the
// colon of "http://", "ftp://" and a drive letter): most text has none and
// is handed back without searching.
bool MayHoldLink(std::string_view text);

// Every occurrence of name, found without regard to ASCII case, replaced by
// value.
std::string ReplaceNoCase(std::string_view text, std::string_view name, std::string_view value);

}  // namespace pw
