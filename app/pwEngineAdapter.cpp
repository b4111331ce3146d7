#include "app/pwEngineAdapter.h"

#include <algorithm>
#include <cmath>

#include "app/pwDocumentAdapter.h"
#include "platform/kxScreen.h"

namespace pw {

TpwEngineAdapter::TpwEngineAdapter(TpwDriverView* view) {
  engine_.SetFileExtension("tmp");
  engine_.SetFileDescription("RTF Format");
  engine_.SetMeasurementUnit(muMM);
  engine_.SetReferencePoint(rpBand);

  engine_.Font().SetName("MS Sans Serif");
  engine_.Font().SetHeight(-11);
  engine_.Font().SetCharset(RUSSIAN_CHARSET);

  TkxImageSettings& images = engine_.ImageSettings();
  images.SourceDPI = 96;
  images.SetOutputImageFormat(ifJPEG);
  images.ImagePixelFormat = pfDevice;

  TkxPageSettings& page = engine_.Page();
  page.SetWidth(210.0);
  page.SetHeight(297.000254000508);
  page.SetBinNumber(0);

  TkxRTFPreferences& prefs = engine_.Preferences();
  prefs.SetOpenAfterCreate(false);
  prefs.SetProcessAfterEachPage(true);
  prefs.SetShowSetupDialog(false);
  prefs.SetGraphicDataInBinary(true);
  // Pictures are freed once their page is written, so memory does not grow
  // with the number of pictures.
  prefs.SetUseImagesAsResources(false);
  engine_.SetDocumentEncodingType(etEaseOfEditing);

  if (view) {
    TkxNotifyEvent pump = [view](TkxComponent*) { view->ProcessPendingEvents(); };
    engine_.OnBeforeBeginDoc = pump;
    engine_.OnAfterBeginDoc = pump;
    engine_.OnBeforeEndDoc = pump;
    engine_.OnAfterEndDoc = pump;
    engine_.OnBeforeBeginPage = pump;
    engine_.OnAfterBeginPage = pump;
    engine_.OnBeforeEndPage = pump;
    engine_.OnAfterEndPage = pump;
  }
}

TpwEngineAdapter::~TpwEngineAdapter() = default;

void TpwEngineAdapter::SetInputRes(int x, int y) {
  engine_.SetInputXRes(x);
  engine_.SetInputYRes(y);
}

void TpwEngineAdapter::SetItemsToRender(TkxItemsToRender items) { engine_.SetItemsToRender(items); }

void TpwEngineAdapter::SetPaperSize(TkxPaperSize paper) { engine_.Page().SetPaperSize(paper); }

void TpwEngineAdapter::SetLandscape(bool landscape) {
  engine_.Page().SetOrientation(landscape ? poLandscape : poPortrait);
}

void TpwEngineAdapter::SetDrawnPageSize(double width, double height, bool paperFromPage) {
  width = std::abs(width);
  height = std::abs(height);
  pendingScaleX_ = pendingScaleY_ = 1;
  pendingOffsetY_ = 0;
  if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1) return;
  TkxPageSettings& page = engine_.Page();
  const double ppi = TkxScreen::PPI();
  const double widthPixels = width * ppi / 72, heightPixels = height * ppi / 72;
  if (paperFromPage) {
    // Sizes are kept within what RTF readers take (22 inches is Word's
    // largest page); a larger page is drawn smaller to fit.
    constexpr double kLargestInches = 22;
    const double largest = kLargestInches * ppi;
    const double scale = std::min({1.0, largest / widthPixels, largest / heightPixels});
    page.SetOrientation(width > height ? poLandscape : poPortrait);
    page.SetPaperSize(TkxPaperSize::Custom);
    const double unit = page.UnitFactor();
    page.SetWidth(widthPixels * scale / unit);
    page.SetHeight(heightPixels * scale / unit);
    pendingScaleX_ = pendingScaleY_ = scale;
    return;
  }
  const double unit = page.UnitFactor();
  const double paperWidth = page.Width() * unit, paperHeight = page.Height() * unit;
  // A page of about the paper's shape is made as narrow and as low as the
  // paper, each way on its own, where it is larger: the text keeps its
  // widths by the writer's spacing. In the exact layout a page of about the
  // paper's size (Letter on A4, A4 on Letter) is also made larger where it
  // is smaller, so its margins and every frame keep their share of the
  // page; not in the editing layout, where text at the foot of an enlarged
  // page would run onto another page. A page of another shape is made as
  // small as the paper needs, keeping its shape.
  const double scaleX = paperWidth / widthPixels, scaleY = paperHeight / heightPixels;
  constexpr double kSimilarShape = 1.12;
  if (std::max(scaleX, scaleY) / std::min(scaleX, scaleY) <= kSimilarShape) {
    const bool aboutPaperSize =
        std::max(scaleX, scaleY) <= kSimilarShape && engine_.DocumentEncodingType() == etPositionalAccuracy;
    pendingScaleX_ = aboutPaperSize ? scaleX : std::min(scaleX, 1.0);
    pendingScaleY_ = aboutPaperSize ? scaleY : std::min(scaleY, 1.0);
    // A page lower than the paper (Letter on A4, editing layout) is moved
    // towards its middle, as a printer centres it: the room it leaves is
    // shared between top and foot, and every line stays about its share of
    // the page down (the engine moves a page full to its foot less).
    if (std::max(scaleX, scaleY) <= kSimilarShape && pendingScaleY_ == 1 && scaleY > 1)
      pendingOffsetY_ = (paperHeight - heightPixels) / 2;
    return;
  }
  const double scale = std::min({1.0, scaleX, scaleY});
  pendingScaleX_ = pendingScaleY_ = scale;
}

void TpwEngineAdapter::SetOutputImageFormat(TkxOutputImageFormat format) {
  engine_.ImageSettings().SetOutputImageFormat(format);
}

void TpwEngineAdapter::SetJPEGQuality(int quality) { engine_.ImageSettings().SetJPEGQuality(quality); }

void TpwEngineAdapter::RenderPage(IpwDocument& document, int page) {
  auto* adapter = dynamic_cast<TpwDocumentAdapter*>(&document);
  TkxEmfRecorder* canvas = engine_.PageCanvas();
  if (!adapter || !canvas) return;
  adapter->Document().RenderPage(page, *canvas, engine_.RecordingPicturesUsed());
}

}  // namespace pw
