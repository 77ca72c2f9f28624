#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/no_hid_branch.h"
#include "link/ups.h"

namespace qelta {
namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::StrictMock;

class MockSerial : public SerialBranch {
 public:
  MOCK_METHOD(bool, OpenSerialPort, (const std::string&, int), (override));
  MOCK_METHOD(bool, WriteSerialPort, (const std::string&), (override));
  MOCK_METHOD(std::string, ReadSerialPort, (int), (override));
  MOCK_METHOD(void, CloseSerialPort, (), (override));
};

class MockHid : public HidBranch {
 public:
  MOCK_METHOD(bool, OpenHIDPort, (std::string&), (override));
  MOCK_METHOD(bool, WriteHIDPort, (const std::string&), (override));
  MOCK_METHOD(bool, ReadHIDPort, (int, std::string&), (override));
  MOCK_METHOD(void, CloseHIDPort, (), (override));
};

class Dispatch : public ::testing::Test {
 protected:
  StrictMock<MockSerial> serial_;
  StrictMock<MockHid> hid_;
  UpsTransport transport_{serial_, hid_};
};

TEST_F(Dispatch, NamesOtherThanComOrUsbFailAndKeepTheKind) {
  for (const char* name : {"com1", "usb", "", "CO", "LPT1", " COM1"}) {
    EXPECT_FALSE(transport_.OpenUPSPort(name, 2400)) << name;
    EXPECT_EQ(transport_.Kind(), PortKind::Serial) << name;
  }
  EXPECT_CALL(hid_, OpenHIDPort(_)).WillOnce(Return(true));
  ASSERT_TRUE(transport_.OpenUPSPort("USB", 2400));
  EXPECT_FALSE(transport_.OpenUPSPort("com1", 2400));
  EXPECT_EQ(transport_.Kind(), PortKind::HID);
}

TEST_F(Dispatch, AnyUsbNameGoesToTheHidBranch) {
  EXPECT_CALL(hid_, OpenHIDPort(_))
      .WillOnce(DoAll(SetArgReferee<0>("USB-подключение не обнаружено."), Return(false)))
      .WillOnce(Return(true));
  EXPECT_FALSE(transport_.OpenUPSPort("USB", 2400));
  EXPECT_EQ(transport_.Kind(), PortKind::HID);
  EXPECT_TRUE(transport_.OpenUPSPort("USBx", 9600));
  EXPECT_EQ(transport_.Kind(), PortKind::HID);

  EXPECT_CALL(hid_, WriteHIDPort("Q1\r")).WillOnce(Return(true));
  EXPECT_CALL(hid_, ReadHIDPort(300, _))
      .WillOnce(DoAll(SetArgReferee<1>("(230.0 ... 00001001\r\n"), Return(true)));
  EXPECT_CALL(hid_, CloseHIDPort());
  EXPECT_TRUE(transport_.WriteUPSPort("Q1\r"));
  EXPECT_EQ(transport_.ReadUPSPort(300), "(230.0 ... 00001001\r\n");
  transport_.CloseUPSPort();
}

TEST_F(Dispatch, HidReadThatGotNothingIsEmptyWhateverItsText) {
  EXPECT_CALL(hid_, OpenHIDPort(_)).WillOnce(Return(true));
  ASSERT_TRUE(transport_.OpenUPSPort("USB", 2400));
  EXPECT_CALL(hid_, ReadHIDPort(300, _))
      .WillOnce(DoAll(SetArgReferee<1>("left over"), Return(false)));
  EXPECT_EQ(transport_.ReadUPSPort(300), "");
}

TEST_F(Dispatch, ComNameSelectsSerialEvenWhenTheOpenFails) {
  EXPECT_CALL(hid_, OpenHIDPort(_)).WillOnce(Return(true));
  ASSERT_TRUE(transport_.OpenUPSPort("USB", 2400));

  EXPECT_CALL(serial_, OpenSerialPort("COM3", 2400)).WillOnce(Return(false));
  EXPECT_FALSE(transport_.OpenUPSPort("COM3", 2400));
  EXPECT_EQ(transport_.Kind(), PortKind::Serial);

  EXPECT_CALL(serial_, OpenSerialPort("COM1", 2400)).WillOnce(Return(true));
  EXPECT_CALL(serial_, WriteSerialPort("T\r")).WillOnce(Return(true));
  EXPECT_CALL(serial_, ReadSerialPort(300)).WillOnce(Return("(1"));
  EXPECT_CALL(serial_, CloseSerialPort());
  EXPECT_TRUE(transport_.OpenUPSPort("COM1", 2400));
  EXPECT_TRUE(transport_.WriteUPSPort("T\r"));
  EXPECT_EQ(transport_.ReadUPSPort(300), "(1");
  transport_.CloseUPSPort();
}

TEST(NoHid, NeverFindsAUsbUps) {
  NoHidBranch hid;
  std::string message;
  EXPECT_FALSE(hid.OpenHIDPort(message));
  EXPECT_EQ(message, "USB-подключение не обнаружено.");
}

}  // namespace
}  // namespace qelta
