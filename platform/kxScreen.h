// The screen as reference device: its logical resolution (PPI) and the
// device capabilities the converter asks of it. The resolution is 96 unless
// the environment variable PAPERWRIGHT_PPI gives another whole number in
// [TkxScreen::kMinPPI, TkxScreen::kMaxPPI]; anything else falls back to 96.
// It is read once, at first use.
#pragma once

namespace pw {

class TkxScreen {
 public:
  // GetDeviceCaps indices (Windows values).
  static constexpr int HORZSIZE = 4;  // width in millimetres
  static constexpr int VERTSIZE = 6;  // height in millimetres
  static constexpr int HORZRES = 8;   // width in pixels
  static constexpr int VERTRES = 10;  // height in pixels
  static constexpr int BITSPIXEL = 12;
  static constexpr int PLANES = 14;
  static constexpr int LOGPIXELSX = 88;
  static constexpr int LOGPIXELSY = 90;

  static constexpr int kDefaultPPI = 96;
  static constexpr int kMinPPI = 24;
  static constexpr int kMaxPPI = 2400;
  // The pixel size of the virtual screen (what HORZRES/VERTRES report).
  static constexpr int kWidthPx = 1920;
  static constexpr int kHeightPx = 1080;

  // Logical pixels per inch, both directions.
  static int PPI();
  // Value of one capability; 0 for an index not listed above.
  static int GetDeviceCaps(int index);
  // The resolution a PAPERWRIGHT_PPI value stands for (nullptr, empty,
  // non-numeric, trailing junk or out of range give kDefaultPPI).
  static int ParsePPI(const char* value);
};

}  // namespace pw
