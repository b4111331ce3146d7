// A modal form that closes only through its own OK and Cancel (or Enter and
// Escape, which reach the form before its controls); the window's close
// command is refused. The password and save-retry forms are built on it.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace pw {

class TpwGuardedDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TpwGuardedDialog(QWidget* owner);

  // Whether the form may close; only its buttons allow it.
  bool CloseAllowed = false;

  void done(int result) override;

 protected:
  virtual void OkClick() = 0;
  virtual void CancelClick() = 0;
  // Called once the close is allowed, before the form hides.
  virtual void Closing() {}
  void keyPressEvent(QKeyEvent* event) override;
};

// Small makers shared by the forms.
QLabel* BoldLabel(const QString& text, QWidget* parent);
QLabel* SmallLabel(const QString& text, QWidget* parent);
// The system's warning image at `size` logical pixels.
QLabel* WarningImage(int size, QWidget* parent);
// A push button with a face from the style, a name, and no default-button role.
QPushButton* FaceButton(const char* name, QStyle::StandardPixmap face, const QString& caption, QWidget* parent);

}  // namespace pw
