#include "app/pwDocumentAdapter.h"

#include <new>

namespace pw {

TpwDocumentAdapter::TpwDocumentAdapter() {
  document_.OnPassword = [this](TkxComponent*, std::string& password, bool& cont, int tries) {
    if (passwordHandler_)
      passwordHandler_(password, cont, tries);
    else
      cont = false;
  };
  document_.OnStatusMessage = [this](TkxComponent*, const std::string& message) {
    if (statusHandler_) statusHandler_(message);
  };
}

TpwDocumentAdapter::~TpwDocumentAdapter() {
  document_.OnPassword = nullptr;
  document_.OnStatusMessage = nullptr;
}

bool TpwDocumentAdapter::LoadFromFile(const std::string& fileName) {
  passwordRejected_ = false;
  lastError_.clear();
  try {
    document_.LoadFromFile(fileName);
  } catch (const EPasswordError& e) {
    passwordRejected_ = true;
    lastError_ = e.what();
    return false;
  } catch (const std::bad_alloc&) {
    lastError_ = "out of memory";
    throw;
  } catch (const std::exception& e) {
    lastError_ = e.what();
    throw;
  }
  return true;
}

std::array<double, 4> TpwDocumentAdapter::GetPageMediaBox(int page) {
  if (page < 1 || page > document_.PageCount()) return {0, 0, 612, 792};
  return document_.GetPageMediaBox(page);
}

int TpwDocumentAdapter::GetPageRotation(int page) {
  if (page < 1 || page > document_.PageCount()) return 0;
  return document_.GetPageRotation(page);
}

}  // namespace pw
