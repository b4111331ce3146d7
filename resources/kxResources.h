// Data compiled into the program: the Adobe Glyph List, the ZapfDingbats
// glyph list and the CMaps of the Adobe character collections (Identity,
// CNS1, GB1, Japan1, Korea1), each stored zlib-compressed in one pack that
// the assembler embeds (see resources/make_resources.py for its layout).
//
// Names: "kxPDFGLYPH" (glyph list), "kxPDFZAPF" (ZapfDingbats list) and
// "CMap/<CMap name>" (for example "CMap/90ms-RKSJ-H"); matched without
// regard to case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

// The decompressed bytes of a resource; nullopt when there is none of that
// name. Thread-safe; every call inflates afresh (callers cache what they parse).
std::optional<std::string> LoadResource(std::string_view name);
bool HasResource(std::string_view name);
// Every name in the pack, in pack order.
std::vector<std::string> ResourceNames();

}  // namespace pw
