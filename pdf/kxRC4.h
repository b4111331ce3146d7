// The RC4 stream cipher, used by the standard security handler for keys of
// revisions 2 to 4 and for the data they protect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pw {

class TkxRC4 {
 public:
  // A key of 1 to 256 bytes; other lengths raise "RC4: Invalid key length".
  explicit TkxRC4(std::string_view key);
  // Encrypts or decrypts in place, continuing the key stream.
  void Process(uint8_t* data, size_t size);
  // One message with a fresh key stream.
  static std::string Crypt(std::string_view key, std::string_view data);

 private:
  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

}  // namespace pw
