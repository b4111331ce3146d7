#include "engine/kxMetafileProcessor.h"

#include "engine/kxCustomDocumentEngine.h"
#include "platform/kxScreen.h"

namespace pw {

bool TkxEngineMetafileTarget::Restretched() const {
  const int ppi = TkxScreen::PPI();
  return !(engine_.OutputCapabilities() & ocRecordingAsIs) &&
         (engine_.InputXRes() != ppi || engine_.InputYRes() != ppi);
}

int TkxEngineMetafileTarget::InputXRes() const { return Restretched() ? TkxScreen::PPI() : engine_.InputXRes(); }

int TkxEngineMetafileTarget::InputYRes() const { return Restretched() ? TkxScreen::PPI() : engine_.InputYRes(); }

int TkxEngineMetafileTarget::PPI() const { return TkxScreen::PPI(); }

bool TkxEngineMetafileTarget::LineMode() const { return engine_.LineMode(); }

TkxItemsToRender TkxEngineMetafileTarget::ItemsToRender() const { return engine_.ItemsToRender(); }

uint16_t TkxEngineMetafileTarget::OutputCapabilities() const { return engine_.OutputCapabilities(); }

TkxItemList* TkxEngineMetafileTarget::ItemList() { return engine_.CurrentItemList(); }

TkxTextItemList* TkxEngineMetafileTarget::LineTextList() {
  return engine_.LineMode() ? engine_.CurrentLineTextList() : nullptr;
}

TkxImageTable* TkxEngineMetafileTarget::ImageTable() { return &engine_.ImageTable(); }

const TkxImageSettings* TkxEngineMetafileTarget::ImageSettings() const { return &engine_.ImageSettings(); }

}  // namespace pw
