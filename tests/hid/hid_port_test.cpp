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

  FakeHidBus bus;
  HidPort port{bus};
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
  device.reads.push_back(FakeRead::Text(std::string(65, 'y'), 66));
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, std::string(65, 'y'));
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

TEST_F(HidPortTest, AReplySplitOverSeveralReportsArrivesAsOneText) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.reads = {FakeRead::Text("(230.0 2", 9), FakeRead::Text("29.0 230", 9),
                  FakeRead::Text(".0 015\r", 9)};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "(230.0 229.0 230.0 015\r");
  // Every report is asked for at the input length and waited for with the read's time-out;
  // the fourth wait times out and ends the read.
  EXPECT_EQ(bus.log.read_lengths, (std::vector<std::size_t>{9, 9, 9, 9}));
  EXPECT_EQ(bus.log.read_timeouts, (std::vector<int>{300, 300, 300, 300}));
}

TEST_F(HidPortTest, AReportContributesOnlyTheBytesBeforeItsFirstZero) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.reads = {FakeRead::Report(Bytes({0, 'A', 'B', 0, 'C', 'D', 0, 0, 0})),
                  FakeRead::Report(Bytes({0, 0, 'X', 'Y', 0, 0, 0, 0, 0})),
                  FakeRead::Report(Bytes({0, 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'}))};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "ABEFGHIJKL");
}

TEST_F(HidPortTest, TheReportIdByteIsNotPartOfTheText) {
  FakeHidDevice& device = OpenUps(HidReportLayout{true, 5, 5, 0});
  device.reads = {FakeRead::Report(Bytes({3, 'O', 'K', 0, 0}))};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "OK");
}

TEST_F(HidPortTest, TheReadCollectsUntilAWaitTimesOut) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.reads = {FakeRead::Text("first", 9), FakeRead::TimeOut(), FakeRead::Text("later", 9)};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "first");
  EXPECT_EQ(bus.log.transfers_in_flight, 0);  // the timed-out wait was cancelled

  // What came after the time-out is the next read's.
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "later");
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

TEST_F(HidPortTest, AFailingDeviceEndsTheReadWithWhatArrived) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.reads = {FakeRead::Text("(12", 9), FakeRead::Fail(), FakeRead::Text("never", 9)};
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(text, "(12");
}

TEST_F(HidPortTest, ADeviceThatNeverFallsSilentCannotHoldTheReadForEver) {
  FakeHidDevice& device = OpenUps(PlainLayout(9, 9));
  device.endless_report = Report("ab", 9);
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(300, text));
  EXPECT_EQ(bus.log.read_timeouts.size(), static_cast<std::size_t>(HidPort::kMaxReportsPerRead));
  EXPECT_EQ(text.size(), 2u * HidPort::kMaxReportsPerRead);
}

TEST_F(HidPortTest, ClosingLeavesNothingInFlight) {
  // The fake device refuses every transfer while one that timed out is still pending, so the
  // read below only succeeds when the timed-out write was cancelled first.
  FakeHidDevice& device = OpenUps();
  device.write_outcomes = {HidTransfer::TimedOut};
  device.reads = {FakeRead::Text("(", 9)};
  EXPECT_FALSE(port.WriteHIDPort("Q1\r"));
  std::string text;
  EXPECT_TRUE(port.ReadHIDPort(10, text));
  port.CloseHIDPort();
  EXPECT_EQ(bus.log.open_devices, 0);
  EXPECT_EQ(bus.log.closed_with_transfer_in_flight, 0);
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
