#include "app/wizard/pwSave.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "app/wizard/pwArtwork.h"

namespace pw {

namespace {
QLabel* BoldLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}
}  // namespace

TfmSave::TfmSave(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("fmSave");
  setWindowTitle("Save result as...");
  setModal(true);
  const qreal s = art::UiScale(font());

  auto* warning = new QLabel(this);
  const int icon = art::Scaled(s, 32);
  warning->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(icon, icon));
  auto* title = BoldLabel("Impossible to write selected RTF file.  It may be in use.", this);
  title->setStyleSheet("color: rgb(128, 0, 0);");
  lblPassInfo = new QLabel("Attempt:", this);
  lblPassInfo->setObjectName("lblPassInfo");
  edSaveNewRTF = new TpwFileNameEdit(TpwFileNameEdit::TpwMode::Save, "RTF files (*.rtf)", ".rtf", this);
  edSaveNewRTF->setObjectName("edSaveNewRTF");
  btnSaveNewRTF = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), "Save as...", this);
  btnSaveNewRTF->setObjectName("btnSaveNewRTF");
  btnSaveOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
  btnSaveOK->setObjectName("btnSaveOK");
  btnSaveCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), " Cancel", this);
  btnSaveCancel->setObjectName("btnSaveCancel");
  for (QPushButton* b : {btnSaveNewRTF, btnSaveOK, btnSaveCancel}) {
    b->setAutoDefault(false);
    b->setFixedSize(art::Scaled(s, 105), art::Scaled(s, 30));
  }

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
  column->addWidget(
      new QLabel("Try to close all RTF applications that are currently running and click \"OK\".", this));
  column->addSpacing(art::Scaled(s, 4));
  column->addWidget(BoldLabel("Step 2:", this));
  column->addWidget(
      new QLabel("Click \"Save as...\" to change the name and location of converted RTF file:", this));
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(edSaveNewRTF, 1);
  nameRow->addWidget(btnSaveNewRTF);
  column->addLayout(nameRow);
  column->addSpacing(art::Scaled(s, 4));
  column->addWidget(BoldLabel("Step 3:", this));
  column->addWidget(new QLabel(
      "Click \"OK\" to save file in a new location.\n"
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
  QDialog::showEvent(event);
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

void TfmSave::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      btnSaveOKClick();
      return;
    case Qt::Key_Escape:
      btnSaveCancelClick();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void TfmSave::done(int result) {
  if (!CloseAllowed) return;
  QDialog::done(result);
}

}  // namespace pw
