// The UPS on USB end to end: the protocol over the transport over the HID port, with a fake
// device playing the UPS (a simulated USB UPS would need the kernel's uhid, i.e. root).
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>

#include "fake_hid_device.h"
#include "link/hid_port.h"
#include "link/modems.h"
#include "link/ups.h"
#include "platform/wall_clock.h"
#include "settings/memory_settings.h"

namespace qelta {
namespace {

using testing::FakeHidBus;
using testing::FakeHidDevice;
using testing::FakeRead;
using testing::PlainLayout;
using testing::PlayBridge;

const std::string kReply = "(228.0 228.0 229.0 012 50.0 13.6 35.0 00110001\r\n";

// Answers "Q1\r" with `reply`, cut into input reports of `input_length` bytes; remembers
// every command it received.
void PlayUps(FakeHidDevice& device, const std::string& reply, std::size_t input_length,
             std::shared_ptr<std::vector<std::string>> commands) {
  auto pending = std::make_shared<std::string>();
  device.on_write = [=](FakeHidDevice& d, const std::vector<uint8_t>& report) {
    pending->append(report.begin() + 1, std::find(report.begin() + 1, report.end(), 0));
    if (!pending->ends_with('\r')) return;
    commands->push_back(*pending);
    if (*pending == "Q1\r") {
      for (std::size_t i = 0; i < reply.size(); i += input_length - 1) {
        d.reads.push_back(FakeRead::Text(reply.substr(i, input_length - 1), input_length));
      }
    }
    pending->clear();
  };
}

class NoSerial : public SerialBranch {
 public:
  bool OpenSerialPort(const std::string&, int) override { return false; }
  bool WriteSerialPort(const std::string&) override { return false; }
  std::string ReadSerialPort(int) override { return ""; }
  void CloseSerialPort() override {}
};

class UsbUpsTest : public ::testing::Test {
 protected:
  void AddUps(std::size_t input_length, const std::string& reply = kReply) {
    auto commands = commands_;
    bus.entries.push_back(
        {HidDeviceInfo{"/dev/hidraw4", 0x0665, 0x5161}, true, "", PlainLayout(input_length, 9),
         [=](FakeHidDevice& device) { PlayUps(device, reply, input_length, commands); }});
  }
  const std::vector<std::string>& Commands() const { return *commands_; }

  std::shared_ptr<std::vector<std::string>> commands_ =
      std::make_shared<std::vector<std::string>>();
  ManualMonotonicClock steady{50'000};
  FakeHidBus bus;
  HidPort hid{bus, steady};
  NoSerial serial;
  UpsTransport transport{serial, hid};
  MemorySettings settings;
  FixedWallClock clock{1'700'000'000'000};
  UpsProtocol protocol{transport, settings, clock};
};

TEST_F(UsbUpsTest, AReplyEndingInCrLfKeepsItsLineEndAndStillGivesTheEightFlags) {
  AddUps(9);
  ASSERT_TRUE(transport.OpenUPSPort("USB", 2400));
  EXPECT_TRUE(transport.WriteUPSPort("Q1\r"));
  const std::string reply = transport.ReadUPSPort(300);
  transport.CloseUPSPort();
  EXPECT_EQ(reply, kReply);  // the HID read does no line-end handling

  const TUPSStatus status = ParseStatusReply(reply);
  EXPECT_EQ(status.IP_voltage, "228.0");
  EXPECT_EQ(status.temp, "35.0");
  EXPECT_FALSE(status.status_using_battery);
  EXPECT_FALSE(status.status_battery_low);
  EXPECT_TRUE(status.status_avr);
  EXPECT_TRUE(status.status_ups_failed);
  EXPECT_FALSE(status.status_ups_is_line_interactive);
  EXPECT_FALSE(status.status_testing);
  EXPECT_FALSE(status.status_shutdown);
  EXPECT_TRUE(status.status_beeper);
}

TEST_F(UsbUpsTest, TheStatusQueryTalksToTheUsbUpsThroughThePortOverride) {
  for (std::size_t input_length : {9u, 65u}) {
    SCOPED_TRACE(input_length);
    bus.entries.clear();
    AddUps(input_length);
    settings.WriteString("Settings", "Port", "COM3");
    protocol.SetPortOverride("USB");
    TUPSStatus status;
    TUPSStatusRaw raw;
    ASSERT_TRUE(protocol.QueryUPSStatus(status, raw));
    EXPECT_EQ(status.OP_frequency, "50.0");
    EXPECT_TRUE(status.status_beeper);
    EXPECT_TRUE(raw.status_avr);
    EXPECT_EQ(raw.OP_current, 12);
    EXPECT_EQ(bus.log.open_devices, 0);  // closed after the exchange
    EXPECT_EQ(bus.log.transfers_in_flight, 0);
  }
  EXPECT_EQ(Commands(), (std::vector<std::string>{"Q1\r", "Q1\r"}));
}

TEST_F(UsbUpsTest, CommandsGoToTheStoredUsbPortWithoutAReply) {
  AddUps(9);
  settings.WriteString("Settings", "Port", "USB1");
  EXPECT_TRUE(protocol.PerformUPSTest());
  EXPECT_TRUE(protocol.ToggleUPSBeeper());
  EXPECT_EQ(Commands(), (std::vector<std::string>{"T\r", "Q\r"}));
  EXPECT_EQ(bus.log.open_devices, 0);
}

TEST_F(UsbUpsTest, NoUsbUpsFailsTheQueryAndLeavesTheRecordsAlone) {
  bus.entries.push_back(
      {HidDeviceInfo{"/dev/hidraw0", 0x046d, 0xc31c}, true, "", PlainLayout(9, 2), nullptr});
  protocol.SetPortOverride("USB");
  TUPSStatus status;
  status.temp = "kept";
  TUPSStatusRaw raw;
  raw.OP_current = 77;
  EXPECT_FALSE(protocol.QueryUPSStatus(status, raw));
  EXPECT_EQ(status.temp, "kept");
  EXPECT_EQ(raw.OP_current, 77);
  EXPECT_EQ(bus.log.open_devices, 0);
}

TEST_F(UsbUpsTest, AnAnswerTheBridgeStillHoldsIsNotTakenForTheNextQuery) {
  // The bridge keeps the reports nobody read and hands them over at the next open.
  struct Bridge {
    std::string reply;
    int first_report_ms = 0;
    std::deque<FakeRead> held;
  };
  auto bridge = std::make_shared<Bridge>();
  bus.entries.push_back({HidDeviceInfo{"/dev/hidraw4", 0x0665, 0x5161}, true, "", PlainLayout(9, 9),
                         [this, bridge](FakeHidDevice& device) {
                           PlayBridge(device, steady, bridge->reply, bridge->first_report_ms, 40);
                           device.reads = std::move(bridge->held);
                           device.on_close = [bridge](std::deque<FakeRead>& left) {
                             bridge->held = std::move(left);
                           };
                         }});
  protocol.SetPortOverride("USB");
  TUPSStatus status;
  TUPSStatusRaw raw;

  // Mains, but answered too late for the read: the query fails and the reply stays behind.
  bridge->reply = kReply;
  bridge->first_report_ms = HidPort::kFirstReportWaitMs + 200;
  EXPECT_FALSE(protocol.QueryUPSStatus(status, raw));
  EXPECT_FALSE(bridge->held.empty());

  // One poll later the mains has failed and the bridge answers in time.
  steady.Advance(3000);
  bridge->reply = "(000.0 228.0 220.0 012 50.0 12.9 35.0 10001001\r";
  bridge->first_report_ms = 100;
  ASSERT_TRUE(protocol.QueryUPSStatus(status, raw));
  EXPECT_TRUE(status.status_using_battery);
  EXPECT_EQ(status.IP_voltage, "000.0");
  EXPECT_EQ(status.battery_voltage, "12.9");
  EXPECT_EQ(bus.log.transfers_in_flight, 0);
}

}  // namespace
}  // namespace qelta
