#include "app/wizard/pwArtwork.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>

namespace pw::art {

namespace {

// Draws the program image into a 48 x 48 design square.
void PaintProgramImage(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  // The sheet with a folded corner.
  QPainterPath sheet;
  sheet.moveTo(9, 3);
  sheet.lineTo(31, 3);
  sheet.lineTo(41, 13);
  sheet.lineTo(41, 45);
  sheet.lineTo(9, 45);
  sheet.closeSubpath();
  p.setPen(QPen(QColor(70, 80, 100), 1.5));
  QLinearGradient paper(9, 3, 41, 45);
  paper.setColorAt(0, Qt::white);
  paper.setColorAt(1, QColor(225, 232, 242));
  p.setBrush(paper);
  p.drawPath(sheet);
  QPainterPath fold;
  fold.moveTo(31, 3);
  fold.lineTo(31, 13);
  fold.lineTo(41, 13);
  p.setBrush(QColor(200, 210, 225));
  p.drawPath(fold);
  // Lines of text.
  p.setPen(QPen(QColor(60, 100, 170), 2, Qt::SolidLine, Qt::RoundCap));
  for (int y = 20; y <= 40; y += 5) p.drawLine(QPointF(14, y), QPointF(y == 40 ? 28 : 36, y));
  // The red band of the source format and the arrow into the document.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 30, 35));
  p.drawRoundedRect(QRectF(2, 6, 22, 10), 2, 2);
  p.setBrush(Qt::white);
  for (int i = 0; i < 3; ++i) p.drawRect(QRectF(5 + i * 6, 9.5, 4, 3));
  QPainterPath arrow;
  arrow.moveTo(26, 30);
  arrow.lineTo(34, 30);
  arrow.lineTo(34, 26);
  arrow.lineTo(44, 33);
  arrow.lineTo(34, 40);
  arrow.lineTo(34, 36);
  arrow.lineTo(26, 36);
  arrow.closeSubpath();
  p.setPen(QPen(Qt::white, 1));
  p.setBrush(QColor(30, 150, 60));
  p.drawPath(arrow);
}

}  // namespace

QPixmap ProgramImage(int size, qreal devicePixelRatio) {
  QPixmap pixmap(QSize(size, size) * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.scale(size / 48.0, size / 48.0);
  PaintProgramImage(p);
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(ProgramImage(size, 1.0));
  return icon;
}

void PaintHeader(QPainter& p, const QRect& rect, const QFont& baseFont) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient band(rect.topLeft(), rect.topRight());
  band.setColorAt(0, QColor(255, 255, 255));
  band.setColorAt(0.55, QColor(232, 240, 250));
  band.setColorAt(1, QColor(170, 195, 230));
  p.fillRect(rect, band);
  p.setPen(QColor(150, 170, 200));
  p.drawLine(rect.bottomLeft(), rect.bottomRight());

  const qreal unit = rect.height() / 81.0;
  const int image = qRound(48 * unit);
  const int top = rect.top() + (rect.height() - image) / 2;
  p.drawPixmap(rect.left() + qRound(16 * unit), top, ProgramImage(image, p.device()->devicePixelRatioF()));

  // The title, with a sunken look: a light copy below right of the dark one.
  QFont title("Arial");
  title.setBold(true);
  title.setPixelSize(qMax(baseFont.pixelSize(), qRound(21 * unit * 1.15)));
  p.setFont(title);
  QRect text(rect.left() + qRound(80 * unit), rect.top(), rect.width() / 2, rect.height());
  p.setPen(Qt::white);
  p.drawText(text.translated(1, 1), Qt::AlignVCenter | Qt::AlignLeft, "Paperwright");
  p.setPen(QColor(40, 55, 90));
  p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft, "Paperwright");

  // The picture at the right: a fan of pages.
  const qreal right = rect.right() - 20 * unit;
  const qreal cy = rect.center().y();
  for (int i = 0; i < 3; ++i) {
    p.save();
    p.translate(right - 30 * unit, cy + 4 * unit);
    p.rotate(-18 + i * 14);
    QRectF page(-14 * unit, -28 * unit, 28 * unit, 38 * unit);
    p.setPen(QPen(QColor(110, 130, 165), 1));
    p.setBrush(i == 2 ? QColor(255, 255, 255) : QColor(240, 244, 250));
    p.drawRect(page);
    if (i == 2) {
      p.setPen(QPen(QColor(90, 130, 190), qMax(1.0, 1.5 * unit)));
      for (int l = 0; l < 5; ++l) {
        qreal y = page.top() + (8 + l * 6) * unit;
        p.drawLine(QPointF(page.left() + 5 * unit, y), QPointF(page.right() - (l == 4 ? 12 : 5) * unit, y));
      }
    }
    p.restore();
  }
  p.restore();
}

qreal UiScale(const QFont& font) { return qBound(1.0, QFontMetricsF(font).height() / 16.0, 4.0); }

QPixmap ResultImage(bool ok, int size, qreal devicePixelRatio) {
  QPixmap pixmap(QSize(size, size) * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  p.setPen(Qt::NoPen);
  p.setBrush(ok ? kSuccessColor : kErrorColor);
  p.drawEllipse(QRectF(1, 1, 30, 30));
  p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  if (ok) {
    QPainterPath tick;
    tick.moveTo(9, 16.5);
    tick.lineTo(14, 21.5);
    tick.lineTo(23, 10.5);
    p.drawPath(tick);
  } else {
    p.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
    p.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
  }
  return pixmap;
}

}  // namespace pw::art
