// Raster pictures of the platform layer: a 24-bit or 32-bit-with-alpha
// bitmap held in cairo's ARGB32 layout, its conversion from and to
// device-independent bitmaps (the form EMF records and BMP files carry them
// in) and BMP files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pdf/kxClasses.h"

namespace pw {

// Raised for malformed or unsupported bitmap data (DIB, BMP file).
class EInvalidGraphic : public Exception {
 public:
  explicit EInvalidGraphic(const std::string& msg) : Exception(msg) {}
};

// Size limits for every bitmap made here. cairo cannot draw into or from
// surfaces wider or higher than 32767 pixels, and the pixel count keeps a
// single bitmap at 1 GiB at most. Breaking a limit raises ELimitExceeded.
constexpr int kMaxBitmapDimension = 32767;
constexpr int64_t kMaxBitmapPixels = int64_t{256} * 1024 * 1024;

// DIB compression values understood here.
constexpr uint32_t kBI_RGB = 0;
constexpr uint32_t kBI_BITFIELDS = 3;

// What a DIB header says, after validation.
struct TkxDIBInfo {
  uint32_t HeaderSize = 0;  // 12 (core), 40, 52, 56, 108 or 124
  int Width = 0;
  int Height = 0;        // always positive
  bool TopDown = false;  // the header's height was negative
  int BitCount = 0;      // 1, 4, 8, 16, 24 or 32
  uint32_t Compression = kBI_RGB;
  uint32_t ClrUsed = 0;                                              // as stored
  uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0, AlphaMask = 0;  // effective masks for 16/32 bits
  size_t ColorTableOffset = 0;                                       // from the start of the header
  size_t ColorTableBytes = 0;  // what the header asks for (may exceed what is present)
  size_t RowBytes = 0;         // stride of the bits, rows padded to 4 bytes
  size_t BitsSize() const { return RowBytes * static_cast<size_t>(Height); }
};

class TkxBitmap {
 public:
  TkxBitmap() = default;
  // Cleared to opaque white, or to transparent when hasAlpha.
  TkxBitmap(int width, int height, bool hasAlpha = false);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  bool HasAlpha() const { return has_alpha_; }
  // Turning alpha off composites the pixels over white; turning it on keeps them opaque.
  void SetHasAlpha(bool hasAlpha);
  // New size; the overlapping top-left part is kept, new pixels are cleared as in the constructor.
  void SetSize(int width, int height);

  // cairo CAIRO_FORMAT_ARGB32 layout: native-endian 32-bit premultiplied pixels, top-down, stride Width()*4.
  // For a bitmap without alpha the top byte is ignored (cairo may draw into it as CAIRO_FORMAT_RGB24).
  uint32_t* Scanline(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const uint32_t* Scanline(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
  uint8_t* Bits() { return reinterpret_cast<uint8_t*>(pixels_.data()); }
  const uint8_t* Bits() const { return reinterpret_cast<const uint8_t*>(pixels_.data()); }
  int Stride() const { return width_ * 4; }

  // Unpremultiplied 0xAARRGGBB; 0xFF alpha for bitmaps without alpha. Out-of-range reads give 0, writes are ignored.
  uint32_t Pixel(int x, int y) const;
  void SetPixel(int x, int y, uint32_t argb);
  // Every pixel := argb (unpremultiplied; alpha ignored without alpha channel).
  void Fill(uint32_t argb);
  // Sets the top byte of every pixel of a bitmap without alpha to 0xFF (after cairo drew in RGB24 mode).
  void NormalizeOpaque();

  bool operator==(const TkxBitmap& o) const;

  // Device-independent bitmap: BITMAPINFOHEADER (+ colour table for 1/4/8 bits) and bottom-up bits.
  // bitCount 1, 4, 8, 16 (5-5-5), 24, 32 (BGRA, straight alpha when HasAlpha, else 0). Fewer than
  // 32 bits flatten alpha over white; 1/4/8 bits map every pixel to the nearest entry of a fixed palette
  // (black/white; the 16 VGA colours; a 6x6x6 cube plus 40 grays).
  std::vector<uint8_t> ToDIBHeader(int bitCount = 24) const;
  std::vector<uint8_t> ToDIBBits(int bitCount = 24) const;

  // Validates a DIB header (and the colour-table room); throws EInvalidGraphic / ELimitExceeded.
  static TkxDIBInfo ReadDIBInfo(const uint8_t* bmi, size_t bmiSize);
  // Builds a bitmap from a header (+ colour table) and bits. 1/4/8/16/24/32 bits, BI_RGB and BI_BITFIELDS,
  // bottom-up and top-down, core/info/V4/V5 headers. A 32-bit DIB whose alpha bytes are neither all 0 nor
  // all 255 (or with a non-zero alpha mask) gives a bitmap with alpha. Throws on bad or short input.
  static TkxBitmap FromDIB(const uint8_t* bmi, size_t bmiSize, const uint8_t* bits, size_t bitsSize);

  // BMP files: the 14-byte file header followed by a DIB.
  std::vector<uint8_t> SaveToBMP(int bitCount = 24) const;
  static TkxBitmap LoadFromBMP(const uint8_t* data, size_t size);
  static TkxBitmap LoadFromBMP(const std::vector<uint8_t>& data) { return LoadFromBMP(data.data(), data.size()); }
  void SaveToFile(const std::string& fileName, int bitCount = 24) const;
  static TkxBitmap LoadFromFile(const std::string& fileName);

  // Throws ELimitExceeded when a bitmap of that size may not be made (negative sizes: EInvalidGraphic).
  static void CheckSize(int64_t width, int64_t height);

 private:
  int width_ = 0;
  int height_ = 0;
  bool has_alpha_ = false;
  std::vector<uint32_t> pixels_;
};

// Premultiplied <-> straight conversions of one 0xAARRGGBB pixel.
uint32_t PremultiplyARGB(uint32_t argb);
uint32_t UnpremultiplyARGB(uint32_t premul);
// A premultiplied pixel as it shows over white, 0xFFRRGGBB.
uint32_t OverWhite(uint32_t premul);

}  // namespace pw
