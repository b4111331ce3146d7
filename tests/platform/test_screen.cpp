#include "platform/kxScreen.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace pw {
namespace {

// The resolution is read once; set it before anything in this process asks.
const bool kPpiSet = (setenv("PAPERWRIGHT_PPI", "120", 1), true);

TEST(Screen, PpiFromTheEnvironmentWithFallback) {
  const struct {
    const char* value;
    int ppi;
  } cases[] = {{nullptr, 96}, {"", 96},     {"120", 120},   {"96", 96},   {"144", 144},
               {"abc", 96},   {"120x", 96}, {" 120", 96},   {"-120", 96}, {"0", 96},
               {"23", 96},    {"24", 24},   {"2400", 2400}, {"2401", 96}, {"99999999999999999999", 96},
               {"12.5", 96}};
  for (const auto& c : cases) EXPECT_EQ(TkxScreen::ParsePPI(c.value), c.ppi) << (c.value ? c.value : "(unset)");
}

TEST(Screen, DeviceCapsReportTheResolution) {
  ASSERT_TRUE(kPpiSet);
  EXPECT_EQ(TkxScreen::PPI(), 120);
  EXPECT_EQ(TkxScreen::GetDeviceCaps(TkxScreen::LOGPIXELSX), 120);
  EXPECT_EQ(TkxScreen::GetDeviceCaps(TkxScreen::LOGPIXELSY), 120);
  EXPECT_EQ(TkxScreen::GetDeviceCaps(TkxScreen::HORZSIZE), 406);  // 1920 px at 120 per inch
  EXPECT_EQ(TkxScreen::GetDeviceCaps(TkxScreen::VERTRES), TkxScreen::kHeightPx);
  EXPECT_EQ(TkxScreen::GetDeviceCaps(-1), 0);
}

}  // namespace
}  // namespace pw
