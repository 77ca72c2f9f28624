#pragma once

#include <QDBusConnection>
#include <QString>

#include "platform/balloon.h"

class QSystemTrayIcon;

namespace qelta {

// Balloons as desktop notifications (org.freedesktop.Notifications on the session bus): one
// Notify call per balloon from "QELTA MONITOR", with the title as summary, the text as body, a
// themed icon and an urgency after the icon kind, and the time-out as expiry. The call is
// asynchronous and its answer is not waited for.
class DesktopNotificationBalloons : public BalloonSink {
 public:
  static constexpr char kService[] = "org.freedesktop.Notifications";
  static constexpr char kPath[] = "/org/freedesktop/Notifications";
  static constexpr char kAppName[] = "QELTA MONITOR";

  // Uses the session bus (DBUS_SESSION_BUS_ADDRESS).
  DesktopNotificationBalloons();
  explicit DesktopNotificationBalloons(const QDBusConnection& bus);

  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override;

 private:
  QDBusConnection bus_;
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
// bus at that moment, and to the tray otherwise. The owner is looked up for every balloon, so a
// service that starts or stops while the monitor runs is followed.
class BalloonRouter : public BalloonSink {
 public:
  static constexpr int kDefaultLookupTimeoutMs = 1000;

  // Both sinks are not owned and must outlive the router. Uses the session bus.
  BalloonRouter(BalloonSink& notifications, BalloonSink& tray);
  BalloonRouter(BalloonSink& notifications, BalloonSink& tray, const QDBusConnection& bus,
                int lookup_timeout_ms = kDefaultLookupTimeoutMs);

  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override;

  // True when the notification service's name has an owner now.
  bool NotificationServicePresent() const;

 private:
  BalloonSink& notifications_;
  BalloonSink& tray_;
  QDBusConnection bus_;
  int lookup_timeout_ms_;
};

}  // namespace qelta
