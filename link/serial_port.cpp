#include "link/serial_port.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "settings/settings.h"

namespace qelta {

SerialPort::SerialPort(Settings& settings, std::unique_ptr<SerialDevice> device,
                       MonotonicClock& clock)
    : settings_(settings), device_(std::move(device)), clock_(clock) {}

SerialPort::SerialPort(Settings& settings) : SerialPort(settings, MakePosixSerialDevice()) {}

std::optional<std::string> SerialPort::DevicePath(const std::string& port_name) {
  constexpr std::string_view kPrefix = "COM";
  if (!port_name.starts_with(kPrefix)) return std::nullopt;
  const char* first = port_name.data() + kPrefix.size();
  const char* last = port_name.data() + port_name.size();
  if (first == last || *first < '0' || *first > '9') return std::nullopt;
  int number = 0;
  const auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc() || end != last || number < 1) return std::nullopt;
  std::string configured = settings_.ReadString("Ports", port_name, "");
  if (!configured.empty()) return configured;
  return "/dev/ttyS" + std::to_string(number - 1);
}

bool SerialPort::OpenSerialPort(const std::string& port_name, int baud) {
  device_->Close();
  const std::optional<std::string> path = DevicePath(port_name);
  if (!path) return false;
  return device_->Open(*path, baud);
}

bool SerialPort::WriteSerialPort(const std::string& text) {
  return device_->Write(text);
}

std::string SerialPort::ReadSerialPort(int timeout_ms) {
  const int64_t timeout = timeout_ms < 0 ? 0 : timeout_ms;
  const int64_t limit = clock_.NowMs() + 2 * timeout;
  std::string line;
  bool skipping = true;
  std::array<char, 128> chunk;
  for (;;) {
    const int64_t left = limit - clock_.NowMs();
    if (left <= 0) return std::string();
    std::size_t count = 0;
    const SerialDevice::ReadResult result =
        device_->ReadAvailable(static_cast<int>(std::min(timeout, left)), chunk, count);
    // A silence as long as the time-out, the time bound reached, or a device that has failed:
    // the line did not end.
    if (result != SerialDevice::ReadResult::Data) return std::string();
    for (std::size_t i = 0; i < count; ++i) {
      const char byte = chunk[i];
      const bool line_end = byte == '\r' || byte == '\n';
      if (skipping) {
        if (line_end) continue;
        skipping = false;
      }
      if (line_end) return line;
      line += byte;
      if (line.size() > kMaxLineLength) return std::string();
    }
  }
}

void SerialPort::CloseSerialPort() {
  device_->Close();
}

}  // namespace qelta
