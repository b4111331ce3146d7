// A file-name field with a browse button that opens the file dialog.
#pragma once

#include <QLineEdit>
#include <QString>
#include <QToolButton>
#include <QWidget>

namespace pw {

class TpwFileNameEdit : public QWidget {
  Q_OBJECT
 public:
  enum class TpwMode { Open, Save };

  TpwFileNameEdit(TpwMode mode, const QString& filter, const QString& defaultExt, QWidget* parent = nullptr);

  QString Text() const { return edit_->text(); }
  void SetText(const QString& text) { edit_->setText(text); }
  QLineEdit* Edit() const { return edit_; }
  const QString& DefaultExt() const { return defaultExt_; }

  // Opens the file dialog in the folder of the current name, or else in the
  // last folder used; a chosen name goes through Choose.
  void Browse();
  // What a name chosen in the dialog does: the field takes it and
  // DlgChange is sent.
  void Choose(const QString& fileName);

  // The folder dialogs open in when the field is empty, kept between runs.
  static QString LastFolder();
  static void SetLastFolder(const QString& folder);

 signals:
  void DlgChange(const QString& fileName);
  void Changed(const QString& text);

 private:
  TpwMode mode_;
  QString filter_;
  QString defaultExt_;
  QLineEdit* edit_;
  QToolButton* browse_;
};

}  // namespace pw
