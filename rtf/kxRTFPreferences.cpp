#include "rtf/kxRTFPreferences.h"

namespace pw {

void TkxRTFPreferences::Assign(const TkxPreferences& source) {
  TkxPlainSheetPreferences::Assign(source);
  if (auto* s = dynamic_cast<const TkxRTFPreferences*>(&source)) {
    graphicDataInBinary_ = s->graphicDataInBinary_;
    metafileAsImage_ = s->metafileAsImage_;
  }
}

}  // namespace pw
