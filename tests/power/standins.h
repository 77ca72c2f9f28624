#pragma once

// Stand-ins for the system services the monitor talks to over D-Bus, for tests on private buses.
//
// Both run as separate processes: the power test program re-executed with one of these first
// arguments (see main.cpp):
//
//   test_power --logind-standin <answer> <record-file> [refuse-power-off] [block-lock]
//       Owns org.freedesktop.login1 on the system bus (DBUS_SYSTEM_BUS_ADDRESS). CanPowerOff
//       answers <answer> ("yes", "challenge", "no", "na", any text), or an AccessDenied error for
//       "error", or never answers for "silent". PowerOff(false) is decided as logind decides it
//       for that answer: refused with InteractiveAuthorizationRequired "Interactive
//       authentication required." after "challenge", with AccessDenied "Permission denied"
//       after "no", and carried out (answered with success) otherwise, "na", "error" and
//       "silent" included. "refuse-power-off" refuses every PowerOff with AccessDenied,
//       "refuse-first-power-off" only the first one (the later ones are decided as above).
//       "block-lock" models another user's program holding a shutdown "block" inhibitor lock
//       that the caller may not ignore (logind's default policy for an active session): a "yes"
//       becomes "challenge", for CanPowerOff and PowerOff alike. Every call to the service except
//       the test interface's Sync is appended to <record-file> as one line
//       "<interface>.<member> <signature> <arguments...>", for example
//       "org.freedesktop.login1.Manager.PowerOff b false".
//
//   test_power --notification-recorder <record-file>
//       Owns org.freedesktop.Notifications on the session bus (DBUS_SESSION_BUS_ADDRESS) and
//       appends one line per Notify call to <record-file>: "summary<TAB>body<TAB>icon<TAB>timeout"
//       (a backslash, tab or newline inside a field is written as \\, \t or \n). It keeps its
//       notifications as a desktop does (see NotificationRecorder), which the file does not show.
//
//   test_power --desktop-standins <answer> <record-file> [refuse-power-off] [block-lock]
//       Both of the above in one process, appending to one <record-file>. Calls that travel over
//       two buses can arrive in either order, so a logind call is recorded and answered only
//       after each session-bus connection of its sender has answered a Ping: a bus keeps the
//       order of the messages between two connections, so by then every Notify that the sender
//       sent before the logind call has been recorded. The file is thus one log of balloons and
//       power calls in the order the sender made them.
//
// Each prints "ready" on its standard output once it owns its names, and exits on SIGTERM or when
// a bus goes away.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <functional>

namespace qelta::testing {

inline constexpr char kStandInTestInterface[] = "org.qelta.test.StandIn";

// Answers logind's Manager calls on /org/freedesktop/login1 and records them.
class LogindStandIn : public QDBusVirtualObject {
 public:
  // Given a call, runs `proceed` (on the main thread) when the call may be recorded and answered.
  using Fence = std::function<void(const QDBusMessage& call, std::function<void()> proceed)>;

  // What the stand-in logind is told to be like (see the options above).
  struct Behaviour {
    QString answer;
    bool refuse_power_off = false;
    bool refuse_first_power_off = false;
    bool block_lock = false;
  };
  // The behaviour from the command line's words after "--logind-standin" or
  // "--desktop-standins": the answer, the record file, then the options.
  static Behaviour FromArguments(int argc, char** argv);

  LogindStandIn(Behaviour behaviour, QString record_path);

  // Without a fence every call is recorded and answered at once.
  void SetFence(Fence fence) { fence_ = std::move(fence); }

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  void RecordAndAnswer(const QDBusMessage& message, const QDBusConnection& connection);
  // CanPowerOff's answer as logind would give it with the block lock taken into account.
  QString Permission() const;
  QDBusMessage PowerOffAnswer(const QDBusMessage& call);

  Fence fence_;
  Behaviour behaviour_;
  QString record_path_;
  int power_offs_ = 0;  // PowerOff calls answered so far
};

struct NotifyCall {
  QString app_name;
  uint replaces_id = 0;
  QString app_icon;
  QString summary;
  QString body;
  QStringList actions;
  QVariantMap hints;
  int expire_timeout = 0;
};

// The record line of one call, as the recorder writes it.
QString NotifyRecordLine(const NotifyCall& call);

// A notification service that keeps every Notify call (and appends it to a file when one is
// given), and the notifications on screen as a desktop keeps them: a Notify whose replaces_id
// names one on screen takes its place and answers its id, any other gets a new id; a
// notification goes when its expiry time (in ms, above 0) has passed, or when it is closed.
// An expiry of 0 or -1 keeps it until it is closed, as desktops do for critical ones. Register
// it on /org/freedesktop/Notifications with kNotificationRecorderExports.
class NotificationRecorder : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  explicit NotificationRecorder(QString record_path = {}, QObject* parent = nullptr);

  const QList<NotifyCall>& Calls() const { return calls_; }
  // The notifications on screen now, by id.
  const QMap<uint, NotifyCall>& OnScreen() const { return on_screen_; }

 public slots:
  uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
              const QString& summary, const QString& body, const QStringList& actions,
              const QVariantMap& hints, int expire_timeout);
  QStringList GetCapabilities();
  QString GetServerInformation(QString& vendor, QString& version, QString& spec_version);
  void CloseNotification(uint id);

 signals:
  void Notified();
  // reason: 1 expired, 3 closed by a CloseNotification call.
  Q_SCRIPTABLE void NotificationClosed(uint id, uint reason);

 private:
  void Remove(uint id, uint reason);

  QString record_path_;
  QList<NotifyCall> calls_;
  QMap<uint, NotifyCall> on_screen_;
  QMap<uint, uint64_t> generation_;  // per id, which Notify its expiry timer belongs to
  uint64_t notifies_ = 0;
  uint last_id_ = 0;
};

inline constexpr QDBusConnection::RegisterOptions kNotificationRecorderExports =
    QDBusConnection::ExportAllSlots | QDBusConnection::ExportScriptableSignals;

// Process entry points, given the whole command line (argv[1] is the selecting argument).
int RunLogindStandIn(int argc, char** argv);
int RunNotificationRecorder(int argc, char** argv);
int RunDesktopStandIns(int argc, char** argv);

}  // namespace qelta::testing
