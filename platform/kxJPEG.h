// JPEG pictures through libjpeg-turbo: decoding to a TkxBitmap (gray, RGB,
// YCbCr, CMYK and YCCK, with the inverted CMYK of Adobe's APP14 marker),
// encoding a bitmap at a quality, and a picture class that keeps the JPEG
// data unchanged and decodes it when asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kxBitmap.h"

namespace pw {

// Raised for data that libjpeg refuses; the message carries libjpeg's reason.
class EJPEGError : public Exception {
 public:
  explicit EJPEGError(const std::string& msg) : Exception(msg) {}
};

enum class TkxJPEGColorSpace : uint8_t { jcsUnknown, jcsGray, jcsRGB, jcsYCbCr, jcsCMYK, jcsYCCK };

struct TkxJPEGInfo {
  int Width = 0;
  int Height = 0;
  int Components = 0;
  TkxJPEGColorSpace ColorSpace = TkxJPEGColorSpace::jcsUnknown;
  bool AdobeMarker = false;  // APP14 "Adobe" seen: CMYK samples are stored inverted
  bool Progressive = false;
};

// Header only (no pixel data decoded). Throws EJPEGError.
TkxJPEGInfo ReadJPEGInfo(const uint8_t* data, size_t size);

// Decodes to an opaque bitmap. CMYK/YCCK become RGB as R = (255 - C) * (255 - K) / 255 (and likewise G from M,
// B from Y), after undoing Adobe's inversion. Throws EJPEGError for corrupt or unsupported data (recoverable
// damage such as a truncated scan leaves libjpeg's gray fill and does not throw), ELimitExceeded for a picture
// over the bitmap size limits or with more scans than any encoder writes.
TkxBitmap DecodeJPEG(const uint8_t* data, size_t size);
inline TkxBitmap DecodeJPEG(const std::vector<uint8_t>& data) { return DecodeJPEG(data.data(), data.size()); }

// Baseline JPEG, 8-bit YCbCr with libjpeg's default 2x2 chroma subsampling, at quality 1..100 (clamped).
// Alpha is composited over white. Throws EJPEGError for an empty bitmap.
std::vector<uint8_t> EncodeJPEG(const TkxBitmap& bitmap, int quality);

// The colour of one CMYK sample as stored (inverted when adobeInverted), as 0xFFRRGGBB.
uint32_t JPEGCMYKToARGB(uint8_t c, uint8_t m, uint8_t y, uint8_t k, bool adobeInverted);

// A JPEG picture held as its file data, which is written back unchanged.
class TkxJPEGImage {
 public:
  TkxJPEGImage() = default;
  // Keeps the data; reads the header when it can. Never throws for bad data: Valid() tells.
  void LoadFromData(std::vector<uint8_t> data);
  // Replaces the data by the bitmap encoded at quality.
  void Assign(const TkxBitmap& bitmap, int quality);
  const std::vector<uint8_t>& Data() const { return data_; }
  bool Empty() const { return data_.empty(); }
  bool Valid() const { return valid_; }
  const TkxJPEGInfo& Info() const { return info_; }
  int Width() const { return info_.Width; }
  int Height() const { return info_.Height; }
  // The decoded picture, decoded at the first call. Throws as DecodeJPEG.
  const TkxBitmap& Bitmap() const;

 private:
  std::vector<uint8_t> data_;
  TkxJPEGInfo info_;
  bool valid_ = false;
  mutable TkxBitmap bitmap_;
  mutable bool decoded_ = false;
};

}  // namespace pw
