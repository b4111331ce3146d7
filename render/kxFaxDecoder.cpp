#include "render/kxFaxDecoder.h"

#include <algorithm>
#include <array>

namespace pw {

namespace {

struct Code {
  const char* Bits;
  int Run;
};

// Terminating and make-up codes of white runs (T.4 tables 2 and 3).
constexpr Code kWhite[] = {
    {"00110101", 0},     {"000111", 1},       {"0111", 2},         {"1000", 3},         {"1011", 4},
    {"1100", 5},         {"1110", 6},         {"1111", 7},         {"10011", 8},        {"10100", 9},
    {"00111", 10},       {"01000", 11},       {"001000", 12},      {"000011", 13},      {"110100", 14},
    {"110101", 15},      {"101010", 16},      {"101011", 17},      {"0100111", 18},     {"0001100", 19},
    {"0001000", 20},     {"0010111", 21},     {"0000011", 22},     {"0000100", 23},     {"0101000", 24},
    {"0101011", 25},     {"0010011", 26},     {"0100100", 27},     {"0011000", 28},     {"00000010", 29},
    {"00000011", 30},    {"00011010", 31},    {"00011011", 32},    {"00010010", 33},    {"00010011", 34},
    {"00010100", 35},    {"00010101", 36},    {"00010110", 37},    {"00010111", 38},    {"00101000", 39},
    {"00101001", 40},    {"00101010", 41},    {"00101011", 42},    {"00101100", 43},    {"00101101", 44},
    {"00000100", 45},    {"00000101", 46},    {"00001010", 47},    {"00001011", 48},    {"01010010", 49},
    {"01010011", 50},    {"01010100", 51},    {"01010101", 52},    {"00100100", 53},    {"00100101", 54},
    {"01011000", 55},    {"01011001", 56},    {"01011010", 57},    {"01011011", 58},    {"01001010", 59},
    {"01001011", 60},    {"00110010", 61},    {"00110011", 62},    {"00110100", 63},    {"11011", 64},
    {"10010", 128},      {"010111", 192},     {"0110111", 256},    {"00110110", 320},   {"00110111", 384},
    {"01100100", 448},   {"01100101", 512},   {"01101000", 576},   {"01100111", 640},   {"011001100", 704},
    {"011001101", 768},  {"011010010", 832},  {"011010011", 896},  {"011010100", 960},  {"011010101", 1024},
    {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216}, {"011011001", 1280}, {"011011010", 1344},
    {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536}, {"010011010", 1600}, {"011000", 1664},
    {"010011011", 1728},
};

// The same for black runs (T.4 tables 2 and 3).
constexpr Code kBlack[] = {
    {"0000110111", 0},
    {"010", 1},
    {"11", 2},
    {"10", 3},
    {"011", 4},
    {"0011", 5},
    {"0010", 6},
    {"00011", 7},
    {"000101", 8},
    {"000100", 9},
    {"0000100", 10},
    {"0000101", 11},
    {"0000111", 12},
    {"00000100", 13},
    {"00000111", 14},
    {"000011000", 15},
    {"0000010111", 16},
    {"0000011000", 17},
    {"0000001000", 18},
    {"00001100111", 19},
    {"00001101000", 20},
    {"00001101100", 21},
    {"00000110111", 22},
    {"00000101000", 23},
    {"00000010111", 24},
    {"00000011000", 25},
    {"000011001010", 26},
    {"000011001011", 27},
    {"000011001100", 28},
    {"000011001101", 29},
    {"000001101000", 30},
    {"000001101001", 31},
    {"000001101010", 32},
    {"000001101011", 33},
    {"000011010010", 34},
    {"000011010011", 35},
    {"000011010100", 36},
    {"000011010101", 37},
    {"000011010110", 38},
    {"000011010111", 39},
    {"000001101100", 40},
    {"000001101101", 41},
    {"000011011010", 42},
    {"000011011011", 43},
    {"000001010100", 44},
    {"000001010101", 45},
    {"000001010110", 46},
    {"000001010111", 47},
    {"000001100100", 48},
    {"000001100101", 49},
    {"000001010010", 50},
    {"000001010011", 51},
    {"000000100100", 52},
    {"000000110111", 53},
    {"000000111000", 54},
    {"000000100111", 55},
    {"000000101000", 56},
    {"000001011000", 57},
    {"000001011001", 58},
    {"000000101011", 59},
    {"000000101100", 60},
    {"000001011010", 61},
    {"000001100110", 62},
    {"000001100111", 63},
    {"0000001111", 64},
    {"000011001000", 128},
    {"000011001001", 192},
    {"000001011011", 256},
    {"000000110011", 320},
    {"000000110100", 384},
    {"000000110101", 448},
    {"0000001101100", 512},
    {"0000001101101", 576},
    {"0000001001010", 640},
    {"0000001001011", 704},
    {"0000001001100", 768},
    {"0000001001101", 832},
    {"0000001110010", 896},
    {"0000001110011", 960},
    {"0000001110100", 1024},
    {"0000001110101", 1088},
    {"0000001110110", 1152},
    {"0000001110111", 1216},
    {"0000001010010", 1280},
    {"0000001010011", 1344},
    {"0000001010100", 1408},
    {"0000001010101", 1472},
    {"0000001011010", 1536},
    {"0000001011011", 1600},
    {"0000001100100", 1664},
    {"0000001100101", 1728},
};

// Extended make-up codes, shared by both colours (T.4 table 4).
constexpr Code kExtended[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},  {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112}, {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560},
};

// Two-dimensional mode codes (T.4 table 4/T.6 table 1).
enum Mode : int { mPass = 100, mHorizontal, mV0, mVR1, mVR2, mVR3, mVL1, mVL2, mVL3 };
constexpr Code kModes[] = {
    {"0001", mPass},   {"001", mHorizontal}, {"1", mV0},       {"011", mVR1},     {"000011", mVR2},
    {"0000011", mVR3}, {"010", mVL1},        {"000010", mVL2}, {"0000010", mVL3},
};

constexpr int kPeek = 13;

// A lookup of every code by the next kPeek bits: length and value, length 0
// for none.
struct Table {
  std::array<uint8_t, 1 << kPeek> Length{};
  std::array<int16_t, 1 << kPeek> Value{};
  template <size_t N>
  void Add(const Code (&codes)[N]) {
    for (const Code& c : codes) {
      int len = 0, bits = 0;
      for (const char* p = c.Bits; *p; ++p) bits = (bits << 1) | (*p - '0'), ++len;
      const int shift = kPeek - len;
      for (int rest = 0; rest < (1 << shift); ++rest) {
        Length[(bits << shift) | rest] = uint8_t(len);
        Value[(bits << shift) | rest] = int16_t(c.Run);
      }
    }
  }
};

const Table& WhiteTable() {
  static const Table t = [] {
    Table x;
    x.Add(kWhite);
    x.Add(kExtended);
    return x;
  }();
  return t;
}
const Table& BlackTable() {
  static const Table t = [] {
    Table x;
    x.Add(kBlack);
    x.Add(kExtended);
    return x;
  }();
  return t;
}
const Table& ModeTable() {
  static const Table t = [] {
    Table x;
    x.Add(kModes);
    return x;
  }();
  return t;
}

class BitReader {
 public:
  BitReader(const uint8_t* d, size_t n) : d_(d), bits_(uint64_t(n) * 8) {}
  bool AtEnd() const { return pos_ >= bits_; }
  uint32_t Peek(int n) const {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      const uint64_t p = pos_ + uint64_t(i);
      v = (v << 1) | (p < bits_ ? (d_[p >> 3] >> (7 - (p & 7))) & 1 : 0);
    }
    return v;
  }
  void Skip(int n) { pos_ += uint64_t(n); }
  void Align() { pos_ = (pos_ + 7) & ~uint64_t(7); }
  uint64_t Position() const { return pos_; }

 private:
  const uint8_t* d_;
  uint64_t bits_;
  uint64_t pos_ = 0;
};

// One code from a table; -1 when none matches or the data ended.
int ReadCode(BitReader& in, const Table& t) {
  if (in.AtEnd()) return -1;
  const uint32_t peek = in.Peek(kPeek);
  const int len = t.Length[peek];
  if (len == 0) return -1;
  in.Skip(len);
  return t.Value[peek];
}

// A run length: make-up codes followed by a terminating code; -1 on error.
int ReadRun(BitReader& in, bool black) {
  const Table& t = black ? BlackTable() : WhiteTable();
  int total = 0;
  for (int guard = 0; guard < 64; ++guard) {
    const int run = ReadCode(in, t);
    if (run < 0) return -1;
    total += run;
    if (run < 64) return total;
  }
  return -1;
}

}  // namespace

std::vector<uint8_t> DecodeFax(const uint8_t* data, size_t size, const TkxFaxParams& params, int maxRows,
                               int* rowsDecoded) {
  const int columns = std::clamp(params.Columns, 1, 1 << 20);
  int rows = params.Rows > 0 ? std::min(params.Rows, maxRows) : maxRows;
  if (rows < 0) rows = 0;
  const size_t rowBytes = (size_t(columns) + 7) / 8;
  std::vector<uint8_t> out;
  BitReader in(data, size);
  // Changing elements of the reference line and the line being coded, with
  // two sentinels at the far end.
  std::vector<int> ref{columns, columns}, cur;
  int decoded = 0;
  const uint8_t white = params.BlackIs1 ? 0 : 1;

  for (int row = 0; row < rows && !in.AtEnd(); ++row) {
    if (params.EncodedByteAlign && params.K < 0) in.Align();
    bool twoDim = params.K < 0;
    if (params.K >= 0) {
      if (params.EncodedByteAlign) in.Align();
      // Fill bits and end-of-line codes before the row.
      bool sawEol = false;
      while (!in.AtEnd() && in.Peek(11) == 0) {
        in.Skip(1);
        while (!in.AtEnd() && in.Peek(1) == 0) in.Skip(1);
        in.Skip(1);  // the 1 that ends the EOL
        sawEol = true;
      }
      (void)sawEol;
      if (in.AtEnd()) break;
      if (params.K > 0) {
        twoDim = in.Peek(1) == 0;
        in.Skip(1);
      }
    } else if (in.Peek(24) == 0x001001) {
      break;  // end of facsimile block
    }

    cur.clear();
    bool ok = true;
    if (!twoDim) {
      int a0 = 0;
      bool black = false;
      while (a0 < columns) {
        const int run = ReadRun(in, black);
        if (run < 0) {
          ok = false;
          break;
        }
        a0 = std::min(a0 + run, columns);
        cur.push_back(a0);
        black = !black;
      }
    } else {
      int a0 = -1;
      bool black = false;
      while (a0 < columns) {
        // b1: the first changing element of the reference line right of a0
        // whose colour is the opposite of a0's (even entries turn to black).
        size_t i = size_t(std::upper_bound(ref.begin(), ref.end() - 2, a0) - ref.begin());
        if ((i & 1) != (black ? 1u : 0u)) ++i;
        const int b1 = i < ref.size() ? ref[i] : columns;
        const int b2 = i + 1 < ref.size() ? ref[i + 1] : columns;
        const int mode = ReadCode(in, ModeTable());
        if (mode < 0) {
          ok = false;
          break;
        }
        if (mode == mPass) {
          a0 = b2;
          continue;
        }
        if (mode == mHorizontal) {
          const int start = std::max(a0, 0);
          const int r1 = ReadRun(in, black);
          const int r2 = r1 < 0 ? -1 : ReadRun(in, !black);
          if (r2 < 0) {
            ok = false;
            break;
          }
          const int a1 = std::min(start + r1, columns), a2 = std::min(a1 + r2, columns);
          cur.push_back(a1);
          cur.push_back(a2);
          a0 = a2;
          continue;
        }
        static constexpr int kDelta[] = {0, 1, 2, 3, -1, -2, -3};
        const int a1 = std::clamp(b1 + kDelta[mode - mV0], std::max(a0, 0), columns);
        cur.push_back(a1);
        a0 = a1;
        black = !black;
      }
    }
    // The row's pixels from its changing elements.
    const size_t at = out.size();
    out.resize(at + rowBytes, white ? 0xFF : 0x00);
    int pos = 0;
    bool black = false;
    for (int change : cur) {
      change = std::clamp(change, pos, columns);
      if (black)
        for (int x = pos; x < change; ++x) {
          uint8_t& byte = out[at + size_t(x >> 3)];
          const uint8_t bit = uint8_t(0x80 >> (x & 7));
          byte = white ? uint8_t(byte & ~bit) : uint8_t(byte | bit);
        }
      pos = change;
      black = !black;
    }
    if (ok) ++decoded;
    cur.push_back(columns);
    cur.push_back(columns);
    ref.swap(cur);
    if (!ok) break;
  }
  if (rowsDecoded) *rowsDecoded = decoded;
  return out;
}

}  // namespace pw
