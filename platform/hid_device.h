#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qelta {

// What a device's report descriptor says about the size of its reports. Lengths are in bytes
// and include the report-ID byte, which is there (as 0) even when the device numbers no
// reports; a length is 0 when the device has no report of that kind.
struct HidReportLayout {
  bool numbered = false;  // the device puts a report ID in front of every report
  std::size_t input_length = 0;
  std::size_t output_length = 0;
  std::size_t feature_length = 0;

  bool operator==(const HidReportLayout&) const = default;
};

// Turns a raw report descriptor into its layout; nothing when the descriptor is malformed.
using HidDescriptorParser = std::optional<HidReportLayout> (*)(std::span<const uint8_t>);

enum class HidTransfer {
  Done,      // the report went out / came in
  TimedOut,  // not finished within the time-out; the transfer may still be pending
  Failed,    // the device refused or is gone; nothing is pending
};

// One open HID device, moving one report at a time. A report starts with its report-ID byte.
class HidDevice {
 public:
  // Closes the device. The owner calls Cancel() first when a transfer timed out.
  virtual ~HidDevice() = default;

  virtual HidReportLayout Layout() const = 0;
  // Sends one output report of report.size() bytes (report ID first).
  virtual HidTransfer WriteReport(std::span<const uint8_t> report, int timeout_ms) = 0;
  // Waits up to `timeout_ms` for one input report and puts it into `report` (report ID first,
  // 0 when the device numbers no reports); bytes the device did not send are left as they were.
  virtual HidTransfer ReadReport(std::span<uint8_t> report, int timeout_ms) = 0;
  // Ends any transfer that timed out; when it returns nothing is in flight any more.
  virtual void Cancel() = 0;
};

// One present HID device as enumeration lists it.
struct HidDeviceInfo {
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
};

// Finds and opens HID devices.
class HidDeviceBus {
 public:
  virtual ~HidDeviceBus() = default;
  // Makes the HID library ready; cheap once it has succeeded.
  virtual bool Init() = 0;
  // Lists the present devices; false when the list can't be obtained.
  virtual bool Enumerate(std::vector<HidDeviceInfo>& devices) = 0;
  // Opens a listed device for reports in both directions. Nothing when it can't be opened;
  // `refusal` then says why when the device was reached but can't be used (left untouched
  // when the device could not be opened at all).
  virtual std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, std::string& refusal) = 0;
};

}  // namespace qelta
