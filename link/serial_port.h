#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "link/monotonic_clock.h"
#include "link/ups.h"
#include "platform/serial_device.h"

namespace qelta {

class Settings;

// The serial branch over a serial line device. Port names are "COM" followed by a decimal
// number n of at least 1: the device is the one named by the setting `Ports`/`COMn` when that
// is present and not empty, else /dev/ttyS<n-1>.
class SerialPort : public SerialBranch {
 public:
  // A reply line longer than this (without its line end) is not a reply; the read gives up.
  static constexpr std::size_t kMaxLineLength = 256;

  // `clock` (the steady clock when none is given) must outlive the port.
  SerialPort(Settings& settings, std::unique_ptr<SerialDevice> device,
             MonotonicClock& clock = SystemMonotonicClock());
  explicit SerialPort(Settings& settings);

  bool OpenSerialPort(const std::string& port_name, int baud) override;
  bool WriteSerialPort(const std::string& text) override;
  // Reads one line of T = `timeout_ms`: leading CR and LF are skipped, and the line ends at the
  // first CR or LF after them; the read returns as soon as the device gives the line end. It
  // waits for the device at most T at a time and goes on while bytes keep arriving: a wait of
  // T in which not one byte came ends it (so a port that sends nothing gives up after T, and a
  // reply still arriving at T is read on). Whatever the device sends, the read lasts at most
  // 2 T and takes at most kMaxLineLength bytes. The result is the line without its line end;
  // it is empty when the line did not end (silence, the 2 T bound, the length bound, a
  // hang-up), so that a reply cut short is never taken for a whole one. Bytes that follow the
  // line end in what arrived with it are dropped.
  std::string ReadSerialPort(int timeout_ms) override;
  void CloseSerialPort() override;

  // The device path for a port name; nothing when the name is not "COM" and a number.
  std::optional<std::string> DevicePath(const std::string& port_name);

 private:
  Settings& settings_;
  std::unique_ptr<SerialDevice> device_;
  MonotonicClock& clock_;
};

}  // namespace qelta
