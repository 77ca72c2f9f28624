// The monitor as a system service (no display, no session bus, the stand-in logind on a private
// system bus) with the simulated UPS, and a tray monitor (offscreen) that watches the service's UPS
// over the network link: both see the battery, the service's FSD shuts the tray's computer down
// first, then the service's own. The tray follows the service going away and coming back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "program_harness.h"
#include "tests/power/private_bus.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kLongWait = 45s;
const std::string kPowerOff = "org.freedesktop.login1.Manager.PowerOff b false";

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// One request on a fresh loopback connection; the first answer line, empty when none came.
std::string Ask(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string line;
  timeval timeout{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string bytes = request + "\n";
    if (write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())) {
      char c = 0;
      while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    }
  }
  close(fd);
  return line;
}

std::string FileText(const std::string& path) {
  std::ifstream file(path);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

class ServiceProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_bus_.Running() && tray_system_bus_.Running() &&
                tray_session_bus_.Running() && unused_session_bus_.Running())
        << "no dbus-daemon";
    port_ = FreePort();
    ASSERT_GT(port_, 0);
    device_ = StartSimulator(simulator_, {"--pace=instant"});
    ASSERT_FALSE(device_.empty());
    service_dir_ = sandbox_.dir() + "/service";
    std::filesystem::create_directories(service_dir_ + "/state");
    // The service's stand-in logind; its session bus is one the service is never told of.
    StartStandIns(service_standins_, service_bus_, unused_session_bus_, ServiceLog());
    StartStandIns(tray_standins_, tray_system_bus_, tray_session_bus_, TrayLog());
  }

  std::string ServiceLog() const { return sandbox_.dir() + "/service-calls.log"; }
  std::string TrayLog() const { return sandbox_.dir() + "/tray-calls.log"; }
  std::string ServiceSettings() const { return service_dir_ + "/qelta-monitor.ini"; }

  void StartStandIns(ChildProcess& standins, PrivateDbusDaemon& system, PrivateDbusDaemon& session,
                     const std::string& log) {
    ASSERT_TRUE(standins.Start(
        {std::string(QELTA_BIN_DIR) + "/test_power", "--desktop-standins", "yes", log},
        {{"DBUS_SYSTEM_BUS_ADDRESS", system.Address()},
         {"DBUS_SESSION_BUS_ADDRESS", session.Address()}},
        "", true));
    ASSERT_EQ(standins.ReadLine(20s), "ready");
  }

  void WriteServiceSettings(int secondary_wait) {
    std::ofstream(ServiceSettings())
        << "[Settings]\nPort=COM1\nInterval=1\n[Ports]\nCOM1=" << device_
        << "\n[Sense]\nBattery=1\nBatteryTime=2\nBatteryShutdown=1\nBatteryShutdownCountdown=2\n"
        << "[Network]\nPort=" << port_ << "\nSecondaryWait=" << secondary_wait
        << "\nUsers=tray\nUser.tray.Password=pw\nUser.tray.Right=secondary\n";
  }

  // The service as systemd would start it: no display, no session bus, the state folder given.
  void StartService(ChildProcess& service) {
    const std::string service_log = service_dir_ + "/stderr.log";
    ASSERT_TRUE(service.Start(
        {"/bin/sh", "-c",
         "unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM XDG_RUNTIME_DIR; "
         "exec \"$0\" --service --config \"$1\" 2>>\"$2\"",
         sandbox_.dir() + "/qelta-monitor", ServiceSettings(), service_log},
        {{"DBUS_SYSTEM_BUS_ADDRESS", service_bus_.Address()},
         {"STATE_DIRECTORY", service_dir_ + "/state"}},
        service_dir_));
    ASSERT_TRUE(WaitFor([&] { return Status().starts_with("VAR qelta ups.status"); }, kLongWait))
        << FileText(service_log);
  }

  // The tray program watching the service's UPS over the network, logged in as `tray`.
  void StartTray() {
    std::ofstream(sandbox_.SettingsPath())
        << "[Settings]\nInstalled=1\nVersion=0.99.6\nPort=NET\nInterval=1\n"
        << "[Sense]\nBattery=0\nBatteryShutdown=1\nBatteryShutdownCountdown=2\n"
        << "[Network]\nServe=0\nServer=127.0.0.1\nServerPort=" << port_
        << "\nServerUps=qelta\nServerUser=tray\nServerPassword=pw\n";
    std::map<std::string, std::string> env = sandbox_.Environment(":0");
    env["QT_QPA_PLATFORM"] = "offscreen";
    env["DISPLAY"] = "";
    env["DBUS_SYSTEM_BUS_ADDRESS"] = tray_system_bus_.Address();
    env["DBUS_SESSION_BUS_ADDRESS"] = tray_session_bus_.Address();
    ASSERT_TRUE(tray_.Start(sandbox_.MonitorCommand(), env, sandbox_.dir()));
    ASSERT_TRUE(WaitFor([&] { return Ask(port_, "GET NUMLOGINS qelta") == "NUMLOGINS qelta 1"; },
                        kLongWait))
        << "the tray never logged in";
  }

  std::string Status() { return Ask(port_, "GET VAR qelta ups.status"); }

  void Tell(const std::string& command) {
    simulator_.WriteLine(command);
    ASSERT_EQ(simulator_.ReadLine(10s), "ok") << command;
  }

  MonitorSandbox sandbox_;
  PrivateDbusDaemon service_bus_;
  PrivateDbusDaemon unused_session_bus_;
  PrivateDbusDaemon tray_system_bus_;
  PrivateDbusDaemon tray_session_bus_;
  ChildProcess service_standins_;
  ChildProcess tray_standins_;
  ChildProcess simulator_;
  ChildProcess service_;
  ChildProcess tray_;  // after the services, so that it goes first
  std::string device_;
  std::string service_dir_;
  int port_ = 0;
};

TEST_F(ServiceProgramTest, TheServicesFsdPowersTheTraysComputerOffFirstThenItsOwn) {
  WriteServiceSettings(60);
  StartService(service_);
  StartTray();
  ASSERT_TRUE(WaitFor([&] { return Status() == "VAR qelta ups.status \"OL\""; }, kLongWait));

  Tell("battery");
  const Clock::time_point on_battery = Clock::now();
  Clock::time_point served_ob{}, tray_balloon{}, fsd{}, tray_power_off{}, service_power_off{};
  const auto give_up = on_battery + 90s;
  while (Clock::now() < give_up && service_power_off == Clock::time_point{}) {
    const std::string status = Status();
    const Clock::time_point now = Clock::now();
    if (served_ob == Clock::time_point{} && status.find("\"OB") != std::string::npos)
      served_ob = now;
    if (fsd == Clock::time_point{} && status.find("FSD") != std::string::npos) fsd = now;
    const std::string tray_log = FileText(TrayLog());
    if (tray_balloon == Clock::time_point{} &&
        tray_log.find("Нагрузка запитана от батареи.") != std::string::npos) {
      tray_balloon = now;
    }
    if (tray_power_off == Clock::time_point{} && tray_log.find(kPowerOff) != std::string::npos) {
      tray_power_off = now;
    }
    if (FileText(ServiceLog()).find(kPowerOff) != std::string::npos) service_power_off = now;
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_NE(served_ob, Clock::time_point{}) << "the service never served OB";
  ASSERT_NE(tray_balloon, Clock::time_point{}) << "the tray never said it is on battery\n"
                                               << FileText(TrayLog());
  ASSERT_NE(fsd, Clock::time_point{}) << "the service never set FSD";
  ASSERT_NE(tray_power_off, Clock::time_point{}) << "the tray's computer was not powered off\n"
                                                 << FileText(TrayLog());
  ASSERT_NE(service_power_off, Clock::time_point{}) << FileText(service_dir_ + "/stderr.log");
  // One poll each (1 s), on a loaded machine with room to spare.
  EXPECT_LT(Seconds(on_battery, served_ob), 5.0);
  EXPECT_LT(Seconds(on_battery, tray_balloon), 5.0);
  // FSD comes after 2 s on battery and a 2 s countdown; the tray's power-off after FSD, and the
  // service's once the tray has logged out: well before the 60 s wait limit.
  EXPECT_LT(fsd, tray_power_off);
  EXPECT_LE(tray_power_off, service_power_off);
  EXPECT_LT(Seconds(fsd, service_power_off), 30.0);

  // The service's notices are journal lines; its samples are in its state folder.
  const std::string journal = FileText(service_dir_ + "/stderr.log");
  EXPECT_NE(journal.find("<4>Состояние UPS: Нагрузка запитана от батареи."), std::string::npos)
      << journal;
  EXPECT_GT(std::filesystem::file_size(service_dir_ + "/state/qelta-monitor.stats"), 0u);
  std::cout << "switch to battery -> served OB " << Seconds(on_battery, served_ob)
            << " s, tray balloon " << Seconds(on_battery, tray_balloon)
            << " s; FSD -> tray PowerOff " << Seconds(fsd, tray_power_off)
            << " s, service PowerOff " << Seconds(fsd, service_power_off) << " s\n";
}

TEST_F(ServiceProgramTest, TheTrayLosesTheLinkWhenTheServiceStopsAndRegainsItWhenItStarts) {
  WriteServiceSettings(15);
  StartService(service_);
  StartTray();
  service_.Kill(SIGTERM);
  ASSERT_TRUE(service_.Wait(10s));
  EXPECT_TRUE(WaitFor(
      [&] { return FileText(TrayLog()).find("Пропала связь с UPS.") != std::string::npos; }, 10s))
      << FileText(TrayLog());
  ChildProcess restarted;
  StartService(restarted);
  EXPECT_TRUE(WaitFor(
      [&] { return FileText(TrayLog()).find("Появилась связь с UPS.") != std::string::npos; }, 10s))
      << FileText(TrayLog());
  // Logged in again on the new connection.
  EXPECT_TRUE(
      WaitFor([&] { return Ask(port_, "GET NUMLOGINS qelta") == "NUMLOGINS qelta 1"; }, 10s));
}

}  // namespace
}  // namespace qelta::testing
