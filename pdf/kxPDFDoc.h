// The PDF document: loading, decryption and the page list of
// TkxCustomPDFDocument, adding nothing. Its pages are drawn by the free
// RenderPage functions of render/, or by TkxExProPDFDocument, which also
// keeps the fonts of the document between pages.
#pragma once

#include "pdf/kxCstPDFDoc.h"

namespace pw {

class TkxPDFDocument : public TkxCustomPDFDocument {
 public:
  TkxPDFDocument() = default;
};

}  // namespace pw
