#include "resources/kxResources.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

// The pack is pulled in whole by the assembler; PW_RESOURCE_PACK is its
// absolute path, set by resources/CMakeLists.txt.
#ifndef PW_RESOURCE_PACK
#error "PW_RESOURCE_PACK must name the resource pack"
#endif

__asm__(
    ".section .rodata\n"
    ".balign 16\n"
    ".type pw_resource_pack_begin, @object\n"
    "pw_resource_pack_begin:\n"
    ".incbin \"" PW_RESOURCE_PACK
    "\"\n"
    ".type pw_resource_pack_end, @object\n"
    "pw_resource_pack_end:\n"
    ".byte 0\n"
    ".previous\n");

extern "C" const unsigned char pw_resource_pack_begin[];
extern "C" const unsigned char pw_resource_pack_end[];

namespace pw {
namespace {

struct Entry {
  std::string_view name;
  uint32_t offset = 0;
  uint32_t packed = 0;
  uint32_t size = 0;
};

uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The directory, read once; entries that point outside the pack are dropped.
const std::vector<Entry>& Directory() {
  static const std::vector<Entry> dir = [] {
    std::vector<Entry> out;
    const unsigned char* p = pw_resource_pack_begin;
    const size_t n = static_cast<size_t>(pw_resource_pack_end - pw_resource_pack_begin);
    if (n < 12 || std::memcmp(p, "PWRSRC01", 8) != 0) return out;
    uint32_t count = Le32(p + 8);
    size_t pos = 12;
    for (uint32_t i = 0; i < count; ++i) {
      if (pos + 2 > n) break;
      size_t len = size_t(p[pos]) | size_t(p[pos + 1]) << 8;
      pos += 2;
      if (pos + len + 12 > n) break;
      Entry e;
      e.name = std::string_view(reinterpret_cast<const char*>(p + pos), len);
      pos += len;
      e.offset = Le32(p + pos);
      e.packed = Le32(p + pos + 4);
      e.size = Le32(p + pos + 8);
      pos += 12;
      if (e.offset <= n && e.packed <= n - e.offset) out.push_back(e);
    }
    return out;
  }();
  return dir;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

const Entry* FindEntry(std::string_view name) {
  for (const Entry& e : Directory())
    if (SameName(e.name, name)) return &e;
  return nullptr;
}

}  // namespace

std::optional<std::string> LoadResource(std::string_view name) {
  const Entry* e = FindEntry(name);
  if (!e) return std::nullopt;
  std::string out(e->size, '\0');
  uLongf size = e->size;
  if (e->size > 0 &&
      uncompress(reinterpret_cast<Bytef*>(out.data()), &size, pw_resource_pack_begin + e->offset, e->packed) != Z_OK)
    return std::nullopt;
  out.resize(size);
  return out;
}

bool HasResource(std::string_view name) { return FindEntry(name) != nullptr; }

std::vector<std::string> ResourceNames() {
  std::vector<std::string> names;
  for (const Entry& e : Directory()) names.emplace_back(e.name);
  return names;
}

}  // namespace pw
