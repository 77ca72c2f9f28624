#include "platform/access_notice.h"

#include <cerrno>
#include <iostream>

namespace qelta {

bool AccessNotice::OpenFailed(Kind kind, const std::string& device, int error) {
  if (error != EACCES && error != EPERM) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  bool& said = kind == Kind::UsbUps ? said_usb_ : said_serial_;
  if (said) return false;
  said = true;
  if (kind == Kind::UsbUps) {
    out_ << "qelta-monitor: нет доступа к USB-устройству UPS " << device
         << ": установите пакет qelta-monitor (правило udev для UPS) и подключите UPS заново."
         << std::endl;
  } else {
    out_ << "qelta-monitor: нет доступа к порту " << device
         << ": добавьте пользователя в группу dialout (sudo adduser $USER dialout) и войдите в "
            "систему заново."
         << std::endl;
  }
  return true;
}

AccessNotice& ProcessAccessNotice() {
  static AccessNotice notice(std::cerr);
  return notice;
}

}  // namespace qelta
