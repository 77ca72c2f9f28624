#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

namespace qelta::testing {

// A stand-in org.kde.StatusNotifierWatcher, the service a StatusNotifierItem tray runs, with one
// tray (host) registered: it records the items that register and lets the test call them.
class StandInWatcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
  Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)

 public:
  // Connects to the bus at `address`; Start() then takes the watcher's name there.
  explicit StandInWatcher(const QString& address);
  ~StandInWatcher() override;
  bool Start();

  QStringList RegisteredStatusNotifierItems() const { return items_; }
  bool IsStatusNotifierHostRegistered() const { return true; }
  int ProtocolVersion() const { return 0; }

  // The items as (bus name, object path), in the order they registered.
  const QList<QPair<QString, QString>>& Items() const { return item_places_; }
  QDBusConnection& Bus() { return bus_; }

 public slots:
  void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message);
  void RegisterStatusNotifierHost(const QString& service);

 signals:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierHostRegistered();

 private:
  QDBusConnection bus_;
  QStringList items_;
  QList<QPair<QString, QString>> item_places_;
};

}  // namespace qelta::testing
