#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/modems.h"
#include "link/no_hid_branch.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "platform/wall_clock.h"
#include "settings/memory_settings.h"
#include "tools/upssim/simulator_process.h"

namespace qelta {
namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

// 2023-11-14 22:13:20.400 local.
constexpr int64_t kNowMs = 1'700'000'000'400;
constexpr uint32_t kNowStamp = 1'700'000'000;

// A sample that no reply of the simulator produces, to see whether a query overwrote it.
void FillWithOldSample(TUPSStatus& status, TUPSStatusRaw& raw) {
  status = ParseStatusReply("(1.0 2.0 3.0 4 5.0 6.0 7.0 11111111");
  raw = StatusToRaw(status, 12345);
}

class MockHid : public HidBranch {
 public:
  MOCK_METHOD(bool, OpenHIDPort, (std::string&), (override));
  MOCK_METHOD(bool, WriteHIDPort, (const std::string&), (override));
  MOCK_METHOD(bool, ReadHIDPort, (int, std::string&), (override));
  MOCK_METHOD(void, CloseHIDPort, (), (override));
};

class ProtocolWithSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.Start(QELTA_BIN_DIR "/qelta-upssim", {"--pace=instant"}));
    settings_.WriteString("Ports", "COM1", sim_.Path());
    FillWithOldSample(old_status_, old_raw_);
    status_ = old_status_;
    raw_ = old_raw_;
  }

  void Tell(const std::string& command) { ASSERT_EQ(sim_.Command(command), "ok") << command; }

  void ExpectUntouched() {
    EXPECT_EQ(status_, old_status_);
    EXPECT_EQ(raw_, old_raw_);
  }

  upssim::SimulatorProcess sim_;
  MemorySettings settings_;
  SerialPort serial_{settings_};
  ::testing::NiceMock<MockHid> hid_;
  UpsTransport transport_{serial_, hid_};
  FixedWallClock clock_{kNowMs};
  UpsProtocol protocol_{transport_, settings_, clock_};
  TUPSStatus status_, old_status_;
  TUPSStatusRaw raw_, old_raw_;
};

TEST_F(ProtocolWithSimulator, QueryFillsBothRecordsFromTheDefaultPort) {
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));  // Settings/Port absent: COM1
  EXPECT_EQ(status_.IP_voltage, "218.5");
  EXPECT_EQ(status_.IP_fault_voltage, "218.5");
  EXPECT_EQ(status_.OP_voltage, "220.1");
  EXPECT_EQ(status_.OP_current, "023");
  EXPECT_EQ(status_.OP_frequency, "50.1");
  EXPECT_EQ(status_.battery_voltage, "13.50");
  EXPECT_EQ(status_.temp, "27.0");
  EXPECT_FALSE(status_.status_using_battery);
  EXPECT_TRUE(status_.status_ups_is_line_interactive);
  EXPECT_TRUE(status_.status_beeper);
  EXPECT_EQ(raw_.time, kNowStamp);
  EXPECT_DOUBLE_EQ(raw_.IP_voltage.ToDouble(), 218.5);
  EXPECT_DOUBLE_EQ(raw_.battery_voltage.ToDouble(), 13.5);
  EXPECT_EQ(raw_.OP_current, 23);
  EXPECT_TRUE(raw_.status_beeper);
  EXPECT_FALSE(raw_.status_testing);
}

TEST_F(ProtocolWithSimulator, PowerFailureAndLowBatteryShowInTheReply) {
  Tell("battery");
  Tell("battv 10.5");
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_TRUE(status_.status_using_battery);
  EXPECT_TRUE(status_.status_battery_low);
  EXPECT_EQ(status_.IP_voltage, "000.0");
  EXPECT_EQ(status_.battery_voltage, "10.50");
  Tell("mains");
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_FALSE(status_.status_using_battery);
  EXPECT_EQ(status_.IP_voltage, "218.5");
}

TEST_F(ProtocolWithSimulator, BareParenthesisIsASuccessfulEmptySample) {
  Tell("bare");
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_EQ(status_, TUPSStatus{});
  TUPSStatusRaw expected;
  expected.time = kNowStamp;
  EXPECT_EQ(raw_, expected);
}

TEST_F(ProtocolWithSimulator, RepliesNotBeginningWithParenthesisLeaveTheRecords) {
  for (const char* mode : {"blank", "garbage", "silent"}) {
    Tell(mode);
    EXPECT_FALSE(protocol_.QueryUPSStatus(status_, raw_)) << mode;
    ExpectUntouched();
  }
  Tell("normal");
  EXPECT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
}

TEST_F(ProtocolWithSimulator, AReplyThatComesLateAndSlowIsTakenWhole) {
  // Like a real UPS: 150 ms before it answers, CR LF first, the line at 2400 baud; the reply
  // ends some 360 ms after the query went out.
  Tell("pace real");
  Tell("delay 150");
  Tell("crlf");
  Tell("battery");
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_EQ(status_.IP_voltage, "000.0");
  EXPECT_EQ(status_.temp, "27.0");
  EXPECT_TRUE(status_.status_using_battery);
  EXPECT_TRUE(status_.status_ups_is_line_interactive);
  EXPECT_TRUE(status_.status_beeper);
  EXPECT_TRUE(status_.beeper_flag_carried);
  EXPECT_EQ(raw_.time, kNowStamp);
}

TEST_F(ProtocolWithSimulator, RepliesThatDoNotEndLeaveTheLastSample) {
  // Half a line, then nothing; a line that never ends, as fast as the line goes and at its
  // real pace; a line a byte every 20 ms, which would take about a second.
  for (const std::vector<const char*>& setup : {std::vector<const char*>{"partial"},
                                                {"endless"},
                                                {"endless", "pace real"},
                                                {"normal", "pace 20"}}) {
    std::string name;
    for (const char* command : setup) {
      Tell(command);
      name += std::string(command) + ";";
    }
    EXPECT_FALSE(protocol_.QueryUPSStatus(status_, raw_)) << name;
    ExpectUntouched();
  }
}

TEST_F(ProtocolWithSimulator, TestAndBeeperCommandsReachTheUps) {
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_FALSE(status_.status_testing);
  EXPECT_TRUE(status_.status_beeper);

  EXPECT_TRUE(protocol_.PerformUPSTest());
  EXPECT_TRUE(protocol_.ToggleUPSBeeper());
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_TRUE(status_.status_testing);
  EXPECT_FALSE(status_.status_beeper);

  EXPECT_TRUE(protocol_.ToggleUPSBeeper());
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_TRUE(status_.status_beeper);
}

TEST_F(ProtocolWithSimulator, CommandsSucceedWhenTheUpsIsSilent) {
  Tell("silent");
  EXPECT_TRUE(protocol_.PerformUPSTest());
  EXPECT_TRUE(protocol_.ToggleUPSBeeper());
}

TEST_F(ProtocolWithSimulator, OverrideIsUsedByTheQueryOnly) {
  settings_.WriteString("Settings", "Port", "COM2");
  settings_.WriteString("Ports", "COM2", "/nonexistent/qelta-tty");
  protocol_.SetPortOverride("COM1");
  EXPECT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_FALSE(protocol_.PerformUPSTest());
  EXPECT_FALSE(protocol_.ToggleUPSBeeper());

  settings_.WriteString("Settings", "Port", "COM1");
  protocol_.SetPortOverride("COM2");
  FillWithOldSample(status_, raw_);
  EXPECT_FALSE(protocol_.QueryUPSStatus(status_, raw_));
  ExpectUntouched();
  EXPECT_TRUE(protocol_.PerformUPSTest());

  protocol_.SetPortOverride("");
  EXPECT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
}

TEST_F(ProtocolWithSimulator, UsbOverrideQueriesTheHidDeviceButTheTestGoesToTheStoredPort) {
  settings_.WriteString("Settings", "Port", "COM1");
  protocol_.SetPortOverride("USB");
  EXPECT_CALL(hid_, OpenHIDPort(_)).WillOnce(Return(true));
  EXPECT_CALL(hid_, WriteHIDPort("Q1\r")).WillOnce(Return(true));
  EXPECT_CALL(hid_, ReadHIDPort(300, _))
      .WillOnce(DoAll(SetArgReferee<1>("(230.0 230.0 229.9 041 49.9 27.20 31.5 00001001\r\n"),
                      Return(true)));
  EXPECT_CALL(hid_, CloseHIDPort()).Times(1);
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_EQ(status_.IP_voltage, "230.0");
  EXPECT_EQ(status_.temp, "31.5");
  EXPECT_TRUE(status_.status_ups_is_line_interactive);
  EXPECT_TRUE(status_.status_beeper);
  EXPECT_EQ(raw_.OP_current, 41);

  // The self-test still goes to the serial simulator: it shows in the next serial query.
  EXPECT_TRUE(protocol_.PerformUPSTest());
  protocol_.SetPortOverride("");
  ASSERT_TRUE(protocol_.QueryUPSStatus(status_, raw_));
  EXPECT_TRUE(status_.status_testing);
}

TEST(Protocol, PortThatCannotBeOpenedFailsEveryExchange) {
  MemorySettings settings;
  SerialPort serial(settings);
  NoHidBranch hid;
  UpsTransport transport(serial, hid);
  FixedWallClock clock(kNowMs);
  UpsProtocol protocol(transport, settings, clock);
  TUPSStatus status, old_status;
  TUPSStatusRaw raw, old_raw;
  FillWithOldSample(old_status, old_raw);

  for (const char* port : {"COM1", "COMx", "LPT1", "USB"}) {
    settings.WriteString("Settings", "Port", port);
    settings.WriteString("Ports", "COM1", "/nonexistent/qelta-tty");
    status = old_status;
    raw = old_raw;
    EXPECT_FALSE(protocol.QueryUPSStatus(status, raw)) << port;
    EXPECT_EQ(status, old_status);
    EXPECT_EQ(raw, old_raw);
    EXPECT_FALSE(protocol.PerformUPSTest()) << port;
    EXPECT_FALSE(protocol.ToggleUPSBeeper()) << port;
  }
}

}  // namespace
}  // namespace qelta
