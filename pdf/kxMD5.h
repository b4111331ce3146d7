// MD5 message digest (RFC 1321), used by the standard security handler to
// derive file and object keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pw {

class TkxMD5 {
 public:
  using Digest = std::array<uint8_t, 16>;

  TkxMD5();
  void Update(const void* data, size_t size);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // Completes the digest; the object then starts over for a new message.
  Digest Final();

  static Digest Hash(std::string_view data);
  static std::string HashString(std::string_view data);  // the 16 digest bytes

 private:
  void Reset();
  void Transform(const uint8_t* block);
  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes hashed so far
  uint8_t buffer_[64];
  size_t buffered_ = 0;
};

}  // namespace pw
