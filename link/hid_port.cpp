#include "link/hid_port.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "link/hid_report_descriptor.h"
#include "platform/hidapi_device.h"

namespace qelta {

HidPort::HidPort()
    : own_bus_(std::make_unique<HidapiDeviceBus>(&ParseHidReportDescriptor)),
      bus_(*own_bus_),
      clock_(SystemMonotonicClock()) {}

HidPort::HidPort(HidDeviceBus& bus, MonotonicClock& clock) : bus_(bus), clock_(clock) {}

HidPort::~HidPort() {
  CloseHIDPort();
}

bool HidPort::OpenHIDPort(std::string& message) {
  if (device_) return true;
  if (!bus_.Init()) {
    message = "Невозможно инициализировать HID-библиотеку (1).";
    return false;
  }
  std::vector<HidDeviceInfo> devices;
  if (!bus_.Enumerate(devices)) {
    message = "Невозможно инициализировать HID-библиотеку (2).";
    return false;
  }
  // Why the last UPS that was reached could not be used; told only when no other one fits.
  std::string refusal;
  for (const HidDeviceInfo& info : devices) {
    if (info.vendor_id != kVendorId || info.product_id != kProductId) continue;
    std::unique_ptr<HidDevice> device = bus_.Open(info, refusal);
    if (!device) continue;
    const HidReportLayout layout = device->Layout();
    if (layout.input_length > kReportBufferSize || layout.output_length > kReportBufferSize) {
      refusal = "USB-устройство ИБП не поддерживается: его HID-отчёты длиннее 66 байт.";
      continue;  // leaving the scope closes the device
    }
    if (layout.input_length < 2 || layout.output_length < 2) {
      refusal = "USB-устройство ИБП не поддерживается: его HID-отчёты не несут данных.";
      continue;
    }
    device_ = std::move(device);
    layout_ = layout;
    return true;
  }
  message = refusal.empty() ? "USB-подключение не обнаружено." : refusal;
  return false;
}

HidTransfer HidPort::ReadOneReport(int timeout_ms) {
  report_.fill(0);
  const HidTransfer result =
      device_->ReadReport(std::span<uint8_t>(report_.data(), layout_.input_length), timeout_ms);
  if (result == HidTransfer::TimedOut) device_->Cancel();
  return result;
}

void HidPort::DiscardStaleInput() {
  const int64_t limit = clock_.NowMs() + kStaleDiscardLimitMs;
  for (;;) {
    const int64_t left = limit - clock_.NowMs();
    if (left <= 0) return;
    if (ReadOneReport(static_cast<int>(std::min<int64_t>(kStaleSettleMs, left))) !=
        HidTransfer::Done) {
      return;
    }
  }
}

bool HidPort::WriteHIDPort(const std::string& text) {
  if (!device_) return false;
  // What the device still holds from an earlier exchange would otherwise be read as the
  // answer to this command.
  DiscardStaleInput();
  const std::size_t chunk = layout_.output_length - 1;
  bool written = false;
  for (std::size_t pos = 0; pos < text.size();) {
    report_.fill(0);
    const std::size_t n = std::min(chunk, text.size() - pos);
    std::memcpy(report_.data() + 1, text.data() + pos, n);
    pos += n;
    switch (device_->WriteReport(std::span<const uint8_t>(report_.data(), layout_.output_length),
                                 kWriteTimeoutMs)) {
      case HidTransfer::Done:
        written = true;
        break;
      case HidTransfer::TimedOut:
        device_->Cancel();
        return false;
      case HidTransfer::Failed:
        return false;
    }
  }
  return written;
}

bool HidPort::ReadHIDPort(int timeout_ms, std::string& text) {
  text.clear();
  if (!device_) return false;
  const int64_t limit = clock_.NowMs() + kReadLimitMs;
  const int next_wait = timeout_ms < 0 ? 0 : timeout_ms;
  const int first_wait = std::max(next_wait, kFirstReportWaitMs);
  auto is_line_end = [](uint8_t byte) { return byte == '\r' || byte == '\n'; };
  for (;;) {
    const int64_t left = limit - clock_.NowMs();
    if (left <= 0) return false;
    const int wait = text.empty() ? first_wait : next_wait;
    if (ReadOneReport(static_cast<int>(std::min<int64_t>(wait, left))) != HidTransfer::Done) {
      return false;
    }
    auto data = report_.begin() + 1;
    const auto data_end = std::find(data, report_.begin() + layout_.input_length, uint8_t{0});
    if (text.empty()) data = std::find_if_not(data, data_end, is_line_end);
    const auto line_end = std::find_if(data, data_end, is_line_end);
    if (line_end != data_end) {
      // The line end stays with the text (CR LF whole); anything after it is not this line.
      text.append(data, std::find_if_not(line_end, data_end, is_line_end));
      return true;
    }
    text.append(data, data_end);
    if (text.size() > kMaxReplyLength) return false;
  }
}

void HidPort::CloseHIDPort() {
  if (!device_) return;
  device_->Cancel();
  device_.reset();
}

}  // namespace qelta
