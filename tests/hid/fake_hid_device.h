#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/monotonic_clock.h"
#include "platform/hid_device.h"

namespace qelta::testing {

// What the fake devices did, kept outside them so that it can be checked after the port has
// closed (destroyed) a device.
struct FakeHidLog {
  int open_devices = 0;         // devices constructed and not yet destroyed
  int transfers_in_flight = 0;  // transfers that timed out and were not cancelled yet
  int closed_with_transfer_in_flight = 0;
  int cancels = 0;
  std::vector<std::vector<uint8_t>> written;  // every output report, as handed over
  std::vector<int> write_timeouts;
  std::vector<std::size_t> read_lengths;  // the buffer size of every read
  std::vector<int> read_timeouts;
};

// One step of what the device does when it is read.
struct FakeRead {
  enum Kind { kReport, kTimeOut, kFail } kind = kReport;
  std::vector<uint8_t> report;  // report ID first
  // On a device with a clock: when the report reaches the host (it is there at once when that
  // time has passed).
  int64_t at_ms = 0;

  static FakeRead Report(std::vector<uint8_t> bytes) { return {kReport, std::move(bytes)}; }
  // A report with ID 0 carrying `data`, zero-filled to `length` bytes (report ID included).
  static FakeRead Text(const std::string& data, std::size_t length);
  static FakeRead TimeOut() { return {kTimeOut, {}}; }
  static FakeRead Fail() { return {kFail, {}}; }
  FakeRead At(int64_t ms) && {
    at_ms = ms;
    return std::move(*this);
  }
};

// Plays a HID device: reads follow a script (a read past its end times out), writes succeed
// unless an outcome was queued for them. With a clock, waits take time: a read advances the
// clock to the moment its report arrives, or by its whole time-out when none comes within it.
class FakeHidDevice : public HidDevice {
 public:
  FakeHidDevice(HidReportLayout layout, FakeHidLog& log) : layout_(layout), log_(log) {
    ++log_.open_devices;
  }
  ~FakeHidDevice() override;

  HidReportLayout Layout() const override { return layout_; }
  HidTransfer WriteReport(std::span<const uint8_t> report, int timeout_ms) override;
  HidTransfer ReadReport(std::span<uint8_t> report, int timeout_ms) override;
  void Cancel() override;

  std::deque<FakeRead> reads;
  std::deque<HidTransfer> write_outcomes;
  // Called after every written report; a fake UPS answers from here.
  std::function<void(FakeHidDevice&, const std::vector<uint8_t>&)> on_write;
  // Every read gives this report (the device never falls silent), with a clock one every
  // `endless_spacing_ms`.
  std::optional<std::vector<uint8_t>> endless_report;
  int endless_spacing_ms = 0;
  ManualMonotonicClock* clock = nullptr;
  // Called when the device is closed with the reports that were not read.
  std::function<void(std::deque<FakeRead>&)> on_close;

 private:
  HidTransfer TimeOut(int timeout_ms);

  HidReportLayout layout_;
  FakeHidLog& log_;
  bool in_flight_ = false;
};

// A list of present devices; a device that matches a script entry opens as a FakeHidDevice.
class FakeHidBus : public HidDeviceBus {
 public:
  struct Entry {
    HidDeviceInfo info;
    bool opens = true;
    std::string refusal;  // opens == false with a refusal: reached but not usable
    HidReportLayout layout;
    std::function<void(FakeHidDevice&)> setup;  // runs on every open
  };

  bool Init() override {
    ++init_calls;
    return init_ok;
  }
  bool Enumerate(std::vector<HidDeviceInfo>& devices) override;
  std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, std::string& refusal) override;

  bool init_ok = true;
  bool enumerate_ok = true;
  int init_calls = 0;
  int enumerate_calls = 0;
  std::vector<std::string> opened_paths;
  std::vector<Entry> entries;
  FakeHidLog log;
  FakeHidDevice* last_device = nullptr;  // valid while the port holds it
};

// The UPS's USB bridge on `clock`: 8-byte reports without report IDs; after "Q1\r" the reply
// comes cut into reports, the first `first_report_ms` after the command, the next ones
// `spacing_ms` apart. Remembers every command it received.
void PlayBridge(FakeHidDevice& device, ManualMonotonicClock& clock, const std::string& reply,
                int first_report_ms, int spacing_ms, std::vector<std::string>* commands = nullptr);

// A layout without report IDs.
inline HidReportLayout PlainLayout(std::size_t input_length, std::size_t output_length) {
  return HidReportLayout{false, input_length, output_length, 0};
}

}  // namespace qelta::testing
