#include "pdf/kxPredictors.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace pw {

namespace {

int ClampedInt(const TkxPDFObject* o, int def) {
  if (!IsNumber(o)) return def;
  int64_t v = IntValue(o, def);
  return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

uint8_t Paeth(int left, int up, int upLeft) {
  int p = left + up - upLeft;
  int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(left);
  if (pb <= pc) return static_cast<uint8_t>(up);
  return static_cast<uint8_t>(upLeft);
}

// PNG rows: a filter tag byte, then rowBytes bytes. The previous row is read
// back from the output, so no row buffer depends on the (hostile) row size.
std::vector<uint8_t> UndoPNG(const std::vector<uint8_t>& data, size_t rowBytes, size_t bpp) {
  std::vector<uint8_t> out;
  out.reserve(data.size() - data.size() / (rowBytes + 1));
  size_t pos = 0;
  while (pos < data.size()) {
    uint8_t tag = data[pos++];
    size_t n = std::min(rowBytes, data.size() - pos);
    // A lone tag byte at the very end carries no data: nothing to decode.
    if (n == 0) break;
    if (tag > 4) throw EImproperPNGAlgorithm("Improper PNG algorithm tag in stream");
    size_t base = out.size();
    out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(pos), data.begin() + static_cast<ptrdiff_t>(pos + n));
    pos += n;
    uint8_t* cur = out.data() + base;
    const uint8_t* up = base >= rowBytes ? cur - rowBytes : nullptr;  // first row: all zeros
    switch (tag) {
      case 0: break;
      case 1:
        for (size_t i = bpp; i < n; ++i) cur[i] = static_cast<uint8_t>(cur[i] + cur[i - bpp]);
        break;
      case 2:
        if (up)
          for (size_t i = 0; i < n; ++i) cur[i] = static_cast<uint8_t>(cur[i] + up[i]);
        break;
      case 3:
        for (size_t i = 0; i < n; ++i) {
          int left = i >= bpp ? cur[i - bpp] : 0;
          int u = up ? up[i] : 0;
          cur[i] = static_cast<uint8_t>(cur[i] + (left + u) / 2);
        }
        break;
      case 4:
        for (size_t i = 0; i < n; ++i) {
          int left = i >= bpp ? cur[i - bpp] : 0;
          int u = up ? up[i] : 0;
          int ul = (up && i >= bpp) ? up[i - bpp] : 0;
          cur[i] = static_cast<uint8_t>(cur[i] + Paeth(left, u, ul));
        }
        break;
    }
  }
  return out;
}

// TIFF predictor 2: every sample is stored as the difference to the same
// component of the pixel to its left, within a row.
std::vector<uint8_t> UndoTIFF(const std::vector<uint8_t>& data, size_t rowBytes, int colors, int bpc,
                              size_t samplesPerRow) {
  std::vector<uint8_t> out = data;
  const size_t c = static_cast<size_t>(colors);
  for (size_t base = 0; base < out.size(); base += rowBytes) {
    uint8_t* row = out.data() + base;
    size_t n = std::min(rowBytes, out.size() - base);
    if (bpc == 8) {
      for (size_t i = c; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - c]);
    } else if (bpc == 16) {
      size_t samples = n / 2;
      for (size_t i = c; i < samples; ++i) {
        unsigned v = ((row[2 * i] << 8) | row[2 * i + 1]) + ((row[2 * (i - c)] << 8) | row[2 * (i - c) + 1]);
        row[2 * i] = static_cast<uint8_t>(v >> 8);
        row[2 * i + 1] = static_cast<uint8_t>(v);
      }
    } else {  // 1, 2 or 4 bits, most significant bits first
      const unsigned mask = (1u << bpc) - 1;
      auto get = [&](size_t k) {
        size_t bit = k * static_cast<size_t>(bpc);
        return (row[bit / 8] >> (8 - bpc - bit % 8)) & mask;
      };
      auto set = [&](size_t k, unsigned v) {
        size_t bit = k * static_cast<size_t>(bpc);
        unsigned shift = 8 - static_cast<unsigned>(bpc) - bit % 8;
        row[bit / 8] = static_cast<uint8_t>((row[bit / 8] & ~(mask << shift)) | ((v & mask) << shift));
      };
      size_t samples = std::min(samplesPerRow, n * 8 / static_cast<size_t>(bpc));
      for (size_t k = c; k < samples; ++k) set(k, get(k) + get(k - c));
    }
  }
  return out;
}

}  // namespace

TkxDecodeParams ReadDecodeParams(const TkxPDFObject* parms) {
  TkxDecodeParams p;
  const TkxPDFDictObject* d = AsDict(parms);
  if (!d) return p;
  p.Predictor = ClampedInt(d->Lookup("/Predictor"), p.Predictor);
  p.Colors = ClampedInt(d->Lookup("/Colors"), p.Colors);
  p.BitsPerComponent = ClampedInt(d->Lookup("/BitsPerComponent"), p.BitsPerComponent);
  p.Columns = ClampedInt(d->Lookup("/Columns"), p.Columns);
  p.EarlyChange = ClampedInt(d->Lookup("/EarlyChange"), p.EarlyChange) != 0 ? 1 : 0;
  return p;
}

std::vector<uint8_t> ApplyPredictor(const std::vector<uint8_t>& data, const TkxDecodeParams& params) {
  if (params.Predictor <= 1) return data;
  if (params.Predictor > 2 && params.Predictor < 10)
    throw Exception(FormatMsg("Unsupported predictor (%d)", params.Predictor));
  if (params.Colors < 1 || params.Colors > 32)
    throw Exception(FormatMsg("Invalid /Colors in decode parameters (%d)", params.Colors));
  const int bpc = params.BitsPerComponent;
  if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16)
    throw Exception(FormatMsg("Invalid /BitsPerComponent in decode parameters (%d)", bpc));
  if (params.Columns < 1) throw Exception(FormatMsg("Invalid /Columns in decode parameters (%d)", params.Columns));

  // At most 2^31 * 32 * 16 bits: no overflow in 64-bit sizes.
  const size_t bitsPerPixel = static_cast<size_t>(params.Colors) * static_cast<size_t>(bpc);
  const size_t rowBytes = (static_cast<size_t>(params.Columns) * bitsPerPixel + 7) / 8;
  if (params.Predictor == 2)
    return UndoTIFF(data, rowBytes, params.Colors, bpc,
                    static_cast<size_t>(params.Columns) * static_cast<size_t>(params.Colors));
  return UndoPNG(data, rowBytes, std::max<size_t>(1, (bitsPerPixel + 7) / 8));
}

std::vector<uint8_t> DecodePNGPredictor(const std::vector<uint8_t>& data, int columns) {
  if (columns < 1) throw Exception(FormatMsg("Invalid /Columns in decode parameters (%d)", columns));
  TkxDecodeParams p;
  p.Predictor = 12;
  p.Columns = columns;
  return ApplyPredictor(data, p);
}

}  // namespace pw
