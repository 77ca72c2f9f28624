#include "platform/logind_power_control.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace qelta {
namespace {

constexpr char kService[] = "org.freedesktop.login1";
constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kInterface[] = "org.freedesktop.login1.Manager";

LogindPowerControl::Permission ParseAnswer(const QDBusPendingCall& call) {
  using Permission = LogindPowerControl::Permission;
  const QDBusPendingReply<QString> reply = call;
  if (!reply.isValid()) return Permission::Failed;  // error, time-out or another signature
  const QString answer = reply.value();
  if (answer == QLatin1String("yes")) return Permission::Yes;
  if (answer == QLatin1String("challenge")) return Permission::Challenge;
  if (answer == QLatin1String("no")) return Permission::No;
  if (answer == QLatin1String("na")) return Permission::NotAvailable;
  return Permission::Other;
}

// Calls `done` from the event loop once the call has its answer. Qt's watcher never signals for a
// call that could not even be sent (no bus connection), so a call that is finished already is
// completed by a queued invocation instead.
template <typename Done>
QDBusPendingCallWatcher* Watch(const QDBusPendingCall& call, QObject* parent, Done done) {
  auto* watcher = new QDBusPendingCallWatcher(call, parent);
  if (call.isFinished()) {
    QMetaObject::invokeMethod(
        watcher, [watcher, done] { done(watcher); }, Qt::QueuedConnection);
  } else {
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, parent, done);
  }
  return watcher;
}

}  // namespace

LogindPowerControl::LogindPowerControl(QObject* parent)
    : LogindPowerControl(QDBusConnection::systemBus(), kDefaultTimeoutMs, parent) {}

LogindPowerControl::LogindPowerControl(const QDBusConnection& bus, int timeout_ms, QObject* parent)
    : QObject(parent), bus_(bus), timeout_ms_(timeout_ms) {}

LogindPowerControl::~LogindPowerControl() = default;

bool LogindPowerControl::Allows(Permission permission) {
  return permission == Permission::Yes || permission == Permission::Challenge ||
         permission == Permission::Other;
}

void LogindPowerControl::EnableShutdownPrivilege() {
  power_off_waiting_ = false;
  StartCheck();
}

void LogindPowerControl::PowerOff() {
  switch (permission_) {
    case Permission::Unchecked:
      StartCheck();
      power_off_waiting_ = true;
      return;
    case Permission::Pending:
      power_off_waiting_ = true;
      return;
    default:
      RequestPowerOffIfAllowed();
  }
}

void LogindPowerControl::StartCheck() {
  // A check still under way is superseded: its answer is no longer wanted.
  delete check_;
  check_ = nullptr;
  permission_ = Permission::Pending;
  const QDBusMessage message =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CanPowerOff"));
  check_ = Watch(bus_.asyncCall(message, timeout_ms_), this,
                 [this](QDBusPendingCallWatcher* watcher) { CheckFinished(watcher); });
}

void LogindPowerControl::CheckFinished(QDBusPendingCallWatcher* watcher) {
  watcher->deleteLater();
  if (watcher != check_) return;
  check_ = nullptr;
  permission_ = ParseAnswer(*watcher);
  emit PermissionChecked();
  if (power_off_waiting_) {
    power_off_waiting_ = false;
    RequestPowerOffIfAllowed();
  }
}

void LogindPowerControl::RequestPowerOffIfAllowed() {
  if (!Allows(permission_)) return;
  QDBusMessage message =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("PowerOff"));
  message << false;  // interactive: never ask the user for authorisation
  Watch(bus_.asyncCall(message, timeout_ms_), this, [this](QDBusPendingCallWatcher* watcher) {
    // The outcome is not acted on: a refused power-off leaves the monitor running.
    watcher->deleteLater();
    emit PowerOffFinished();
  });
  emit PowerOffRequested();
}

}  // namespace qelta
