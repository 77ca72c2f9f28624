#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <cstdint>

#include "platform/balloon.h"

class QDBusPendingCallWatcher;
class QSystemTrayIcon;

namespace qelta {

// Balloons as desktop notifications (org.freedesktop.Notifications on the session bus): one
// Notify call per balloon from "QELTA MONITOR", with the title as summary, the text as body, a
// themed icon after the icon kind ("dialog-information" or "dialog-error"), normal urgency and
// the time-out as expiry. Critical urgency is used only for a balloon that stays until it is
// closed (kBalloonStaysUntilClosed): desktops keep such notifications until the user closes
// them, so any other balloon would outlive its time-out.
//
// A balloon takes the place of the one shown before it with the same title (the Notify call's
// replaces_id), so that the on-battery reminder every few seconds and the state changes leave
// one notification each instead of a pile. The calls are asynchronous: the id of a notification
// is taken from its answer; a balloon whose answer comes only after the next one with its title
// was sent is closed when that next one did not replace it.
class DesktopNotificationBalloons : public BalloonSink {
 public:
  static constexpr char kService[] = "org.freedesktop.Notifications";
  static constexpr char kPath[] = "/org/freedesktop/Notifications";
  static constexpr char kAppName[] = "QELTA MONITOR";

  // Uses the session bus (DBUS_SESSION_BUS_ADDRESS).
  DesktopNotificationBalloons();
  explicit DesktopNotificationBalloons(const QDBusConnection& bus);
  ~DesktopNotificationBalloons() override;

  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override;

 private:
  // The notification of one title.
  struct Shown {
    uint id = 0;               // what the service answered for it, 0 while unknown
    uint64_t latest = 0;       // the serial number of the last Notify sent with this title
    uint latest_replaces = 0;  // the replaces_id that call carried
  };

  void Answered(const QString& title, uint64_t serial, QDBusPendingCallWatcher* watcher);
  void Close(uint id);

  QDBusConnection bus_;
  QHash<QString, Shown> shown_;
  uint64_t serial_ = 0;
  // Receives the answers; gone with this object, so that no late answer reaches it.
  QObject answers_;
};

// Balloons shown by the tray icon itself (QSystemTrayIcon::showMessage).
class TrayBalloons : public BalloonSink {
 public:
  // The icon is not owned and must outlive this object; null shows nothing.
  explicit TrayBalloons(QSystemTrayIcon* tray) : tray_(tray) {}

  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override;

 private:
  QSystemTrayIcon* tray_;
};

// Sends each balloon to the desktop's notification service when one owns its name on the session
// bus at that moment, or when the bus can start one on demand (the name is activatable), and to
// the tray otherwise. The service is looked up for every balloon, so a service that starts or
// stops while the monitor runs is followed.
class BalloonRouter : public BalloonSink {
 public:
  static constexpr int kDefaultLookupTimeoutMs = 1000;

  // Both sinks are not owned and must outlive the router. Uses the session bus.
  BalloonRouter(BalloonSink& notifications, BalloonSink& tray);
  BalloonRouter(BalloonSink& notifications, BalloonSink& tray, const QDBusConnection& bus,
                int lookup_timeout_ms = kDefaultLookupTimeoutMs);

  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override;

  // True when the notification service's name has an owner now or can be activated. Both
  // questions together wait at most the lookup time-out.
  bool NotificationServicePresent() const;

 private:
  BalloonSink& notifications_;
  BalloonSink& tray_;
  QDBusConnection bus_;
  int lookup_timeout_ms_;
};

}  // namespace qelta
