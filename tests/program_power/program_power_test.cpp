// The real monitor under a private X server with private D-Bus buses: the balloons it sends to a
// stand-in notification service and the power-off it asks of a stand-in logind, both written by
// one stand-in process into one log, in the order the monitor sent them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "program_harness.h"
#include "tests/power/private_bus.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;

// Bounds for things that normally take a second or two; only a failure waits this long.
constexpr auto kLongWait = 45s;

const std::string kStateTitle = "Состояние UPS";
const std::string kInformation = "dialog-information";
const std::string kError = "dialog-error";
const std::string kReminderTitle = "Внимание! Питание от батареи UPS.";
const std::string kCanPowerOff = "org.freedesktop.login1.Manager.CanPowerOff";
const std::string kPowerOffNonInteractive = "org.freedesktop.login1.Manager.PowerOff b false";

VirtualDisplay* display = nullptr;

const auto* const registered = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment(display));

// One line of the stand-ins' log: a balloon (a Notify call) or a call to logind.
struct Entry {
  std::string call;  // the logind call, empty for a balloon
  std::string title;
  std::string text;
  std::string icon;
  std::string timeout;

  bool IsBalloon() const { return call.empty(); }
  bool IsReminder() const { return IsBalloon() && title == kReminderTitle; }
};

std::ostream& operator<<(std::ostream& out, const Entry& e) {
  if (!e.IsBalloon()) return out << "[call " << e.call << "]";
  return out << "[balloon " << e.title << " | " << e.text << " | " << e.icon << " | " << e.timeout
             << "]";
}

Entry ParseEntry(const std::string& line) {
  Entry entry;
  if (line.starts_with("org.freedesktop.login1.")) {
    entry.call = line;
    return entry;
  }
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  fields.resize(4);
  entry.title = fields[0];
  entry.text = fields[1];
  entry.icon = fields[2];
  entry.timeout = fields[3];
  return entry;
}

// The process id of the owner of `name` on the bus at `address` (0 when it has none), asked with
// the bus's own tool, so that the check does not depend on the code under test.
unsigned long OwnerPid(const std::string& address, const std::string& name) {
  const std::string command = "dbus-send --bus='" + address +
                              "' --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                              "org.freedesktop.DBus.GetConnectionUnixProcessID string:" +
                              name + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  std::string output;
  char chunk[256];
  while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
  pclose(pipe);
  const size_t at = output.find("uint32 ");
  if (at == std::string::npos) return 0;
  return std::stoul(output.substr(at + 7));
}

class PowerProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display != nullptr && display->ok()) << "no Xvfb";
    ASSERT_TRUE(system_bus_.Running() && session_bus_.Running()) << "no private dbus-daemon";
    log_path_ = sandbox_.dir() + "/calls.log";
  }

  std::map<std::string, std::string> BusEnvironment() const {
    return {{"DBUS_SYSTEM_BUS_ADDRESS", system_bus_.Address()},
            {"DBUS_SESSION_BUS_ADDRESS", session_bus_.Address()}};
  }

  // Starts the notification service and logind stand-ins on the private buses and checks that
  // they, and nobody else, own their names there before any monitor may start.
  void StartStandIns(const std::string& can_power_off,
                     const std::vector<std::string>& options = {}) {
    std::vector<std::string> command{std::string(QELTA_BIN_DIR) + "/test_power",
                                     "--desktop-standins", can_power_off, log_path_};
    command.insert(command.end(), options.begin(), options.end());
    ASSERT_TRUE(standins_.Start(command, BusEnvironment(), "", true));
    ASSERT_EQ(standins_.ReadLine(20s), "ready");
    const auto pid = static_cast<unsigned long>(standins_.pid());
    ASSERT_EQ(OwnerPid(system_bus_.Address(), "org.freedesktop.login1"), pid);
    ASSERT_EQ(OwnerPid(session_bus_.Address(), "org.freedesktop.Notifications"), pid);
    standins_ready_ = true;
  }

  void StartMonitor() {
    // Never without the stand-in logind on a private system bus.
    ASSERT_TRUE(standins_ready_);
    std::map<std::string, std::string> env = sandbox_.Environment(display->name());
    for (const auto& [key, value] : BusEnvironment()) env[key] = value;
    ASSERT_TRUE(monitor_.Start(sandbox_.MonitorCommand(), env, sandbox_.dir()));
  }

  std::string StartSimulator(const std::vector<std::string>& options) {
    const std::string device = qelta::testing::StartSimulator(simulator_, options);
    EXPECT_FALSE(device.empty());
    return device;
  }

  // Gives the simulator a command and waits for its acknowledgement.
  void Tell(const std::string& command) {
    simulator_.WriteLine(command);
    const std::string answer = simulator_.ReadLine(10s);
    ASSERT_EQ(answer, "ok") << command;
  }

  std::vector<Entry> Log() const {
    std::vector<Entry> entries;
    std::ifstream file(log_path_);
    for (std::string line; std::getline(file, line);) {
      if (!line.empty()) entries.push_back(ParseEntry(line));
    }
    return entries;
  }

  // The log without the on-battery reminders, whose number depends on timing.
  std::vector<Entry> LogWithoutReminders() const {
    std::vector<Entry> entries;
    for (Entry& e : Log()) {
      if (!e.IsReminder()) entries.push_back(std::move(e));
    }
    return entries;
  }

  size_t CountText(const std::string& text) const {
    size_t n = 0;
    for (const Entry& e : Log()) n += e.IsBalloon() && e.text == text;
    return n;
  }
  size_t CountCall(const std::string& call) const {
    size_t n = 0;
    for (const Entry& e : Log()) n += e.call == call;
    return n;
  }
  bool WaitForText(const std::string& text, size_t count = 1) const {
    return WaitFor([&] { return CountText(text) >= count; }, kLongWait);
  }

  // Settings for a quick battery condition: `battery_seconds` on battery, then a 2 s countdown.
  static std::string QuickShutdownSettings(int battery_seconds = 1) {
    return "\n[Sense]\nBatteryTime=" + std::to_string(battery_seconds) +
           "\nBatteryShutdownCountdown=2\nBatteryShutdown=1\n";
  }

  PrivateDbusDaemon system_bus_;
  PrivateDbusDaemon session_bus_;
  MonitorSandbox sandbox_;
  std::string log_path_;
  ChildProcess standins_;
  bool standins_ready_ = false;
  ChildProcess simulator_;
  ChildProcess monitor_;
};

void ExpectBalloon(const Entry& e, const std::string& title, const std::string& text,
                   const std::string& icon) {
  EXPECT_TRUE(e.IsBalloon()) << e;
  EXPECT_EQ(e.title, title) << e;
  EXPECT_EQ(e.text, text) << e;
  EXPECT_EQ(e.icon, icon) << e;
  EXPECT_EQ(e.timeout, "5000") << e;
}

// The welcome balloon carries the pop-up's summary of the first poll.
void ExpectWelcomeWithSummary(const Entry& e) {
  EXPECT_TRUE(e.IsBalloon()) << e;
  EXPECT_EQ(e.title, "Добро пожаловать!") << e;
  EXPECT_TRUE(e.text.starts_with("Напряжение на входе: ")) << e;
  EXPECT_NE(e.text.find("Статус: "), std::string::npos) << e;
  EXPECT_EQ(e.text.find("работа от батареи"), std::string::npos) << e;
  EXPECT_EQ(e.icon, kInformation) << e;
  EXPECT_EQ(e.timeout, "5000") << e;
}

void ExpectShutdownBalloon(const Entry& e) {
  ExpectBalloon(e, "Завершение работы",
                "Сейчас произойдет форсированное завершение работы системы.", kError);
}

TEST_F(PowerProgramTest, BalloonsFollowTheUpsToBatteryAndBack) {
  sandbox_.SeedSettings(StartSimulator({"--pace=instant"}), 1);
  StartStandIns("no");
  StartMonitor();
  ASSERT_TRUE(WaitFor([&] { return !Log().empty(); }, kLongWait)) << "no welcome balloon";

  Tell("battery");
  ASSERT_TRUE(WaitForText("Нагрузка запитана от батареи."));
  // The reminder comes every 10 s while on battery; the default on-battery limit (15 s) only
  // starts a 60 s countdown, which shows nothing.
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::vector<Entry> log = Log();
        return !log.empty() && log.back().IsReminder();
      },
      kLongWait))
      << "no reminder";
  Tell("mains");
  ASSERT_TRUE(WaitForText("Нагрузка запитана от сети."));
  // A few more polls on mains add nothing.
  std::this_thread::sleep_for(3s);

  const std::vector<Entry> log = Log();
  ASSERT_GE(log.size(), 4u);
  ExpectWelcomeWithSummary(log.front());
  ExpectBalloon(log[1], kStateTitle, "Нагрузка запитана от батареи.", kError);
  for (size_t i = 2; i + 1 < log.size(); ++i) {
    // Reminders, with the summary of a poll on battery.
    EXPECT_EQ(log[i].title, kReminderTitle) << log[i];
    EXPECT_NE(log[i].text.find("работа от батареи"), std::string::npos) << log[i];
    EXPECT_EQ(log[i].icon, kInformation) << log[i];
    EXPECT_EQ(log[i].timeout, "5000") << log[i];
  }
  ExpectBalloon(log.back(), kStateTitle, "Нагрузка запитана от сети.", kInformation);
  EXPECT_TRUE(monitor_.Running());
}

TEST_F(PowerProgramTest, BalloonsFollowTheLinkAsItComesAndGoes) {
  sandbox_.SeedSettings(StartSimulator({"--pace=instant", "--silent"}), 1);
  StartStandIns("no");
  StartMonitor();
  // The first poll finds no UPS: the welcome says so, and nothing was lost yet.
  ASSERT_TRUE(WaitFor([&] { return !Log().empty(); }, kLongWait)) << "no welcome balloon";
  Tell("normal");
  ASSERT_TRUE(WaitForText("Появилась связь с UPS."));
  Tell("silent");
  ASSERT_TRUE(WaitForText("Пропала связь с UPS."));
  Tell("normal");
  ASSERT_TRUE(WaitForText("Появилась связь с UPS.", 2));
  std::this_thread::sleep_for(3s);

  const std::vector<Entry> log = Log();
  ASSERT_EQ(log.size(), 4u);
  ExpectBalloon(log[0], "Добро пожаловать!", "Нет связи с UPS. Проверьте кабель и настройки.",
                kError);
  ExpectBalloon(log[1], kStateTitle, "Появилась связь с UPS.", kInformation);
  ExpectBalloon(log[2], kStateTitle, "Пропала связь с UPS.", kError);
  ExpectBalloon(log[3], kStateTitle, "Появилась связь с UPS.", kInformation);
  EXPECT_TRUE(monitor_.Running());
}

TEST_F(PowerProgramTest, PowerOffFollowsTheBalloonWithoutInteraction) {
  sandbox_.SeedSettings(StartSimulator({"--pace=instant"}), 1, QuickShutdownSettings());
  StartStandIns("yes");
  StartMonitor();
  ASSERT_TRUE(WaitFor([&] { return !Log().empty(); }, kLongWait)) << "no welcome balloon";
  Tell("battery");
  ASSERT_TRUE(WaitFor([&] { return CountCall(kPowerOffNonInteractive) >= 1; }, kLongWait));
  // The stand-in did not power anything off: the monitor runs on, and makes no second attempt
  // in the same battery period (another would have come within the limit and the countdown).
  std::this_thread::sleep_for(5s);

  const std::vector<Entry> log = LogWithoutReminders();
  ASSERT_EQ(log.size(), 5u);
  ExpectWelcomeWithSummary(log[0]);
  ExpectBalloon(log[1], kStateTitle, "Нагрузка запитана от батареи.", kError);
  ExpectShutdownBalloon(log[2]);
  EXPECT_EQ(log[3].call, kCanPowerOff);
  EXPECT_EQ(log[4].call, kPowerOffNonInteractive);
  EXPECT_TRUE(monitor_.Running());
}

TEST_F(PowerProgramTest, TheTimeLimitSurvivesAnUnansweredPollOnBattery) {
  sandbox_.SeedSettings(StartSimulator({"--pace=instant"}), 1, QuickShutdownSettings(6));
  StartStandIns("yes");
  StartMonitor();
  ASSERT_TRUE(WaitFor([&] { return !Log().empty(); }, kLongWait)) << "no welcome balloon";
  Tell("battery");
  const auto on_battery = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitForText("Нагрузка запитана от батареи."));
  // One poll goes unanswered, and the UPS answers again, still on battery.
  Tell("silent");
  ASSERT_TRUE(WaitForText("Пропала связь с UPS."));
  Tell("normal");
  ASSERT_TRUE(WaitForText("Появилась связь с UPS."));
  ASSERT_TRUE(WaitFor([&] { return CountCall(kPowerOffNonInteractive) >= 1; }, kLongWait))
      << "no power-off after the link came back";
  // Not before the limit and the countdown, counted from the first poll on battery.
  EXPECT_GE(std::chrono::steady_clock::now() - on_battery, 8s);

  const std::vector<Entry> log = LogWithoutReminders();
  ASSERT_EQ(log.size(), 7u);
  ExpectWelcomeWithSummary(log[0]);
  ExpectBalloon(log[1], kStateTitle, "Нагрузка запитана от батареи.", kError);
  ExpectBalloon(log[2], kStateTitle, "Пропала связь с UPS.", kError);
  ExpectBalloon(log[3], kStateTitle, "Появилась связь с UPS.", kInformation);
  ExpectShutdownBalloon(log[4]);
  EXPECT_EQ(log[5].call, kCanPowerOff);
  EXPECT_EQ(log[6].call, kPowerOffNonInteractive);
  EXPECT_TRUE(monitor_.Running());
}

// logind refuses the power-off: the monitor asks all the same, says why it did not happen in a
// notice that stays until closed, once until the next try a minute later, and keeps working.
struct Refusal {
  const char* name;
  std::string can_power_off;
  std::vector<std::string> options;
  std::string reason;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
  *out << refusal.name;
}

class RefusedPowerOffTest : public PowerProgramTest,
                            public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedPowerOffTest, IsToldOnceAndLeavesTheMonitorWorking) {
  const Refusal& refusal = GetParam();
  sandbox_.SeedSettings(StartSimulator({"--pace=instant"}), 1, QuickShutdownSettings());
  StartStandIns(refusal.can_power_off, refusal.options);
  StartMonitor();
  ASSERT_TRUE(WaitFor([&] { return !Log().empty(); }, kLongWait)) << "no welcome balloon";
  Tell("battery");
  const std::string told =
      "Автоматическое выключение не удалось. Сохраните работу и завершите работу компьютера "
      "вручную. Пока UPS работает от батареи, попытка повторяется каждые 60 сек.\\nПричина: " +
      refusal.reason;
  ASSERT_TRUE(WaitForText(told));
  // Neither a second attempt nor a second notice before the next try is due.
  std::this_thread::sleep_for(4s);
  EXPECT_EQ(CountCall(kPowerOffNonInteractive), 1u);
  EXPECT_EQ(CountText(told), 1u);
  ASSERT_TRUE(monitor_.Running());

  Tell("mains");
  ASSERT_TRUE(WaitForText("Нагрузка запитана от сети."));
  const std::vector<Entry> log = LogWithoutReminders();
  ASSERT_EQ(log.size(), 7u);
  ExpectWelcomeWithSummary(log[0]);
  ExpectBalloon(log[1], kStateTitle, "Нагрузка запитана от батареи.", kError);
  ExpectShutdownBalloon(log[2]);
  EXPECT_EQ(log[3].call, kCanPowerOff);
  EXPECT_EQ(log[4].call, kPowerOffNonInteractive);
  EXPECT_EQ(log[5].title, "Компьютер НЕ выключен!") << log[5];
  EXPECT_EQ(log[5].text, told) << log[5];
  EXPECT_EQ(log[5].icon, kError) << log[5];
  EXPECT_EQ(log[5].timeout, "0") << log[5];  // stays until the user closes it
  ExpectBalloon(log[6], kStateTitle, "Нагрузка запитана от сети.", kInformation);
  EXPECT_TRUE(monitor_.Running());
}

INSTANTIATE_TEST_SUITE_P(
    Logind, RefusedPowerOffTest,
    ::testing::Values(
        // Another user's program holds a shutdown block lock this user may not ignore.
        Refusal{"BlockLock", "yes", {"block-lock"}, "Interactive authentication required."},
        Refusal{"NotPermitted", "no", {}, "Permission denied"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qelta::testing
