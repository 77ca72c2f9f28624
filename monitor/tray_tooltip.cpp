#include "monitor/tray_tooltip.h"

#include "display/info_text.h"

namespace qelta {

QString TrayToolTip(InfoSource& source) {
  QString text = QStringLiteral("QELTA MONITOR: ");
  if (!source.LinkOK()) {
    text += QString::fromUtf8("нет связи с UPS");
  } else {
    const TUPSStatus& status = source.LastStatus();
    text += status.status_using_battery ? QString::fromUtf8("батарея") : QString::fromUtf8("сеть");
    text += QStringLiteral(", %1 %").arg(BatteryChargePercentInteger(status.battery_voltage));
  }
  if (source.ShutdownPending()) {
    const uint32_t seconds = SecondsUntil(source.ShutdownDeadline(), source.TickCount());
    text += QString::fromUtf8(", выключение через %1 сек.").arg(seconds);
  }
  return text;
}

}  // namespace qelta
