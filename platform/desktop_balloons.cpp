#include "platform/desktop_balloons.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QElapsedTimer>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace qelta {
namespace {

// Urgency levels of the notification protocol (a byte). Every balloon is of normal urgency,
// except one that stays until it is closed.
constexpr uchar kUrgencyNormal = 1;
constexpr uchar kUrgencyCritical = 2;

// How long a sent Notify may wait for its answer (the notification's id) before Qt drops it.
constexpr int kNotifyCallTimeoutMs = 5000;

QDBusMessage NotificationsCall(const QString& member) {
  return QDBusMessage::createMethodCall(QString::fromLatin1(DesktopNotificationBalloons::kService),
                                        QString::fromLatin1(DesktopNotificationBalloons::kPath),
                                        QString::fromLatin1(DesktopNotificationBalloons::kService),
                                        member);
}

QDBusMessage BusDaemonCall(const QString& member) {
  return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                        QStringLiteral("/org/freedesktop/DBus"),
                                        QStringLiteral("org.freedesktop.DBus"), member);
}

}  // namespace

DesktopNotificationBalloons::DesktopNotificationBalloons()
    : DesktopNotificationBalloons(QDBusConnection::sessionBus()) {}

DesktopNotificationBalloons::DesktopNotificationBalloons(const QDBusConnection& bus) : bus_(bus) {}

DesktopNotificationBalloons::~DesktopNotificationBalloons() = default;

void DesktopNotificationBalloons::ShowBalloon(const QString& title, const QString& text,
                                              BalloonIcon icon, int timeout_ms) {
  Shown& shown = shown_[title];
  const uint64_t serial = ++serial_;
  shown.latest = serial;
  shown.latest_replaces = shown.id;

  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"),
               QVariant::fromValue<uchar>(timeout_ms == kBalloonStaysUntilClosed ? kUrgencyCritical
                                                                                 : kUrgencyNormal));
  QDBusMessage message = NotificationsCall(QStringLiteral("Notify"));
  message << QString::fromLatin1(kAppName)  // app_name
          << shown.id                       // replaces_id: the last one with this title, if any
          << (icon == BalloonIcon::Error ? QStringLiteral("dialog-error")
                                         : QStringLiteral("dialog-information"))
          << title          // summary
          << text           // body
          << QStringList()  // actions: none
          << hints << static_cast<qint32>(timeout_ms);
  auto* watcher =
      new QDBusPendingCallWatcher(bus_.asyncCall(message, kNotifyCallTimeoutMs), &answers_);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &answers_,
                   [this, title, serial](QDBusPendingCallWatcher* finished) {
                     Answered(title, serial, finished);
                   });
}

void DesktopNotificationBalloons::Answered(const QString& title, uint64_t serial,
                                           QDBusPendingCallWatcher* watcher) {
  watcher->deleteLater();
  const QDBusPendingReply<uint> reply = *watcher;
  Shown& shown = shown_[title];
  const bool latest = serial == shown.latest;
  if (reply.isError()) {
    // Nothing known is shown for this title any more: the next balloon starts afresh.
    if (latest) shown.id = 0;
    return;
  }
  const uint id = reply.value();
  if (latest) {
    shown.id = id;
    return;
  }
  // A newer balloon with this title went out before this answer came. Unless that newer one
  // replaced this very notification, it stands beside it: this one goes.
  if (id != 0 && id != shown.latest_replaces) Close(id);
}

void DesktopNotificationBalloons::Close(uint id) {
  QDBusMessage message = NotificationsCall(QStringLiteral("CloseNotification"));
  message << id;
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
  const QString service = QString::fromLatin1(DesktopNotificationBalloons::kService);
  // The bus daemon answers both questions itself, so the waits are short; together they are
  // bounded by the lookup time-out, in case the bus is stuck.
  QElapsedTimer elapsed;
  elapsed.start();
  QDBusMessage has_owner = BusDaemonCall(QStringLiteral("NameHasOwner"));
  has_owner << service;
  const QDBusMessage owner = bus_.call(has_owner, QDBus::Block, lookup_timeout_ms_);
  if (owner.type() == QDBusMessage::ReplyMessage && owner.arguments().size() == 1 &&
      owner.arguments().first().toBool()) {
    return true;
  }
  const qint64 left = lookup_timeout_ms_ - elapsed.elapsed();
  if (left <= 0) return false;
  const QDBusMessage activatable = bus_.call(BusDaemonCall(QStringLiteral("ListActivatableNames")),
                                             QDBus::Block, static_cast<int>(left));
  return activatable.type() == QDBusMessage::ReplyMessage && activatable.arguments().size() == 1 &&
         activatable.arguments().first().toStringList().contains(service);
}

}  // namespace qelta
