#include "engine/kxImageSettings.h"

#include "platform/kxScreen.h"

namespace pw {

TkxImageSettings::TkxImageSettings() : SourceDPI(TkxScreen::PPI()) {}

TkxImageSettings::TkxImageSettings(TkxImageSettingsOwner* owner) : TkxImageSettings() { owner_ = owner; }

TkxImageSettings::TkxImageSettings(const TkxImageSettings& source) : TkxImageSettings() { Assign(source); }

TkxImageSettings& TkxImageSettings::operator=(const TkxImageSettings& source) {
  Assign(source);
  return *this;
}

void TkxImageSettings::Assign(const TkxImageSettings& source) {
  if (&source == this) return;
  SourceDPI = source.SourceDPI;
  ImagePixelFormat = source.ImagePixelFormat;
  CenterImage = source.CenterImage;
  StretchImage = source.StretchImage;
  ScaleToFit = source.ScaleToFit;
  TransparentImage = source.TransparentImage;
  FrameImage = source.FrameImage;
  jpegQuality_ = source.jpegQuality_;
  SetOutputImageFormat(source.format_);
}

bool TkxImageSettings::SetOutputImageFormat(TkxOutputImageFormat format) {
  if (format < ifBMP || format > ifCCITT4) return false;
  if (owner_) {
    std::string message;
    if (!owner_->IsImageFormatSupported(format, message)) {
      owner_->ShowErrorMessageBox(message);
      return false;
    }
  }
  format_ = format;
  return true;
}

void TkxImageSettings::SetJPEGQuality(int quality) { jpegQuality_ = quality < 1 ? 1 : (quality > 100 ? 100 : quality); }

}  // namespace pw
