// The real program installs itself into an empty home under a private X server, the installed
// copy greets the user and polls the simulated UPS, and "/uninstall" removes it again. The
// windows are answered through the program's UI script (QELTA_UI_SCRIPT).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>

#include "program_harness.h"
#include "settings/settings_store.h"
#include "tests/power/private_bus.h"

namespace qelta::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

VirtualDisplay* display = nullptr;

const auto* const registered = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment(display));

// Answers for every window of an installation and an uninstallation.
const char kAnswers[] =
    "InstallForm\tInstallButton\n"
    "Вы хотите установить\tYes\n"
    "UPS обнаружен\tOk\n"
    "Установка программы QELTA MONITOR завершена.\tOk\n"
    "Вы действительно хотите удалить\tYes\n"
    "Удаление QELTA MONITOR завершено.\tOk\n";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// One line of the UI script's record: the process and the fields after it.
struct Seen {
  pid_t pid;
  std::vector<std::string> fields;
};

bool Alive(pid_t pid) {
  // A process that ended but was not reaped yet (its parent, the installer, is gone) counts
  // as ended.
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return false;
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

class ProgramInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display != nullptr && display->ok()) << "no Xvfb";
    home = sandbox.dir() + "/home";
    fs::create_directories(home);
    script = sandbox.dir() + "/ui-script";
    std::ofstream(script) << kAnswers;
    device = StartSimulator(simulator, {"--pace=instant"});
    ASSERT_FALSE(device.empty());
    // The home is empty but for the devices behind the port names: COM3 leads to the
    // simulator, the others to nothing, so the installer's search never opens a serial port
    // of this machine.
    std::ofstream ini(SettingsFolder() + "/1.0.ini");
    // The installed monitors never serve on the machine's UPS network port.
    ini << "[Network]\nServe=0\n";
    ini << "[Ports]\n";
    for (int n = 1; n <= 8; ++n) {
      ini << "COM" << n << "=" << (n == 3 ? device : sandbox.dir() + "/no-port") << "\n";
    }
  }

  void TearDown() override {
    // Installed copies are started by the installer, not by this test: end those still running.
    for (const Seen& seen : Record()) {
      if (seen.pid != 0 && Alive(seen.pid)) kill(seen.pid, SIGKILL);
    }
  }

  std::string SettingsFolder() {
    const std::string folder = home + "/.config/QELTA/QELTA MONITOR";
    fs::create_directories(folder);
    return folder;
  }
  std::string InstallFolder() const { return home + "/.local/opt/QELTA MONITOR"; }
  std::string Target() const { return InstallFolder() + "/qelta-monitor"; }

  std::map<std::string, std::string> Environment() const {
    return {
        {"DISPLAY", display->name()},
        {"QT_QPA_PLATFORM", "xcb"},
        {"HOME", home},
        // Unset: the places follow from HOME.
        {"XDG_CONFIG_HOME", ""},
        {"XDG_DATA_HOME", ""},
        {"XDG_RUNTIME_DIR", sandbox.dir() + "/runtime"},
        {"QELTA_UI_SCRIPT", script},
        // No bus of the machine is ever reached: the power-off path finds no logind.
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + sandbox.dir() + "/no-session-bus"},
        {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + sandbox.dir() + "/no-system-bus"},
    };
  }

  std::vector<Seen> Record() const {
    std::vector<Seen> record;
    std::istringstream lines(ReadFile(script + ".log"));
    std::string line;
    while (std::getline(lines, line)) {
      Seen seen{0, {}};
      std::istringstream fields(line);
      std::string field;
      while (std::getline(fields, field, '\t')) {
        if (seen.pid == 0 && seen.fields.empty()) {
          seen.pid = static_cast<pid_t>(std::stol(field));
        } else {
          seen.fields.push_back(field);
        }
      }
      record.push_back(seen);
    }
    return record;
  }
  // The windows a process showed: "<class> <title> <owner> [<icon> <buttons> <text>]".
  std::vector<std::string> Shown(pid_t pid) const {
    std::vector<std::string> shown;
    for (const Seen& seen : Record()) {
      if (seen.pid != pid || seen.fields.empty() || seen.fields[0] != "shown") continue;
      // Balloons come in a window of their own where no notification service runs; they are
      // not the windows these tests follow.
      if (seen.fields.size() > 1 && seen.fields[1] == "QFrame") continue;
      std::string window = seen.fields[1];
      for (size_t i = 3; i < seen.fields.size(); ++i) window += " | " + seen.fields[i];
      shown.push_back(window);
    }
    return shown;
  }
  // The first process other than `not_this` that showed the welcome window.
  pid_t WelcomePid(pid_t not_this = 0) const {
    for (const Seen& seen : Record()) {
      if (seen.pid != not_this && seen.fields.size() > 1 && seen.fields[0] == "shown" &&
          seen.fields[1] == "qelta::TWelcomeForm") {
        return seen.pid;
      }
    }
    return 0;
  }
  size_t Records() const {
    return fs::exists(Target() + ".stats") ? fs::file_size(Target() + ".stats") / 112 : 0;
  }

  // Starts the program of the sandbox (not installed) and waits for it to end.
  void RunInstaller(ChildProcess& installer) {
    ASSERT_TRUE(installer.Start(sandbox.MonitorCommand(), Environment(), sandbox.dir()));
    int code = -1;
    ASSERT_TRUE(installer.Wait(90s, &code)) << "the installer did not end";
    EXPECT_EQ(code, 0);
  }

  MonitorSandbox sandbox;
  ChildProcess simulator;
  std::string home;
  std::string script;
  std::string device;
};

// Every regular file under a folder, relative to it.
std::set<std::string> Files(const std::string& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).string());
  }
  return files;
}

TEST_F(ProgramInstallTest, InstallsGreetsPollsAndUninstalls) {
  ChildProcess installer;
  RunInstaller(installer);
  EXPECT_EQ(Shown(installer.pid()),
            (std::vector<std::string>{
                "qelta::TInstallForm | QELTA MONITOR v0.99.6 | -",
                "QMessageBox | QELTA MONITOR | InstallForm | question | Yes|No | Вы хотите "
                "установить программу QELTA MONITOR на ваш компьютер?",
                "QMessageBox | QELTA MONITOR | InstallForm | information | Ok | UPS обнаружен "
                "подключенным к порту COM3.",
                "QMessageBox | QELTA MONITOR | InstallForm | information | Ok | Установка "
                "программы QELTA MONITOR завершена.",
            }));

  // The installed copy, its launchers with their icon, the autostart and uninstall entries.
  const std::string target = Target();
  ASSERT_TRUE(fs::exists(target));
  EXPECT_EQ(ReadFile(target), ReadFile(sandbox.MonitorCommand()[0]));
  EXPECT_TRUE((fs::status(target).permissions() & fs::perms::owner_exec) != fs::perms::none);
  const std::string launchers = home + "/.local/share/applications/QELTA/";
  EXPECT_NE(ReadFile(launchers + "QELTA MONITOR.desktop").find("Exec=\"" + target + "\"\n"),
            std::string::npos);
  EXPECT_NE(ReadFile(launchers + "Удалить QELTA MONITOR.desktop")
                .find("Exec=\"" + target + "\" /uninstall\n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(home + "/.local/share/icons/hicolor/48x48/apps/qelta-monitor.png"));
  EXPECT_TRUE(fs::exists(home + "/.local/share/icons/hicolor/scalable/apps/qelta-monitor.svg"));
  EXPECT_NE(
      ReadFile(home + "/.config/autostart/QELTA MONITOR.desktop").find("Exec=\"" + target + "\"\n"),
      std::string::npos);
  EXPECT_NE(ReadFile(home + "/.local/share/QELTA/uninstall/QELTA MONITOR.ini")
                .find("UninstallString=" + target + " /uninstall\n"),
            std::string::npos);
  SettingsStore settings(SettingsFolder());
  EXPECT_EQ(settings.ReadString("Settings", "Port", ""), "COM3");

  // The installed copy runs with "/welcome", shows the welcome window and polls the UPS.
  pid_t welcome = 0;
  ASSERT_TRUE(WaitFor([&] { return (welcome = WelcomePid(installer.pid())) != 0; }, 30s));
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(welcome) + "/exe").string(), target);
  const std::string command_line = ReadFile("/proc/" + std::to_string(welcome) + "/cmdline");
  EXPECT_EQ(command_line, target + '\0' + "/welcome" + '\0');
  EXPECT_EQ(Shown(welcome), (std::vector<std::string>{"qelta::TWelcomeForm | QELTA MONITOR | -"}));
  ASSERT_TRUE(WaitFor([&] { return Records() >= 2; }, 30s)) << "no polls recorded";

  // "/uninstall" from the uninstall launcher's command.
  ChildProcess uninstaller;
  ASSERT_TRUE(uninstaller.Start({target, "/uninstall"}, Environment(), sandbox.dir()));
  int code = -1;
  ASSERT_TRUE(uninstaller.Wait(60s, &code)) << "the uninstaller did not end";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(
      Shown(uninstaller.pid()),
      (std::vector<std::string>{
          "QMessageBox | QELTA MONITOR | - | question | Yes|No | Вы действительно хотите "
          "удалить QELTA MONITOR?",
          "QMessageBox | QELTA MONITOR | - | information | Ok | Удаление QELTA MONITOR "
          "завершено.\\n\\nВаши настройки и файл статистики сохранены; удалите их сами, "
          "если они больше не нужны.\\nНастройки: " +
              home + "/.config/QELTA/QELTA MONITOR/1.0.ini\\nСтатистика: " + target + ".stats",
      }));
  // The running monitor was closed.
  EXPECT_TRUE(WaitFor([&] { return !Alive(welcome); }, 10s));

  // What stays: the settings, and the statistics beside the removed program.
  EXPECT_EQ(Files(home), (std::set<std::string>{
                             ".config/QELTA/QELTA MONITOR/1.0.ini",
                             ".config/QELTA/QELTA MONITOR/1.0.ini.lock",
                             ".local/opt/QELTA MONITOR/qelta-monitor.stats",
                         }));
  EXPECT_FALSE(fs::exists(launchers));
  EXPECT_FALSE(settings.ReadBool("Settings", "Installed", true));
  EXPECT_EQ(settings.ReadString("Settings", "InstalledTo", ""), target);

  // The next start shows the installer again (and is cancelled here).
  std::ofstream(script) << "InstallForm\tCancelButton\n";
  ChildProcess next;
  RunInstaller(next);
  EXPECT_EQ(Shown(next.pid()),
            (std::vector<std::string>{"qelta::TInstallForm | QELTA MONITOR v0.99.6 | -"}));
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(ProgramInstallTest, NewVersionInstallsOverTheRunningMonitor) {
  ChildProcess first;
  RunInstaller(first);
  pid_t old_monitor = 0;
  ASSERT_TRUE(WaitFor([&] { return (old_monitor = WelcomePid(first.pid())) != 0; }, 30s));
  struct stat old_file {};
  ASSERT_EQ(stat(Target().c_str(), &old_file), 0);

  // Another version recorded: the next start installs again.
  SettingsStore(SettingsFolder()).WriteString("Settings", "Version", "0.99.5");
  ChildProcess second;
  RunInstaller(second);
  EXPECT_FALSE(Alive(old_monitor)) << "the running monitor was not closed";
  struct stat new_file {};
  ASSERT_EQ(stat(Target().c_str(), &new_file), 0);
  EXPECT_NE(new_file.st_ino, old_file.st_ino);
  EXPECT_FALSE(fs::exists(Target() + ".prev"));
  pid_t new_monitor = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const Seen& seen : Record()) {
          if (seen.pid != old_monitor && seen.pid != first.pid() && seen.pid != second.pid() &&
              seen.fields.size() > 1 && seen.fields[1] == "qelta::TWelcomeForm") {
            new_monitor = seen.pid;
          }
        }
        return new_monitor != 0;
      },
      30s));
  EXPECT_EQ(SettingsStore(SettingsFolder()).ReadString("Settings", "Version", ""), "0.99.6");
}

// Items the user relies on across an upgrade: an installation whose power-off the user switched
// off, a newer build installed over it from elsewhere (the settings stay), the installed program
// replaced in place (it monitors without a window), and then a power-off that logind refuses
// once: the notice stays, and the second try a minute later is accepted.
class UpgradeAndPowerOffTest : public ProgramInstallTest {
 protected:
  void SetUp() override {
    ProgramInstallTest::SetUp();
    ASSERT_TRUE(system_bus.Running() && session_bus.Running()) << "no private dbus-daemon";
    log = sandbox.dir() + "/calls.log";
    ASSERT_TRUE(standins.Start({std::string(QELTA_BIN_DIR) + "/test_power", "--desktop-standins",
                                "yes", log, "refuse-first-power-off"},
                               Buses(), "", true));
    ASSERT_EQ(standins.ReadLine(20s), "ready");
  }
  std::map<std::string, std::string> Buses() const {
    return {{"DBUS_SYSTEM_BUS_ADDRESS", system_bus.Address()},
            {"DBUS_SESSION_BUS_ADDRESS", session_bus.Address()}};
  }
  std::map<std::string, std::string> Environment() const {
    std::map<std::string, std::string> env = ProgramInstallTest::Environment();
    for (const auto& [key, value] : Buses()) env[key] = value;
    return env;
  }
  void Install(ChildProcess& installer) {
    ASSERT_TRUE(installer.Start(sandbox.MonitorCommand(), Environment(), sandbox.dir()));
    int code = -1;
    ASSERT_TRUE(installer.Wait(90s, &code)) << "the installer did not end";
    EXPECT_EQ(code, 0);
  }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(log));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  size_t Count(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& line : LogLines()) n += line.starts_with(prefix);
    return n;
  }

  PrivateDbusDaemon system_bus;
  PrivateDbusDaemon session_bus;
  std::string log;
  ChildProcess standins;
};

TEST_F(UpgradeAndPowerOffTest, SettingsSurviveUpgradesAndARefusedPowerOffIsTriedAgain) {
  ChildProcess first;
  Install(first);
  // The installed copy is up before anything is changed behind it.
  pid_t welcome = 0;
  ASSERT_TRUE(WaitFor([&] { return (welcome = WelcomePid(first.pid())) != 0; }, 30s));
  SettingsStore settings(SettingsFolder());
  ASSERT_TRUE(settings.ReadBool("Sense", "BatteryShutdown", false));
  // The user switches the power-off off and shortens the times.
  settings.WriteBool("Sense", "BatteryShutdown", false);
  settings.WriteBool("Sense", "BatteryPercent", false);
  settings.WriteInteger("Sense", "BatteryTime", 1);
  settings.WriteInteger("Sense", "BatteryShutdownCountdown", 2);

  // A newer build started from elsewhere installs over it and keeps all of that.
  settings.WriteString("Settings", "Version", "0.99.5");
  ChildProcess second;
  Install(second);
  const std::vector<std::string> shown = Shown(second.pid());
  ASSERT_FALSE(shown.empty()) << ReadFile(script + ".log");
  EXPECT_EQ(shown.back(),
            "QMessageBox | QELTA MONITOR | InstallForm | information | Ok | Установка программы "
            "QELTA MONITOR завершена.\\n\\nВаши прежние настройки сохранены. Изменить их можно в "
            "разделе \"Конфигурация\".");
  EXPECT_FALSE(settings.ReadBool("Sense", "BatteryShutdown", true));
  EXPECT_FALSE(settings.ReadBool("Sense", "BatteryPercent", true));
  EXPECT_EQ(settings.ReadInteger("Sense", "BatteryTime", 0), 1);
  EXPECT_EQ(settings.ReadInteger("Sense", "BatteryShutdownCountdown", 0), 2);
  EXPECT_EQ(settings.ReadString("Settings", "Version", ""), "0.99.6");
  ASSERT_TRUE(WaitFor(
      [&] {
        const pid_t next = WelcomePid(welcome);
        return next != 0 && next != first.pid() && next != second.pid();
      },
      30s));

  // The installed program itself replaced by a newer build, started as at log-on: it records
  // its version and polls, without any window.
  settings.WriteString("Settings", "Version", "0.99.5");
  const size_t records_before = Records();
  ChildProcess upgraded;
  ASSERT_TRUE(upgraded.Start({Target()}, Environment(), sandbox.dir()));
  ASSERT_TRUE(WaitFor([&] { return Records() >= records_before + 2; }, 30s)) << "no polls";
  EXPECT_TRUE(upgraded.Running());
  EXPECT_TRUE(Shown(upgraded.pid()).empty());
  EXPECT_EQ(settings.ReadString("Settings", "Version", ""), "0.99.6");

  // On battery with the power-off switched on again: logind refuses the first request.
  settings.WriteBool("Sense", "BatteryShutdown", true);
  simulator.WriteLine("battery");
  ASSERT_EQ(simulator.ReadLine(10s), "ok");
  const std::string power_off = "org.freedesktop.login1.Manager.PowerOff b false";
  const std::string refused = "Компьютер НЕ выключен!\t";
  ASSERT_TRUE(WaitFor([&] { return Count(refused) == 1; }, 45s)) << "no notice of the refusal";
  const auto first_refused = std::chrono::steady_clock::now();
  EXPECT_EQ(Count(power_off), 1u);
  for (const std::string& line : LogLines()) {
    if (!line.starts_with(refused)) continue;
    EXPECT_NE(line.find("Сохраните работу и завершите работу компьютера вручную."),
              std::string::npos)
        << line;
    EXPECT_TRUE(line.ends_with("Причина: Power-off refused by the stand-in\tdialog-error\t0"))
        << line;
  }
  // The second try comes a minute later, and is accepted: no second notice.
  ASSERT_TRUE(WaitFor([&] { return Count(power_off) == 2; }, 120s)) << "no second try";
  EXPECT_GE(std::chrono::steady_clock::now() - first_refused, 55s) << ReadFile(log);
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(Count(refused), 1u);
  EXPECT_TRUE(upgraded.Running());
}

}  // namespace
}  // namespace qelta::testing
