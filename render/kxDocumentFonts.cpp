#include "render/kxDocumentFonts.h"

#include <algorithm>

#include "platform/kxFontManager.h"
#include "render/kxTextDrawing.h"

namespace pw {

TkxDocumentFonts::TkxDocumentFonts() = default;
TkxDocumentFonts::~TkxDocumentFonts() { Clear(); }

void TkxDocumentFonts::UseFor(int32_t documentId) {
  if (documentId == documentId_) return;
  Clear();
  documentId_ = documentId;
}

TkxTextFont* TkxDocumentFonts::Use(int32_t number, uint16_t generation) {
  auto it = fonts_.find({number, generation});
  if (it == fonts_.end()) return nullptr;
  const int reg = it->second.registration;
  if (reg > 0 && std::find(inUse_.begin(), inUse_.end(), reg) == inUse_.end()) {
    TkxFontManager::Instance().SetRegistrationActive(reg, true);
    inUse_.push_back(reg);
  }
  return it->second.font.get();
}

TkxTextFont* TkxDocumentFonts::Keep(int32_t number, uint16_t generation, std::unique_ptr<TkxTextFont> font,
                                    std::unique_ptr<TkxPDFFontObject> object) {
  Entry& e = fonts_[{number, generation}];
  e.font = std::move(font);
  e.registration = object ? object->Registration() : 0;
  if (e.registration > 0) inUse_.push_back(e.registration);
  if (object) objects_.Add(std::move(object));
  return e.font.get();
}

void TkxDocumentFonts::EndPage() {
  for (int reg : inUse_) TkxFontManager::Instance().SetRegistrationActive(reg, false);
  inUse_.clear();
}

void TkxDocumentFonts::Clear() {
  // The text fonts refer to the font objects: they go first.
  fonts_.clear();
  objects_.Clear();
  inUse_.clear();
}

}  // namespace pw
