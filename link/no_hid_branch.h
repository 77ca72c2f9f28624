#pragma once

#include "link/ups.h"

namespace qelta {

// A HID branch for builds without USB support: no UPS is ever found on USB.
class NoHidBranch : public HidBranch {
 public:
  bool OpenHIDPort(std::string& message) override;
  bool WriteHIDPort(const std::string&) override { return false; }
  bool ReadHIDPort(int, std::string& text) override {
    text.clear();
    return false;
  }
  void CloseHIDPort() override {}
};

}  // namespace qelta
