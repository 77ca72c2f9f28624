#pragma once

#include <QString>

#include "display/info_source.h"

namespace qelta {

// The tray icon's tooltip, which trays also give as the icon's accessible name: the program's
// name and the state in a few words: "QELTA MONITOR: нет связи с UPS" without a link, else
// "QELTA MONITOR: сеть, 98 %" or "QELTA MONITOR: батарея, 64 %" with the battery charge as the
// pop-up shows it, and ", выключение через 42 сек." while a shutdown countdown runs.
QString TrayToolTip(InfoSource& source);

}  // namespace qelta
