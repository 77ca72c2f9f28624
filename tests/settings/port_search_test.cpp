// The port search: the order of the candidates, the message boxes, the port-name override and
// the binding of a serial adapter to a port name.
#include <gtest/gtest.h>

#include "config_fixture.h"
#include "monitor/handler_guard.h"
#include "settings/setting_keys.h"
#include "settings_test_support.h"

namespace qelta::testing {
namespace {

using C = ConfigControl;
using Strings = std::vector<std::string>;

const std::string kNotFound =
    "error UPS не обнаружен ни на одном порту.\r\n"
    "Проверьте подключение UPS к компьютеру.\r\n"
    "Возможно, порт, к которому подключен UPS, используется другой программой.";

class PortSearchTest : public ConfigFixture {
 protected:
  void SetUp() override {
    Filled();
    settings.writes.clear();
    // What the port-name override is while each box is open.
    boxes.while_open = [this] { events.Add("override " + probe.port_override); };
  }
  Strings Queries() const {
    Strings queries;
    for (const std::string& event : events.log) {
      if (event.starts_with("query")) queries.push_back(event);
    }
    return queries;
  }
};

TEST_F(PortSearchTest, StopsAtTheFirstPortThatAnswersInListOrder) {
  probe.answering = {"COM2", "USB"};
  Logic().SearchClick();
  EXPECT_EQ(events.log,
            (Strings{"busy", "query NET", "query COM1", "query COM2", "idle",
                     "information UPS обнаружен подключенным к порту COM2.", "override COM2"}));
  EXPECT_EQ(Controls().Selected(C::Port), 1);
  EXPECT_EQ(settings.writes, Strings{"Settings/Port=COM2"});
  EXPECT_EQ(probe.port_override, "");  // cleared once the box was dismissed
}

TEST_F(PortSearchTest, AUpsServedOnThisComputerComesFirstAndIsShownAsTheNetworkEntry) {
  probe.answering = {"NET", "COM1"};
  Logic().SearchClick();
  EXPECT_EQ(events.log,
            (Strings{"busy", "query NET", "idle",
                     "information UPS обнаружен подключенным к порту Сеть.", "override NET"}));
  EXPECT_EQ(Controls().Selected(C::Port), 9);
  EXPECT_EQ(settings.writes, Strings{"Settings/Port=NET"});
}

TEST_F(PortSearchTest, NothingAnsweringShowsTheErrorOnceAndStoresNothing) {
  settings.WriteString(kSettings, kPort, "COM5");
  settings.writes.clear();
  adapters.adapters = {{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_1-port0"},
                       {"/dev/ttyACM0", ""}};
  Logic().SearchClick();
  EXPECT_EQ(Queries(), (Strings{"query NET", "query COM1", "query COM2", "query COM3", "query COM4",
                                "query COM5", "query COM6", "query COM7", "query COM8",
                                "query device /dev/serial/by-id/usb-FTDI_1-port0",
                                "query device /dev/ttyACM0", "query USB"}));
  EXPECT_EQ(events.log.back(), "override USB");
  EXPECT_EQ(events.log[events.log.size() - 2], kNotFound);
  EXPECT_EQ(events.log[events.log.size() - 3], "idle");
  EXPECT_TRUE(settings.writes.empty());
  EXPECT_EQ(Controls().Selected(C::Port), 0);
  EXPECT_EQ(probe.port_override, "");
}

TEST_F(PortSearchTest, NotFoundBoxEndsWithTheAccessLineWhenThereIsOne) {
  access_hint = "Нет доступа к /dev/hidraw3.";
  Logic().SearchClick();
  EXPECT_EQ(events.log[events.log.size() - 2], kNotFound + "\r\nНет доступа к /dev/hidraw3.");
}

TEST_F(PortSearchTest, AnAdapterThatAnswersIsBoundToAFreePortByItsStableName) {
  // COM1 already leads to one adapter; /dev/ttyS1 has a UART, /dev/ttyS2 has none.
  settings.WriteString(kPorts, "COM1", "/dev/serial/by-id/usb-Prolific_A-port0");
  adapters.aliases = {{"/dev/serial/by-id/usb-Prolific_A-port0", "/dev/ttyUSB0"},
                      {"/dev/serial/by-id/usb-FTDI_B-port0", "/dev/ttyUSB1"}};
  adapters.present = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS1"};
  adapters.adapters = {{"/dev/ttyUSB0", "/dev/serial/by-id/usb-Prolific_A-port0"},
                       {"/dev/ttyUSB1", "/dev/serial/by-id/usb-FTDI_B-port0"}};
  probe.answering = {"/dev/serial/by-id/usb-FTDI_B-port0", "USB"};
  settings.writes.clear();
  Logic().SearchClick();
  // The adapter that COM1 reaches is asked as COM1 only.
  EXPECT_EQ(Queries(), (Strings{"query NET", "query COM1", "query COM2", "query COM3", "query COM4",
                                "query COM5", "query COM6", "query COM7", "query COM8",
                                "query device /dev/serial/by-id/usb-FTDI_B-port0"}));
  EXPECT_EQ(settings.writes,
            (Strings{"Ports/COM3=/dev/serial/by-id/usb-FTDI_B-port0", "Settings/Port=COM3"}));
  EXPECT_EQ(Controls().Selected(C::Port), 2);
  EXPECT_EQ(events.log[events.log.size() - 2],
            "information UPS обнаружен подключенным к порту COM3 "
            "(/dev/serial/by-id/usb-FTDI_B-port0).");
  // Polls while the box is open already reach the UPS through the new binding.
  EXPECT_EQ(events.log.back(), "override COM3");
  EXPECT_EQ(probe.port_override, "");
  EXPECT_EQ(Logic().PortDevices()[2], "/dev/serial/by-id/usb-FTDI_B-port0");
  EXPECT_EQ(Logic().PortDevices()[3], "/dev/ttyS3");
}

TEST_F(PortSearchTest, AnAdapterWithoutAStableNameIsBoundByItsNode) {
  for (int n = 1; n <= 8; ++n) {
    // Every port is bound; only COM6's device is gone.
    const std::string device = n == 6 ? "/dev/gone" : "/dev/ttyX" + std::to_string(n);
    settings.WriteString(kPorts, ComPortName(n), device);
    if (n != 6) adapters.present.insert(device);
  }
  adapters.adapters = {{"/dev/ttyACM0", ""}};
  probe.answering = {"/dev/ttyACM0"};
  settings.writes.clear();
  Logic().SearchClick();
  EXPECT_EQ(settings.writes, (Strings{"Ports/COM6=/dev/ttyACM0", "Settings/Port=COM6"}));

  // With every port's device there, the last port takes it.
  adapters.present.insert("/dev/gone");
  settings.WriteString(kPorts, "COM6", "/dev/gone");
  EXPECT_EQ(search.PortForAdapter(), "COM8");
}

TEST_F(PortSearchTest, AStoreFailureWhileBindingEndsTheSearchAndClearsTheOverride) {
  adapters.adapters = {{"/dev/ttyUSB0", ""}};
  probe.answering = {"/dev/ttyUSB0"};
  settings.failing_key = "COM1";
  RecordingReporter reporter;
  RunGuarded(reporter, [&] { Logic().SearchClick(); });
  EXPECT_EQ(reporter.messages, QStringList{"Failed to set data for 'COM1'"});
  EXPECT_EQ(probe.port_override, "");
  EXPECT_FALSE(busy.busy);
  EXPECT_EQ(events.log.back(), "idle");  // no box
  EXPECT_EQ(settings.ReadString(kSettings, kPort, "none"), "none");
}

TEST_F(PortSearchTest, TheInstallerAsksUsbFirst) {
  adapters.adapters = {{"/dev/ttyUSB0", ""}};
  Strings order;
  for (const PortCandidate& c : search.InstallationOrder()) {
    order.push_back(c.kind == PortCandidate::Kind::Port ? c.port_name : c.adapter.device);
  }
  EXPECT_EQ(order, (Strings{"NET", "USB", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
                            "COM8", "/dev/ttyUSB0"}));
  probe.answering = {"COM1", "USB"};
  EXPECT_EQ(search.Run(search.InstallationOrder()).port_name, "USB");
}

}  // namespace
}  // namespace qelta::testing
