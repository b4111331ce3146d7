// Preferences of the RTF engine.
#pragma once

#include "engine/kxPreferences.h"

namespace pw {

class TkxRTFPreferences : public TkxPlainSheetPreferences {
 public:
  TkxRTFPreferences() = default;
  TkxRTFPreferences(const TkxRTFPreferences& source) : TkxPlainSheetPreferences(source) {
    graphicDataInBinary_ = source.graphicDataInBinary_;
    metafileAsImage_ = source.metafileAsImage_;
  }
  TkxRTFPreferences& operator=(const TkxRTFPreferences& source) {
    Assign(source);
    return *this;
  }
  void Assign(const TkxPreferences& source) override;

  // Picture data as raw bytes after \bin instead of hexadecimal text
  // (default false).
  bool GraphicDataInBinary() const { return graphicDataInBinary_; }
  void SetGraphicDataInBinary(bool v) { graphicDataInBinary_ = v; }
  // Store a whole page recording as one picture (default false).
  bool MetafileAsImage() const { return metafileAsImage_; }
  void SetMetafileAsImage(bool v) { metafileAsImage_ = v; }

 private:
  bool graphicDataInBinary_ = false;
  bool metafileAsImage_ = false;
};

}  // namespace pw
