#pragma once

#include <string>

namespace qelta {

// The branch that the last open with a "COM" or "USB" name selected.
enum class PortKind { Serial, HID };

// The serial branch of the transport.
class SerialBranch {
 public:
  virtual ~SerialBranch() = default;
  virtual bool OpenSerialPort(const std::string& port_name, int baud) = 0;
  virtual bool WriteSerialPort(const std::string& text) = 0;
  // The first line of the reply without its line end; empty when no whole line came in time
  // (a line cut short counts as none).
  virtual std::string ReadSerialPort(int timeout_ms) = 0;
  virtual void CloseSerialPort() = 0;
};

// The USB-HID branch of the transport.
class HidBranch {
 public:
  virtual ~HidBranch() = default;
  // On failure `message` tells why (in the user's language).
  virtual bool OpenHIDPort(std::string& message) = 0;
  virtual bool WriteHIDPort(const std::string& text) = 0;
  // True when a whole line arrived: `text` holds it with its line end. False when nothing or
  // only part of a line came; `text` then holds what arrived.
  virtual bool ReadHIDPort(int timeout_ms, std::string& text) = 0;
  virtual void CloseHIDPort() = 0;
};

// Moves short texts to and from the UPS over the branch the port name selects: names that
// begin with "COM" are serial ports, names that begin with "USB" the UPS's HID device; the
// comparison is case-sensitive and any other name fails.
class UpsTransport {
 public:
  UpsTransport(SerialBranch& serial, HidBranch& hid) : serial_(serial), hid_(hid) {}

  bool OpenUPSPort(const std::string& port_name, int baud);
  bool WriteUPSPort(const std::string& text);
  // One reply line; empty when no whole line came. A serial line comes without its line end, a
  // USB one with it.
  std::string ReadUPSPort(int timeout_ms);
  void CloseUPSPort();

  PortKind Kind() const { return kind_; }

 private:
  SerialBranch& serial_;
  HidBranch& hid_;
  PortKind kind_ = PortKind::Serial;
};

}  // namespace qelta
