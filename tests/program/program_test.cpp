// The real monitor under a private X server against the simulated UPS.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "platform/wall_clock.h"
#include "program_harness.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;

VirtualDisplay* display = nullptr;

const auto* const registered = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment(display));

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(display != nullptr && display->ok()) << "no Xvfb"; }

  std::string Simulator(const std::vector<std::string>& options = {}) {
    const std::string device = StartSimulator(simulator, options);
    EXPECT_FALSE(device.empty());
    return device;
  }
  void StartMonitor(ChildProcess& monitor) {
    ASSERT_TRUE(monitor.Start(sandbox.MonitorCommand(), sandbox.Environment(display->name()),
                              sandbox.dir()));
  }
  size_t Records() const { return sandbox.ReadStats().size(); }

  MonitorSandbox sandbox;
  ChildProcess simulator;
};

// What the program prints, on both outputs, and its exit status, started with a bare
// environment plus `environment` ("NAME=value ...").
std::string RunBare(const std::string& environment, const std::string& argument, int* status) {
  const std::string command = "env -i HOME=/nonexistent " + environment + " '" +
                              std::string(QELTA_BIN_DIR) + "/qelta-monitor' " + argument + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string output;
  char chunk[256];
  while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

// Asked for help or the version, or started without a display, the program answers in a few
// plain lines and ends, without the toolkit's report on its platform plugins.
TEST(CommandLineTest, HelpVersionAndAMissingDisplayAreToldInPlainLines) {
  int status = -1;
  const std::string help = RunBare("", "--help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(
      help.starts_with("Использование: qelta-monitor [/welcome | /uninstall | --help | "
                       "--version]\n"))
      << help;
  EXPECT_NE(help.find("/uninstall  удалить программу"), std::string::npos) << help;

  EXPECT_EQ(RunBare("", "--version", &status), "qelta-monitor 0.99.6\n");
  EXPECT_EQ(status, 0);

  EXPECT_EQ(RunBare("", "", &status),
            "qelta-monitor: нет графического сеанса (не заданы ни DISPLAY, ни WAYLAND_DISPLAY): "
            "запустите программу в сеансе рабочего стола.\n");
  EXPECT_EQ(status, 1);
  // An X display that no server answers.
  EXPECT_EQ(RunBare("DISPLAY=:4711", "/welcome", &status),
            "qelta-monitor: нет связи с дисплеем :4711: запустите программу в сеансе рабочего "
            "стола.\n");
  EXPECT_EQ(status, 1);
}

TEST_F(ProgramTest, PollsAtOnceAndRecordsWhatTheUpsSent) {
  const std::string device =
      Simulator({"--pace=instant", "--input=231.7", "--load=42", "--temp=31.5", "--battv=12.80"});
  sandbox.SeedSettings(device, 30);
  SystemWallClock clock;
  const uint32_t started = TimeStampFromLocalMilliseconds(clock.LocalMillisecondsSinceEpoch());
  ChildProcess monitor;
  StartMonitor(monitor);
  // With a 30-second interval, a record within seconds can only come from the first poll.
  ASSERT_TRUE(WaitFor([&] { return Records() >= 1; }, 10s));
  const TUPSStatusRawData records = sandbox.ReadStats();
  ASSERT_EQ(records.size(), 1u);
  const TUPSStatusRaw& r = records[0];
  EXPECT_EQ(r.IP_voltage, DecimalToExtended("231.7"));
  EXPECT_EQ(r.OP_current, 42);
  EXPECT_EQ(r.temp, DecimalToExtended("31.5"));
  EXPECT_EQ(r.battery_voltage, DecimalToExtended("12.80"));
  EXPECT_FALSE(r.status_using_battery);
  EXPECT_GE(r.time + 1, started);
  EXPECT_LE(r.time, started + 15);
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramTest, PollsAgainAtTheInterval) {
  sandbox.SeedSettings(Simulator({"--pace=instant"}), 1);
  ChildProcess monitor;
  StartMonitor(monitor);
  ASSERT_TRUE(WaitFor([&] { return Records() >= 4; }, 20s));
  const TUPSStatusRawData records = sandbox.ReadStats();
  // One record per poll, each with a later (or equal) stamp.
  for (size_t i = 1; i < records.size(); ++i) EXPECT_GE(records[i].time, records[i - 1].time);
}

TEST_F(ProgramTest, SecondStartTakesOverAndTheFirstEnds) {
  sandbox.SeedSettings(Simulator({"--pace=instant"}), 1);
  ChildProcess first;
  StartMonitor(first);
  ASSERT_TRUE(WaitFor([&] { return Records() >= 1; }, 10s));
  ChildProcess second;
  StartMonitor(second);
  int code = -1;
  ASSERT_TRUE(first.Wait(20s, &code)) << "the first monitor did not end";
  EXPECT_EQ(code, 0);
  const size_t after_takeover = Records();
  ASSERT_TRUE(WaitFor([&] { return Records() >= after_takeover + 2; }, 10s));
  EXPECT_TRUE(second.Running());
}

TEST_F(ProgramTest, StartsAfterAMonitorWasKilled) {
  sandbox.SeedSettings(Simulator({"--pace=instant"}), 1);
  ChildProcess first;
  StartMonitor(first);
  ASSERT_TRUE(WaitFor([&] { return Records() >= 1; }, 10s));
  first.Kill(SIGKILL);
  ASSERT_TRUE(first.Wait(5s));
  const size_t before = Records();
  ChildProcess second;
  StartMonitor(second);
  ASSERT_TRUE(WaitFor([&] { return Records() >= before + 2; }, 15s));
  EXPECT_TRUE(second.Running());
}

TEST_F(ProgramTest, PollsWithoutAnswerLeaveTheStatisticsAlone) {
  const std::string device = Simulator({"--pace=instant", "--silent"});
  sandbox.SeedSettings(device, 1);
  // Two records from an earlier run.
  {
    std::ofstream stats(sandbox.StatsPath(), std::ios::binary);
    for (uint32_t t : {1000u, 2000u}) {
      TUPSStatusRaw raw;
      raw.time = t;
      const StatusRawBytes bytes = EncodeStatusRaw(raw);
      stats.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
  }
  auto contents = [&] {
    std::ifstream file(sandbox.StatsPath(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  };
  const std::string before = contents();
  ChildProcess monitor;
  StartMonitor(monitor);
  // Several polls go unanswered ...
  std::this_thread::sleep_for(4s);
  EXPECT_EQ(contents(), before);
  // ... and the monitor was polling all along: once the UPS answers, records follow.
  simulator.WriteLine("normal");
  ASSERT_TRUE(WaitFor([&] { return Records() >= 3; }, 10s));
  EXPECT_EQ(contents().substr(0, before.size()), before);
}

}  // namespace
}  // namespace qelta::testing
