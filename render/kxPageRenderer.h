// Drawing a page of a loaded document: its content streams gathered and
// decoded, the page geometry (crop box, rotation) turned into the transform
// from default page space to the canvas, and the interpreter run on the
// canvas's graphics object.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pdf/kxPDFDoc.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxGraphics.h"
#include "render/kxDocumentFonts.h"

namespace pw {

// The whole content of a page: /Contents as one stream, or the streams of an
// array joined by line breaks (so that no token spans two parts). A part that
// cannot be decoded is left out; a page without contents gives no bytes.
std::vector<uint8_t> GetPageContent(TkxCustomPDFDocument& doc, int page);

struct TkxPageGeometry {
  std::array<double, 4> Box{0, 0, 612, 792};  // crop box (else media box): llx lly urx ury
  int Rotation = 0;                           // 0, 90, 180, 270 (clockwise)
  double Width = 612, Height = 792;           // the drawn page in points, rotation applied
  // Default page space to the canvas in points (y down, the box's upper-left
  // corner at 0 0 after rotation).
  TkxMatrix Transform;
};

// Geometry of a page (1-based); raises EInvalidPageError for a bad number.
TkxPageGeometry GetPageGeometry(const TkxCustomPDFDocument& doc, int page);

// Draws page `page` (1-based) on g: page unit points, the content run with the
// page's resources. Content errors are skipped; errors of the document layer
// that concern the whole page (a bad page number) are raised. With fonts, the
// fonts the page names by reference are taken from (and kept in) it. Without
// pictures, images are neither decoded nor drawn (for a reader that only
// wants the text).
void RenderPage(TkxCustomPDFDocument& doc, int page, TkxGraphics& g, TkxDocumentFonts* fonts = nullptr,
                bool pictures = true);
// The same on a recording canvas, with a graphics object of its own.
void RenderPage(TkxCustomPDFDocument& doc, int page, TkxEmfRecorder& canvas, TkxDocumentFonts* fonts = nullptr,
                bool pictures = true);

// The text information handed to OnRenderText (kept for the component's
// published interface; rendering never raises the event).
class TkxTextInfo {};
using TkxOnRenderTextEvent = std::function<void(TkxComponent* sender, TkxTextInfo& info, int& fontStyle,
                                                std::u16string& text, int32_t& textColor)>;

// The document with page drawing.
class TkxExProPDFDocument : public TkxPDFDocument {
 public:
  // Pages drawn here share their fonts (loaded once for the document).
  void RenderPage(int page, TkxEmfRecorder& canvas, bool pictures = true) {
    pw::RenderPage(*this, page, canvas, &fonts_, pictures);
  }
  void RenderPage(int page, TkxGraphics& g) { pw::RenderPage(*this, page, g, &fonts_); }
  std::vector<uint8_t> GetPageContent(int page) { return pw::GetPageContent(*this, page); }

  TkxOnRenderTextEvent OnRenderText;  // not raised
  bool CustomRenderText = false;      // not consulted

 private:
  TkxDocumentFonts fonts_;
};

}  // namespace pw
