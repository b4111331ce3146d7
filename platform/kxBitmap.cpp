#include "platform/kxBitmap.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include "platform/kxJPEG.h"

namespace pw {

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

[[noreturn]] void Invalid(const std::string& what) { throw EInvalidGraphic("Invalid bitmap: " + what); }

size_t RowBytesFor(int width, int bitCount) {
  return ((static_cast<uint64_t>(width) * static_cast<uint64_t>(bitCount) + 31) / 32) * 4;
}

bool ValidBitCount(int bc) { return bc == 1 || bc == 4 || bc == 8 || bc == 16 || bc == 24 || bc == 32; }

// ---- fixed palettes for the indexed output depths ----

using Palette = std::vector<uint32_t>;  // 0x00RRGGBB

const Palette& PaletteFor(int bitCount) {
  static const Palette mono{0x000000, 0xFFFFFF};
  static const Palette vga{0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                           0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  static const Palette cube = [] {
    Palette p;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) p.push_back(static_cast<uint32_t>((r * 51) << 16 | (g * 51) << 8 | (b * 51)));
    // Eight grays inside each step of the cube's gray axis, so that gray ramps keep their shades.
    for (int step = 0; step < 5; ++step)
      for (int k = 1; k <= 8; ++k) {
        uint32_t v = static_cast<uint32_t>(step * 51 + (51 * k + 4) / 9);
        p.push_back(v << 16 | v << 8 | v);
      }
    return p;
  }();
  return bitCount == 1 ? mono : bitCount == 4 ? vga : cube;
}

// Nearest palette entry, cached per 18-bit colour (the cell centre is within 2 of the colour, closer than
// any two palette entries lie to each other, so exact palette colours map to themselves).
class NearestIndex {
 public:
  explicit NearestIndex(const Palette& p) : pal_(p) {}
  int operator()(uint32_t rgb) {
    if (cache_.empty()) cache_.assign(1u << 18, -1);
    uint32_t key = ((rgb >> 6) & 0x3F000) | ((rgb >> 4) & 0xFC0) | ((rgb >> 2) & 0x3F);
    int16_t& c = cache_[key];
    if (c < 0) {
      int r = static_cast<int>((key >> 12) << 2 | 2), g = static_cast<int>(((key >> 6) & 63) << 2 | 2),
          b = static_cast<int>((key & 63) << 2 | 2);
      int best = 0, bestD = std::numeric_limits<int>::max();
      for (size_t i = 0; i < pal_.size(); ++i) {
        int dr = r - static_cast<int>((pal_[i] >> 16) & 0xFF), dg = g - static_cast<int>((pal_[i] >> 8) & 0xFF),
            db = b - static_cast<int>(pal_[i] & 0xFF);
        int d = dr * dr * 3 + dg * dg * 4 + db * db * 2;
        if (d < bestD) bestD = d, best = static_cast<int>(i);
      }
      c = static_cast<int16_t>(best);
    }
    return c;
  }

 private:
  const Palette& pal_;
  std::vector<int16_t> cache_;
};

// Scales the masked field of v to 0..255.
struct MaskField {
  uint32_t mask = 0;
  int shift = 0;
  uint64_t max = 0;
  explicit MaskField(uint32_t m) : mask(m) {
    if (m) {
      shift = std::countr_zero(m);
      max = m >> shift;
    }
  }
  uint32_t operator()(uint32_t v) const {
    if (!mask) return 0;
    uint64_t f = (v & mask) >> shift;
    if (max == 255) return static_cast<uint32_t>(f);  // the usual 8-bit field: no scaling, no division
    return static_cast<uint32_t>((f * 255 + max / 2) / max);
  }
};

}  // namespace

// Colour of a pixel over white, as 0xFFRRGGBB.
uint32_t OverWhite(uint32_t premul) {
  // No early way out for opaque pixels (they add nothing): without the
  // branch, loops over whole pictures vectorise.
  uint32_t add = 255 - (premul >> 24);
  uint32_t r = ((premul >> 16) & 0xFF) + add, g = ((premul >> 8) & 0xFF) + add, b = (premul & 0xFF) + add;
  return kOpaque | (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | std::min(b, 255u);
}

uint32_t PremultiplyARGB(uint32_t argb) {
  uint32_t a = argb >> 24;
  if (a == 255) return argb;
  if (a == 0) return 0;
  auto m = [a](uint32_t c) { return (c * a + 127) / 255; };
  return a << 24 | m((argb >> 16) & 0xFF) << 16 | m((argb >> 8) & 0xFF) << 8 | m(argb & 0xFF);
}

uint32_t UnpremultiplyARGB(uint32_t p) {
  uint32_t a = p >> 24;
  if (a == 255) return p;
  if (a == 0) return 0;
  auto u = [a](uint32_t c) { return std::min(255u, (c * 255 + a / 2) / a); };
  return a << 24 | u((p >> 16) & 0xFF) << 16 | u((p >> 8) & 0xFF) << 8 | u(p & 0xFF);
}

// ---- TkxBitmap ----

void TkxBitmap::CheckSize(int64_t width, int64_t height) {
  if (width < 0 || height < 0) Invalid("negative size");
  if (width > kMaxBitmapDimension || height > kMaxBitmapDimension || width * height > kMaxBitmapPixels)
    throw ELimitExceeded("Bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels exceeds the size limit");
}

TkxBitmap::TkxBitmap(int width, int height, bool hasAlpha) : has_alpha_(hasAlpha) {
  CheckSize(width, height);
  width_ = width;
  height_ = height;
  pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), hasAlpha ? 0u : kWhite);
}

void TkxBitmap::SetHasAlpha(bool hasAlpha) {
  if (hasAlpha == has_alpha_) return;
  if (has_alpha_) {
    for (uint32_t& p : pixels_) p = OverWhite(p);
  } else {
    for (uint32_t& p : pixels_) p |= kOpaque;
  }
  has_alpha_ = hasAlpha;
}

void TkxBitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  CheckSize(width, height);
  std::vector<uint32_t> next(static_cast<size_t>(width) * static_cast<size_t>(height), has_alpha_ ? 0u : kWhite);
  int cw = std::min(width, width_), ch = std::min(height, height_);
  for (int y = 0; y < ch; ++y)
    std::copy_n(pixels_.data() + static_cast<size_t>(y) * width_, cw, next.data() + static_cast<size_t>(y) * width);
  pixels_.swap(next);
  width_ = width;
  height_ = height;
}

uint32_t TkxBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  uint32_t p = pixels_[static_cast<size_t>(y) * width_ + x];
  return has_alpha_ ? UnpremultiplyARGB(p) : (p | kOpaque);
}

void TkxBitmap::SetPixel(int x, int y, uint32_t argb) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<size_t>(y) * width_ + x] = has_alpha_ ? PremultiplyARGB(argb) : (argb | kOpaque);
}

void TkxBitmap::Fill(uint32_t argb) {
  std::fill(pixels_.begin(), pixels_.end(), has_alpha_ ? PremultiplyARGB(argb) : (argb | kOpaque));
}

void TkxBitmap::NormalizeOpaque() {
  if (has_alpha_) return;
  for (uint32_t& p : pixels_) p |= kOpaque;
}

bool TkxBitmap::operator==(const TkxBitmap& o) const {
  if (width_ != o.width_ || height_ != o.height_ || has_alpha_ != o.has_alpha_) return false;
  uint32_t ignore = has_alpha_ ? 0 : kOpaque;
  for (size_t i = 0; i < pixels_.size(); ++i)
    if ((pixels_[i] | ignore) != (o.pixels_[i] | ignore)) return false;
  return true;
}

// ---- DIB output ----

std::vector<uint8_t> TkxBitmap::ToDIBHeader(int bitCount) const {
  if (!ValidBitCount(bitCount)) Invalid("unsupported bit count " + std::to_string(bitCount));
  std::vector<uint8_t> h;
  h.reserve(40 + 1024);
  Put32(h, 40);
  Put32(h, static_cast<uint32_t>(width_));
  Put32(h, static_cast<uint32_t>(height_));
  Put16(h, 1);
  Put16(h, static_cast<uint32_t>(bitCount));
  Put32(h, kBI_RGB);
  Put32(h, static_cast<uint32_t>(RowBytesFor(width_, bitCount) * height_));
  Put32(h, 0);  // resolution not recorded
  Put32(h, 0);
  Put32(h, 0);  // full colour table
  Put32(h, 0);
  if (bitCount <= 8) {
    for (uint32_t c : PaletteFor(bitCount)) Put32(h, c);
  }
  return h;
}

std::vector<uint8_t> TkxBitmap::ToDIBBits(int bitCount) const {
  if (!ValidBitCount(bitCount)) Invalid("unsupported bit count " + std::to_string(bitCount));
  size_t rowBytes = RowBytesFor(width_, bitCount);
  std::vector<uint8_t> out(rowBytes * height_, 0);
  NearestIndex nearest(PaletteFor(bitCount));
  for (int y = 0; y < height_; ++y) {
    const uint32_t* src = Scanline(y);
    uint8_t* row = out.data() + rowBytes * static_cast<size_t>(height_ - 1 - y);  // bottom-up
    // The common depths in loops of their own, without the per-pixel choice.
    if (bitCount == 32) {
      for (int x = 0; x < width_; ++x) {
        const uint32_t s = has_alpha_ ? UnpremultiplyARGB(src[x]) : (src[x] & 0x00FFFFFF);
        uint8_t* d = row + static_cast<size_t>(x) * 4;
        d[0] = static_cast<uint8_t>(s), d[1] = static_cast<uint8_t>(s >> 8), d[2] = static_cast<uint8_t>(s >> 16),
        d[3] = static_cast<uint8_t>(s >> 24);
      }
      continue;
    }
    if (bitCount == 24) {
      // Four bytes stored per pixel, three kept: the fourth is the next
      // pixel's first (the last pixel is stored byte by byte, so the row's
      // padding stays zero). Little-endian words are B, G, R, A in memory.
      auto put = [row, width = width_](const uint32_t* from, auto&& colour) {
        uint8_t* d = row;
        for (int x = 0; x + 1 < width; ++x, d += 3) {
          const uint32_t c = colour(from[x]);
          if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(d, &c, 4);
          } else {
            d[0] = static_cast<uint8_t>(c), d[1] = static_cast<uint8_t>(c >> 8), d[2] = static_cast<uint8_t>(c >> 16);
          }
        }
        if (width > 0) {
          const uint32_t c = colour(from[width - 1]);
          d[0] = static_cast<uint8_t>(c), d[1] = static_cast<uint8_t>(c >> 8), d[2] = static_cast<uint8_t>(c >> 16);
        }
      };
      if (has_alpha_)
        put(src, [](uint32_t p) { return OverWhite(p); });
      else
        put(src, [](uint32_t p) { return p; });
      continue;
    }
    for (int x = 0; x < width_; ++x) {
      uint32_t p = src[x];
      if (bitCount == 32) {
        uint32_t s = has_alpha_ ? UnpremultiplyARGB(p) : (p & 0x00FFFFFF);
        row[x * 4] = static_cast<uint8_t>(s);
        row[x * 4 + 1] = static_cast<uint8_t>(s >> 8);
        row[x * 4 + 2] = static_cast<uint8_t>(s >> 16);
        row[x * 4 + 3] = static_cast<uint8_t>(s >> 24);
        continue;
      }
      uint32_t c = has_alpha_ ? OverWhite(p) : p;
      switch (bitCount) {
        case 24:
          row[x * 3] = static_cast<uint8_t>(c);
          row[x * 3 + 1] = static_cast<uint8_t>(c >> 8);
          row[x * 3 + 2] = static_cast<uint8_t>(c >> 16);
          break;
        case 16: {
          uint32_t v = ((c >> 9) & 0x7C00) | ((c >> 6) & 0x03E0) | ((c >> 3) & 0x001F);
          row[x * 2] = static_cast<uint8_t>(v);
          row[x * 2 + 1] = static_cast<uint8_t>(v >> 8);
          break;
        }
        case 8: row[x] = static_cast<uint8_t>(nearest(c)); break;
        case 4: row[x / 2] |= static_cast<uint8_t>(nearest(c) << ((x & 1) ? 0 : 4)); break;
        case 1: row[x / 8] |= static_cast<uint8_t>(nearest(c) << (7 - (x & 7))); break;
      }
    }
  }
  return out;
}

// ---- DIB input ----

TkxDIBInfo TkxBitmap::ReadDIBInfo(const uint8_t* bmi, size_t bmiSize) {
  if (!bmi || bmiSize < 12) Invalid("header too short");
  TkxDIBInfo info;
  info.HeaderSize = Get32(bmi);
  int64_t width = 0, height = 0;
  size_t entrySize = 4;
  if (info.HeaderSize == 12) {
    width = Get16(bmi + 4);
    height = Get16(bmi + 6);
    info.BitCount = Get16(bmi + 10);
    entrySize = 3;
  } else if (info.HeaderSize >= 40 && info.HeaderSize <= bmiSize) {
    width = static_cast<int32_t>(Get32(bmi + 4));
    height = static_cast<int32_t>(Get32(bmi + 8));
    info.BitCount = Get16(bmi + 14);
    info.Compression = Get32(bmi + 16);
    info.ClrUsed = Get32(bmi + 32);
  } else {
    Invalid("unsupported header size " + std::to_string(info.HeaderSize));
  }
  if (!ValidBitCount(info.BitCount)) Invalid("unsupported bit count " + std::to_string(info.BitCount));
  if (width <= 0 || height == 0) Invalid("empty or negative size");
  if (height < 0) {
    info.TopDown = true;
    height = -height;
  }
  CheckSize(width, height);
  info.Width = static_cast<int>(width);
  info.Height = static_cast<int>(height);
  info.RowBytes = RowBytesFor(info.Width, info.BitCount);
  info.ColorTableOffset = info.HeaderSize;

  constexpr uint32_t kBI_ALPHABITFIELDS = 6;
  bool fields = info.Compression == kBI_BITFIELDS || info.Compression == kBI_ALPHABITFIELDS;
  if (info.Compression != kBI_RGB && !fields) Invalid("unsupported compression " + std::to_string(info.Compression));
  if (fields) {
    if (info.BitCount != 16 && info.BitCount != 32) Invalid("bit fields need 16 or 32 bits per pixel");
    int maskCount = info.Compression == kBI_ALPHABITFIELDS ? 4 : 3;
    const uint8_t* masks;
    if (info.HeaderSize >= 52) {  // masks inside the header (V2 and later)
      masks = bmi + 40;
      if (info.HeaderSize >= 56) maskCount = 4;
    } else {
      if (bmiSize < info.HeaderSize + 4u * maskCount) Invalid("bit field masks missing");
      masks = bmi + info.HeaderSize;
      info.ColorTableOffset += 4u * maskCount;
    }
    if (info.HeaderSize >= 52 && info.HeaderSize < 56 && info.Compression == kBI_ALPHABITFIELDS)
      Invalid("alpha mask missing");
    info.RedMask = Get32(masks);
    info.GreenMask = Get32(masks + 4);
    info.BlueMask = Get32(masks + 8);
    if (maskCount == 4) info.AlphaMask = Get32(masks + 12);
  } else if (info.BitCount == 16) {
    info.RedMask = 0x7C00, info.GreenMask = 0x03E0, info.BlueMask = 0x001F;
  } else if (info.BitCount == 32) {
    info.RedMask = 0xFF0000, info.GreenMask = 0xFF00, info.BlueMask = 0xFF;
    info.AlphaMask = 0xFF000000u;  // a candidate only: see FromDIB
  }

  if (info.BitCount <= 8) {
    uint64_t full = uint64_t{1} << info.BitCount;
    uint64_t n = info.ClrUsed ? std::min<uint64_t>(info.ClrUsed, full) : full;
    info.ColorTableBytes = static_cast<size_t>(n * entrySize);
  }
  return info;
}

TkxBitmap TkxBitmap::FromDIB(const uint8_t* bmi, size_t bmiSize, const uint8_t* bits, size_t bitsSize) {
  // Bits that are a whole JPEG file (BI_JPEG).
  if (bmi && bmiSize >= 40 && Get32(bmi) >= 40 && Get32(bmi + 16) == 4) {
    try {
      return DecodeJPEG(bits, bitsSize);
    } catch (const EJPEGError& e) {
      Invalid(e.what());
    }
  }
  TkxDIBInfo info = ReadDIBInfo(bmi, bmiSize);
  size_t lastRow = (static_cast<size_t>(info.Width) * info.BitCount + 7) / 8;
  size_t need = info.RowBytes * (static_cast<size_t>(info.Height) - 1) + lastRow;
  if (!bits || bitsSize < need)
    Invalid("bits too short (" + std::to_string(bitsSize) + " bytes for " + std::to_string(need) + ")");

  // Colour table: entries beyond the data present are black.
  std::array<uint32_t, 256> table{};
  if (info.BitCount <= 8) {
    size_t entrySize = info.HeaderSize == 12 ? 3 : 4;
    size_t avail = bmiSize > info.ColorTableOffset ? bmiSize - info.ColorTableOffset : 0;
    size_t n = std::min(info.ColorTableBytes, avail) / entrySize;
    for (size_t i = 0; i < n && i < table.size(); ++i) {
      const uint8_t* e = bmi + info.ColorTableOffset + i * entrySize;
      table[i] = static_cast<uint32_t>(e[2]) << 16 | static_cast<uint32_t>(e[1]) << 8 | e[0];
    }
  }

  // A 32-bit alpha channel counts only when it varies from the "unused" values.
  bool alpha = false;
  if (info.BitCount == 32 && info.AlphaMask) {
    bool any0 = false, any255 = false, other = false;
    MaskField af(info.AlphaMask);
    for (int y = 0; y < info.Height && !other; ++y) {
      const uint8_t* row = bits + info.RowBytes * y;
      for (int x = 0; x < info.Width; ++x) {
        uint32_t a = af(Get32(row + x * 4));
        if (a == 0)
          any0 = true;
        else if (a == 255)
          any255 = true;
        else {
          other = true;
          break;
        }
      }
    }
    alpha = other || (any0 && any255);
  }

  TkxBitmap bmp(info.Width, info.Height, alpha);
  // 32 bits in the order of the pixels here, alpha (when it counts) on top.
  const bool standard32 = info.BitCount == 32 && info.RedMask == 0x00FF0000u && info.GreenMask == 0x0000FF00u &&
                          info.BlueMask == 0x000000FFu && (!alpha || info.AlphaMask == 0xFF000000u);
  MaskField rf(info.RedMask), gf(info.GreenMask), bf(info.BlueMask), af(info.AlphaMask);
  for (int y = 0; y < info.Height; ++y) {
    int srcRow = info.TopDown ? y : info.Height - 1 - y;
    const uint8_t* row = bits + info.RowBytes * static_cast<size_t>(srcRow);
    uint32_t* dst = bmp.Scanline(y);
    if (info.BitCount == 24) {  // the common depths in loops of their own
      for (int x = 0; x < info.Width; ++x, row += 3)
        dst[x] = kOpaque | static_cast<uint32_t>(row[2]) << 16 | static_cast<uint32_t>(row[1]) << 8 | row[0];
      continue;
    }
    if (standard32) {
      for (int x = 0; x < info.Width; ++x) {
        const uint32_t v = Get32(row + static_cast<size_t>(x) * 4);
        dst[x] = alpha ? PremultiplyARGB(v) : kOpaque | (v & 0x00FFFFFF);
      }
      continue;
    }
    for (int x = 0; x < info.Width; ++x) {
      uint32_t c;
      switch (info.BitCount) {
        case 1: c = table[(row[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: c = table[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF]; break;
        case 8: c = table[row[x]]; break;
        case 24:
          c = static_cast<uint32_t>(row[x * 3 + 2]) << 16 | static_cast<uint32_t>(row[x * 3 + 1]) << 8 | row[x * 3];
          break;
        case 16: {
          uint32_t v = Get16(row + x * 2);
          c = rf(v) << 16 | gf(v) << 8 | bf(v);
          break;
        }
        default: {  // 32
          uint32_t v = Get32(row + x * 4);
          c = rf(v) << 16 | gf(v) << 8 | bf(v);
          if (alpha) {
            dst[x] = PremultiplyARGB(af(v) << 24 | c);
            continue;
          }
          break;
        }
      }
      dst[x] = kOpaque | c;
    }
  }
  return bmp;
}

// ---- BMP files ----

std::vector<uint8_t> TkxBitmap::SaveToBMP(int bitCount) const {
  std::vector<uint8_t> header = ToDIBHeader(bitCount);
  std::vector<uint8_t> bits = ToDIBBits(bitCount);
  std::vector<uint8_t> out;
  out.reserve(14 + header.size() + bits.size());
  out.push_back('B');
  out.push_back('M');
  Put32(out, static_cast<uint32_t>(14 + header.size() + bits.size()));
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(14 + header.size()));
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), bits.begin(), bits.end());
  return out;
}

TkxBitmap TkxBitmap::LoadFromBMP(const uint8_t* data, size_t size) {
  if (!data || size < 14 + 12 || data[0] != 'B' || data[1] != 'M') Invalid("not a BMP file");
  uint32_t offBits = Get32(data + 10);
  const uint8_t* bmi = data + 14;
  size_t rest = size - 14;
  uint32_t hdr = Get32(bmi);
  if (hdr > rest) Invalid("header too short");
  // The header and colour table run up to the bits; a bits offset inside the header is refused.
  if (offBits < 14 + hdr || offBits > size) Invalid("bits offset out of range");
  return FromDIB(bmi, offBits - 14, data + offBits, size - offBits);
}

void TkxBitmap::SaveToFile(const std::string& fileName, int bitCount) const {
  std::vector<uint8_t> d = SaveToBMP(bitCount);
  std::ofstream f(fileName, std::ios::binary);
  f.write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
  if (!f) throw Exception("Cannot write " + fileName);
}

TkxBitmap TkxBitmap::LoadFromFile(const std::string& fileName) {
  std::ifstream f(fileName, std::ios::binary);
  if (!f) throw EFileNotFound("Cannot open " + fileName);
  std::vector<uint8_t> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return LoadFromBMP(d);
}

}  // namespace pw
