#pragma once

#include "platform/hid_device.h"

namespace qelta {

// HID devices of this machine: hidapi (hidraw backend) lists them; a listed device is then
// opened through its hidraw node, which carries the report descriptor and the report I/O.
//
// Reads are bounded by poll(). A hidraw write is a synchronous transfer inside the kernel that
// neither poll() nor O_NONBLOCK can bound, so each report is written by a short-lived thread
// that the caller waits for at most the time-out; Cancel() then waits for that transfer to
// end (the kernel gives up on it by itself after a few seconds), so no write outlives the
// device.
// A device over an open hidraw node (or anything that passes reports the same way, one report
// per read or write); takes over `fd`, which may be blocking or not.
std::unique_ptr<HidDevice> AdoptHidrawDevice(int fd, HidReportLayout layout);

class HidapiDeviceBus : public HidDeviceBus {
 public:
  explicit HidapiDeviceBus(HidDescriptorParser parser) : parser_(parser) {}

  bool Init() override;
  bool Enumerate(std::vector<HidDeviceInfo>& devices) override;
  std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, std::string& refusal) override;

 private:
  HidDescriptorParser parser_;
  bool initialized_ = false;
};

}  // namespace qelta
