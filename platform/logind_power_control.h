#pragma once

#include <QDBusConnection>
#include <QObject>
#include <vector>

#include "platform/power_control.h"

class QDBusPendingCallWatcher;

namespace qelta {

// Power-off through systemd-logind (org.freedesktop.login1.Manager on the system bus).
//
// EnableShutdownPrivilege asks logind whether this session may power the machine off
// (CanPowerOff) and remembers the answer. PowerOff then requests PowerOff(false), without any
// interactive authorisation, whatever that answer was: logind makes the decision itself and
// refuses what it must (for example while another user's program holds a shutdown "block"
// inhibitor lock and this user may not ignore it), and its refusal is the outcome's reason.
//
// No call blocks the UI thread: both requests are asynchronous with a bounded time-out. A PowerOff
// that arrives while the check is still under way is sent when the answer comes in; a PowerOff
// without any earlier check runs the check first.
class LogindPowerControl : public QObject, public PowerControl {
  Q_OBJECT

 public:
  static constexpr int kDefaultTimeoutMs = 5000;

  // The result of the last authorisation check.
  enum class Permission {
    Unchecked,     // no check made yet
    Pending,       // the check is under way
    Yes,           // "yes"
    Challenge,     // "challenge": logind would need an interactive authorisation
    No,            // "no"
    NotAvailable,  // "na"
    Other,         // some other text
    Failed,        // error reply, wrong reply type, time-out or no bus
  };

  // Uses the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).
  explicit LogindPowerControl(QObject* parent = nullptr);
  LogindPowerControl(const QDBusConnection& bus, int timeout_ms, QObject* parent = nullptr);
  ~LogindPowerControl() override;

  void EnableShutdownPrivilege() override;
  void PowerOff(Done done) override;

  Permission LastPermission() const { return permission_; }

 signals:
  // The authorisation check has its answer (or has failed).
  void PermissionChecked();
  // The power-off request has been sent to logind.
  void PowerOffRequested();
  // logind has answered the power-off request, or it has failed or timed out.
  void PowerOffFinished();

 private:
  void StartCheck();
  void CheckFinished(QDBusPendingCallWatcher* watcher);
  void RequestPowerOff(Done done);

  QDBusConnection bus_;
  int timeout_ms_;
  Permission permission_ = Permission::Unchecked;
  // Power-off requests that wait for the check under way.
  std::vector<Done> waiting_;
  QDBusPendingCallWatcher* check_ = nullptr;
};

}  // namespace qelta
