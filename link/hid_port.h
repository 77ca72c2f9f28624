#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/ups.h"
#include "platform/hid_device.h"

namespace qelta {

// The UPS on USB: the first present HID device with vendor 0x0665 and product 0x5161. Texts
// travel in reports that start with report ID 0; a text longer than one output report is cut
// into consecutive reports, and what comes back is assembled from the input reports until a
// wait for the next one times out.
class HidPort : public HidBranch {
 public:
  static constexpr uint16_t kVendorId = 0x0665;
  static constexpr uint16_t kProductId = 0x5161;
  // One report-ID byte and up to 65 data bytes; devices with longer reports are not used.
  static constexpr std::size_t kReportBufferSize = 66;
  static constexpr int kWriteTimeoutMs = 1000;
  // A read stops after this many reports even when the device keeps sending, so that a device
  // that never falls silent can't hold the caller for ever.
  static constexpr int kMaxReportsPerRead = 256;

  // The machine's HID devices.
  HidPort();
  // The devices of `bus`, which must outlive the port.
  explicit HidPort(HidDeviceBus& bus);
  ~HidPort() override;

  bool OpenHIDPort(std::string& message) override;
  bool WriteHIDPort(const std::string& text) override;
  bool ReadHIDPort(int timeout_ms, std::string& text) override;
  void CloseHIDPort() override;

  bool IsOpen() const { return device_ != nullptr; }
  HidReportLayout Layout() const { return layout_; }

 private:
  std::unique_ptr<HidDeviceBus> own_bus_;
  HidDeviceBus& bus_;
  std::unique_ptr<HidDevice> device_;
  HidReportLayout layout_;
  std::array<uint8_t, kReportBufferSize> report_{};
};

}  // namespace qelta
