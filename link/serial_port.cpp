#include "link/serial_port.h"

#include <charconv>
#include <chrono>

#include "settings/settings.h"

namespace qelta {

SerialPort::SerialPort(Settings& settings, std::unique_ptr<SerialDevice> device)
    : settings_(settings), device_(std::move(device)) {}

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
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string line;
  bool skipping = true;
  for (;;) {
    const Clock::duration left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) break;
    // Round up so that a remainder below one millisecond is waited for, not spun on.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(left);
    char byte = 0;
    const SerialDevice::ReadResult result = device_->ReadByte(static_cast<int>(wait.count()), byte);
    if (result == SerialDevice::ReadResult::Failed) break;
    if (result == SerialDevice::ReadResult::TimedOut) continue;
    const bool line_end = byte == '\r' || byte == '\n';
    if (skipping) {
      if (line_end) continue;
      skipping = false;
    }
    line += byte;
    if (line_end) break;
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

void SerialPort::CloseSerialPort() {
  device_->Close();
}

}  // namespace qelta
