// The power test program. Besides the tests it serves as the stand-in logind and the stand-in
// notification service (see standins.h), so that whole-program tests can start those too.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "private_bus.h"
#include "standins.h"
#include "test_environment.h"

namespace qelta::testing {
namespace {

QString g_alsa_output;

bool NameOwned(const QDBusConnection& bus, const char* name) {
  return bus.interface() != nullptr && bus.interface()->isServiceRegistered(name).value();
}

}  // namespace

QString AlsaOutputPath() {
  return g_alsa_output;
}

bool StandInProcess::Start(const QStringList& arguments) {
  process_.setProgram(QCoreApplication::applicationFilePath());
  process_.setArguments(arguments);
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start();
  if (!process_.waitForStarted(10000)) return false;
  while (process_.state() == QProcess::Running) {
    if (!process_.canReadLine() && !process_.waitForReadyRead(10000)) break;
    while (process_.canReadLine()) {
      if (process_.readLine().trimmed() == "ready") return true;
    }
  }
  Stop();
  return false;
}

void StandInProcess::Stop() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(5000)) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

}  // namespace qelta::testing

int main(int argc, char** argv) {
  using namespace qelta::testing;
  if (argc >= 2 && std::strcmp(argv[1], "--logind-standin") == 0) {
    return RunLogindStandIn(argc, argv);
  }
  if (argc >= 2 && std::strcmp(argv[1], "--notification-recorder") == 0) {
    return RunNotificationRecorder(argc, argv);
  }
  if (argc >= 2 && std::strcmp(argv[1], "--desktop-standins") == 0) {
    return RunDesktopStandIns(argc, argv);
  }

  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

  // Qt caches both buses at their first use, so they are replaced before anything can touch them:
  // no test may reach the machine's logind or the user's desktop.
  PrivateDbusDaemon system_bus;
  PrivateDbusDaemon session_bus;
  if (!system_bus.Running() || !session_bus.Running()) {
    std::fputs("cannot start private dbus-daemon buses\n", stderr);
    return 1;
  }
  setenv("DBUS_SYSTEM_BUS_ADDRESS", system_bus.Address().c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", session_bus.Address().c_str(), 1);
  if (getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  // ALSA's default device becomes a file, so played sounds can be checked and none is heard.
  QTemporaryDir alsa_dir;
  if (!alsa_dir.isValid()) return 1;
  g_alsa_output = alsa_dir.filePath("played.raw");
  const QString alsa_config = alsa_dir.filePath("asound.conf");
  {
    QFile config(alsa_config);
    if (!config.open(QIODevice::WriteOnly)) return 1;
    config.write(
        "pcm.!default {\n"
        "  type file\n"
        "  slave.pcm \"qelta_discard\"\n"
        "  file \"" +
        QFile::encodeName(g_alsa_output) +
        "\"\n"
        "  format \"raw\"\n"
        "}\n"
        "pcm.qelta_discard {\n"
        "  type null\n"
        "}\n");
  }
  setenv("ALSA_CONFIG_PATH", QFile::encodeName(alsa_config).constData(), 1);

  QApplication app(argc, argv);

  // Fresh private buses: nobody owns the names the tests stand in for.
  if (!QDBusConnection::systemBus().isConnected() || !QDBusConnection::sessionBus().isConnected() ||
      NameOwned(QDBusConnection::systemBus(), "org.freedesktop.login1") ||
      NameOwned(QDBusConnection::sessionBus(), "org.freedesktop.Notifications")) {
    std::fputs("the private buses are not in use; refusing to run\n", stderr);
    return 1;
  }
  return RUN_ALL_TESTS();
}
