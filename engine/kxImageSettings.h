// Picture output settings: the format pictures are written in, their
// resolution and pixel format, the JPEG quality, and how a picture is fitted
// into its box.
#pragma once

#include <string>

#include "platform/kxGraphicsObjects.h"

namespace pw {

enum TkxOutputImageFormat : int { ifBMP = 0, ifJPEG, ifGIF, ifPNG, ifMetafile, ifCCITT3, ifCCITT4 };

// What an engine that owns image settings answers when the format changes.
class TkxImageSettingsOwner {
 public:
  virtual ~TkxImageSettingsOwner() = default;
  // False, with the reason in message, for a format the engine cannot write.
  virtual bool IsImageFormatSupported(TkxOutputImageFormat format, std::string& message) = 0;
  // Tells the user about a refused setting (an error message box with an OK
  // button in the desktop program).
  virtual void ShowErrorMessageBox(const std::string& message) = 0;
};

class TkxImageSettings {
 public:
  // SourceDPI at the screen resolution, JPEG output at quality 100, 24-bit
  // bitmaps, every fitting option off, no owner.
  TkxImageSettings();
  explicit TkxImageSettings(TkxImageSettingsOwner* owner);
  // A copy of the values without the owner.
  TkxImageSettings(const TkxImageSettings& source);
  // Same as Assign: the owner stays.
  TkxImageSettings& operator=(const TkxImageSettings& source);
  ~TkxImageSettings() = default;

  // Copies every value; the format goes through the owner's check.
  void Assign(const TkxImageSettings& source);

  // Resolution the picture pixels are meant at; -1: use them as they are.
  int SourceDPI = 0;
  TPixelFormat ImagePixelFormat = pf24bit;
  // Draw the picture centred in its box at its natural size.
  bool CenterImage = false;
  // Stretch the picture over its box.
  bool StretchImage = false;
  // Let the engine scale the picture to its box.
  bool ScaleToFit = false;
  // The colour of the item's brush becomes transparent.
  bool TransparentImage = false;
  // Frame the picture with the engine's frame and pen.
  bool FrameImage = false;

  TkxOutputImageFormat OutputImageFormat() const { return format_; }
  // With an owner, a format the owner refuses is reported through its
  // message box and the format stays as it was. Returns whether it was set.
  bool SetOutputImageFormat(TkxOutputImageFormat format);
  int JPEGQuality() const { return jpegQuality_; }
  // Kept within 1..100.
  void SetJPEGQuality(int quality);

  TkxImageSettingsOwner* Owner() const { return owner_; }
  void SetOwner(TkxImageSettingsOwner* owner) { owner_ = owner; }

 private:
  TkxOutputImageFormat format_ = ifJPEG;
  int jpegQuality_ = 100;
  TkxImageSettingsOwner* owner_ = nullptr;
};

}  // namespace pw
