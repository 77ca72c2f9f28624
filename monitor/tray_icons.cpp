#include "monitor/tray_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qelta {

QColor TrayIconColor(int index) {
  switch (index) {
    case 0:
      return QColor(255, 214, 0);
    case 1:
      return QColor(220, 20, 20);
    default:
      return QColor(64, 64, 64);
  }
}

namespace {

QPixmap BoltPixmap(int size, const QColor& fill) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 16.0, size / 16.0);
  // A bolt drawn on a 16 x 16 grid: from the top right down to a point at the bottom left.
  QPainterPath bolt;
  bolt.moveTo(10.5, 0.5);
  bolt.lineTo(3.0, 9.0);
  bolt.lineTo(7.5, 9.0);
  bolt.lineTo(5.0, 15.5);
  bolt.lineTo(13.0, 6.5);
  bolt.lineTo(8.5, 6.5);
  bolt.closeSubpath();
  // A light halo under a dark edge: the bolt reads on dark panels as on light ones, the dark
  // no-link bolt included.
  painter.setPen(QPen(QColor(255, 255, 255, 210), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(bolt);
  painter.setPen(QPen(QColor(0, 0, 0), 0.9));
  painter.setBrush(fill);
  painter.drawPath(bolt);
  return pixmap;
}

}  // namespace

QIcon TrayIcon(int index) {
  // A tray that hosts the icon over D-Bus is sent every size the icon has (up to 64 px) at each
  // change, twice a second while the icon blinks on battery, and the toolkit adds a 22 and a
  // 64 px picture when none is at or under 22 px or between 23 and 64 px. Three sizes, the
  // common panel sizes 16 and 22 and 32 for 24 px and high-density panels, keep that to 7 KB of
  // pixels per change instead of 35 KB for six sizes up to 64 px.
  QIcon icon;
  for (int size : {16, 22, 32}) icon.addPixmap(BoltPixmap(size, TrayIconColor(index)));
  return icon;
}

}  // namespace qelta
