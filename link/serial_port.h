#pragma once

#include <memory>
#include <optional>
#include <string>

#include "link/ups.h"
#include "platform/serial_device.h"

namespace qelta {

class Settings;

// The serial branch over a serial line device. Port names are "COM" followed by a decimal
// number n of at least 1: the device is the one named by the setting `Ports`/`COMn` when that
// is present and not empty, else /dev/ttyS<n-1>.
class SerialPort : public SerialBranch {
 public:
  SerialPort(Settings& settings, std::unique_ptr<SerialDevice> device);
  explicit SerialPort(Settings& settings);

  bool OpenSerialPort(const std::string& port_name, int baud) override;
  bool WriteSerialPort(const std::string& text) override;
  // Skips leading CR and LF, then collects bytes up to and including the first CR or LF and
  // returns them without line ends. Returns as soon as the line has ended; the whole read
  // never lasts much beyond `timeout_ms`.
  std::string ReadSerialPort(int timeout_ms) override;
  void CloseSerialPort() override;

  // The device path for a port name; nothing when the name is not "COM" and a number.
  std::optional<std::string> DevicePath(const std::string& port_name);

 private:
  Settings& settings_;
  std::unique_ptr<SerialDevice> device_;
};

}  // namespace qelta
