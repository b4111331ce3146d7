// Pictures of a page: image XObjects and inline images read from their
// dictionaries, decoded through every filter (JPEG data kept as it is where
// it can be drawn unchanged, JPEG 2000, JBIG2, CCITT fax, and the sample
// filters), turned from their colour space into RGB with their masks as
// alpha, and drawn into the unit square of the current transformation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/kxPDFObjects.h"
#include "platform/kxBitmap.h"
#include "platform/kxGraphics.h"
#include "render/kxContentLexer.h"

namespace pw {

class TkxCustomPDFDocument;

// Largest picture decoded at its own size; a larger one is read at every
// n-th sample so that it stays within this many pixels.
constexpr int64_t kMaxImagePixels = int64_t{16} * 1024 * 1024;

// The result of loading one image.
struct TkxPDFImageItem {
  // PictureKind 1: the picture's pixels (with alpha when it has a mask).
  TkxBitmap Picture;
  // PictureKind 2: JPEG data as the file holds it, drawn unchanged.
  std::vector<uint8_t> JPEGData;
  int Width = 0;            // /Width
  int Height = 0;           // /Height
  std::string Name;         // resource name with its "/"
  uint8_t PictureKind = 0;  // 0 none, 1 bitmap, 2 JPEG
  // What was wrong with the image, for a warning: why it was left out, or
  // what is missing from the picture that was made (empty when nothing).
  std::string Problem;
};

class TkxImageLoader {
 public:
  TkxImageLoader(TkxCustomPDFDocument& doc, const TkxPDFDictObject* resources) : doc_(doc), resources_(resources) {}

  // An image XObject. fillRGB paints image masks. keepJPEG: JPEG data that
  // needs no conversion may stay JPEG data (PictureKind 2).
  TkxPDFImageItem LoadXObject(const TkxPDFStreamObject& image, const std::string& name, uint32_t fillRGB,
                              bool keepJPEG);
  // An inline image: its dictionary (abbreviated keys and names allowed)
  // and its data.
  TkxPDFImageItem LoadInline(const TkxOperand& dict, std::string_view data, uint32_t fillRGB, bool keepJPEG);

 private:
  TkxPDFImageItem Load(const TkxPDFDictObject& dict, const std::vector<uint8_t>& raw, uint32_t fillRGB, bool keepJPEG,
                       bool isInline);

  TkxCustomPDFDocument& doc_;
  const TkxPDFDictObject* resources_;
};

// The dictionary of an inline image with its keys and names written out
// in full (W -> /Width, /G -> /DeviceGray, /Fl -> /FlateDecode ...).
std::unique_ptr<TkxPDFDictObject> ExpandInlineImageDict(const TkxOperand& dict);

// Draws a loaded picture into the unit square of toDevice (image space:
// the picture's first row at the top, y = 1) with the fill alpha.
void DrawPDFImage(TkxGraphics& g, const TkxPDFImageItem& item, const TkxMatrix& toDevice, double alpha);

// Whether toDevice maps the unit square onto an upright rectangle (no
// rotation or shear), so that JPEG data can be drawn unchanged.
bool IsUprightPlacement(const TkxMatrix& toDevice);

}  // namespace pw
