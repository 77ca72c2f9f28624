#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>

#include "platform/change_notice.h"

class QDBusServiceWatcher;

namespace qelta {

// Tells when a StatusNotifierItem tray may have appeared: the watcher service
// org.kde.StatusNotifierWatcher getting an owner on the session bus, or announcing that a tray
// (a "host") registered with it. Both come as bus signals; nothing is polled.
class StatusNotifierWatch : public QObject, public ChangeNotice {
  Q_OBJECT

 public:
  static constexpr char kService[] = "org.kde.StatusNotifierWatcher";
  static constexpr char kPath[] = "/StatusNotifierWatcher";
  // How long HostRegistered() waits for the watcher's answer.
  static constexpr int kAskTimeoutMs = 500;

  // Uses the session bus (DBUS_SESSION_BUS_ADDRESS).
  StatusNotifierWatch();
  explicit StatusNotifierWatch(const QDBusConnection& bus);
  ~StatusNotifierWatch() override;

  // False when there is no session bus: then nothing is told.
  bool TellsEveryChange() override { return bus_.isConnected(); }
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

  // True when the watcher is on the bus and says a tray is registered with it; asks the watcher,
  // waiting at most kAskTimeoutMs.
  bool HostRegistered();

 private slots:
  void Changed();

 private:
  QDBusConnection bus_;
  QDBusServiceWatcher* owner_watch_ = nullptr;
  std::function<void()> handler_;
};

}  // namespace qelta
