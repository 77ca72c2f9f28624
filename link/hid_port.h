#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/monotonic_clock.h"
#include "link/ups.h"
#include "platform/hid_device.h"

namespace qelta {

// The UPS on USB: the first present HID device with vendor 0x0665 and product 0x5161. Texts
// travel in reports that start with report ID 0; a text longer than one output report is cut
// into consecutive reports, and what comes back is assembled from the input reports up to the
// line end.
//
// The timing fits the UPS's USB bridge: it sends 8-byte reports, the first one 80 to 400 ms
// after a command and the next ones up to 160 ms apart, and it keeps the newest reports that
// nobody read (for example the rest of a reply whose read was given up) to hand them over as
// soon as the device is read again.
class HidPort : public HidBranch {
 public:
  static constexpr uint16_t kVendorId = 0x0665;
  static constexpr uint16_t kProductId = 0x5161;
  // One report-ID byte and up to 65 data bytes; devices with longer reports are not used.
  static constexpr std::size_t kReportBufferSize = 66;
  static constexpr int kWriteTimeoutMs = 1000;
  // Before a command goes out, input that is waiting or that comes within this long (of the
  // open, or of the last stale report) is stale and dropped: the bridge hands over what it held
  // as soon as the host polls it...
  static constexpr int kStaleSettleMs = 50;
  // ...but the dropping never takes longer than this, whatever the device sends.
  static constexpr int kStaleDiscardLimitMs = 200;
  // The wait for the first report of a reply (the bridge's slowest first report and a margin);
  // the read's time-out is the wait for each report after it.
  static constexpr int kFirstReportWaitMs = 500;
  // A whole read lasts at most this long and takes at most kMaxReplyLength bytes, so that a
  // device that never ends its line can't hold the caller: the bridge's slowest whole status
  // reply (first report at 400 ms, five more 160 ms apart: 1200 ms) and a margin.
  static constexpr int kReadLimitMs = 1300;
  static constexpr std::size_t kMaxReplyLength = 256;

  // The machine's HID devices.
  HidPort();
  // The devices of `bus`, timed on `clock`; both must outlive the port.
  explicit HidPort(HidDeviceBus& bus, MonotonicClock& clock = SystemMonotonicClock());
  ~HidPort() override;

  bool OpenHIDPort(std::string& message) override;
  // Drops stale input first (see kStaleSettleMs), then writes the text.
  bool WriteHIDPort(const std::string& text) override;
  // Collects the data bytes of the input reports (up to the first zero byte of each), skipping
  // leading CR and LF, until a report carries a line end. It waits kFirstReportWaitMs (or
  // `timeout_ms` when that is longer) for the first data and `timeout_ms` for each report after
  // it. True when the line ended: `text` is the line with its line end. False when the reply
  // did not end (nothing came, a wait timed out, the device failed, or a bound of the read was
  // reached): `text` then holds whatever arrived.
  bool ReadHIDPort(int timeout_ms, std::string& text) override;
  void CloseHIDPort() override;

  bool IsOpen() const { return device_ != nullptr; }
  HidReportLayout Layout() const { return layout_; }

 private:
  void DiscardStaleInput();
  // Reads one input report into report_; a wait that timed out is cancelled.
  HidTransfer ReadOneReport(int timeout_ms);

  std::unique_ptr<HidDeviceBus> own_bus_;
  HidDeviceBus& bus_;
  MonotonicClock& clock_;
  std::unique_ptr<HidDevice> device_;
  HidReportLayout layout_;
  std::array<uint8_t, kReportBufferSize> report_{};
};

}  // namespace qelta
