#include "platform/logind_power_control.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <string>

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

// Why a failed call failed: the service's own message, else the error's name.
std::string Reason(const QDBusError& error) {
  const QString text = !error.message().isEmpty() ? error.message() : error.name();
  return text.isEmpty() ? std::string("no answer") : text.toStdString();
}

}  // namespace

LogindPowerControl::LogindPowerControl(QObject* parent)
    : LogindPowerControl(QDBusConnection::systemBus(), kDefaultTimeoutMs, parent) {}

LogindPowerControl::LogindPowerControl(const QDBusConnection& bus, int timeout_ms, QObject* parent)
    : QObject(parent), bus_(bus), timeout_ms_(timeout_ms) {}

LogindPowerControl::~LogindPowerControl() = default;

void LogindPowerControl::EnableShutdownPrivilege() {
  StartCheck();
}

void LogindPowerControl::PowerOff(Done done) {
  switch (permission_) {
    case Permission::Unchecked:
      StartCheck();
      waiting_.push_back(std::move(done));
      return;
    case Permission::Pending:
      waiting_.push_back(std::move(done));
      return;
    default:
      RequestPowerOff(std::move(done));
  }
}

void LogindPowerControl::StartCheck() {
  // A check still under way is superseded: its answer is no longer wanted. Power-off requests
  // that waited for it wait for the new one.
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
  // Whatever the answer: logind itself decides at the power-off request.
  std::vector<Done> waiting;
  waiting.swap(waiting_);
  for (Done& done : waiting) RequestPowerOff(std::move(done));
}

void LogindPowerControl::RequestPowerOff(Done done) {
  QDBusMessage message =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("PowerOff"));
  message << false;  // interactive: never ask the user for authorisation
  Watch(bus_.asyncCall(message, timeout_ms_), this,
        [this, done = std::move(done)](QDBusPendingCallWatcher* watcher) {
          watcher->deleteLater();
          PowerOffOutcome outcome;
          if (watcher->isError()) {
            outcome.reason = Reason(watcher->error());
          } else {
            outcome.accepted = true;
          }
          if (done) done(outcome);
          emit PowerOffFinished();
        });
  emit PowerOffRequested();
}

}  // namespace qelta
