#pragma once

#include <mutex>
#include <ostream>
#include <string>

namespace qelta {

// Tells the user, once per process and kind of device, that a device node could not be opened
// for lack of permission, with the fix; a link that fails for that reason is otherwise silent.
class AccessNotice {
 public:
  enum class Kind { UsbUps, SerialPort };

  explicit AccessNotice(std::ostream& out) : out_(out) {}

  // After a failed open of `device` with `error` (errno): writes the line when the error is a
  // refused permission and nothing was said yet for this kind. True when it wrote.
  bool OpenFailed(Kind kind, const std::string& device, int error);

 private:
  std::ostream& out_;
  std::mutex mutex_;
  bool said_usb_ = false;
  bool said_serial_ = false;
};

// The process's notice, on standard error.
AccessNotice& ProcessAccessNotice();

}  // namespace qelta
