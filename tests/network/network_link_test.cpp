// The network link (Port=NET) against servers in a thread of the test: one that answers as the
// protocol says, one that stalls, one that floods, one that has lost its UPS, one that refuses the
// commands. The link must fail such polls, never hang, and keep what it is owed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>

#include <QApplication>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "network/network_link.h"
#include "platform/wall_clock.h"
#include "settings/memory_settings.h"

namespace qelta {
namespace {

void EnsureApp() {
  static int argc = 1;
  static char name[] = "test_network";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) new QApplication(argc, argv);
}

// A loopback server on a thread of its own; `session` runs once per accepted connection with a
// reader of its lines and the descriptor to answer on.
class ScriptedServer {
 public:
  using LineReader = std::function<std::string()>;  // empty once the client is gone
  using Session = std::function<void(int fd, const LineReader& read_line)>;

  explicit ScriptedServer(Session session) : session_(std::move(session)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 8);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  int port() const { return port_; }
  int accepted() const { return accepted_; }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++accepted_;
      std::string buffer;
      const LineReader read_line = [&]() -> std::string {
        while (!stop_) {
          const size_t lf = buffer.find('\n');
          if (lf != std::string::npos) {
            std::string line = buffer.substr(0, lf);
            buffer.erase(0, lf + 1);
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
            return line;
          }
          pollfd c{fd, POLLIN, 0};
          if (poll(&c, 1, 50) <= 0) continue;
          char bytes[512];
          const ssize_t n = read(fd, bytes, sizeof bytes);
          if (n <= 0) return {};
          buffer.append(bytes, static_cast<size_t>(n));
        }
        return {};
      };
      session_(fd, read_line);
      close(fd);
    }
  }

  Session session_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::thread thread_;
};

void Send(int fd, const std::string& text) {
  static_cast<void>(send(fd, text.data(), text.size(), MSG_NOSIGNAL));
}

const char kListing[] =
    "BEGIN LIST VAR qelta\n"
    "VAR qelta battery.voltage \"12.80\"\n"
    "VAR qelta input.frequency \"50.1\"\n"
    "VAR qelta input.voltage \"231.7\"\n"
    "VAR qelta input.voltage.fault \"231.0\"\n"
    "VAR qelta output.voltage \"220.1\"\n"
    "VAR qelta ups.beeper.status \"enabled\"\n"
    "VAR qelta ups.load \"42\"\n"
    "VAR qelta ups.status \"OB LB BOOST ALARM FSD\"\n"
    "VAR qelta ups.temperature \"31.5\"\n"
    "VAR qelta ups.type \"offline / line interactive\"\n"
    "END LIST VAR qelta\n";

// Answers the login and every LIST VAR as a sound server does; the instant commands with
// `instcmd_answer`; `stale` answers DATA-STALE instead of the listing.
ScriptedServer::Session Sound(const std::string& instcmd_answer,
                              std::atomic<bool>* stale = nullptr) {
  return [instcmd_answer, stale](int fd, const ScriptedServer::LineReader& read_line) {
    for (std::string line = read_line(); !line.empty(); line = read_line()) {
      if (line.starts_with("LIST VAR")) {
        Send(fd, stale != nullptr && *stale ? "ERR DATA-STALE\n" : kListing);
      } else if (line.starts_with("INSTCMD")) {
        Send(fd, instcmd_answer + "\n");
      } else if (line == "LOGOUT") {
        Send(fd, "OK Goodbye\n");
        return;
      } else {
        Send(fd, "OK\n");
      }
    }
  };
}

class NetworkLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApp(); }
  void Point(int port, const std::string& user = "mon", bool watch_only = false) {
    settings.WriteString("Settings", "Port", "NET");
    settings.WriteString("Network", "Server", "127.0.0.1");
    settings.WriteInteger("Network", "ServerPort", port);
    settings.WriteString("Network", "ServerUser", user);
    settings.WriteString("Network", "ServerPassword", "pw \"1\"");
    settings.WriteBool("Network", "WatchOnly", watch_only);
  }
  bool Query() { return link.QueryUPSStatus(status, raw); }

  MemorySettings settings;
  FixedWallClock clock{86400000};
  NetworkUpsLink link{settings, clock};
  TUPSStatus status;
  TUPSStatusRaw raw;
};

TEST_F(NetworkLinkTest, LogsInOnceAndBuildsTheStatusRecordFromOneListVarAPoll) {
  ScriptedServer server(Sound("OK"));
  Point(server.port());
  ASSERT_TRUE(Query());
  ASSERT_TRUE(Query());
  EXPECT_EQ(server.accepted(), 1);
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{
                                "USERNAME \"mon\"", "PASSWORD \"pw \\\"1\\\"\"", "LOGIN \"qelta\"",
                                "LIST VAR \"qelta\"", "LIST VAR \"qelta\""}));
  EXPECT_EQ(status.IP_voltage, "231.7");
  EXPECT_EQ(status.IP_fault_voltage, "231.0");
  EXPECT_EQ(status.OP_voltage, "220.1");
  EXPECT_EQ(status.OP_current, "42");
  EXPECT_EQ(status.OP_frequency, "50.1");
  EXPECT_EQ(status.battery_voltage, "12.80");
  EXPECT_EQ(status.temp, "31.5");
  EXPECT_TRUE(status.status_using_battery && status.status_battery_low && status.status_avr &&
              status.status_ups_failed && status.status_ups_is_line_interactive &&
              status.forced_shutdown && status.status_beeper);
  EXPECT_FALSE(status.status_testing);
  // The server's own beeper preference is never fought over.
  EXPECT_FALSE(status.beeper_flag_carried);
  EXPECT_EQ(raw.OP_current, 42);
  EXPECT_EQ(raw.time, 86400u);

  // Before the power-off: LOGOUT, so that the primary need not wait; the polls made while the
  // computer goes down watch without logging in again, or the primary would wait for it.
  link.ReleaseBeforePowerOff();
  EXPECT_EQ(server.Lines().back(), "LOGOUT");
  ASSERT_TRUE(Query());
  const std::vector<std::string> after_logout = server.Lines();
  EXPECT_EQ(std::count(after_logout.begin(), after_logout.end(), "LOGIN \"qelta\""), 1);
  EXPECT_EQ(after_logout.back(), "LIST VAR \"qelta\"");
  // A refused power-off leaves the computer on this UPS: it logs in again.
  link.ResumeAfterFailedPowerOff();
  ASSERT_TRUE(Query());
  const std::vector<std::string> resumed = server.Lines();
  EXPECT_EQ(std::count(resumed.begin(), resumed.end(), "LOGIN \"qelta\""), 2);
}

TEST_F(NetworkLinkTest, AWatcherDoesNotLogInAndWithoutAUserHasNoCommands) {
  ScriptedServer server(Sound("OK"));
  Point(server.port(), "mon", true);
  ASSERT_TRUE(Query());
  EXPECT_EQ(server.Lines().size(), 3u);  // USERNAME, PASSWORD, LIST VAR: no LOGIN
  std::string hint;
  EXPECT_TRUE(link.CommandsAllowed(hint));
  settings.WriteString("Network", "ServerUser", "");
  EXPECT_FALSE(link.CommandsAllowed(hint));
  EXPECT_FALSE(hint.empty());
  EXPECT_FALSE(link.PerformUPSTest());
}

TEST_F(NetworkLinkTest, CommandsGoAsInstantCommandsAndARefusalDisablesThem) {
  ScriptedServer server(Sound("ERR ACCESS-DENIED"));
  Point(server.port());
  ASSERT_TRUE(Query());  // beeper enabled
  std::string hint;
  EXPECT_TRUE(link.CommandsAllowed(hint));
  EXPECT_FALSE(link.ToggleUPSBeeper());
  EXPECT_EQ(server.Lines().back(), "INSTCMD \"qelta\" beeper.disable");
  EXPECT_FALSE(link.CommandsAllowed(hint));
  EXPECT_FALSE(hint.empty());
}

TEST_F(NetworkLinkTest, AStaleUpsFailsThePollAndKeepsTheConnection) {
  std::atomic<bool> stale{true};
  ScriptedServer server(Sound("OK", &stale));
  Point(server.port());
  EXPECT_FALSE(Query());
  stale = false;
  EXPECT_TRUE(Query());
  EXPECT_EQ(server.accepted(), 1);
}

TEST_F(NetworkLinkTest, AConnectionTheServerClosedBetweenPollsIsMadeAgainWithinThePoll) {
  // Answers one LIST VAR a connection, then closes it (as a server that restarted would).
  ScriptedServer server([](int fd, const ScriptedServer::LineReader& read_line) {
    for (std::string line = read_line(); !line.empty(); line = read_line()) {
      if (line.starts_with("LIST VAR")) {
        Send(fd, kListing);
        return;
      }
      Send(fd, "OK\n");
    }
  });
  Point(server.port());
  ASSERT_TRUE(Query());
  EXPECT_TRUE(Query());
  EXPECT_TRUE(Query());
  EXPECT_EQ(server.accepted(), 3);
}

TEST_F(NetworkLinkTest, StalledFloodingAndGarblingServersFailThePollAndTheNextOneConnectsAgain) {
  // Never answers at all.
  ScriptedServer silent([](int, const ScriptedServer::LineReader& read_line) {
    while (!read_line().empty()) {
    }
  });
  Point(silent.port());
  EXPECT_FALSE(Query());
  EXPECT_FALSE(Query());
  EXPECT_EQ(silent.accepted(), 2);

  // An answer that never ends.
  ScriptedServer flood([](int fd, const ScriptedServer::LineReader& read_line) {
    read_line();
    Send(fd, "BEGIN LIST VAR qelta\n");
    const std::string var(400, 'x');
    for (int i = 0; i < 2000; ++i)
      Send(fd, "VAR qelta v" + std::to_string(i) + " \"" + var + "\"\n");
  });
  Point(flood.port(), "");
  EXPECT_FALSE(Query());

  // Not the protocol.
  ScriptedServer garbage([](int fd, const ScriptedServer::LineReader& read_line) {
    read_line();
    Send(fd, "HTTP/1.0 400 Bad Request\n");
  });
  Point(garbage.port(), "");
  EXPECT_FALSE(Query());

  // Nobody listens.
  int closed = 0;
  {
    ScriptedServer gone(Sound("OK"));
    closed = gone.port();
  }
  Point(closed, "");
  status = TUPSStatus{};
  EXPECT_FALSE(Query());
  EXPECT_EQ(status, TUPSStatus{});  // a failed poll leaves the records alone
}

TEST(LinkByPortTest, NetOrItsOverrideGoesToTheNetworkEveryOtherNameToTheCable) {
  struct Recording : UpsLink {
    std::string name;
    int queries = 0;
    std::string override_;
    bool QueryUPSStatus(TUPSStatus&, TUPSStatusRaw&) override { return ++queries > 0; }
    bool PerformUPSTest() override { return false; }
    bool ToggleUPSBeeper() override { return false; }
    void SetPortOverride(const std::string& p) override { override_ = p; }
    std::string PortOverride() const override { return override_; }
  } cable, network;
  MemorySettings settings;
  LinkByPort link(cable, network, settings);
  TUPSStatus status;
  TUPSStatusRaw raw;
  link.QueryUPSStatus(status, raw);  // COM1 by default
  settings.WriteString("Settings", "Port", "NET");
  link.QueryUPSStatus(status, raw);
  link.SetPortOverride("USB");  // a search on the cable while NET is stored
  link.QueryUPSStatus(status, raw);
  settings.WriteString("Settings", "Port", "COM2");
  link.SetPortOverride("NET");  // a search that tries the server
  link.QueryUPSStatus(status, raw);
  EXPECT_EQ(cable.queries, 2);
  EXPECT_EQ(network.queries, 2);
}

}  // namespace
}  // namespace qelta
