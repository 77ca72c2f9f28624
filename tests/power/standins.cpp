#include "standins.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QFile>
#include <QTimer>
#include <cstdio>

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

// Runs the event loop of a stand-in that has its name: says "ready", then serves until the bus
// connection is gone.
int Serve(QCoreApplication& app, const QDBusConnection& bus) {
  std::puts("ready");
  std::fflush(stdout);
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &app, [&app, bus] {
    if (!bus.isConnected()) app.quit();
  });
  watch.start(200);
  return app.exec();
}

}  // namespace

LogindStandIn::LogindStandIn(QString answer, bool refuse_power_off, QString record_path)
    : answer_(std::move(answer)),
      refuse_power_off_(refuse_power_off),
      record_path_(std::move(record_path)) {}

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

  QStringList parts{message.interface() + '.' + message.member(), message.signature()};
  for (const QVariant& argument : message.arguments()) parts << ArgumentText(argument);
  AppendLine(record_path_, parts.join(' ').trimmed());

  const bool manager = message.interface() == QLatin1String(kLogindManager);
  if (manager && message.member() == QLatin1String("CanPowerOff")) {
    if (answer_ == QLatin1String("silent")) return true;  // never answered
    if (answer_ == QLatin1String("error")) {
      connection.send(
          message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                   QStringLiteral("Refused by the stand-in")));
    } else {
      connection.send(message.createReply(answer_));
    }
    return true;
  }
  if (manager && message.member() == QLatin1String("PowerOff")) {
    connection.send(
        refuse_power_off_
            ? message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                       QStringLiteral("Power-off refused by the stand-in"))
            : message.createReply());
    return true;
  }
  connection.send(
      message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                               QStringLiteral("Not provided by the stand-in")));
  return true;
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
  calls_.append(std::move(call));
  emit Notified();
  return ++last_id_;
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

void NotificationRecorder::CloseNotification(uint) {}

int RunLogindStandIn(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: --logind-standin <answer> <record-file> [refuse-power-off]\n", stderr);
    return 2;
  }
  QCoreApplication app(argc, argv);
  const QString answer = QString::fromLocal8Bit(argv[2]);
  const QString record = QString::fromLocal8Bit(argv[3]);
  const bool refuse = argc >= 5 && QByteArray(argv[4]) == "refuse-power-off";
  QDBusConnection bus = QDBusConnection::systemBus();
  LogindStandIn standin(answer, refuse, record);
  if (!bus.registerVirtualObject(kLogindPath, &standin, QDBusConnection::SingleNode) ||
      !bus.registerService(kLogindService)) {
    std::fputs("logind stand-in: cannot own org.freedesktop.login1\n", stderr);
    return 1;
  }
  return Serve(app, bus);
}

int RunNotificationRecorder(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: --notification-recorder <record-file>\n", stderr);
    return 2;
  }
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  NotificationRecorder recorder(QString::fromLocal8Bit(argv[2]));
  if (!bus.registerObject(kNotificationsPath, &recorder, QDBusConnection::ExportAllSlots) ||
      !bus.registerService(kNotificationsService)) {
    std::fputs("notification recorder: cannot own org.freedesktop.Notifications\n", stderr);
    return 1;
  }
  return Serve(app, bus);
}

}  // namespace qelta::testing
