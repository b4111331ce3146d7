#include "app/wizard/pwGuardedDialog.h"

#include <QKeyEvent>

namespace pw {

TpwGuardedDialog::TpwGuardedDialog(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setModal(true);
}

void TpwGuardedDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: OkClick(); return;
    case Qt::Key_Escape: CancelClick(); return;
    default: QDialog::keyPressEvent(event);
  }
}

// Every way of closing ends here; without the buttons' leave it is refused.
void TpwGuardedDialog::done(int result) {
  if (!CloseAllowed) return;
  Closing();
  QDialog::done(result);
}

QLabel* BoldLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

QLabel* SmallLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setPointSizeF(f.pointSizeF() * 0.85);
  label->setFont(f);
  return label;
}

QLabel* WarningImage(int size, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(parent->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
  label->setAlignment(Qt::AlignTop);
  return label;
}

QPushButton* FaceButton(const char* name, QStyle::StandardPixmap face, const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(parent->style()->standardIcon(face), caption, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

}  // namespace pw
