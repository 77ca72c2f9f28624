#include "link/ups.h"

namespace qelta {

bool UpsTransport::OpenUPSPort(const std::string& port_name, int baud) {
  if (port_name.starts_with("COM")) {
    kind_ = PortKind::Serial;
    return serial_.OpenSerialPort(port_name, baud);
  }
  if (port_name.starts_with("USB")) {
    kind_ = PortKind::HID;
    std::string message;  // why the device was not found; not shown from here
    return hid_.OpenHIDPort(message);
  }
  return false;
}

bool UpsTransport::WriteUPSPort(const std::string& text) {
  return kind_ == PortKind::Serial ? serial_.WriteSerialPort(text) : hid_.WriteHIDPort(text);
}

std::string UpsTransport::ReadUPSPort(int timeout_ms) {
  if (kind_ == PortKind::Serial) return serial_.ReadSerialPort(timeout_ms);
  std::string text;
  if (!hid_.ReadHIDPort(timeout_ms, text)) return std::string();
  return text;
}

void UpsTransport::CloseUPSPort() {
  if (kind_ == PortKind::Serial) {
    serial_.CloseSerialPort();
  } else {
    hid_.CloseHIDPort();
  }
}

}  // namespace qelta
