// The save-retry form: shown when the converted document cannot be written
// to the chosen name.
#pragma once

#include <QLabel>
#include <QPushButton>

#include "app/wizard/pwFileNameEdit.h"
#include "app/wizard/pwGuardedDialog.h"

namespace pw {

class TfmSave : public TpwGuardedDialog {
  Q_OBJECT
 public:
  explicit TfmSave(QWidget* owner);

  // True after OK with a name, false after Cancel.
  bool SaveRetryAllowed = false;

  QLabel* lblPassInfo;
  TpwFileNameEdit* edSaveNewRTF;
  QPushButton* btnSaveNewRTF;
  QPushButton* btnSaveOK;
  QPushButton* btnSaveCancel;

 protected:
  void showEvent(QShowEvent* event) override;
  void OkClick() override { btnSaveOKClick(); }
  void CancelClick() override { btnSaveCancelClick(); }

 private:
  void FormActivate();
  void btnSaveOKClick();
  void btnSaveCancelClick();
  void edSaveNewRTFChange(const QString& text);
};

}  // namespace pw
