#include "platform/status_notifier_watch.h"

#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace qelta {

StatusNotifierWatch::StatusNotifierWatch() : StatusNotifierWatch(QDBusConnection::sessionBus()) {}

StatusNotifierWatch::StatusNotifierWatch(const QDBusConnection& bus) : bus_(bus) {
  if (!bus_.isConnected()) return;
  const QString service = QString::fromLatin1(kService);
  owner_watch_ =
      new QDBusServiceWatcher(service, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(owner_watch_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          &StatusNotifierWatch::Changed);
  // Matched on the well-known name, so a watcher that starts later is heard too.
  bus_.connect(service, QString::fromLatin1(kPath), service,
               QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(Changed()));
}

StatusNotifierWatch::~StatusNotifierWatch() {
  if (!bus_.isConnected()) return;
  const QString service = QString::fromLatin1(kService);
  bus_.disconnect(service, QString::fromLatin1(kPath), service,
                  QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(Changed()));
}

bool StatusNotifierWatch::HostRegistered() {
  if (!bus_.isConnected()) return false;
  const QString service = QString::fromLatin1(kService);
  QDBusMessage ask = QDBusMessage::createMethodCall(
      service, QString::fromLatin1(kPath), QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("Get"));
  ask.setArguments({service, QStringLiteral("IsStatusNotifierHostRegistered")});
  const QDBusMessage answer = bus_.call(ask, QDBus::Block, kAskTimeoutMs);
  if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) return false;
  return answer.arguments().first().value<QDBusVariant>().variant().toBool();
}

void StatusNotifierWatch::Changed() {
  if (handler_) handler_();
}

}  // namespace qelta
