#include "engine/kxCustomPlainsheetEngine.h"

namespace pw {

std::string StripExtension(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
  return name.substr(0, dot);
}

TkxCustomPlainsheetEngine::TkxCustomPlainsheetEngine() { RecreatePreferences(); }

std::unique_ptr<TkxPreferences> TkxCustomPlainsheetEngine::PreferencesClass() const {
  return std::make_unique<TkxPlainSheetPreferences>();
}

void TkxCustomPlainsheetEngine::SetFileName(const std::string& name) {
  if (DocumentOpen()) return;
  fileName_ = StripExtension(name);
}

void TkxCustomPlainsheetEngine::BeginDoc() {
  if (DocumentOpen()) return;
  toc_ = std::make_unique<std::vector<TkxTOCItem>>();
  TkxCustomDocumentEngine::BeginDoc();
}

void TkxCustomPlainsheetEngine::EndDoc() {
  struct FreeToc {
    std::unique_ptr<std::vector<TkxTOCItem>>& toc;
    ~FreeToc() { toc.reset(); }
  } freeToc{toc_};
  TkxCustomDocumentEngine::EndDoc();
}

bool TkxCustomPlainsheetEngine::ParentOk(int parentIndex) const {
  return toc_ && parentIndex >= -1 && parentIndex < static_cast<int>(toc_->size());
}

int TkxCustomPlainsheetEngine::AddTOCEntry(const std::u16string& title, int parentIndex, int value1, int value2,
                                           int pageNumber) {
  if (!DocumentOpen() || !ParentOk(parentIndex) || pageNumber < 1 || pageNumber > PageCount()) return -1;
  toc_->push_back({title, pageNumber, parentIndex, value1, value2, {}});
  return static_cast<int>(toc_->size()) - 1;
}

int TkxCustomPlainsheetEngine::AddTOCLink(const std::u16string& title, int parentIndex, const std::string& link) {
  if (!DocumentOpen() || !ParentOk(parentIndex)) return -1;
  toc_->push_back({title, 0, parentIndex, 0, 0, link});
  return static_cast<int>(toc_->size()) - 1;
}

}  // namespace pw
