#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace qelta {

// Where the status pop-up goes: in the corner of the work area nearest to the last tray click.
// Left of the screen's middle (width / 2, rounded toward zero) the pop-up's left edge is on the
// work area's left edge, otherwise its right edge on the work area's right edge; the same
// vertically.
QPoint PopupPosition(QPoint click, QSize screen, QRect work_area, QSize popup);

}  // namespace qelta
