// The program's pictures, drawn rather than stored, so they stay sharp at
// any screen scale: the program image, the header band, the result marks.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QRect>

namespace pw::art {

// The program image (a page turning into a document) at `size` logical pixels.
QPixmap ProgramImage(int size, qreal devicePixelRatio);
QIcon ProgramIcon();
// The header band: background, program image, sunken title and the picture
// at the right.
void PaintHeader(QPainter& painter, const QRect& rect, const QFont& baseFont);
// The success (a tick) and error (a cross) marks of the done screen.
QPixmap ResultImage(bool ok, int size, qreal devicePixelRatio);

// The window's measures are given for a 16-pixel line of text; this is how
// many logical pixels one of them is with the desktop's font.
qreal UiScale(const QFont& font);
inline int Scaled(qreal scale, int pixels) { return qRound(pixels * scale); }

inline const QColor kSuccessColor(0, 128, 0);
inline const QColor kErrorColor(128, 0, 0);
inline const QColor kConvertingBackground(0xE6, 0xF0, 0xFA);

}  // namespace pw::art
