// Pictures in RTF: the picture group ("{\pict ...}") in each output format
// (JPEG, PNG, a bitmap wrapped in a Windows metafile, an enhanced
// metafile) with hexadecimal or binary data, the positioned paragraph that
// carries an image item, the PNG writer and the metafile wrapper for
// bitmaps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/kxGraphic.h"
#include "engine/kxImageSettings.h"
#include "platform/kxGraphicsObjects.h"

namespace pw {

// A PNG file of the bitmap: 8-bit RGB (alpha composited over white), the
// transparent colour in a tRNS chunk, the rows deflated at the best
// compression and cut into IDAT chunks of 10240 bytes.
std::vector<uint8_t> WritePNG(const TkxBitmap& bitmap, TColor transparent);

// The Windows-metafile header (as hexadecimal text, closed by CR LF) of a
// metafile holding one stretch-DIB record of the bitmap; the DIB (header
// and bits) goes into dib. The hexadecimal DIB and "030000000000" complete
// the metafile.
std::string WrapBitmapInWMF(const TkxBitmap& bitmap, std::vector<uint8_t>& dib);

// Largest picture written at its own resolution; a larger one is written
// scaled down to this many pixels (keeping its proportions).
constexpr int64_t kMaxPicturePixels = int64_t{16} * 1024 * 1024;

// How pictures are written.
struct TkxRTFPictureOptions {
  TkxOutputImageFormat Format = ifJPEG;
  int Quality = 100;
  bool Binary = false;
  double TwipsPerPixel = 15;
  int PPI = 96;
  // Resolution the picture's pixels are meant at; -1 or 0: at PPI.
  int SourceDPI = -1;
};

// What goes between "{\pict" and "}" for a picture shown width x height
// engine pixels large: blip word, sizes, data. Empty when the picture has
// nothing to show.
std::string RTFPictureData(const TGraphic& picture, double width, double height, const TkxRTFPictureOptions& o);

}  // namespace pw
