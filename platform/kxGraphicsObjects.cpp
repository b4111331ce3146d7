#include "platform/kxGraphicsObjects.h"

#include <iterator>

#include "platform/kxScreen.h"

namespace pw {

namespace {

// There is no desktop colour scheme to ask on this platform; system colours
// take the values of the stock Windows 7 theme.
struct RGBTriple {
  uint8_t r, g, b;
};
constexpr RGBTriple kSysColors[] = {
    {200, 200, 200},  // 0 scroll bar
    {0, 0, 0},        // 1 desktop background
    {153, 180, 209},  // 2 active caption
    {191, 205, 219},  // 3 inactive caption
    {240, 240, 240},  // 4 menu
    {255, 255, 255},  // 5 window
    {100, 100, 100},  // 6 window frame
    {0, 0, 0},        // 7 menu text
    {0, 0, 0},        // 8 window text
    {0, 0, 0},        // 9 caption text
    {180, 180, 180},  // 10 active border
    {244, 247, 252},  // 11 inactive border
    {171, 171, 171},  // 12 application workspace
    {51, 153, 255},   // 13 highlight
    {255, 255, 255},  // 14 highlight text
    {240, 240, 240},  // 15 button face
    {160, 160, 160},  // 16 button shadow
    {109, 109, 109},  // 17 grey text
    {0, 0, 0},        // 18 button text
    {67, 78, 84},     // 19 inactive caption text
    {255, 255, 255},  // 20 button highlight
    {105, 105, 105},  // 21 3-D dark shadow
    {227, 227, 227},  // 22 3-D light
    {0, 0, 0},        // 23 tooltip text
    {255, 255, 225},  // 24 tooltip background
    {181, 181, 181},  // 25 alternate button face
    {0, 102, 204},    // 26 hot-tracked item
    {185, 209, 234},  // 27 active caption gradient
    {215, 228, 242},  // 28 inactive caption gradient
    {51, 153, 255},   // 29 menu highlight
    {240, 240, 240},  // 30 menu bar
};

}  // namespace

TColor GetSysColor(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kSysColors))) return 0;
  const RGBTriple& c = kSysColors[index];
  return RGBColor(c.r, c.g, c.b);
}

TColor ColorToRGB(TColor c) { return IsSystemColor(c) ? GetSysColor(c & 0xFF) : c; }

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t p = static_cast<int64_t>(a) * b;
  const int64_t ap = p < 0 ? -p : p;
  const int64_t ac = c < 0 ? -static_cast<int64_t>(c) : c;
  int64_t q = (ap + ac / 2) / ac;
  if ((p < 0) != (c < 0)) q = -q;
  if (q > INT32_MAX || q < INT32_MIN) return -1;
  return static_cast<int>(q);
}

TFont::TFont() : name_("MS Sans Serif"), ppi_(TkxScreen::PPI()) { height_ = -MulDiv(8, ppi_, 72); }

void TFont::Assign(const TFont& source) {
  if (&source == this) return;
  name_ = source.name_;
  height_ = source.height_;
  style_ = source.style_;
  charset_ = source.charset_;
  pitch_ = source.pitch_;
  color_ = source.color_;
  if (ppi_ != source.ppi_) SetSize(source.Size());
}

int TFont::Size() const { return -MulDiv(height_, 72, ppi_); }

void TFont::SetSize(int points) { height_ = -MulDiv(points, ppi_, 72); }

void TFont::SetPixelsPerInch(int ppi) {
  if (ppi > 0) ppi_ = ppi;
}

}  // namespace pw
