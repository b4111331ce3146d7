#include "platform/kxScreen.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace pw {

int TkxScreen::ParsePPI(const char* value) {
  if (value == nullptr || *value < '0' || *value > '9') return kDefaultPPI;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(value, &end, 10);
  if (errno != 0 || end == value || *end != '\0') return kDefaultPPI;
  if (v < kMinPPI || v > kMaxPPI) return kDefaultPPI;
  return static_cast<int>(v);
}

int TkxScreen::PPI() {
  static const int ppi = ParsePPI(std::getenv("PAPERWRIGHT_PPI"));
  return ppi;
}

int TkxScreen::GetDeviceCaps(int index) {
  const int ppi = PPI();
  switch (index) {
    case HORZSIZE: return static_cast<int>(std::lrint(kWidthPx * 25.4 / ppi));
    case VERTSIZE: return static_cast<int>(std::lrint(kHeightPx * 25.4 / ppi));
    case HORZRES: return kWidthPx;
    case VERTRES: return kHeightPx;
    case BITSPIXEL: return 32;
    case PLANES: return 1;
    case LOGPIXELSX:
    case LOGPIXELSY: return ppi;
    default: return 0;
  }
}

}  // namespace pw
