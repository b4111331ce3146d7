// The save-retry form: shown when the converted document cannot be written
// to the chosen name.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "app/wizard/pwFileNameEdit.h"

namespace pw {

class TfmSave : public QDialog {
  Q_OBJECT
 public:
  explicit TfmSave(QWidget* owner);

  // True after OK with a name, false after Cancel.
  bool SaveRetryAllowed = false;
  bool CloseAllowed = false;

  QLabel* lblPassInfo;
  TpwFileNameEdit* edSaveNewRTF;
  QPushButton* btnSaveNewRTF;
  QPushButton* btnSaveOK;
  QPushButton* btnSaveCancel;

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormActivate();
  void btnSaveOKClick();
  void btnSaveCancelClick();
  void edSaveNewRTFChange(const QString& text);
};

}  // namespace pw
