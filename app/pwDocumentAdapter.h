// The PDF document as the conversion driver sees it.
#pragma once

#include <string>

#include "app/pwConversionDriver.h"
#include "render/kxPageRenderer.h"

namespace pw {

class TpwDocumentAdapter : public IpwDocument {
 public:
  TpwDocumentAdapter();
  ~TpwDocumentAdapter() override;

  void SetPasswordHandler(PasswordHandler handler) override { passwordHandler_ = std::move(handler); }
  void SetStatusHandler(StatusHandler handler) override { statusHandler_ = std::move(handler); }
  // False when the password handler gave up; other failures raise (their
  // text is also kept in LastError).
  bool LoadFromFile(const std::string& fileName) override;
  int PageCount() override { return document_.PageCount(); }
  int GetPageRotation(int page) override;
  std::array<double, 4> GetPageMediaBox(int page) override;
  void DeletePages(const std::string& range) override { document_.DeletePages(range); }

  TkxExProPDFDocument& Document() { return document_; }
  // The last load ended because no password was accepted.
  bool PasswordRejected() const { return passwordRejected_; }
  // What went wrong in the last load; empty after success.
  const std::string& LastError() const { return lastError_; }

 private:
  TkxExProPDFDocument document_;
  PasswordHandler passwordHandler_;
  StatusHandler statusHandler_;
  bool passwordRejected_ = false;
  std::string lastError_;
};

}  // namespace pw
