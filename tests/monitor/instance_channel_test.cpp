// Identity between processes: a new monitor closes the running one through its socket.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include "platform/instance_channel.h"

namespace qelta {
namespace {

class InstanceChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  }
  QTemporaryDir runtime;
  const QString title = QStringLiteral("QELTA MONITOR GENERAL FORM");
};

// Runs a listener in a child process; it exits 0 when asked to close.
pid_t StartListener(const QString& title) {
  const pid_t pid = fork();
  if (pid == 0) {
    int argc = 1;
    char name[] = "listener";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    InstanceChannel channel;
    if (!channel.Listen(title, [] { QCoreApplication::quit(); })) _exit(3);
    QCoreApplication::exec();
    _exit(0);
  }
  return pid;
}

bool WaitForSocket(const QString& path) {
  for (int i = 0; i < 200; ++i) {
    if (QFile::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

TEST_F(InstanceChannelTest, NothingRunningMeansNothingAsked) {
  EXPECT_FALSE(InstanceChannel::CloseRunning(title, 2000));
}

TEST_F(InstanceChannelTest, RunningListenerIsClosedAndWaitedFor) {
  const pid_t pid = StartListener(title);
  ASSERT_TRUE(WaitForSocket(InstanceChannel::SocketPath(title)));
  EXPECT_TRUE(InstanceChannel::CloseRunning(title, 10000));
  // CloseRunning returned only once nobody answers under the name any more ...
  QLocalSocket probe;
  probe.connectToServer(InstanceChannel::SocketPath(title));
  EXPECT_FALSE(probe.waitForConnected(500));
  // ... because the listener was asked to close and did so.
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 200 && ended == 0; ++i) {
    ended = waitpid(pid, &status, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_EQ(ended, pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(InstanceChannelTest, SocketOfAKilledProcessBlocksNeitherSideNorListening) {
  const pid_t pid = StartListener(title);
  ASSERT_TRUE(WaitForSocket(InstanceChannel::SocketPath(title)));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  ASSERT_TRUE(QFile::exists(InstanceChannel::SocketPath(title)));  // left behind
  EXPECT_FALSE(InstanceChannel::CloseRunning(title, 2000));
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  InstanceChannel channel;
  EXPECT_TRUE(channel.Listen(title, [] {}));
}

}  // namespace
}  // namespace qelta
