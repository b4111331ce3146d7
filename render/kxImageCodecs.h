// Picture codecs of the PDF filters that carry whole encoded pictures:
// JPEG 2000 (/JPXDecode, through OpenJPEG) and JBIG2 (/JBIG2Decode, through
// jbig2dec).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pdf/kxClasses.h"

namespace pw {

// Raised when a codec refuses its data; the message says why.
class EImageCodecError : public Exception {
 public:
  explicit EImageCodecError(const std::string& msg) : Exception(msg) {}
};

// Decoded samples: Components bytes per pixel, rows from the top.
struct TkxDecodedImage {
  int Width = 0;
  int Height = 0;
  int Components = 0;
  // The last component is an alpha channel (JPEG 2000 only).
  bool HasAlpha = false;
  // JPEG 2000: the colour space the file names (0 unknown, 1 gray, 2 sRGB,
  // 3 CMYK, 4 YCC), which decides how its components read.
  int ColorSpace = 0;
  std::vector<uint8_t> Samples;
};

// Decodes a JPEG 2000 code stream or JP2 file. Components of any precision
// become 8 bits; subsampled components are spread over the full size.
// maxPixels bounds width x height. Throws EImageCodecError.
TkxDecodedImage DecodeJPX(const uint8_t* data, size_t size, int64_t maxPixels);

// Decodes an embedded JBIG2 page, with the global segments (may be empty).
// Samples are one byte per pixel, 1 for black and 0 for white, as the JBIG2
// data gives them. Throws EImageCodecError.
TkxDecodedImage DecodeJBIG2(const uint8_t* data, size_t size, const std::vector<uint8_t>& globals, int64_t maxPixels);

}  // namespace pw
