// The password form: asked for each password try of an encrypted file.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/wizard/pwGuardedDialog.h"

namespace pw {

class TfmPass : public TpwGuardedDialog {
  Q_OBJECT
 public:
  explicit TfmPass(QWidget* owner);

  // True after OK, false after Cancel.
  bool PasswordAccepted = false;

  QLabel* lblPassInfo;
  QLineEdit* edPass;
  QPushButton* btnOkPass;
  QPushButton* btnCancelPass;

 signals:
  // The main window's busy animation pauses while the form is up.
  void Opened();
  void Closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void OkClick() override { btnOkPassClick(); }
  void CancelClick() override { btnCancelPassClick(); }
  void Closing() override { emit Closed(); }

 private:
  void FormActivate();
  void btnOkPassClick();
  void btnCancelPassClick();
};

}  // namespace pw
