#include "pdf/kxMD5.h"

#include <algorithm>
#include <cstring>

namespace pw {

namespace {

// Sine-derived additive constants, one per step.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Left-rotation amounts: four per round, repeated within the round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

TkxMD5::TkxMD5() { Reset(); }

void TkxMD5::Reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  length_ = 0;
  buffered_ = 0;
}

void TkxMD5::Transform(const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
           uint32_t(block[i * 4 + 3]) << 24;
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f;
    int k;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        k = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        k = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        k = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        k = (7 * i) % 16;
        break;
    }
    const uint32_t t = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kSine[i] + x[k], kShift[round][i % 4]);
    a = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void TkxMD5::Update(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  length_ += size;
  if (buffered_ > 0) {
    const size_t take = std::min(size, sizeof(buffer_) - buffered_);
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    size -= take;
    if (buffered_ < sizeof(buffer_)) return;
    Transform(buffer_);
    buffered_ = 0;
  }
  for (; size >= 64; p += 64, size -= 64) Transform(p);
  if (size > 0) {
    std::memcpy(buffer_, p, size);
    buffered_ = size;
  }
}

TkxMD5::Digest TkxMD5::Final() {
  const uint64_t bits = length_ * 8;
  uint8_t pad[72] = {0x80};
  // Pad to 56 bytes modulo 64, then the bit length, least significant byte first.
  const size_t padLen = (buffered_ < 56 ? 56 : 120) - buffered_;
  Update(pad, padLen);
  uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<uint8_t>(bits >> (8 * i));
  Update(len, 8);
  Digest out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i * 4 + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
  Reset();
  return out;
}

TkxMD5::Digest TkxMD5::Hash(std::string_view data) {
  TkxMD5 md5;
  md5.Update(data);
  return md5.Final();
}

std::string TkxMD5::HashString(std::string_view data) {
  const Digest d = Hash(data);
  return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

}  // namespace pw
