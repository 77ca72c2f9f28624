#include "platform/desktop_balloons.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace qelta {
namespace {

// Urgency levels of the notification protocol (a byte).
constexpr uchar kUrgencyNormal = 1;
constexpr uchar kUrgencyCritical = 2;

// How long a sent Notify may wait for its (ignored) answer before Qt drops it.
constexpr int kNotifyCallTimeoutMs = 5000;

}  // namespace

DesktopNotificationBalloons::DesktopNotificationBalloons()
    : DesktopNotificationBalloons(QDBusConnection::sessionBus()) {}

DesktopNotificationBalloons::DesktopNotificationBalloons(const QDBusConnection& bus) : bus_(bus) {}

void DesktopNotificationBalloons::ShowBalloon(const QString& title, const QString& text,
                                              BalloonIcon icon, int timeout_ms) {
  const bool error = icon == BalloonIcon::Error;
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"),
               QVariant::fromValue<uchar>(error ? kUrgencyCritical : kUrgencyNormal));

  QDBusMessage message =
      QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
  message << QString::fromLatin1(kAppName)  // app_name
          << 0u                             // replaces_id: always a new notification
          << (error ? QStringLiteral("dialog-error") : QStringLiteral("dialog-information"))
          << title          // summary
          << text           // body
          << QStringList()  // actions: none
          << hints << static_cast<qint32>(timeout_ms);
  bus_.asyncCall(message, kNotifyCallTimeoutMs);
}

void TrayBalloons::ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                               int timeout_ms) {
  if (tray_ == nullptr) return;
  tray_->showMessage(
      title, text,
      icon == BalloonIcon::Error ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information,
      timeout_ms);
}

BalloonRouter::BalloonRouter(BalloonSink& notifications, BalloonSink& tray)
    : BalloonRouter(notifications, tray, QDBusConnection::sessionBus()) {}

BalloonRouter::BalloonRouter(BalloonSink& notifications, BalloonSink& tray,
                             const QDBusConnection& bus, int lookup_timeout_ms)
    : notifications_(notifications),
      tray_(tray),
      bus_(bus),
      lookup_timeout_ms_(lookup_timeout_ms) {}

void BalloonRouter::ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                                int timeout_ms) {
  BalloonSink& sink = NotificationServicePresent() ? notifications_ : tray_;
  sink.ShowBalloon(title, text, icon, timeout_ms);
}

bool BalloonRouter::NotificationServicePresent() const {
  if (!bus_.isConnected()) return false;
  QDBusMessage message = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
  message << QString::fromLatin1(DesktopNotificationBalloons::kService);
  // The bus daemon answers this itself, so the wait is short; the time-out bounds a stuck bus.
  const QDBusMessage reply = bus_.call(message, QDBus::Block, lookup_timeout_ms_);
  return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1 &&
         reply.arguments().first().toBool();
}

}  // namespace qelta
