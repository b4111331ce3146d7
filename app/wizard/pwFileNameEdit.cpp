#include "app/wizard/pwFileNameEdit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QSettings>
#include <QStyle>

namespace pw {

TpwFileNameEdit::TpwFileNameEdit(TpwMode mode, const QString& filter, const QString& defaultExt, QWidget* parent)
    : QWidget(parent), mode_(mode), filter_(filter), defaultExt_(defaultExt) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  edit_ = new QLineEdit(this);
  browse_ = new QToolButton(this);
  browse_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  browse_->setToolTip(tr("Browse"));
  browse_->setFocusPolicy(Qt::NoFocus);
  row->addWidget(edit_, 1);
  row->addWidget(browse_);
  setFocusProxy(edit_);
  connect(browse_, &QToolButton::clicked, this, &TpwFileNameEdit::Browse);
  connect(edit_, &QLineEdit::textChanged, this, &TpwFileNameEdit::Changed);
}

QString TpwFileNameEdit::LastFolder() {
  QSettings settings;
  return settings.value("LastFolder").toString();
}

void TpwFileNameEdit::SetLastFolder(const QString& folder) {
  QSettings settings;
  settings.setValue("LastFolder", folder);
}

void TpwFileNameEdit::Browse() {
  QFileDialog dialog(window());
  dialog.setNameFilter(filter_);
  QString suffix = defaultExt_;
  if (suffix.startsWith('.')) suffix.remove(0, 1);
  dialog.setDefaultSuffix(suffix);
  dialog.setFilter(dialog.filter() | QDir::Hidden);
  if (mode_ == TpwMode::Open) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
  }
  QString current = edit_->text().trimmed();
  if (!current.isEmpty()) {
    QFileInfo info(current);
    dialog.setDirectory(info.absolutePath());
    if (mode_ == TpwMode::Save) dialog.selectFile(info.fileName());
  } else if (!LastFolder().isEmpty() && QDir(LastFolder()).exists()) {
    dialog.setDirectory(LastFolder());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  Choose(dialog.selectedFiles().first());
}

void TpwFileNameEdit::Choose(const QString& fileName) {
  QString full = QFileInfo(fileName).absoluteFilePath();
  SetLastFolder(QFileInfo(full).absolutePath());
  edit_->setText(full);
  emit DlgChange(full);
}

}  // namespace pw
