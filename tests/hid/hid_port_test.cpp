#include "link/hid_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_hid_device.h"

namespace qelta {
namespace {

using testing::FakeHidBus;
using testing::FakeHidDevice;
using testing::FakeRead;
using testing::PlainLayout;
using testing::PlayBridge;

const HidDeviceInfo kUps{"/dev/hidraw3", 0x0665, 0x5161};
const HidDeviceInfo kKeyboard{"/dev/hidraw0", 0x046d, 0xc31c};
const HidDeviceInfo kSameVendor{"/dev/hidraw1", 0x0665, 0x5162};
const HidDeviceInfo kSameProduct{"/dev/hidraw2", 0x0666, 0x5161};

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// The report that should go out for `data`: ID 0, the data, zeros up to `length`.
std::vector<uint8_t> Report(const std::string& data, std::size_t length) {
  return FakeRead::Text(data, length).report;
}

class HidPortTest : public ::testing::Test {
 protected:
  void AddUps(HidReportLayout layout = PlainLayout(9, 9), const HidDeviceInfo& info = kUps) {
    bus.entries.push_back({info, true, "", layout, nullptr});
  }

  // Opens the port on a UPS with `layout` and gives its device.
  FakeHidDevice& OpenUps(HidReportLayout layout = PlainLayout(9, 9)) {
    AddUps(layout);
    std::string message;
    EXPECT_TRUE(port.OpenHIDPort(message)) << message;
    return *bus.last_device;
  }

  ManualMonotonicClock clock{1'000'000};
  FakeHidBus bus;
  HidPort port{bus, clock};
};

// --- Open ------------------------------------------------------------------------------------

TEST_F(HidPortTest, OpenFailsWithTheLibraryMessageWhenTheLibraryCantStart) {
  bus.init_ok = false;
  AddUps();
  std::string message;
  EXPECT_FALSE(port.OpenHIDPort(message));
  EXPECT_EQ(message, "Невозможно инициализировать HID-библиотеку (1).");
  EXPECT_EQ(bus.enumerate_calls, 0);
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(HidPortTest, OpenFailsWithTheDeviceSetMessageWhenEnumerationFails) {
  bus.enumerate_ok = false;
  AddUps();
  std::string message;
  EXPECT_FALSE(port.OpenHIDPort(message));
  EXPECT_EQ(message, "Невозможно инициализировать HID-библиотеку (2).");
  EXPECT_TRUE(bus.opened_paths.empty());
}

TEST_F(HidPortTest, NoUpsAmongOtherDevicesLeavesNothingOpen) {
  bus.entries.push_back({kKeyboard, true, "", PlainLayout(9, 2), nullptr});
  bus.entries.push_back({kSameVendor, true, "", PlainLayout(9, 9), nullptr});
  bus.entries.push_back({kSameProduct, true, "", PlainLayout(9, 9), nullptr});
  std::string message;
  EXPECT_FALSE(port.OpenHIDPort(message));
  EXPECT_EQ(message, "USB-подключение не обнаружено.");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(bus.log.open_devices, 0);
  // Nothing is held, so the next open searches again.
  EXPECT_FALSE(port.OpenHIDPort(message));
  EXPECT_EQ(bus.enumerate_calls, 2);
}

TEST_F(HidPortTest, NoDeviceAtAllIsNotFound) {
  std::string message;
  EXPECT_FALSE(port.OpenHIDPort(message));
  EXPECT_EQ(message, "USB-подключение не обнаружено.");
}

TEST_F(HidPortTest, OpensTheFirstUpsThatCanBeOpened) {
  const HidDeviceInfo second{"/dev/hidraw7", 0x0665, 0x5161};
  const HidDeviceInfo third{"/dev/hidraw8", 0x0665, 0x5161};
  bus.entries.push_back({kKeyboard, true, "", PlainLayout(9, 2), nullptr});
  bus.entries.push_back({kUps, false, "", {}, nullptr});  // e.g. no permission on its node
  bus.entries.push_back({second, true, "", PlainLayout(9, 9), nullptr});
  bus.entries.push_back({third, true, "", PlainLayout(9, 9), nullptr});
  std::string message;
  ASSERT_TRUE(port.OpenHIDPort(message));
  EXPECT_EQ(bus.opened_paths, (std::vector<std::string>{kUps.path, second.path}));
  EXPECT_EQ(bus.log.open_devices, 1);
}

TEST_F(HidPortTest, OpenSucceedsAtOnceWhileADeviceIsHeld) {
  OpenUps();
  std::string message;
  EXPECT_TRUE(port.OpenHIDPort(message));
  EXPECT_EQ(bus.enumerate_calls, 1);
  EXPECT_EQ(bus.log.open_devices, 1);

  port.CloseHIDPort();
  EXPECT_EQ(bus.log.open_devices, 0);
  EXPECT_TRUE(port.OpenHIDPort(message));
  EXPECT_EQ(bus.enumerate_calls, 2);
}

TEST_F(HidPortTest, ReportsLongerThanTheBufferAreRefusedAndClosed) {
  for (HidReportLayout layout : {PlainLayout(67, 9), PlainLayout(9, 67)}) {
    SCOPED_TRACE(::testing::Message() << layout.input_length << "/" << layout.output_length);
    FakeHidBus bus;
    HidPort port(bus);
    bus.entries.push_back({kUps, true, "", layout, nullptr});
    std::string message;
    EXPECT_FALSE(port.OpenHIDPort(message));
    EXPECT_NE(message.find("66"), std::string::npos) << message;
    EXPECT_EQ(bus.log.open_devices, 0);
    EXPECT_FALSE(port.IsOpen());
  }
}

TEST_F(HidPortTest, ReportsThatFillTheBufferExactlyAreAccepted) {
  FakeHidDevice& device = OpenUps(PlainLayout(66, 66));
  EXPECT_TRUE(port.WriteHIDPort(std::string(65, 'x')));
  ASSERT_EQ(bus.log.written.size(), 1u);
  EXPECT_EQ(bus.log.written[0], Report(std::string(65, 'x'), 66));
  device.reads.push_back(FakeRead::Text(std::string(64, 'y') + "\r", 66));
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, std::string(64, 'y') + "\r");
}

TEST_F(HidPortTest, ReportsWithoutRoomForDataAreRefused) {
  for (HidReportLayout layout : {PlainLayout(9, 1), PlainLayout(9, 0), PlainLayout(0, 9)}) {
    FakeHidBus bus;
    HidPort port(bus);
    bus.entries.push_back({kUps, true, "", layout, nullptr});
    std::string message;
    EXPECT_FALSE(port.OpenHIDPort(message));
    EXPECT_NE(message, "");
    EXPECT_EQ(bus.log.open_devices, 0);
  }
}

TEST_F(HidPortTest, AnUnusableUpsIsPassedOverForAUsableOne) {
  const HidDeviceInfo usable{"/dev/hidraw9", 0x0665, 0x5161};
  bus.entries.push_back({kUps, true, "", PlainLayout(70, 70), nullptr});
  bus.entries.push_back({usable, true, "", PlainLayout(9, 9), nullptr});
  std::string message;
  ASSERT_TRUE(port.OpenHIDPort(message));
  EXPECT_EQ(bus.opened_paths.back(), usable.path);
  EXPECT_EQ(bus.log.open_devices, 1);
}

TEST_F(HidPortTest, TheRefusalOfAnUnreadableDescriptorIsTold) {
  bus.entries.push_back({kUps, false, "описание повреждено", {}, nullptr});
  std::string message;
  EXPECT_FALSE(port.OpenHIDPort(message));
  EXPECT_EQ(message, "описание повреждено");
}

// --- Write -----------------------------------------------------------------------------------

TEST_F(HidPortTest, AShortCommandGoesAsOneFullLengthReport) {
  OpenUps(PlainLayout(9, 9));
  EXPECT_TRUE(port.WriteHIDPort("Q1\r"));
  ASSERT_EQ(bus.log.written.size(), 1u);
  EXPECT_EQ(bus.log.written[0], Bytes({0, 'Q', '1', '\r', 0, 0, 0, 0, 0}));
  EXPECT_EQ(bus.log.write_timeouts, std::vector<int>{1000});
}

TEST_F(HidPortTest, ACommandFitsTheSmallestUsefulReport) {
  OpenUps(PlainLayout(9, 4));
  EXPECT_TRUE(port.WriteHIDPort("Q1\r"));
  EXPECT_EQ(bus.log.written, std::vector<std::vector<uint8_t>>{Bytes({0, 'Q', '1', '\r'})});
}

TEST_F(HidPortTest, ALongTextGoesAsConsecutiveReports) {
  OpenUps(PlainLayout(9, 9));
  const std::string text = "ABCDEFGHIJKLMNOPQRST";  // 20 characters, 8 per report
  EXPECT_TRUE(port.WriteHIDPort(text));
  EXPECT_EQ(bus.log.written, (std::vector<std::vector<uint8_t>>{
                                 Report("ABCDEFGH", 9), Report("IJKLMNOP", 9), Report("QRST", 9)}));

  bus.log.written.clear();
  EXPECT_TRUE(port.WriteHIDPort(text.substr(0, 16)));  // exactly two full reports, no third
  EXPECT_EQ(bus.log.written,
            (std::vector<std::vector<uint8_t>>{Report("ABCDEFGH", 9), Report("IJKLMNOP", 9)}));
}

TEST_F(HidPortTest, AnEmptyTextWritesNothingAndFails) {
  OpenUps();
  EXPECT_FALSE(port.WriteHIDPort(""));
  EXPECT_TRUE(bus.log.written.empty());
}

TEST_F(HidPortTest, AReportThatDoesNotCompleteInTimeFailsTheWriteAndIsCancelled) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.write_outcomes = {HidTransfer::Done, HidTransfer::TimedOut};
  EXPECT_FALSE(port.WriteHIDPort(std::string(20, 'z')));
  EXPECT_EQ(bus.log.written.size(), 2u);  // the third report is not tried
  EXPECT_EQ(bus.log.transfers_in_flight, 0);
  EXPECT_GE(bus.log.cancels, 1);
  port.CloseHIDPort();
  EXPECT_EQ(bus.log.closed_with_transfer_in_flight, 0);
}

TEST_F(HidPortTest, AFailedReportFailsTheWrite) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.write_outcomes = {HidTransfer::Failed};
  EXPECT_FALSE(port.WriteHIDPort(std::string(20, 'z')));
  EXPECT_EQ(bus.log.written.size(), 1u);
}

TEST_F(HidPortTest, NothingIsWrittenOrReadWhileClosed) {
  std::string text = "stale";
  EXPECT_FALSE(port.WriteHIDPort("Q1\r"));
  EXPECT_FALSE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "");
  port.CloseHIDPort();  // closing a closed port does nothing
}

// --- Read ------------------------------------------------------------------------------------

TEST_F(HidPortTest, AReplySplitOverSeveralReportsArrivesAsOneTextWithItsLineEnd) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.reads = {FakeRead::Text("(230.0 2", 9), FakeRead::Text("29.0 230", 9),
                  FakeRead::Text(".0 015\r", 9), FakeRead::Text("(next", 9)};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "(230.0 229.0 230.0 015\r");
  // Every report is asked for at the input length; the first wait is long enough for the
  // bridge's first report, the next ones take the read's time-out, and the read ends with the
  // report that carries the line end.
  EXPECT_EQ(bus.log.read_lengths, (std::vector<std::size_t>{9, 9, 9}));
  EXPECT_EQ(bus.log.read_timeouts, (std::vector<int>{HidPort::kFirstReportWaitMs, 300, 300}));
  EXPECT_EQ(device.reads.size(), 1u);
}

TEST_F(HidPortTest, AReportContributesOnlyTheBytesBeforeItsFirstZero) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.reads = {FakeRead::Report(Bytes({0, 'A', 'B', 0, 'C', 'D', 0, 0, 0})),
                  FakeRead::Report(Bytes({0, 0, 'X', 'Y', 0, 0, 0, 0, 0})),
                  FakeRead::Report(Bytes({0, 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'})),
                  FakeRead::Report(Bytes({0, '\r', 0, 'M', 0, 0, 0, 0, 0}))};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "ABEFGHIJKL\r");
}

TEST_F(HidPortTest, LeadingLineEndsAreSkippedAndWhatFollowsTheLineEndIsDropped) {
  FakeHidDevice& device = OpenUps(HidReportLayout{true, 9, 5, 0});
  device.reads = {FakeRead::Report(Bytes({3, '\n', 0, 0, 0, 0, 0, 0, 0})),
                  FakeRead::Report(Bytes({3, '\r', '\n', '(', 'O', 'K', 0, 0, 0})),
                  FakeRead::Report(Bytes({3, '1', '\r', '\n', '(', 'X', 0, 0, 0}))};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  // The report-ID byte is not part of the text; a CR LF stays whole for the protocol.
  EXPECT_EQ(text, "(OK1\r\n");
}

TEST_F(HidPortTest, AReplyWithoutItsLineEndIsNotAReply) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.reads = {FakeRead::Text("(230.0 2", 9), FakeRead::TimeOut(), FakeRead::Text("later\r", 9)};
  std::string text;
  EXPECT_FALSE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "(230.0 2");
  EXPECT_EQ(bus.log.transfers_in_flight, 0);  // the timed-out wait was cancelled

  // What came after the time-out is the next read's.
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "later\r");

  device.reads = {FakeRead::Text("(12", 9), FakeRead::Fail(), FakeRead::Text("never\r", 9)};
  EXPECT_FALSE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "(12");
}

TEST_F(HidPortTest, AReplyOfZerosOnlyCountsAsNothing) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.reads = {FakeRead::Report(Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0}))};
  std::string text = "stale";
  EXPECT_FALSE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "");
}

TEST_F(HidPortTest, NothingArrivingGivesFalseAndAnEmptyText) {
  OpenUps();
  std::string text = "stale";
  EXPECT_FALSE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(bus.log.transfers_in_flight, 0);
}

TEST_F(HidPortTest, ADeviceThatNeverEndsItsLineIsCutAtTheLengthBound) {
  // Reports that take no time at all: only the length of the text can end the read.
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.endless_report = Report("abcdefgh", 9);
  std::string text;
  EXPECT_FALSE(port.ReadHIDPort(300, text));
  EXPECT_GT(text.size(), HidPort::kMaxReplyLength);
  EXPECT_LE(text.size(), HidPort::kMaxReplyLength + 8);
}

TEST_F(HidPortTest, ClosingLeavesNothingInFlight) {
  // The fake device refuses every transfer while one that timed out is still pending, so the
  // read below only succeeds when the timed-out write was cancelled first.
  FakeHidDevice& device = OpenUps();
  device.write_outcomes = {HidTransfer::TimedOut};
  EXPECT_FALSE(port.WriteHIDPort("Q1\r"));
  device.reads = {FakeRead::Text("(\r", 9)};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(10, text));
  port.CloseHIDPort();
  EXPECT_EQ(bus.log.open_devices, 0);
  EXPECT_EQ(bus.log.closed_with_transfer_in_flight, 0);
}

// --- The UPS's USB bridge, on a clock of its own --------------------------------------------

const std::string kBridgeReply = "(228.0 228.0 229.0 012 50.0 13.6 35.0 00110001\r";  // 6 reports

class BridgeTest : public HidPortTest {
 protected:
  FakeHidDevice& OpenBridge(int first_report_ms, int spacing_ms) {
    FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
    PlayBridge(device, clock, kBridgeReply, first_report_ms, spacing_ms);
    return device;
  }

  // Writes the status query and reads its reply; `elapsed_ms` tells how long the read took.
  bool Query(std::string& text, int64_t& elapsed_ms) {
    EXPECT_TRUE(port.WriteHIDPort("Q1\r"));
    const int64_t start = clock.NowMs();
    const bool ok = port.ReadHIDPort(300, text);
    elapsed_ms = clock.NowMs() - start;
    EXPECT_EQ(bus.log.transfers_in_flight, 0);
    return ok;
  }
};

TEST_F(BridgeTest, ReplyIsReadWholeAtTheBridgesSlowestTimings) {
  for (auto [first, spacing] : {std::pair{80, 10}, {80, 160}, {400, 10}, {400, 160}}) {
    SCOPED_TRACE(::testing::Message() << "first " << first << " ms, then every " << spacing);
    FakeHidDevice& device = OpenBridge(first, spacing);
    std::string text;
    int64_t elapsed = 0;
    EXPECT_TRUE(Query(text, elapsed));
    EXPECT_EQ(text, kBridgeReply);
    EXPECT_EQ(elapsed, first + 5 * spacing);  // ends with the line, not at a time-out
    EXPECT_TRUE(device.reads.empty());
    port.CloseHIDPort();
  }
}

TEST_F(BridgeTest, StaleReportsWaitingBeforeTheCommandAreNotTaken) {
  FakeHidDevice& device = OpenBridge(120, 40);
  // The rest of an earlier reply, held by the bridge: one report there at once, one handed
  // over a few milliseconds after the open.
  device.reads = {FakeRead::Text("111 0000", 9).At(clock.NowMs()),
                  FakeRead::Text("0001\r", 9).At(clock.NowMs() + 8)};
  std::string text;
  int64_t elapsed = 0;
  EXPECT_TRUE(Query(text, elapsed));
  EXPECT_EQ(text, kBridgeReply);
}

TEST_F(BridgeTest, ADeviceThatNeverFallsSilentStillGetsItsCommandInTime) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.clock = &clock;
  device.endless_report = Report("(", 9);
  device.endless_spacing_ms = 10;
  const int64_t start = clock.NowMs();
  EXPECT_TRUE(port.WriteHIDPort("Q1\r"));
  EXPECT_EQ(clock.NowMs() - start, HidPort::kStaleDiscardLimitMs);
  EXPECT_EQ(bus.log.written.size(), 1u);
}

TEST_F(BridgeTest, ATricklingDeviceIsCutAtTheBoundOfTheWholeRead) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.clock = &clock;
  device.endless_report = Report("(", 9);  // a byte every 100 ms, never a line end
  device.endless_spacing_ms = 100;
  std::string text;
  const int64_t start = clock.NowMs();
  EXPECT_FALSE(port.ReadHIDPort(300, text));
  EXPECT_EQ(clock.NowMs() - start, HidPort::kReadLimitMs);
  EXPECT_EQ(text, std::string(HidPort::kReadLimitMs / 100, '('));
  EXPECT_EQ(bus.log.transfers_in_flight, 0);
}

TEST_F(BridgeTest, ABridgeTooSlowForTheReadGivesNothing) {
  FakeHidDevice& device = OpenBridge(HidPort::kFirstReportWaitMs + 1, 10);
  std::string text;
  int64_t elapsed = 0;
  EXPECT_FALSE(Query(text, elapsed));
  EXPECT_EQ(text, "");
  EXPECT_EQ(elapsed, HidPort::kFirstReportWaitMs);
  EXPECT_FALSE(device.reads.empty());  // left in the bridge
}

TEST(HidPortLifetime, DestroyingAnOpenPortClosesTheDevice) {
  FakeHidBus bus;
  bus.entries.push_back({kUps, true, "", PlainLayout(9, 9), nullptr});
  {
    HidPort port(bus);
    std::string message;
    ASSERT_TRUE(port.OpenHIDPort(message));
    EXPECT_EQ(bus.log.open_devices, 1);
  }
  EXPECT_EQ(bus.log.open_devices, 0);
}

}  // namespace
}  // namespace qelta
