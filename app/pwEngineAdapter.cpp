#include "app/pwEngineAdapter.h"

#include "app/pwDocumentAdapter.h"

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

void TpwEngineAdapter::SetItemsToRender(int items) {
  engine_.SetItemsToRender(TkxItemsToRender::FromMask(items));
}

void TpwEngineAdapter::SetPaperSize(int paperCode) { engine_.Page().SetPaperSize(PaperSizeFromInt(paperCode)); }

void TpwEngineAdapter::SetLandscape(bool landscape) {
  engine_.Page().SetOrientation(landscape ? poLandscape : poPortrait);
}

void TpwEngineAdapter::SetOutputImageFormat(int formatCode) {
  engine_.ImageSettings().SetOutputImageFormat(static_cast<TkxOutputImageFormat>(formatCode));
}

void TpwEngineAdapter::SetJPEGQuality(int quality) { engine_.ImageSettings().SetJPEGQuality(quality); }

void TpwEngineAdapter::RenderPage(IpwDocument& document, int page) {
  auto* adapter = dynamic_cast<TpwDocumentAdapter*>(&document);
  TkxEmfRecorder* canvas = engine_.PageCanvas();
  if (!adapter || !canvas) return;
  adapter->Document().RenderPage(page, *canvas);
}

}  // namespace pw
