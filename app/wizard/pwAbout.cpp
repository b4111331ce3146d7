#include "app/wizard/pwAbout.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>

#include "app/wizard/pwArtwork.h"

namespace pw {

TfmAbout::TfmAbout(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
  setObjectName("fmAbout");
  setWindowTitle(" About");
  setModal(true);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  const qreal s = art::UiScale(font());

  auto* image = new QLabel(this);
  image->setObjectName("imgProgram");
  const int size = art::Scaled(s, 48);
  image->setPixmap(art::ProgramImage(size, devicePixelRatioF()));
  image->setFixedSize(size, size);
  image->installEventFilter(this);
  auto* name = new QLabel("Paperwright", this);
  QFont bold = name->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  name->setFont(bold);
  name->setAttribute(Qt::WA_TransparentForMouseEvents);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(art::Scaled(s, 16), art::Scaled(s, 12), art::Scaled(s, 16), art::Scaled(s, 12));
  row->setSpacing(art::Scaled(s, 16));
  row->addWidget(image);
  row->addWidget(name, 1);
  setFixedSize(QSize(art::Scaled(s, 292), art::Scaled(s, 85)).expandedTo(row->sizeHint()));
}

void TfmAbout::FormClick() { accept(); }

void TfmAbout::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) FormClick();
}

bool TfmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    FormClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace pw
