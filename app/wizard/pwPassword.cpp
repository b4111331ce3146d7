#include "app/wizard/pwPassword.h"

#include <QGridLayout>
#include <QHBoxLayout>

#include "app/wizard/pwArtwork.h"

namespace pw {

TfmPass::TfmPass(QWidget* owner) : TpwGuardedDialog(owner) {
  setObjectName("fmPass");
  setWindowTitle(" Password protection");
  const qreal s = art::UiScale(font());

  auto* title = BoldLabel("This PDF file has a password protection.", this);
  title->setStyleSheet("color: rgb(128, 0, 0);");
  lblPassInfo = new QLabel("Attempt:", this);
  lblPassInfo->setObjectName("lblPassInfo");
  auto* passLabel = new QLabel("Password:", this);
  edPass = new QLineEdit(this);
  edPass->setObjectName("edPass");
  edPass->setEchoMode(QLineEdit::Password);
  passLabel->setBuddy(edPass);
  btnOkPass = FaceButton("btnOkPass", QStyle::SP_DialogOkButton, "OK", this);
  btnCancelPass = FaceButton("btnCancelPass", QStyle::SP_DialogCancelButton, "Cancel", this);
  for (QPushButton* b : {btnOkPass, btnCancelPass}) b->setMinimumSize(art::Scaled(s, 80), art::Scaled(s, 26));

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(art::Scaled(s, 12), art::Scaled(s, 10), art::Scaled(s, 12), art::Scaled(s, 10));
  grid->addWidget(WarningImage(art::Scaled(s, 32), this), 0, 0, 3, 1);
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
  TpwGuardedDialog::showEvent(event);
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

}  // namespace pw
