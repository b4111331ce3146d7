#include "app/wizard/pwSave.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/wizard/pwArtwork.h"

namespace pw {

TfmSave::TfmSave(QWidget* owner) : TpwGuardedDialog(owner) {
  setObjectName("fmSave");
  setWindowTitle("Save result as...");
  const qreal s = art::UiScale(font());

  auto* warning = WarningImage(art::Scaled(s, 32), this);
  auto* title = BoldLabel("Impossible to write selected RTF file.  It may be in use.", this);
  title->setStyleSheet("color: rgb(128, 0, 0);");
  lblPassInfo = new QLabel("Attempt:", this);
  lblPassInfo->setObjectName("lblPassInfo");
  edSaveNewRTF = new TpwFileNameEdit(TpwFileNameEdit::TpwMode::Save, "RTF files (*.rtf)", ".rtf", this);
  edSaveNewRTF->setObjectName("edSaveNewRTF");
  btnSaveNewRTF = FaceButton("btnSaveNewRTF", QStyle::SP_DialogSaveButton, "Save as...", this);
  btnSaveOK = FaceButton("btnSaveOK", QStyle::SP_DialogOkButton, "OK", this);
  btnSaveCancel = FaceButton("btnSaveCancel", QStyle::SP_DialogCancelButton, " Cancel", this);
  for (QPushButton* b : {btnSaveNewRTF, btnSaveOK, btnSaveCancel})
    b->setFixedSize(art::Scaled(s, 105), art::Scaled(s, 30));

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(art::Scaled(s, 14), art::Scaled(s, 10), art::Scaled(s, 14), art::Scaled(s, 10));
  column->setSpacing(art::Scaled(s, 4));
  auto* head = new QHBoxLayout;
  head->addWidget(warning);
  auto* headText = new QVBoxLayout;
  headText->addWidget(title);
  headText->addWidget(lblPassInfo);
  head->addLayout(headText, 1);
  column->addLayout(head);
  column->addSpacing(art::Scaled(s, 6));
  column->addWidget(BoldLabel("Step 1:", this));
  column->addWidget(new QLabel("Try to close all RTF applications that are currently running and click \"OK\".", this));
  column->addSpacing(art::Scaled(s, 4));
  column->addWidget(BoldLabel("Step 2:", this));
  column->addWidget(new QLabel("Click \"Save as...\" to change the name and location of converted RTF file:", this));
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(edSaveNewRTF, 1);
  nameRow->addWidget(btnSaveNewRTF);
  column->addLayout(nameRow);
  column->addSpacing(art::Scaled(s, 4));
  column->addWidget(BoldLabel("Step 3:", this));
  column->addWidget(
      new QLabel("Click \"OK\" to save file in a new location.\n"
                 "Click \"Cancel\"  to cancel the operation.  Convertion results will be lost in this case!",
                 this));
  column->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnSaveOK);
  buttons->addWidget(btnSaveCancel);
  column->addLayout(buttons);
  setFixedSize(QSize(art::Scaled(s, 448), art::Scaled(s, 299)).expandedTo(column->sizeHint()));

  connect(btnSaveNewRTF, &QPushButton::clicked, edSaveNewRTF, &TpwFileNameEdit::Browse);
  connect(btnSaveOK, &QPushButton::clicked, this, &TfmSave::btnSaveOKClick);
  connect(btnSaveCancel, &QPushButton::clicked, this, &TfmSave::btnSaveCancelClick);
  connect(edSaveNewRTF, &TpwFileNameEdit::Changed, this, &TfmSave::edSaveNewRTFChange);
}

void TfmSave::showEvent(QShowEvent* event) {
  TpwGuardedDialog::showEvent(event);
  FormActivate();
}

void TfmSave::FormActivate() {
  CloseAllowed = false;
  edSaveNewRTF->setFocus();
}

void TfmSave::btnSaveOKClick() {
  if (edSaveNewRTF->Text().trimmed().isEmpty()) return;
  SaveRetryAllowed = true;
  CloseAllowed = true;
  accept();
}

void TfmSave::btnSaveCancelClick() {
  SaveRetryAllowed = false;
  CloseAllowed = true;
  reject();
}

// A name without the ".rtf" extension (compared case-sensitively) gets it
// at once; the caret stays where the user is typing. A blank field is left
// blank so that it can be cleared and typed afresh.
void TfmSave::edSaveNewRTFChange(const QString& text) {
  if (text.trimmed().isEmpty()) return;
  const QString ext = edSaveNewRTF->DefaultExt();
  int dot = text.lastIndexOf('.');
  if (dot >= 0 && text.mid(dot) == ext) return;
  QLineEdit* edit = edSaveNewRTF->Edit();
  int caret = edit->cursorPosition();
  edit->setText(text + ext);
  edit->setCursorPosition(caret);
}

}  // namespace pw
