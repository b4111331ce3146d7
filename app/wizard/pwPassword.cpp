#include "app/wizard/pwPassword.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "app/wizard/pwArtwork.h"

namespace pw {

TfmPass::TfmPass(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("fmPass");
  setWindowTitle(" Password protection");
  setModal(true);
  const qreal s = art::UiScale(font());

  auto* warning = new QLabel(this);
  const int icon = art::Scaled(s, 32);
  warning->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(icon, icon));
  warning->setAlignment(Qt::AlignTop);
  auto* title = new QLabel("This PDF file has a password protection.", this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  title->setStyleSheet("color: rgb(128, 0, 0);");
  lblPassInfo = new QLabel("Attempt:", this);
  lblPassInfo->setObjectName("lblPassInfo");
  auto* passLabel = new QLabel("Password:", this);
  edPass = new QLineEdit(this);
  edPass->setObjectName("edPass");
  edPass->setEchoMode(QLineEdit::Password);
  passLabel->setBuddy(edPass);
  btnOkPass = new QPushButton("OK", this);
  btnOkPass->setObjectName("btnOkPass");
  btnCancelPass = new QPushButton("Cancel", this);
  btnCancelPass->setObjectName("btnCancelPass");
  for (QPushButton* b : {btnOkPass, btnCancelPass}) {
    b->setAutoDefault(false);
    b->setMinimumSize(art::Scaled(s, 80), art::Scaled(s, 26));
  }

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(art::Scaled(s, 12), art::Scaled(s, 10), art::Scaled(s, 12), art::Scaled(s, 10));
  grid->addWidget(warning, 0, 0, 3, 1);
  grid->addWidget(title, 0, 1, 1, 2);
  grid->addWidget(lblPassInfo, 1, 1, 1, 2);
  grid->addWidget(passLabel, 2, 1);
  grid->addWidget(edPass, 2, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOkPass);
  buttons->addWidget(btnCancelPass);
  grid->addLayout(buttons, 3, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  setFixedSize(QSize(art::Scaled(s, 315), art::Scaled(s, 137)).expandedTo(grid->sizeHint()));

  connect(btnOkPass, &QPushButton::clicked, this, &TfmPass::btnOkPassClick);
  connect(btnCancelPass, &QPushButton::clicked, this, &TfmPass::btnCancelPassClick);
}

void TfmPass::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TfmPass::FormActivate() {
  emit Opened();
  CloseAllowed = false;
  edPass->clear();
  edPass->setFocus();
}

void TfmPass::btnOkPassClick() {
  PasswordAccepted = true;
  CloseAllowed = true;
  accept();
}

void TfmPass::btnCancelPassClick() {
  PasswordAccepted = false;
  CloseAllowed = true;
  reject();
}

// Keys reach the form before its controls: Enter is OK, Escape is Cancel.
void TfmPass::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      btnOkPassClick();
      return;
    case Qt::Key_Escape:
      btnCancelPassClick();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

// Every way of closing ends here; without the buttons' leave it is refused.
void TfmPass::done(int result) {
  if (!CloseAllowed) return;
  emit Closed();
  QDialog::done(result);
}

}  // namespace pw
