#include "engine/kxMetafileProcessor.h"

#include "engine/kxCustomDocumentEngine.h"

namespace pw {

TkxMetafileProcessor::TkxMetafileProcessor(TkxCustomDocumentEngine& engine) : engine_(engine) {
  using K = TkxItemsToRenderKind;
  const TkxItemsToRender items = engine.ItemsToRender();
  const uint16_t caps = engine.OutputCapabilities();
  renderText_ = items.Contains(K::irText) && (caps & ocText);
  renderImages_ = items.Contains(K::irImage) && (caps & ocImages);
  renderShapes_ = items.Contains(K::irShape) && (caps & ocShapes);
  items_ = engine.CurrentItemList();
  textItems_ = engine.LineMode() ? engine.CurrentLineTextList() : nullptr;
}

void TkxMetafileProcessor::ProcessMetafile(const TkxMetafile& metafile, double offsetX, double offsetY) {
  offsetX_ = offsetX;
  offsetY_ = offsetY;
  metafile.EnumerateRecords([this](const TkxEmfRecord& record) {
    ProcessRecord(record);
    return true;
  });
}

void TkxMetafileProcessor::ProcessRecord(const TkxEmfRecord& record) {
  ++recordCount_;
  switch (record.Type()) {
    case EMR_EOF:
      DoEOF(record);
      break;
    default:
      break;  // not (yet) turned into items
  }
}

void TkxMetafileProcessor::AppendText(std::unique_ptr<TkxTextItem> item) {
  if (textItems_)
    textItems_->push_back(std::move(item));
  else
    AppendItem(std::move(item));
}

void TkxMetafileProcessor::AppendItem(std::unique_ptr<TkxDocumentItem> item) {
  if (items_) items_->push_back(std::move(item));
}

void TkxMetafileProcessor::DoEOF(const TkxEmfRecord&) {
  auto eof = std::make_unique<TkxEOFItem>();
  eof->Flag = 1;
  AppendItem(std::move(eof));
  clipActive_ = false;
}

}  // namespace pw
