#pragma once

#include <QColor>
#include <QIcon>

namespace qelta {

// The tray's three icons, a lightning bolt each: 0 yellow (on mains), 1 red (on battery),
// 2 dark grey (no link to the UPS).
QIcon TrayIcon(int index);
QColor TrayIconColor(int index);

}  // namespace qelta
