// Serial adapters as Linux names them, read from a device folder the test lays out, and a
// search that finds the simulated UPS on such an adapter through the program's own link.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "config_fakes.h"
#include "link/modems.h"
#include "link/no_hid_branch.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "link/ups_port_probe.h"
#include "platform/manual_clock.h"
#include "platform/serial_adapters.h"
#include "platform/wall_clock.h"
#include "program_harness.h"
#include "settings/configuration_logic.h"
#include "settings/setting_keys.h"

namespace qelta::testing {
namespace {

namespace fs = std::filesystem;

class SerialAdaptersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    root = dir.path().toStdString();
    dev = root + "/dev";
    fs::create_directories(dev + "/serial/by-id");
    fs::create_directories(root + "/sys");
  }
  void Node(const std::string& name) { std::ofstream(dev + "/" + name) << ""; }
  void StableName(const std::string& name, const std::string& target) {
    fs::create_symlink(target, dev + "/serial/by-id/" + name);
  }
  void Uart(const std::string& node, int type) {
    fs::create_directories(root + "/sys/" + node);
    std::ofstream(root + "/sys/" + node + "/type") << type << "\n";
  }

  QTemporaryDir dir;
  std::string root;
  std::string dev;
};

TEST_F(SerialAdaptersTest, ListsUsbAndModemNodesInCountingOrderWithTheirStableNames) {
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyUSB", "ttyUSBx", "tty"}) {
    Node(name);
  }
  StableName("usb-FTDI_FT232R_A1-if00-port0", "../../ttyUSB2");
  StableName("usb-Arduino_Uno_77-if00", "../../ttyACM0");
  StableName("usb-Old_Cable-if00-port0", "../../ttyUSB7");  // left behind: no device
  LinuxSerialAdapters catalog(dev, root + "/sys");
  const std::vector<SerialAdapter> expected = {
      {dev + "/ttyACM0", dev + "/serial/by-id/usb-Arduino_Uno_77-if00"},
      {dev + "/ttyUSB2", dev + "/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"},
      {dev + "/ttyUSB10", ""},
  };
  EXPECT_EQ(catalog.Adapters(), expected);
  EXPECT_TRUE(
      catalog.SameDevice(dev + "/serial/by-id/usb-FTDI_FT232R_A1-if00-port0", dev + "/ttyUSB2"));
  EXPECT_FALSE(catalog.SameDevice(dev + "/ttyUSB2", dev + "/ttyUSB10"));
  EXPECT_FALSE(catalog.SameDevice(dev + "/ttyUSB7", dev + "/ttyUSB7"));  // neither exists

  // A node whose kernel entry says no UART is behind it is not a present port.
  Uart("ttyS0", 0);
  Node("ttyS1");
  Uart("ttyS1", 4);
  EXPECT_FALSE(catalog.SerialDevicePresent(dev + "/ttyS0"));
  EXPECT_TRUE(catalog.SerialDevicePresent(dev + "/ttyS1"));
  EXPECT_TRUE(catalog.SerialDevicePresent(dev + "/ttyUSB2"));
  EXPECT_FALSE(catalog.SerialDevicePresent(dev + "/ttyS5"));
  EXPECT_TRUE(LinuxSerialAdapters(root + "/none", root + "/sys").Adapters().empty());
}

// The simulated UPS's terminal plays an adapter: a ttyUSB node and its stable name lead to it.
TEST_F(SerialAdaptersTest, TheSearchFindsTheUpsOnAnAdapterAndThePollsReachItThroughItsPort) {
  ChildProcess simulator;
  const std::string terminal = StartSimulator(simulator, {"--pace=instant"});
  ASSERT_FALSE(terminal.empty());
  fs::create_symlink(terminal, dev + "/ttyUSB0");
  StableName("usb-QELTA_UPS_0001-if00-port0", "../../ttyUSB0");
  const std::string stable = dev + "/serial/by-id/usb-QELTA_UPS_0001-if00-port0";

  // No real serial device is ever opened: every port leads into the test's folder.
  MemorySettings settings;
  for (int n = 1; n <= 8; ++n) settings.WriteString(kPorts, ComPortName(n), dev + "/missing");
  SerialPort serial(settings);
  NoHidBranch hid;
  UpsTransport transport(serial, hid);
  SystemWallClock wall_clock;
  UpsProtocol protocol(transport, settings, wall_clock);
  LinkUpsProbe probe(protocol, serial, wall_clock);
  LinuxSerialAdapters catalog(dev, root + "/sys");
  PortSearch search(probe, settings, catalog);

  ManualClock clock;
  std::unique_ptr<Timer> timer = clock.CreateTimer(1000, false);
  MemorySettings autorun;
  Events events;
  FakeBoxes boxes(events);
  FakeBusy busy(events);
  FakeFiles files;
  FakeSound sound;
  ConfigurationLogic logic(
      {settings, autorun, *timer, [] {}, sound, search, boxes, files, busy, "/bin/true", {}});
  logic.Fill();
  logic.SearchClick();

  ASSERT_EQ(events.log.back(),
            "information UPS обнаружен подключенным к порту COM1 (" + stable + ").");
  EXPECT_EQ(settings.ReadString(kPorts, "COM1", ""), stable);
  EXPECT_EQ(settings.ReadString(kSettings, kPort, ""), "COM1");
  EXPECT_EQ(protocol.PortOverride(), "");
  // The monitor's poll, with no override, now reaches the UPS on the stored port.
  TUPSStatus status;
  TUPSStatusRaw raw;
  EXPECT_TRUE(protocol.QueryUPSStatus(status, raw));
  // Once bound, the adapter is no longer a candidate of its own.
  EXPECT_TRUE(search.UnmappedAdapters().empty());
}

}  // namespace
}  // namespace qelta::testing
