#include "standin_watcher.h"

namespace qelta::testing {

StandInWatcher::StandInWatcher(const QString& address)
    : bus_(QDBusConnection::connectToBus(address, QStringLiteral("standin-watcher"))) {}

StandInWatcher::~StandInWatcher() {
  QDBusConnection::disconnectFromBus(QStringLiteral("standin-watcher"));
}

bool StandInWatcher::Start() {
  // The object first, so that whoever hears of the name finds it answering.
  return bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                 QDBusConnection::ExportAllProperties) &&
         bus_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void StandInWatcher::RegisterStatusNotifierItem(const QString& service,
                                                const QDBusMessage& message) {
  // An item gives its bus name, or only its object path on the bus name it calls from.
  const bool path_only = service.startsWith(QLatin1Char('/'));
  const QString name = path_only ? message.service() : service;
  const QString path = path_only ? service : QStringLiteral("/StatusNotifierItem");
  items_ << name + path;
  item_places_.append({name, path});
  emit StatusNotifierItemRegistered(name + path);
}

void StandInWatcher::RegisterStatusNotifierHost(const QString&) {}

}  // namespace qelta::testing
