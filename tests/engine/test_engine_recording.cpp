// Drawing on the page canvas of a real engine: the recording is walked at
// page end and its text reaches the writer, moved to the reference rectangle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kxCustomDocumentEngine.h"
#include "platform/kxEmf.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxScreen.h"

using namespace pw;

namespace {

struct Written {
  std::u16string text;
  double x, y;
  std::string font;
  bool operator==(const Written&) const = default;
};

class TextProbe : public TkxCustomDocumentEngine {
 public:
  std::vector<Written> texts;
  bool lineMode = false;
  using TkxCustomDocumentEngine::SetOutputCapabilities;

 protected:
  void BeginDocOutput() override { SetLineMode(lineMode); }
  void WriteText(TkxTextItem& item) override { texts.push_back({item.FirstLine(), item.X, item.Y, item.Font.Name()}); }
};

void DrawWord(TkxEmfRecorder& canvas, int32_t x, int32_t y, std::u16string_view word) {
  TkxLogFontW f;
  f.lfFaceName = u"Arial";
  f.lfHeight = -16;
  canvas.UseFont(f);
  canvas.SetTextAlign(0);  // top left
  canvas.ExtTextOutW({x, y}, 0, {0, 0, -1, -1}, word, {}, {x, y, x + 40, y + 16});
}

}  // namespace

TEST(EngineRecording, CanvasTextReachesTheWriterAtTheReferenceRectangle) {
  struct Case {
    bool lineMode;
    TkxReferencePoint reference;
    double dx, dy;  // expected offsets: left margin, top margin plus header
  };
  const Case cases[] = {
      {false, rpBand, 20, 30 + 12},
      {true, rpBand, 20, 30 + 12},
      {false, rpMargin, 20, 30},
      {false, rpPage, 0, 0},
  };
  for (const Case& c : cases) {
    TextProbe e;
    e.lineMode = c.lineMode;
    e.SetMeasurementUnit(muPixels);
    e.SetReferencePoint(c.reference);
    e.Page().SetLeftMargin(20);
    e.Page().SetTopMargin(30);
    e.Page().SetHeaderHeight(12);
    e.BeginDoc();
    ASSERT_NE(e.PageCanvas(), nullptr);
    DrawWord(*e.PageCanvas(), 50, 60, u"Hello");
    e.EndDoc();
    const std::vector<Written> expected = {{u"Hello", 50 + c.dx, 60 + c.dy, "Arial"}};
    EXPECT_EQ(e.texts, expected) << c.lineMode << " " << c.reference;
  }
}

TEST(EngineRecording, TextIsLeftOutWhenNotWantedOrNotWritable) {
  for (int variant = 0; variant < 2; ++variant) {
    TextProbe e;
    e.SetMeasurementUnit(muPixels);
    if (variant == 0)
      e.SetItemsToRender({TkxItemsToRenderKind::irImage, TkxItemsToRenderKind::irShape});
    else
      e.SetOutputCapabilities(ocImages | ocShapes);
    e.BeginDoc();
    DrawWord(*e.PageCanvas(), 5, 5, u"Gone");
    e.EndDoc();
    EXPECT_TRUE(e.texts.empty()) << variant;
  }
}

TEST(EngineRecording, DrawingAtAnotherResolutionIsScaledOnce) {
  // The canvas is meant at the input resolution; the engine replays it at
  // the screen's, and the walk must not scale it a second time.
  for (const int factor : {2, 3}) {
    TextProbe e;
    const int ppi = TkxScreen::PPI();
    e.SetInputXRes(ppi * factor);
    e.SetInputYRes(ppi * factor);
    e.SetMeasurementUnit(muPixels);
    e.SetReferencePoint(rpPage);
    e.BeginDoc();
    DrawWord(*e.PageCanvas(), 60 * factor, 90 * factor, u"Scaled");
    e.EndDoc();
    ASSERT_EQ(e.texts.size(), 1u) << factor;
    EXPECT_NEAR(e.texts[0].x, 60, 0.5) << factor;
    EXPECT_NEAR(e.texts[0].y, 90, 0.5) << factor;
  }
}
