// The hidraw device over a packet socket pair, which passes one report per read or write as a
// hidraw node does; a blocking socket whose buffer is full stands for a write that the kernel
// holds.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "link/hid_port.h"
#include "link/hid_report_descriptor.h"
#include "platform/hidapi_device.h"

namespace qelta {
namespace {

using Bytes = std::vector<uint8_t>;

class HidrawDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    device_fd = fds[0];
    peer = fds[1];
  }
  void TearDown() override {
    device.reset();
    if (peer >= 0) ::close(peer);
  }
  void Adopt(HidReportLayout layout) { device = AdoptHidrawDevice(device_fd, layout); }

  void Send(const Bytes& bytes) {
    ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }
  // The next message at the peer, or nothing when none is waiting.
  std::optional<Bytes> Receive() {
    Bytes buffer(256);
    ssize_t n = ::recv(peer, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
  }

  int device_fd = -1;
  int peer = -1;
  std::unique_ptr<HidDevice> device;
};

TEST_F(HidrawDeviceTest, UnnumberedReportsGetAZeroReportIdInFront) {
  Adopt(HidReportLayout{false, 9, 9, 0});
  Send({'(', '2', '3', '0', '.', '0', ' ', '2'});
  Bytes report(9, 0xEE);
  ASSERT_EQ(device->ReadReport(report, 100), HidTransfer::Done);
  EXPECT_EQ(report, (Bytes{0, '(', '2', '3', '0', '.', '0', ' ', '2'}));
}

TEST_F(HidrawDeviceTest, NumberedReportsKeepTheirId) {
  Adopt(HidReportLayout{true, 5, 5, 0});
  Send({3, 'O', 'K'});
  Bytes report(5, 0);
  ASSERT_EQ(device->ReadReport(report, 100), HidTransfer::Done);
  EXPECT_EQ(report, (Bytes{3, 'O', 'K', 0, 0}));
}

TEST_F(HidrawDeviceTest, AReadWithNothingToReadTimesOutAndAVanishedDeviceFails) {
  Adopt(HidReportLayout{false, 9, 9, 0});
  Bytes report(9, 0);
  EXPECT_EQ(device->ReadReport(report, 20), HidTransfer::TimedOut);
  EXPECT_EQ(device->ReadReport(report, 0), HidTransfer::TimedOut);
  ::close(peer);
  peer = -1;
  EXPECT_EQ(device->ReadReport(report, 1000), HidTransfer::Failed);
}

TEST_F(HidrawDeviceTest, AReportIsWrittenWholeAsOneTransfer) {
  Adopt(HidReportLayout{false, 9, 9, 0});
  const Bytes report = {0, 'Q', '1', '\r', 0, 0, 0, 0, 0};
  EXPECT_EQ(device->WriteReport(report, 1000), HidTransfer::Done);
  EXPECT_EQ(Receive(), report);
  EXPECT_EQ(Receive(), std::nullopt);
}

TEST_F(HidrawDeviceTest, AHeldWriteTimesOutAndCancelWaitsUntilItIsOver) {
  // Fill the device's send buffer so that the next (blocking) write is held.
  int small = 4096;
  ASSERT_EQ(::setsockopt(device_fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  const Bytes filler(64, 0x55);
  int queued = 0;
  while (::send(device_fd, filler.data(), filler.size(), MSG_DONTWAIT) > 0) ++queued;
  ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  ASSERT_GT(queued, 0);
  Adopt(HidReportLayout{false, 9, 9, 0});

  const Bytes report = {0, 'T', '\r', 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(device->WriteReport(report, 30), HidTransfer::TimedOut);

  // The device takes the queued reports away only after the write has timed out; the held
  // report follows them, and Cancel() returns only once it has gone out.
  std::thread drain([&] {
    Bytes buffer(256);
    for (int i = 0; i < queued; ++i) ASSERT_GT(::recv(peer, buffer.data(), buffer.size(), 0), 0);
  });
  device->Cancel();
  drain.join();
  EXPECT_EQ(Receive(), report);

  // The device is usable again.
  EXPECT_EQ(device->WriteReport(report, 1000), HidTransfer::Done);
  EXPECT_EQ(Receive(), report);
}

TEST(HidapiDeviceBus, ANodeWithoutAReportDescriptorIsRefused) {
  HidapiDeviceBus bus(&ParseHidReportDescriptor);
  std::string refusal;
  EXPECT_EQ(bus.Open(HidDeviceInfo{"/dev/null", 0x0665, 0x5161}, refusal), nullptr);
  EXPECT_NE(refusal, "");
  refusal.clear();
  EXPECT_EQ(bus.Open(HidDeviceInfo{"/nonexistent/hidraw", 0x0665, 0x5161}, refusal), nullptr);
  EXPECT_EQ(refusal, "");  // not reached at all
}

TEST(HidapiDeviceBus, WithoutAUpsOnThisMachineTheOpenFindsNothing) {
  HidapiDeviceBus bus(&ParseHidReportDescriptor);
  ASSERT_TRUE(bus.Init());
  std::vector<HidDeviceInfo> devices;
  ASSERT_TRUE(bus.Enumerate(devices));
  for (const HidDeviceInfo& d : devices) {
    if (d.vendor_id == HidPort::kVendorId && d.product_id == HidPort::kProductId) {
      GTEST_SKIP() << "a UPS is attached at " << d.path;
    }
  }
  HidPort port;
  std::string message;
  EXPECT_FALSE(port.OpenHIDPort(message));
  EXPECT_EQ(message, "USB-подключение не обнаружено.");
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace qelta
