// Drawing of the program's icon at the sizes desktops ask for.
#include "programicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2e, 0x7d, 0x32));
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  p.setBrush(QColor(0xf9, 0xc7, 0x4f));
  p.setPen(QPen(QColor(0xb2, 0x8a, 0x1c), 3));
  p.drawEllipse(QPointF(32, 32), 22, 22);
  // The yuan sign: a V on two bars.
  QPainterPath sign;
  sign.moveTo(22, 17);
  sign.lineTo(32, 32);
  sign.lineTo(42, 17);
  sign.moveTo(32, 32);
  sign.lineTo(32, 48);
  sign.moveTo(23, 34);
  sign.lineTo(41, 34);
  sign.moveTo(23, 41);
  sign.lineTo(41, 41);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0x7a, 0x4f, 0x01), 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(sign);
  return pixmap;
}

}  // namespace

// Made afresh on each call (a few times per run): a pixmap kept in a static would outlive the
// application object.
QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64, 128})
    icon.addPixmap(DrawIcon(size));
  return icon;
}
