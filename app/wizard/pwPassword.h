// The password form: asked for each password try of an encrypted file.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pw {

class TfmPass : public QDialog {
  Q_OBJECT
 public:
  explicit TfmPass(QWidget* owner);

  // True after OK, false after Cancel.
  bool PasswordAccepted = false;
  // Whether the form may close; only OK, Cancel, Enter and Escape allow it.
  bool CloseAllowed = false;

  QLabel* lblPassInfo;
  QLineEdit* edPass;
  QPushButton* btnOkPass;
  QPushButton* btnCancelPass;

  void done(int result) override;

 signals:
  // The main window's busy animation pauses while the form is up.
  void Opened();
  void Closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormActivate();
  void btnOkPassClick();
  void btnCancelPassClick();
};

}  // namespace pw
