#include "app/wizard/pwBusyAnimation.h"

#include <QPainter>
#include <QPainterPath>

namespace pw {

TpwBusyAnimation::TpwBusyAnimation(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, [this]() {
    frame_ = (frame_ + 1) % kFrames;
    update();
  });
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TpwBusyAnimation::Start() {
  if (!timer_.isActive()) timer_.start();
}

void TpwBusyAnimation::Stop() { timer_.stop(); }

QSize TpwBusyAnimation::sizeHint() const {
  // The frames are 550 x 21; the height follows the font like the rest.
  int h = qMax(12, fontMetrics().height() * 21 / 16);
  return QSize(h * 550 / 21, h);
}

void TpwBusyAnimation::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath track;
  track.addRoundedRect(area, area.height() / 2, area.height() / 2);
  p.fillPath(track, QColor(245, 248, 252));
  p.setPen(QPen(QColor(150, 170, 200), 1));
  p.drawPath(track);
  // Eleven slots; a run of three lit ones walks along, brightest in front.
  const qreal slot = area.width() / kFrames;
  const qreal pad = area.height() * 0.2;
  p.setPen(Qt::NoPen);
  for (int i = 0; i < kFrames; ++i) {
    int behind = (frame_ - i + kFrames) % kFrames;
    QColor c(205, 215, 230);
    if (behind == 0)
      c = QColor(40, 110, 200);
    else if (behind == 1)
      c = QColor(100, 150, 215);
    else if (behind == 2)
      c = QColor(160, 190, 228);
    QRectF r(area.left() + i * slot + pad, area.top() + pad, slot - 2 * pad, area.height() - 2 * pad);
    p.setBrush(c);
    p.drawRoundedRect(r, r.height() / 3, r.height() / 3);
  }
}

}  // namespace pw
