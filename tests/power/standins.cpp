#include "standins.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace qelta::testing {
namespace {

constexpr char kLogindService[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kLogindManager[] = "org.freedesktop.login1.Manager";
constexpr char kNotificationsService[] = "org.freedesktop.Notifications";
constexpr char kNotificationsPath[] = "/org/freedesktop/Notifications";

void AppendLine(const QString& path, const QString& line) {
  if (path.isEmpty()) return;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
  file.write(line.toUtf8() + '\n');
}

QString ArgumentText(const QVariant& value) {
  if (value.typeId() == QMetaType::Bool) return value.toBool() ? "true" : "false";
  return value.toString();
}

QString EscapeField(QString text) {
  text.replace('\\', "\\\\");
  text.replace('\t', "\\t");
  text.replace('\n', "\\n");
  return text;
}

// Runs the event loop of a stand-in that has its names: says "ready", then serves until a bus
// connection is gone.
int Serve(QCoreApplication& app, const QList<QDBusConnection>& buses) {
  // Qt holds back the calls that reach a bus connection made on the main thread until the event
  // loop runs, and then lets newer calls overtake them. "ready" is said from the loop, queued
  // behind the event that ends that hold, so calls made after it are handled in their order.
  QMetaObject::invokeMethod(
      &app,
      [] {
        std::puts("ready");
        std::fflush(stdout);
      },
      Qt::QueuedConnection);
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &app, [&app, buses] {
    for (const QDBusConnection& bus : buses) {
      if (!bus.isConnected()) app.quit();
    }
  });
  watch.start(200);
  return app.exec();
}

// How long the fence waits for one Ping answer before it lets the call through anyway.
constexpr int kPingTimeoutMs = 5000;

// Runs `proceed` once every connection on `session` that belongs to the process behind the
// call's sender on `system` has answered a Ping (or failed to). The answers come in on this
// process's session connection after whatever those connections sent it before, and Qt hands
// both to the main thread in that order, so earlier Notify calls have been handled by then.
void AfterSendersSessionMessages(const QDBusConnection& system, const QDBusConnection& session,
                                 const QDBusMessage& call, const std::function<void()>& proceed) {
  QStringList targets;
  const QDBusReply<uint> pid = system.interface()->servicePid(call.service());
  const QDBusReply<QStringList> names = session.interface()->registeredServiceNames();
  if (pid.isValid() && names.isValid()) {
    for (const QString& name : names.value()) {
      if (!name.startsWith(':') || name == session.baseService()) continue;
      const QDBusReply<uint> owner = session.interface()->servicePid(name);
      if (owner.isValid() && owner.value() == pid.value()) targets << name;
    }
  }
  if (targets.isEmpty()) {
    proceed();
    return;
  }
  auto left = std::make_shared<qsizetype>(targets.size());
  for (const QString& target : targets) {
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        target, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.Peer"),
        QStringLiteral("Ping"));
    auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(ping, kPingTimeoutMs), qApp);
    // The watcher signals a call that is already finished too (queued), unless it was never
    // sent, which cannot happen on a connected bus.
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher, left, proceed] {
      watcher->deleteLater();
      if (--*left == 0) proceed();
    });
  }
}

}  // namespace

LogindStandIn::Behaviour LogindStandIn::FromArguments(int argc, char** argv) {
  Behaviour behaviour;
  behaviour.answer = QString::fromLocal8Bit(argv[2]);
  for (int i = 4; i < argc; ++i) {
    const QByteArray option(argv[i]);
    if (option == "refuse-power-off") behaviour.refuse_power_off = true;
    if (option == "refuse-first-power-off") behaviour.refuse_first_power_off = true;
    if (option == "block-lock") behaviour.block_lock = true;
  }
  return behaviour;
}

LogindStandIn::LogindStandIn(Behaviour behaviour, QString record_path)
    : behaviour_(std::move(behaviour)), record_path_(std::move(record_path)) {}

QString LogindStandIn::Permission() const {
  // With a block lock that the caller may not ignore, logind asks polkit for the
  // "...power-off-ignore-inhibit" action, which needs an administrator's authorisation.
  if (behaviour_.block_lock && behaviour_.answer == QLatin1String("yes")) {
    return QStringLiteral("challenge");
  }
  return behaviour_.answer;
}

QDBusMessage LogindStandIn::PowerOffAnswer(const QDBusMessage& call) {
  const bool first = power_offs_++ == 0;
  if (behaviour_.refuse_power_off || (first && behaviour_.refuse_first_power_off)) {
    return call.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                 QStringLiteral("Power-off refused by the stand-in"));
  }
  const QString permission = Permission();
  if (permission == QLatin1String("challenge")) {
    // What logind says to a caller that did not allow interaction.
    return call.createErrorReply(
        QStringLiteral("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"),
        QStringLiteral("Interactive authentication required."));
  }
  if (permission == QLatin1String("no")) {
    return call.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                 QStringLiteral("Permission denied"));
  }
  return call.createReply();
}

QString LogindStandIn::introspect(const QString&) const {
  return {};
}

bool LogindStandIn::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  if (message.type() != QDBusMessage::MethodCallMessage) return false;
  if (message.interface() == QLatin1String(kStandInTestInterface) &&
      message.member() == QLatin1String("Sync")) {
    // Answered after every call that came before it on the same connection.
    connection.send(message.createReply());
    return true;
  }
  if (!fence_) {
    RecordAndAnswer(message, connection);
    return true;
  }
  // The fence makes calls of its own, which is done on the main thread, whichever thread this
  // one is; calls keep their order because each one is queued behind the one before.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [this, message, connection] {
        fence_(message, [this, message, connection] { RecordAndAnswer(message, connection); });
      },
      Qt::QueuedConnection);
  return true;
}

void LogindStandIn::RecordAndAnswer(const QDBusMessage& message,
                                    const QDBusConnection& connection) {
  QStringList parts{message.interface() + '.' + message.member(), message.signature()};
  for (const QVariant& argument : message.arguments()) parts << ArgumentText(argument);
  AppendLine(record_path_, parts.join(' ').trimmed());

  const bool manager = message.interface() == QLatin1String(kLogindManager);
  if (manager && message.member() == QLatin1String("CanPowerOff")) {
    const QString permission = Permission();
    if (permission == QLatin1String("silent")) return;  // never answered
    if (permission == QLatin1String("error")) {
      connection.send(
          message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                   QStringLiteral("Refused by the stand-in")));
    } else {
      connection.send(message.createReply(permission));
    }
    return;
  }
  if (manager && message.member() == QLatin1String("PowerOff")) {
    connection.send(PowerOffAnswer(message));
    return;
  }
  connection.send(
      message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                               QStringLiteral("Not provided by the stand-in")));
}

QString NotifyRecordLine(const NotifyCall& call) {
  return QStringList{EscapeField(call.summary), EscapeField(call.body), EscapeField(call.app_icon),
                     QString::number(call.expire_timeout)}
      .join('\t');
}

NotificationRecorder::NotificationRecorder(QString record_path, QObject* parent)
    : QObject(parent), record_path_(std::move(record_path)) {}

uint NotificationRecorder::Notify(const QString& app_name, uint replaces_id,
                                  const QString& app_icon, const QString& summary,
                                  const QString& body, const QStringList& actions,
                                  const QVariantMap& hints, int expire_timeout) {
  NotifyCall call{app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout};
  AppendLine(record_path_, NotifyRecordLine(call));
  calls_.append(call);
  const uint id = replaces_id != 0 && on_screen_.contains(replaces_id) ? replaces_id : ++last_id_;
  on_screen_.insert(id, std::move(call));
  const uint64_t generation = ++notifies_;
  generation_.insert(id, generation);
  if (expire_timeout > 0) {
    // A replacement starts the time anew: the timer of the one it replaced no longer counts.
    QTimer::singleShot(expire_timeout, this, [this, id, generation] {
      if (generation_.value(id) == generation) Remove(id, 1);
    });
  }
  emit Notified();
  return id;
}

void NotificationRecorder::Remove(uint id, uint reason) {
  if (on_screen_.remove(id) == 0) return;
  generation_.remove(id);
  emit NotificationClosed(id, reason);
}

QStringList NotificationRecorder::GetCapabilities() {
  return {QStringLiteral("body")};
}

QString NotificationRecorder::GetServerInformation(QString& vendor, QString& version,
                                                   QString& spec_version) {
  vendor = QStringLiteral("QELTA tests");
  version = QStringLiteral("1");
  spec_version = QStringLiteral("1.2");
  return QStringLiteral("notification-recorder");
}

void NotificationRecorder::CloseNotification(uint id) {
  Remove(id, 3);
}

int RunLogindStandIn(int argc, char** argv) {
  if (argc < 4) {
    std::fputs(
        "usage: --logind-standin <answer> <record-file> [refuse-power-off] "
        "[refuse-first-power-off] [block-lock]\n",
        stderr);
    return 2;
  }
  QCoreApplication app(argc, argv);
  const QString record = QString::fromLocal8Bit(argv[3]);
  QDBusConnection bus = QDBusConnection::systemBus();
  LogindStandIn standin(LogindStandIn::FromArguments(argc, argv), record);
  if (!bus.registerVirtualObject(kLogindPath, &standin, QDBusConnection::SingleNode) ||
      !bus.registerService(kLogindService)) {
    std::fputs("logind stand-in: cannot own org.freedesktop.login1\n", stderr);
    return 1;
  }
  return Serve(app, {bus});
}

int RunNotificationRecorder(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: --notification-recorder <record-file>\n", stderr);
    return 2;
  }
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  NotificationRecorder recorder(QString::fromLocal8Bit(argv[2]));
  if (!bus.registerObject(kNotificationsPath, &recorder, kNotificationRecorderExports) ||
      !bus.registerService(kNotificationsService)) {
    std::fputs("notification recorder: cannot own org.freedesktop.Notifications\n", stderr);
    return 1;
  }
  return Serve(app, {bus});
}

int RunDesktopStandIns(int argc, char** argv) {
  if (argc < 4) {
    std::fputs(
        "usage: --desktop-standins <answer> <record-file> [refuse-power-off] "
        "[refuse-first-power-off] [block-lock]\n",
        stderr);
    return 2;
  }
  QCoreApplication app(argc, argv);
  const QString record = QString::fromLocal8Bit(argv[3]);
  QDBusConnection system = QDBusConnection::systemBus();
  QDBusConnection session = QDBusConnection::sessionBus();
  NotificationRecorder recorder(record);
  LogindStandIn standin(LogindStandIn::FromArguments(argc, argv), record);
  standin.SetFence([system, session](const QDBusMessage& call, std::function<void()> proceed) {
    AfterSendersSessionMessages(system, session, call, proceed);
  });
  if (!session.registerObject(kNotificationsPath, &recorder, kNotificationRecorderExports) ||
      !session.registerService(kNotificationsService)) {
    std::fputs("desktop stand-ins: cannot own org.freedesktop.Notifications\n", stderr);
    return 1;
  }
  if (!system.registerVirtualObject(kLogindPath, &standin, QDBusConnection::SingleNode) ||
      !system.registerService(kLogindService)) {
    std::fputs("desktop stand-ins: cannot own org.freedesktop.login1\n", stderr);
    return 1;
  }
  return Serve(app, {system, session});
}

}  // namespace qelta::testing
