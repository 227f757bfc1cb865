#include "widgets/StateImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kx::gui {

namespace {

QPixmap DrawStateImage(int stateIndex) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box(2.5, 2.5, 11, 11);
  switch (stateIndex) {
    case 1:
      painter.setPen(QPen(QColor(0x80, 0x30, 0x00), 1));
      painter.setBrush(QColor(0xE8, 0x70, 0x20));
      painter.drawRect(box);
      break;
    case 2:
      painter.setPen(QPen(QColor(0x10, 0x60, 0x10), 1));
      painter.setBrush(QColor(0x40, 0xB0, 0x40));
      painter.drawEllipse(box);
      break;
    case 3: {
      QPainterPath diamond;
      diamond.moveTo(8, 1.5);
      diamond.lineTo(14.5, 8);
      diamond.lineTo(8, 14.5);
      diamond.lineTo(1.5, 8);
      diamond.closeSubpath();
      painter.setPen(QPen(QColor(0x10, 0x30, 0x80), 1));
      painter.setBrush(QColor(0x40, 0x70, 0xD0));
      painter.drawPath(diamond);
      break;
    }
    default:
      break;
  }
  return pixmap;
}

}  // namespace

QIcon StateImage(int stateIndex) {
  if (stateIndex < 1 || stateIndex > StateImageCount) return {};
  return QIcon(DrawStateImage(stateIndex));
}

}  // namespace kx::gui
