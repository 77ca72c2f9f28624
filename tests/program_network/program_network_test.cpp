// The real monitor serves the UPS network protocol to real clients (upsc, upscmd, upsmon from
// nut-client, and python3-nut), with the simulated UPS behind it, on loopback only.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "network_clients.h"
#include "program_harness.h"
#include "tests/power/private_bus.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kLongWait = 45s;
const std::string kPowerOff = "org.freedesktop.login1.Manager.PowerOff b false";
const char* const kUpsmon = "/lib/nut/upsmon";

VirtualDisplay* display = nullptr;
const auto* const registered = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment(display));

// What a nut-client tool printed, without its note that it has no certificate database.
std::string WithoutSslNote(const std::string& output) {
  std::istringstream in(output);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("Init SSL without certificate database")) kept += line + "\n";
  }
  return kept;
}

std::string Upsc(int port, const std::string& variable = "") {
  return WithoutSslNote(
      RunCommand("timeout 20 upsc qelta@127.0.0.1:" + std::to_string(port) + " " + variable)
          .output);
}

// The value upsc gives for `name` in a full listing ("name: value" lines), or "".
std::string Field(const std::string& listing, const std::string& name) {
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(name + ": ")) return line.substr(name.size() + 2);
  }
  return {};
}

class NetworkProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display != nullptr && display->ok()) << "no Xvfb";
    ASSERT_EQ(RunCommand("command -v upsc upscmd").code, 0) << "nut-client is not installed";
    ASSERT_TRUE(std::filesystem::exists(kUpsmon)) << "nut-client's upsmon is not installed";
    port_ = FreeLoopbackPort();
    ASSERT_GT(port_, 0);
    log_path_ = sandbox_.dir() + "/calls.log";
  }

  std::string NetworkSettings(const std::string& more = "") const {
    return "\n[Network]\nPort=" + std::to_string(port_) +
           "\nUsers=mon1 mon2 admin\nUser.mon1.Password=pw1\nUser.mon2.Password=pw2\n"
           "User.admin.Password=adminpw\nUser.admin.Right=instcmds\n" +
           more;
  }

  std::string StartSimulator(const std::vector<std::string>& options) {
    const std::string device = qelta::testing::StartSimulator(simulator_, options);
    EXPECT_FALSE(device.empty());
    return device;
  }
  void Tell(const std::string& command) {
    simulator_.WriteLine(command);
    ASSERT_EQ(simulator_.ReadLine(10s), "ok") << command;
  }

  // The monitor, with the stand-in logind and notification service on private buses.
  void StartMonitorWithStandIns() {
    const std::map<std::string, std::string> buses{
        {"DBUS_SYSTEM_BUS_ADDRESS", system_bus_.Address()},
        {"DBUS_SESSION_BUS_ADDRESS", session_bus_.Address()}};
    ASSERT_TRUE(system_bus_.Running() && session_bus_.Running());
    ASSERT_TRUE(standins_.Start(
        {std::string(QELTA_BIN_DIR) + "/test_power", "--desktop-standins", "yes", log_path_}, buses,
        "", true));
    ASSERT_EQ(standins_.ReadLine(20s), "ready");
    std::map<std::string, std::string> env = sandbox_.Environment(display->name());
    for (const auto& [key, value] : buses) env[key] = value;
    ASSERT_TRUE(monitor_.Start(sandbox_.MonitorCommand(), env, sandbox_.dir()));
    WaitUntilServing();
  }

  void StartMonitor() {
    ASSERT_TRUE(monitor_.Start(sandbox_.MonitorCommand(), sandbox_.Environment(display->name()),
                               sandbox_.dir()));
    WaitUntilServing();
  }

  void WaitUntilServing() {
    ASSERT_TRUE(WaitFor([&] { return Field(Upsc(port_), "ups.status") != ""; }, kLongWait))
        << Upsc(port_);
  }

  // Asks the server on a fresh connection; one answer line.
  std::string Ask(const std::string& request) {
    RawClient client(port_);
    client.Send(request + "\n");
    return client.ReadLine();
  }

  std::string LogText() const {
    std::ifstream file(log_path_);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }

  // Starts one upsmon as a secondary of this UPS, with a shutdown command that writes the time
  // to `<folder>/shutdown` and does nothing else.
  void StartUpsmon(ChildProcess& upsmon, const std::string& user, const std::string& password) {
    const std::string folder = sandbox_.dir() + "/" + user;
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/shutdown.sh")
        << "#!/bin/sh\ndate +%s.%N > '" << folder << "/shutdown'\n";
    std::filesystem::permissions(folder + "/shutdown.sh", std::filesystem::perms::owner_all);
    const passwd* me = getpwuid(getuid());
    std::ofstream(folder + "/upsmon.conf")
        << "RUN_AS_USER " << (me != nullptr ? me->pw_name : "root") << "\n"
        << "MONITOR qelta@127.0.0.1:" << port_ << " 1 " << user << " " << password
        << " secondary\nMINSUPPLIES 1\nSHUTDOWNCMD \"" << folder << "/shutdown.sh\"\n"
        << "POWERDOWNFLAG " << folder << "/killpower\nPOLLFREQ 1\nPOLLFREQALERT 1\n"
        << "DEADTIME 15\nFINALDELAY 0\n";
    std::vector<std::string> command = {kUpsmon, "-D", "-F", "-p"};
    if (getuid() == 0) {
      // Run as root, upsmon keeps its process id in the system's run folder whatever its
      // environment says, and a second one then refuses to start ("A previous upsmon instance
      // is already running"). Each gets a run folder of its own in a mount namespace of its own.
      command.insert(command.begin(),
                     {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                      "mkdir -p /run/nut && mount --bind \"$0\" /run/nut && exec \"$@\"", folder});
    }
    ASSERT_TRUE(upsmon.Start(
        command, {{"NUT_CONFPATH", folder}, {"NUT_STATEPATH", folder}, {"NUT_ALTPIDPATH", folder}},
        folder));
  }

  // Seconds since the epoch on the system clock, as `date +%s.%N` writes them.
  static double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  double ShutdownTime(const std::string& user) const {
    std::ifstream file(sandbox_.dir() + "/" + user + "/shutdown");
    double t = 0;
    file >> t;
    return t;
  }

  // Watches the whole shutdown: when FSD first showed in ups.status and when logind was asked to
  // power off (system-clock seconds; 0 when it did not happen within the bound).
  struct Shutdown {
    double fsd = 0;
    double power_off = 0;
  };
  Shutdown WatchShutdown() {
    Shutdown seen;
    const auto give_up = Clock::now() + 90s;
    while (Clock::now() < give_up && seen.power_off == 0) {
      if (seen.fsd == 0 && Ask("GET VAR qelta ups.status").find("FSD") != std::string::npos) {
        seen.fsd = Now();
      }
      if (LogText().find(kPowerOff) != std::string::npos) seen.power_off = Now();
      std::this_thread::sleep_for(50ms);
    }
    return seen;
  }

  int port_ = 0;
  MonitorSandbox sandbox_;
  std::string log_path_;
  PrivateDbusDaemon system_bus_;
  PrivateDbusDaemon session_bus_;
  ChildProcess standins_;
  ChildProcess simulator_;
  ChildProcess monitor_;
};

TEST_F(NetworkProgramTest, RealClientsSeeTheSimulatorsValuesAndTheLinkAsItGoes) {
  sandbox_.SeedSettings(StartSimulator({"--pace=instant", "--input=231.7", "--load=42",
                                        "--temp=31.5", "--battv=12.80"}),
                        1, NetworkSettings());
  StartMonitor();

  const std::string listing = Upsc(port_);
  EXPECT_EQ(Field(listing, "input.voltage"), "231.7") << listing;
  EXPECT_EQ(Field(listing, "ups.load"), "42");
  EXPECT_EQ(Field(listing, "ups.temperature"), "31.5");
  EXPECT_EQ(Field(listing, "battery.voltage"), "12.80");
  EXPECT_EQ(Field(listing, "battery.charge"), "94");  // 12.80 / 13.6
  EXPECT_EQ(Field(listing, "ups.status"), "OL");
  EXPECT_EQ(Field(listing, "device.type"), "ups");
  EXPECT_EQ(
      WithoutSslNote(RunCommand("timeout 20 upsc -l 127.0.0.1:" + std::to_string(port_)).output),
      "qelta\n");

  // python3-nut reads the same, and its instant command goes to the UPS's beeper.
  const std::string script =
      "import PyNUT\n"
      "c = PyNUT.PyNUTClient(host='127.0.0.1', port=" +
      std::to_string(port_) +
      ", login='admin', password='adminpw')\n"
      "print(list(c.GetUPSList().keys())[0].decode())\n"
      "v = c.GetUPSVars('qelta')\n"
      "print(v[b'input.voltage'].decode(), v[b'ups.status'].decode(), "
      "v[b'ups.beeper.status'].decode())\n"
      "print(c.RunUPSCommand('qelta', 'beeper.disable'))\n";
  std::ofstream(sandbox_.dir() + "/client.py") << script;
  const CommandResult python =
      RunCommand("timeout 30 /usr/bin/python3 " + sandbox_.dir() + "/client.py");
  EXPECT_EQ(python.code, 0) << python.output;
  EXPECT_EQ(python.output, "qelta\n231.7 OL enabled\nOK\n");
  EXPECT_EQ(Upsc(port_, "ups.beeper.status").find("disabled"), 0u);
  // The same command with a wrong password, or from a user without the right, is refused.
  const CommandResult refused =
      RunCommand("timeout 20 upscmd -u admin -p wrong qelta@127.0.0.1:" + std::to_string(port_) +
                 " beeper.enable");
  EXPECT_NE(refused.code, 0);
  EXPECT_NE(refused.output.find("ACCESS-DENIED"), std::string::npos) << refused.output;
  const CommandResult secondary =
      RunCommand("timeout 20 upscmd -u mon1 -p pw1 qelta@127.0.0.1:" + std::to_string(port_) +
                 " beeper.enable");
  EXPECT_NE(secondary.code, 0);
  EXPECT_EQ(Upsc(port_, "ups.beeper.status").find("disabled"), 0u);

  Tell("battery");
  EXPECT_TRUE(WaitFor([&] { return Upsc(port_, "ups.status").starts_with("OB"); }, 10s));
  Tell("silent");
  EXPECT_TRUE(WaitFor([&] { return Upsc(port_).find("Data stale") != std::string::npos; }, 15s))
      << Upsc(port_);
  Tell("normal");
  EXPECT_TRUE(WaitFor([&] { return Upsc(port_, "ups.status").starts_with("OB"); }, 15s));
}

TEST_F(NetworkProgramTest, BothSecondariesShutDownAndLogOutBeforeThisComputerPowersOff) {
  sandbox_.SeedSettings(
      StartSimulator({"--pace=instant"}), 1,
      "\n[Sense]\nBatteryTime=1\nBatteryShutdownCountdown=2\nBatteryShutdown=1\n" +
          NetworkSettings("SecondaryWait=30\n"));
  StartMonitorWithStandIns();
  ChildProcess first;
  ChildProcess second;
  StartUpsmon(first, "mon1", "pw1");
  StartUpsmon(second, "mon2", "pw2");
  ASSERT_TRUE(
      WaitFor([&] { return Ask("GET NUMLOGINS qelta") == "NUMLOGINS qelta 2"; }, kLongWait));

  Tell("battery");
  const Shutdown seen = WatchShutdown();
  ASSERT_GT(seen.fsd, 0) << "FSD never showed";
  ASSERT_GT(seen.power_off, 0) << "no power-off\n" << LogText();
  const double first_down = ShutdownTime("mon1");
  const double second_down = ShutdownTime("mon2");
  ASSERT_GT(first_down, 0) << "the first secondary did not run its shutdown command";
  ASSERT_GT(second_down, 0) << "the second secondary did not run its shutdown command";
  EXPECT_LT(first_down, seen.power_off);
  EXPECT_LT(second_down, seen.power_off);
  // It was their logging out, not the wait limit, that let the power-off go.
  EXPECT_LT(seen.power_off - seen.fsd, 30.0);
  EXPECT_NE(LogText().find("Завершение работы других компьютеров... Осталось: 2"),
            std::string::npos)
      << LogText();
  std::cout << "FSD to secondary shutdown commands: " << first_down - seen.fsd << " s, "
            << second_down - seen.fsd << " s; FSD to PowerOff: " << seen.power_off - seen.fsd
            << " s\n";
}

TEST_F(NetworkProgramTest, ASecondaryThatNeverLogsOutHoldsThePowerOffOnlyForTheWait) {
  sandbox_.SeedSettings(
      StartSimulator({"--pace=instant"}), 1,
      "\n[Sense]\nBatteryTime=1\nBatteryShutdownCountdown=2\nBatteryShutdown=1\n" +
          NetworkSettings("SecondaryWait=5\n"));
  StartMonitorWithStandIns();
  RawClient stubborn(port_);
  stubborn.Send("USERNAME mon1\nPASSWORD pw1\nLOGIN qelta\n");
  ASSERT_EQ(stubborn.ReadLine(), "OK");
  ASSERT_EQ(stubborn.ReadLine(), "OK");
  ASSERT_EQ(stubborn.ReadLine(), "OK");

  Tell("battery");
  const Shutdown seen = WatchShutdown();
  ASSERT_GT(seen.fsd, 0);
  ASSERT_GT(seen.power_off, 0) << LogText();
  // Not before the wait (the FSD sighting may lag the flag by one look, 50 ms and a request).
  EXPECT_GE(seen.power_off - seen.fsd, 4.5);
  std::cout << "FSD to PowerOff with a secondary that stays: " << seen.power_off - seen.fsd
            << " s\n";
}

TEST_F(NetworkProgramTest, MainsBackDuringTheWaitClearsFsdAndNothingPowersOff) {
  sandbox_.SeedSettings(
      StartSimulator({"--pace=instant"}), 1,
      "\n[Sense]\nBatteryTime=1\nBatteryShutdownCountdown=2\nBatteryShutdown=1\n" +
          NetworkSettings("SecondaryWait=60\n"));
  StartMonitorWithStandIns();
  RawClient stubborn(port_);
  stubborn.Send("USERNAME mon1\nPASSWORD pw1\nLOGIN qelta\n");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(stubborn.ReadLine(), "OK");

  Tell("battery");
  ASSERT_TRUE(WaitFor(
      [&] { return Ask("GET VAR qelta ups.status").find("FSD") != std::string::npos; }, kLongWait));
  Tell("mains");
  ASSERT_TRUE(WaitFor(
      [&] { return Ask("GET VAR qelta ups.status") == "VAR qelta ups.status \"OL\""; }, kLongWait));
  ASSERT_TRUE(WaitFor(
      [&] {
        return LogText().find("сигнал завершения работы другим компьютерам (FSD) снят") !=
               std::string::npos;
      },
      kLongWait))
      << LogText();
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(LogText().find(kPowerOff), std::string::npos);
}

TEST_F(NetworkProgramTest, APortInUseIsReportedOnceAndTheMonitorGoesOn) {
  // Someone else holds the port.
  const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port_));
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder, 4), 0);
  sandbox_.SeedSettings(StartSimulator({"--pace=instant"}), 1, NetworkSettings());
  const std::string errors = sandbox_.dir() + "/stderr.txt";
  std::vector<std::string> command{
      "/bin/sh", "-c", "exec '" + sandbox_.MonitorCommand()[0] + "' 2>'" + errors + "'"};
  ASSERT_TRUE(monitor_.Start(command, sandbox_.Environment(display->name()), sandbox_.dir()));
  EXPECT_TRUE(WaitFor([&] { return sandbox_.ReadStats().size() >= 3; }, kLongWait));
  ::close(holder);
  std::ifstream file(errors);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string expected = "127.0.0.1:" + std::to_string(port_);
  const size_t at = text.find(expected);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.find(expected, at + 1), std::string::npos) << "reported more than once\n" << text;
  EXPECT_TRUE(monitor_.Running());
}

// Resident memory of a process in KiB, from /proc.
long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(NetworkProgramTest, AFloodNeitherStallsThePollsNorGrowsTheMemory) {
  sandbox_.SeedSettings(StartSimulator({"--pace=instant"}), 1, NetworkSettings());
  StartMonitor();
  ASSERT_TRUE(WaitFor([&] { return sandbox_.ReadStats().size() >= 2; }, kLongWait));
  const long memory_before = ResidentKiB(monitor_.pid());

  // A client that asks and never reads, one that sends 10 MB of garbage, then 1000 that hold
  // their connections.
  RawClient deaf(port_);
  ASSERT_TRUE(deaf.connected());
  std::string requests;
  for (int i = 0; i < 1000; ++i) requests += "LIST VAR qelta\n";
  std::string noise(1 << 20, '\0');
  uint32_t seed = 12345;
  for (char& c : noise) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  const size_t records_at_start = sandbox_.ReadStats().size();
  const auto started = Clock::now();
  long deaf_sent = 0;
  bool deaf_dropped = false;
  // The garbage goes on over a new connection each time the server closes one.
  constexpr long kGarbage = 10L * 1024 * 1024;
  long garbage_sent = 0;
  int garbage_connections = 1;
  auto garbage = std::make_unique<RawClient>(port_);
  while (Clock::now() - started < 60s && (!deaf_dropped || garbage_sent < kGarbage)) {
    if (!deaf_dropped) {
      const long n = deaf.SendSome(requests);
      if (n < 0)
        deaf_dropped = true;
      else
        deaf_sent += n;
    }
    if (garbage_sent < kGarbage) {
      const long n =
          garbage->SendSome(noise.substr(0, std::min<long>(noise.size(), kGarbage - garbage_sent)));
      if (n < 0) {
        garbage = std::make_unique<RawClient>(port_);
        ++garbage_connections;
      } else {
        garbage_sent += n;
      }
    }
    std::this_thread::sleep_for(1ms);
  }
  std::vector<std::unique_ptr<RawClient>> holders;
  for (int i = 0; i < 1000; ++i) holders.push_back(std::make_unique<RawClient>(port_));
  int refused = 0;
  for (auto& holder : holders) refused += holder->ClosedByServer(20) ? 1 : 0;
  // The monitor keeps polling at its period while all this goes on.
  std::this_thread::sleep_for(5s);
  const size_t records = sandbox_.ReadStats().size() - records_at_start;
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const long memory_after = ResidentKiB(monitor_.pid());
  std::cout << "flood: deaf client sent " << deaf_sent << " bytes, dropped " << deaf_dropped
            << "; garbage sent " << garbage_sent << " bytes over " << garbage_connections
            << " connections; " << refused << " of 1000 held connections closed at once; "
            << records << " samples in " << seconds << " s; resident memory " << memory_before
            << " KiB -> " << memory_after << " KiB\n";
  EXPECT_TRUE(deaf.ClosedByServer(5000)) << "a client that never reads was kept";
  EXPECT_EQ(garbage_sent, kGarbage);
  EXPECT_GT(garbage_connections, 1) << "garbage never closed a connection";
  EXPECT_GE(refused, 1000 - 32);
  // One poll a second: no stall of more than a poll or two over the whole flood.
  EXPECT_GE(static_cast<double>(records), seconds - 3);
  EXPECT_LT(memory_after, memory_before + 32 * 1024);
  holders.clear();
  EXPECT_TRUE(WaitFor([&] { return Field(Upsc(port_), "ups.status") == "OL"; }, kLongWait));
  EXPECT_TRUE(monitor_.Running());
}

}  // namespace
}  // namespace qelta::testing
