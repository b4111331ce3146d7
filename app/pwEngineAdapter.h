// The RTF engine as the conversion driver sees it, set up the way the
// converter always uses it.
#pragma once

#include <string>

#include "app/pwConversionDriver.h"
#include "rtf/kxRTFEngine.h"

namespace pw {

class TpwEngineAdapter : public IpwEngine {
 public:
  // `view` (may be null) gets ProcessPendingEvents from the engine's
  // document and page notifications.
  explicit TpwEngineAdapter(TpwDriverView* view = nullptr);
  ~TpwEngineAdapter() override;

  void SetInputRes(int x, int y) override;
  void SetItemsToRender(TkxItemsToRender items) override;
  void SetPaperSize(TkxPaperSize paper) override;
  void SetLandscape(bool landscape) override;
  void SetOutputImageFormat(TkxOutputImageFormat format) override;
  void SetJPEGQuality(int quality) override;
  void SetFileName(const std::string& fileName) override { engine_.SetFileName(fileName); }
  void SetDrawnPageSize(double width, double height, bool paperFromPage) override;
  void BeginDoc() override {
    engine_.BeginDoc();
    engine_.SetContentScale(pendingScaleX_, pendingScaleY_);
    engine_.SetContentOffsetY(pendingOffsetY_);
  }
  void NewPage() override {
    engine_.NewPage();
    engine_.SetContentScale(pendingScaleX_, pendingScaleY_);
    engine_.SetContentOffsetY(pendingOffsetY_);
  }
  void SetActivePage(int page) override { engine_.SetActivePage(page); }
  int PageCount() override { return engine_.PageCount(); }
  // `document` must be a TpwDocumentAdapter; anything else draws nothing.
  void RenderPage(IpwDocument& document, int page) override;
  void EndDoc() override { engine_.EndDoc(); }

  TkxRTFEngine& Engine() { return engine_; }

 private:
  TkxRTFEngine engine_;
  // Scale and downward shift for the drawing of the page that starts next.
  double pendingScaleX_ = 1, pendingScaleY_ = 1, pendingOffsetY_ = 0;
};

}  // namespace pw
