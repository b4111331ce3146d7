// The About form: the program image and name; a click anywhere closes it.
#pragma once

#include <QDialog>

namespace pw {

class TfmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfmAbout(QWidget* owner);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormClick();
};

}  // namespace pw
