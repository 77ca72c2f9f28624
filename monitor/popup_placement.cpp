#include "monitor/popup_placement.h"

namespace qelta {

QPoint PopupPosition(QPoint click, QSize screen, QRect work_area, QSize popup) {
  // QRect's right() and bottom() are the last pixel inside; the edges are one beyond.
  const int right_edge = work_area.x() + work_area.width();
  const int bottom_edge = work_area.y() + work_area.height();
  const int x = click.x() < screen.width() / 2 ? work_area.x() : right_edge - popup.width();
  const int y = click.y() < screen.height() / 2 ? work_area.y() : bottom_edge - popup.height();
  return QPoint(x, y);
}

}  // namespace qelta
