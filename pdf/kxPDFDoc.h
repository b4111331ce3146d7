// The document class the application uses. Drawing pages is added on top of
// the loading and page-list behaviour of TkxCustomPDFDocument.
#pragma once

#include "pdf/kxCstPDFDoc.h"

namespace pw {

class TkxPDFDocument : public TkxCustomPDFDocument {
 public:
  TkxPDFDocument() = default;
};

}  // namespace pw
