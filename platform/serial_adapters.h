#pragma once

#include <string>
#include <vector>

namespace qelta {

// A serial adapter present on the machine (a USB-to-serial cable or a USB modem-class device).
struct SerialAdapter {
  // The kernel's device node, e.g. /dev/ttyUSB0.
  std::string device;
  // A name that stays the same when the adapter is plugged in again (under /dev/serial/by-id/);
  // empty when the system gives none.
  std::string stable_name;

  // The name to keep in the settings: the stable one when there is one.
  const std::string& PreferredName() const { return stable_name.empty() ? device : stable_name; }
  bool operator==(const SerialAdapter&) const = default;
};

// What the system tells about its serial devices.
class SerialAdapterCatalog {
 public:
  virtual ~SerialAdapterCatalog() = default;
  // The adapters present now, in a stable order.
  virtual std::vector<SerialAdapter> Adapters() = 0;
  // True when both paths lead to one existing device node.
  virtual bool SameDevice(const std::string& a, const std::string& b) = 0;
  // True when `path` is a serial device that is there now: it exists and, when the kernel tells
  // whether a UART is behind the node, one is.
  virtual bool SerialDevicePresent(const std::string& path) = 0;
};

// Adapters as Linux names them: the nodes ttyUSB<n> and ttyACM<n> under `dev_folder` and the
// devices that the links under `dev_folder`/serial/by-id lead to, which also give the stable
// names. A node's UART is looked up under `tty_class_folder`/<node name>/type ("0": none).
class LinuxSerialAdapters : public SerialAdapterCatalog {
 public:
  explicit LinuxSerialAdapters(std::string dev_folder = "/dev",
                               std::string tty_class_folder = "/sys/class/tty");

  std::vector<SerialAdapter> Adapters() override;
  bool SameDevice(const std::string& a, const std::string& b) override;
  bool SerialDevicePresent(const std::string& path) override;

 private:
  std::string dev_folder_;
  std::string tty_class_folder_;
};

}  // namespace qelta
