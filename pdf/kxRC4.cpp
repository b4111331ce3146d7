#include "pdf/kxRC4.h"

#include <utility>

#include "pdf/kxClasses.h"

namespace pw {

TkxRC4::TkxRC4(std::string_view key) {
  if (key.empty() || key.size() > 256) throw Exception("RC4: Invalid key length");
  for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + s_[k] + static_cast<uint8_t>(key[k % key.size()]));
    std::swap(s_[k], s_[j]);
  }
}

void TkxRC4::Process(uint8_t* data, size_t size) {
  for (size_t n = 0; n < size; ++n) {
    i_ = static_cast<uint8_t>(i_ + 1);
    j_ = static_cast<uint8_t>(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    data[n] ^= s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
  }
}

std::string TkxRC4::Crypt(std::string_view key, std::string_view data) {
  TkxRC4 rc4(key);
  std::string out(data);
  rc4.Process(reinterpret_cast<uint8_t*>(out.data()), out.size());
  return out;
}

}  // namespace pw
